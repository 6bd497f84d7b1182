// The patch tool's pack plan: every refusal that can be decided from names
// and sizes, before a byte is read or written. Sizes are given, not made,
// so the 2 GiB and 4 GiB limits are tested at their exact boundaries.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "patchtool/hash_list_file.h"
#include "patchtool/install_name.h"
#include "patchtool/pack_plan.h"
#include "patchtool/text_codec.h"
#include "payload/payload_writer.h"

using tool::PackItem;
using tool::PackPlan;
using tool::PackRequest;

namespace {

PackItem item(const std::string& name, uint64_t size = 10)
{
    PackItem i;
    i.name = name;
    i.path = "src/" + name;
    i.size = size;
    return i;
}

HashValueRecord record(const std::string& name, const std::string& data = "x")
{
    return makeHashRecord(name, data.data(), data.size());
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string all;
    for (const std::string& l : lines)
        all += l + "\n";
    return all;
}

std::vector<std::string> plan(const std::vector<PackItem>& items, const std::vector<HashValueRecord>* records = nullptr,
                              ArchiveLayout layout = ARCHIVE_LAYOUT_LONG, PackPlan* out = nullptr)
{
    PackRequest r;
    r.layout = layout;
    r.items = items;
    r.records = records;
    r.recordsFrom = "list.hvl";
    r.stubSize = 0x1000;
    PackPlan p;
    std::vector<std::string> problems = tool::planPack(r, &p);
    if (out)
        *out = p;
    return problems;
}

// ---- names -------------------------------------------------------------------

TEST(PatchtoolNames, StoredInCodePage932Exactly)
{
    std::string cp932;
    ASSERT_EQ(1, tool::toCp932("ツクメラ.dat", &cp932));
    EXPECT_EQ(std::string("\x83\x63\x83\x4E\x83\x81\x83\x89.dat"), cp932);
    std::string back;
    ASSERT_EQ(1, tool::fromCp932(cp932, &back));
    EXPECT_EQ("ツクメラ.dat", back);
    // "ソ" ends in 0x5C, the backslash byte: still one character.
    ASSERT_EQ(1, tool::toCp932("ソ", &cp932));
    EXPECT_EQ(std::string("\x83\x5C"), cp932);

    const char* const refused[] = {
        "caf\xC3\xA9",            // é: not in code page 932
        "\xE3\x80\x9C",           // U+301C WAVE DASH: would come back as U+FF5E
        "\xF0\x9F\x98\x80",       // an emoji
        "\xFF\xFE",               // not UTF-8 at all
        "\xE3\x83",               // a cut UTF-8 sequence
    };
    for (const char* utf8 : refused)
        EXPECT_EQ(0, tool::toCp932(utf8, &cp932)) << utf8;
    EXPECT_EQ(0, tool::fromCp932("\x81", &back));        // a lead byte alone
}

TEST(PatchtoolNames, ShownAsUtf8OrEscaped)
{
    EXPECT_EQ("ソ.dat", tool::showName(std::string("\x83\x5C.dat")));
    EXPECT_EQ("a\\x81", tool::showName(std::string("a\x81")));
    EXPECT_EQ("a\\x01b", tool::showName(std::string("a\x01" "b")));
}

TEST(PatchtoolNames, InstallNameProblems)
{
    struct Case {
        const char* name;
        const char* problem;   // a word of the message, or "" for none
    } const cases[] = {
        {"data01000.arc", ""},
        {"sub\\data.arc", ""},
        {"\x83\x5C\\x.dat", ""},                // ソ\x.dat: the 0x5C trail byte is no separator
        {"", "empty"},
        {"..\\evil.dat", "install folder"},
        {"sub\\..\\..\\evil.dat", "install folder"},
        {"\\abs.dat", "install folder"},
        {"C:evil.dat", "install folder"},
        {"\\\\server\\share\\x", "install folder"},
        {"sub\\", "install folder"},
        {"a?b.dat", "'?'"},
        {"a*b", "'*'"},
        {"a|b", "'|'"},
        {"a\"b", "'\"'"},
        {"a<b", "'<'"},
        {"tab\there", "control"},
        {"name.", "ending"},
        {"name ", "ending"},
        {"sub.\\x", "ending"},
        {"CON", "device"},
        {"nul.txt", "device"},
        {"sub\\com1.dat", "device"},
        {"lpt9", "device"},
        {"console.dat", ""},
        {"com10.dat", ""},
        {"a\\\\b", "empty"},
        {"a\\.\\b", "\".\""},
        {"x\x83", "plain path"},                 // a lead byte at the end
        {".", "\".\" made only of dots"},
        {"sub\\ ", "\" \" made only of dots"},
        {"nul .txt", "device (nul .txt)"},
        {"COM1.tar.gz", "device (COM1.tar.gz)"},
        {"sub\\conout$\\x", "device (conout$)"},
    };
    for (const Case& c : cases) {
        std::string problem = tool::installNameProblem(c.name);
        if (*c.problem == 0)
            EXPECT_EQ("", problem) << tool::showName(std::string(c.name));
        else
            EXPECT_NE(std::string::npos, problem.find(c.problem))
                << tool::showName(std::string(c.name)) << ": \"" << problem << "\"";
    }
}

// ---- the plan ------------------------------------------------------------------

TEST(PatchtoolPlan, TableAndOffsetsInBothLayouts)
{
    for (ArchiveLayout layout : {ARCHIVE_LAYOUT_LONG, ARCHIVE_LAYOUT_SHORT}) {
        PackPlan p;
        EXPECT_EQ("", joined(plan({item("KVX.hvl", 80), item("a.arc", 5), item("e", 0), item("b.arc", 7)}, nullptr,
                                  layout, &p)));
        EXPECT_EQ(layout == ARCHIVE_LAYOUT_LONG ? 0x40210u : 0x40090u, p.dataStart);
        ASSERT_EQ(4u, p.entries.size());
        const uint32_t offsets[] = {0, 80, 85, 85};
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(offsets[i], p.entries[i].offset) << i;
        EXPECT_EQ(p.dataStart + 92, p.fileSize);
    }
}

TEST(PatchtoolPlan, EntryCountLimit)
{
    std::vector<PackItem> items;
    for (int i = 0; i < 32; ++i)
        items.push_back(item("f" + std::to_string(i) + ".dat"));
    EXPECT_EQ("", joined(plan(items)));
    items.push_back(item("one-more.dat"));
    EXPECT_NE(std::string::npos, joined(plan(items)).find("33 entries"));
}

TEST(PatchtoolPlan, NameFieldLimitsCountCodePage932Bytes)
{
    const std::string kana = "ア";   // 3 bytes of UTF-8, 2 of code page 932
    std::string name47, name48;
    for (int i = 0; i < 47; ++i)
        name47 += kana;
    name48 = name47 + kana;
    struct Case {
        std::string name;
        ArchiveLayout layout;
        bool fits;
    } const cases[] = {
        {std::string(95, 'a'), ARCHIVE_LAYOUT_LONG, true},
        {std::string(96, 'a'), ARCHIVE_LAYOUT_LONG, false},
        {name47, ARCHIVE_LAYOUT_LONG, true},          // 94 bytes stored, 141 typed
        {name48 + "x", ARCHIVE_LAYOUT_LONG, false},   // 97 bytes stored
        {std::string(15, 'a'), ARCHIVE_LAYOUT_SHORT, true},
        {std::string(16, 'a'), ARCHIVE_LAYOUT_SHORT, false},
        {"アイウエオカ.d", ARCHIVE_LAYOUT_SHORT, true},       // 6 * 2 + 2 = 14 bytes
        {"アイウエオカキ.d", ARCHIVE_LAYOUT_SHORT, false},    // 16 bytes
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const Case& c = cases[i];
        std::string problems = joined(plan({item(c.name)}, nullptr, c.layout));
        if (c.fits)
            EXPECT_EQ("", problems) << i;
        else
            EXPECT_NE(std::string::npos, problems.find("holds at most")) << i;
    }
    EXPECT_NE(std::string::npos, joined(plan({item("アイウエオカキ.d")}, nullptr, ARCHIVE_LAYOUT_SHORT)).find("is 16 bytes"));
}

TEST(PatchtoolPlan, RefusedNames)
{
    struct Case {
        std::vector<std::string> names;
        const char* message;
    } const cases[] = {
        {{"../evil.dat"}, "install folder"},
        {{"café.dat"}, "code page 932"},
        {{"\xE3\x80\x9C.dat"}, "code page 932"},
        {{"a?.dat"}, "'?'"},
        {{"uninst.lst"}, "uninstall list"},
        {{"Uninst.LST"}, "uninstall list"},
        {{"a.dat", "A.DAT"}, "both installed as"},
        {{"sub/a.dat", "SUB\\a.dat"}, "both installed as"},
        {{"a.dat.tmp", "a.dat"}, "temporary name"},
        {{"a.dat", "A.dat.TMP"}, "temporary name"},
    };
    for (const Case& c : cases) {
        std::vector<PackItem> items;
        for (const std::string& n : c.names)
            items.push_back(item(n));
        std::string problems = joined(plan(items));
        EXPECT_NE(std::string::npos, problems.find(c.message)) << c.names[0] << ": " << problems;
    }
}

TEST(PatchtoolPlan, RecordsSupplyTheInstalledName)
{
    std::vector<HashValueRecord> records = {record("Data\\A.arc"), record("b.arc"), record("sub\\b.arc")};
    PackPlan p;
    EXPECT_EQ("", joined(plan({item("KVX.hvl"), item("a.ARC"), item("B.arc"), item("c.arc"), item("sub/d.arc")},
                              &records, ARCHIVE_LAYOUT_LONG, &p)));
    ASSERT_EQ(5u, p.entries.size());
    EXPECT_EQ(-1, p.entries[0].record);
    EXPECT_EQ("KVX.hvl", p.entries[0].installedName);
    EXPECT_EQ(0, p.entries[1].record);
    EXPECT_EQ("Data\\A.arc", p.entries[1].installedName);
    EXPECT_EQ("a.ARC", p.entries[1].storedName);
    EXPECT_EQ(1, p.entries[2].record);                   // the first of two with that file name
    EXPECT_EQ("b.arc", p.entries[2].installedName);
    EXPECT_EQ(-1, p.entries[3].record);
    EXPECT_EQ(-1, p.entries[4].record);                  // a folder part never matches
    EXPECT_EQ("sub\\d.arc", p.entries[4].installedName);
    std::string notes = joined(p.notes);
    EXPECT_NE(std::string::npos, notes.find("c.arc: no record")) << notes;
    EXPECT_NE(std::string::npos, notes.find("sub\\d.arc: a name with a folder part")) << notes;
    EXPECT_EQ(std::string::npos, notes.find("KVX.hvl: no record")) << notes;
}

TEST(PatchtoolPlan, RecordsThatWouldMisleadTheUpdater)
{
    {
        // The record's name, not the entry's, is where the file would land.
        std::vector<HashValueRecord> records = {record("..\\evil.dat")};
        EXPECT_NE(std::string::npos, joined(plan({item("evil.dat")}, &records)).find("install folder"));
    }
    {
        // Two entries of different names that one record's name makes one file.
        std::vector<HashValueRecord> records = {record("sub\\x.dat")};
        EXPECT_NE(std::string::npos, joined(plan({item("x.dat"), item("sub/x.dat")}, &records)).find("both installed"));
    }
    {
        std::vector<HashValueRecord> records = {record("uninst.lst")};
        EXPECT_NE(std::string::npos, joined(plan({item("UNINST.LST")}, &records)).find("uninstall list"));
    }
    {
        // A name without a NUL never matches; the list itself says so.
        std::vector<HashValueRecord> records = {record(std::string(56, 'n'))};
        EXPECT_EQ(1u, tool::hashListProblems(records, "list.hvl").size());
        EXPECT_EQ(-1, tool::findRecordIndex(records, std::string(56, 'n')));
    }
}

TEST(PatchtoolPlan, SizeLimitsAtTheirBoundaries)
{
    const uint64_t longStart2 = 0x40000 + 16 + 2 * 128;     // data area with two long entries
    struct Case {
        uint64_t first, second;
        const char* message;   // "" when accepted
    } const cases[] = {
        {0x7FFFFFFF - longStart2, 1, ""},                      // the second starts at 0x7FFFFFFF
        {0x80000000 - longStart2, 1, "past 2 GiB"},            // ... at 0x80000000
        {0x7FFFFFFF - longStart2, 0x80000000, ""},             // ends at 0xFFFFFFFF
        {0x7FFFFFFF - longStart2, 0x80000001, "below 4 GiB"},  // one byte more
        {0x100000000ull, 0, "at most 4 GiB - 1"},
    };
    for (const Case& c : cases) {
        std::string problems = joined(plan({item("a.arc", c.first), item("b.arc", c.second)}));
        if (*c.message == 0)
            EXPECT_EQ("", problems) << c.first << " + " << c.second;
        else
            EXPECT_NE(std::string::npos, problems.find(c.message)) << c.first << " + " << c.second << ": " << problems;
    }
}

TEST(PatchtoolPlan, EveryProblemIsReportedAtOnce)
{
    std::vector<std::string> problems = plan({item("../x"), item("a?"), item("b.dat"), item("B.dat")});
    EXPECT_EQ(3u, problems.size()) << joined(problems);
}

// ---- the stub ------------------------------------------------------------------

std::vector<uint8_t> peImage(uint16_t magic, uint32_t certificateSize, size_t size = 1024)
{
    std::vector<uint8_t> b(size, 0);
    b[0] = 'M', b[1] = 'Z';
    b[0x3C] = 0x40;
    std::memcpy(&b[0x40], "PE\0\0", 4);
    size_t optional = 0x40 + 24;
    b[optional] = static_cast<uint8_t>(magic), b[optional + 1] = static_cast<uint8_t>(magic >> 8);
    size_t countAt = optional + (magic == 0x20B ? 108 : 92);
    b[countAt] = 16;
    size_t security = optional + (magic == 0x20B ? 112 : 96) + 4 * 8;
    std::memcpy(&b[security + 4], &certificateSize, 4);
    return b;
}

TEST(PatchtoolStub, Checks)
{
    EXPECT_EQ("", tool::stubProblem(peImage(0x10B, 0)));
    EXPECT_EQ("", tool::stubProblem(peImage(0x20B, 0)));
    EXPECT_EQ("", tool::stubProblem(peImage(0x10B, 0, 0x3FFFF)));
    EXPECT_NE(std::string::npos, tool::stubProblem(peImage(0x10B, 0, 0x40000)).find("before 0x40000"));
    EXPECT_NE(std::string::npos, tool::stubProblem(peImage(0x10B, 0x800)).find("signed"));
    EXPECT_NE(std::string::npos, tool::stubProblem(peImage(0x20B, 0x800)).find("signed"));
    std::vector<uint8_t> notPe = peImage(0x10B, 0);
    notPe[0x40] = 'X';
    EXPECT_NE(std::string::npos, tool::stubProblem(notPe).find("not a Windows program"));
    EXPECT_NE(std::string::npos, tool::stubProblem(std::vector<uint8_t>{'M', 'Z'}).find("not a Windows program"));
    std::vector<uint8_t> farHeader = peImage(0x10B, 0);
    farHeader[0x3C] = 0xFF, farHeader[0x3D] = 0xFF, farHeader[0x3E] = 0xFF, farHeader[0x3F] = 0x7F;
    EXPECT_NE(std::string::npos, tool::stubProblem(farHeader).find("not a Windows program"));

    PackRequest r;
    r.items = {item("a.dat")};
    r.stubSize = 0x40000;
    PackPlan p;
    EXPECT_NE(std::string::npos, joined(tool::planPack(r, &p)).find("stub"));
}

// ---- hash value list files ---------------------------------------------------------

TEST(PatchtoolHashList, Parse)
{
    std::vector<HashValueRecord> records = {record("a.arc", "abc"), record("sub\\b.arc")};
    std::vector<uint8_t> bytes = buildHashValueList(records, 0x01020304);
    tool::HashListFile list;
    std::string problem;
    ASSERT_EQ(1, tool::parseHashList(bytes, &list, &problem)) << problem;
    ASSERT_EQ(2u, list.records.size());
    EXPECT_EQ("a.arc", tool::recordName(list.records[0]));
    EXPECT_EQ("06b4500012cc2660", tool::checksumHex(list.records[0].checksum));
    EXPECT_EQ(0x04, list.header[8]);
    EXPECT_EQ(0u, list.trailingBytes);

    bytes.push_back(0);
    ASSERT_EQ(1, tool::parseHashList(bytes, &list, &problem));
    EXPECT_EQ(1u, list.trailingBytes);

    std::vector<uint8_t> shortList(bytes.begin(), bytes.begin() + 16 + 64 + 63);
    EXPECT_EQ(0, tool::parseHashList(shortList, &list, &problem));
    EXPECT_NE(std::string::npos, problem.find("2 records"));
    std::vector<uint8_t> badMagic = bytes;
    badMagic[7] = 'x';
    EXPECT_EQ(0, tool::parseHashList(badMagic, &list, &problem));
    EXPECT_EQ(0, tool::parseHashList(std::vector<uint8_t>(15, '_'), &list, &problem));
    // A count whose record block passes 32 bits is just short, not an overflow.
    std::vector<uint8_t> huge = buildHashValueList({});
    huge[12] = huge[13] = huge[14] = huge[15] = 0xFF;
    EXPECT_EQ(0, tool::parseHashList(huge, &list, &problem));
}

} // namespace
