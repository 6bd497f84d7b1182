// Finding and loading the hash value list inside a payload, and looking up
// the record of a payload entry.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "payload/entry_name.h"
#include "payload/hash_value_list.h"
#include "payload/payload_archive.h"
#include "payload/payload_writer.h"
#include "tests/support/test_support.h"

using testsupport::Bytes;
using testsupport::bytesOf;

namespace {

PackEntry packed(const std::string& name, const Bytes& data)
{
    PackEntry e;
    e.name = name;
    e.data = data;
    return e;
}

HashValueRecord record(const std::string& name, const std::string& content)
{
    return makeHashRecord(name, content.data(), content.size());
}

Bytes checksumOf(const std::string& content)
{
    FileChecksum sum;
    sum.update(content.data(), content.size());
    Bytes b(8);
    sum.store(b.data());
    return b;
}

class HashListTest : public testsupport::TempDirTest {
protected:
    void TearDown() override
    {
        list.release();
        archive.release();
        exe.close();
        TempDirTest::TearDown();
    }
    // Writes an updater with these entries and loads its table.
    void makePayload(const std::vector<PackEntry>& entries, ArchiveLayout layout = ARCHIVE_LAYOUT_LONG)
    {
        exe.close();
        PackOptions options;
        options.layout = layout;
        std::string error;
        ASSERT_EQ(1, writeUpdater(path("upd.exe"), entries, options, &error)) << error;
        expectFile("upd.exe");
        ASSERT_EQ(1, exe.openRead(path("upd.exe").c_str()));
        ASSERT_EQ(UPDATE_OK, archive.load(exe));
    }
    int load() { return list.loadFromPayload(archive, exe); }
    const HashValueRecord* find(const std::string& entryName)
    {
        std::string lowered = entryName;
        lowerName(&lowered[0]);
        return list.findRecord(lowered.c_str());
    }

    FileHandle exe;
    PayloadArchive archive;
    HashValueList list;
};

TEST_F(HashListTest, TheListIsFoundWhateverTheLetterCase)
{
    Bytes hvl = buildHashValueList({record("data01000.arc", "abc")});
    for (const char* name : {"KVX.hvl", "kvx.hvl", "KVX.HVL", "kVx.HvL"}) {
        SCOPED_TRACE(name);
        makePayload({packed("data01000.arc", bytesOf("abc")), packed(name, hvl)});
        ASSERT_EQ(1, load());
        EXPECT_EQ(1u, list.count());
        EXPECT_STREQ("data01000.arc", list.records()[0].name);
        EXPECT_EQ(0, std::memcmp(list.header(), hvl.data(), 16));
    }
}

TEST_F(HashListTest, NamesThatOnlyContainTheListNameAreNotTheList)
{
    Bytes hvl = buildHashValueList({record("a.arc", "abc")});
    for (const char* name : {"KVX.hvl.bak", "KVX.hvl ", "old_KVX.hvl", "sub\\KVX.hvl", "KVX.hv", "\x82\x6A" "VX.hvl"}) {
        SCOPED_TRACE(name);
        makePayload({packed(name, hvl)});
        EXPECT_EQ(0, load());
        EXPECT_EQ(0u, list.count());
        EXPECT_EQ(nullptr, list.records());
    }
}

TEST_F(HashListTest, TheWalkStopsAtTheFirstListEntry)
{
    Bytes broken = buildHashValueList({record("a.arc", "abc")});
    broken[0] = 'X';
    Bytes good = buildHashValueList({record("a.arc", "abc")});
    makePayload({packed("KVX.hvl", broken), packed("kvx.hvl", good)});
    EXPECT_EQ(0, load());
    makePayload({packed("KVX.hvl", good), packed("kvx.hvl", broken)});
    EXPECT_EQ(1, load());
}

TEST_F(HashListTest, EveryMagicByteCountsButTheReservedBytesDoNot)
{
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        Bytes hvl = buildHashValueList({record("a.arc", "abc")});
        hvl[i] = i == 7 ? '-' : static_cast<uint8_t>(hvl[i] ^ 0x20);
        makePayload({packed("KVX.hvl", hvl)});
        EXPECT_EQ(0, load());
    }
    Bytes reserved = buildHashValueList({record("a.arc", "abc")}, 0xDEADBEEF);
    makePayload({packed("KVX.hvl", reserved)});
    EXPECT_EQ(1, load());
    EXPECT_EQ(0xEF, list.header()[8]);
}

TEST_F(HashListTest, CountZeroLoadsAndMatchesNothing)
{
    makePayload({packed("a.arc", bytesOf("x")), packed("KVX.hvl", buildHashValueList({}))});
    EXPECT_EQ(1, load());
    EXPECT_EQ(0u, list.count());
    EXPECT_EQ(nullptr, find("a.arc"));
}

TEST_F(HashListTest, ACountWhoseRecordsOverflow32BitsIsNoList)
{
    for (uint32_t count : {0x04000000u, 0x04000001u, 0x80000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(count);
        Bytes hvl = buildHashValueList({record("a.arc", "abc")});
        testsupport::putLe32(hvl, 12, count);
        makePayload({packed("KVX.hvl", hvl)});
        testsupport::Faults faults;
        EXPECT_EQ(0, load());
        EXPECT_EQ(0, faults.allocCalls());
        EXPECT_EQ(0u, list.count());
    }
}

TEST_F(HashListTest, RecordsTheFileDoesNotHoldAreNoList)
{
    struct Case {
        const char* what;
        uint32_t count;
    } cases[] = {
        {"one record more than present", 3},
        {"the largest count that does not overflow", 0x03FFFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes hvl = buildHashValueList({record("a.arc", "1"), record("b.arc", "2")});
        testsupport::putLe32(hvl, 12, c.count);
        makePayload({packed("KVX.hvl", hvl)});
        EXPECT_EQ(0, load());
        EXPECT_EQ(nullptr, list.records());
    }
}

TEST_F(HashListTest, TheListIsReadByItsOwnCountNotByItsEntrySize)
{
    // The entry is cut to its header, but the records follow in the next
    // entry's data: the list still loads.
    Bytes hvl = buildHashValueList({record("a.arc", "1")});
    Bytes head(hvl.begin(), hvl.begin() + 16), rest(hvl.begin() + 16, hvl.end());
    makePayload({packed("KVX.hvl", head), packed("after.bin", rest)});
    EXPECT_EQ(1, load());
    EXPECT_STREQ("a.arc", list.records()[0].name);
}

TEST_F(HashListTest, AShortHeaderIsNoList)
{
    makePayload({packed("KVX.hvl", bytesOf("DQM_____\0\0\0"))});
    EXPECT_EQ(0, load());
}

TEST_F(HashListTest, AnEntryOffsetThatCannotBeReachedIsNoList)
{
    makePayload({packed("KVX.hvl", buildHashValueList({record("a.arc", "1")}))});
    exe.close();
    // Patch the entry's offset in the file to something past 2 GiB.
    Bytes file = readFile("upd.exe");
    testsupport::putLe32(file, 0x40010 + 96, 0x90000000u);
    writeFile("upd.exe", file);
    ASSERT_EQ(1, exe.openRead(path("upd.exe").c_str()));
    ASSERT_EQ(UPDATE_OK, archive.load(exe));
    EXPECT_EQ(0, load());
}

TEST_F(HashListTest, RecordsThatCannotBeAllocatedOrReadAreNoList)
{
    makePayload({packed("KVX.hvl", buildHashValueList({record("a.arc", "1"), record("b.arc", "2")}))});
    {
        testsupport::Faults faults;
        faults.failAllocAbove(64);
        EXPECT_EQ(0, load());
        EXPECT_EQ(1, faults.allocCalls());
    }
    {
        testsupport::Faults faults;
        faults.shortenRead(2, 127);   // header, then the records
        EXPECT_EQ(0, load());
    }
    {
        testsupport::Faults faults;
        faults.failRead(1);
        EXPECT_EQ(0, load());
    }
    EXPECT_EQ(1, load());   // and without faults it loads
}

TEST_F(HashListTest, TheListMayBeInTheShortLayout)
{
    makePayload({packed("b.arc", bytesOf("bee")), packed("kvx.hvl", buildHashValueList({record("B.ARC", "bee")}))},
                ARCHIVE_LAYOUT_SHORT);
    ASSERT_EQ(1, load());
    ASSERT_NE(nullptr, find("b.arc"));
}

TEST_F(HashListTest, FindRecord)
{
    makePayload({packed("KVX.hvl",
                        buildHashValueList({
                            record("data01000.arc", "first"),
                            record("Sub\\System.ARC", "system"),
                            record("other/Dir/Game.EXE", "game"),
                            record("C:drive.bin", "drive"),
                            record("\x95\x5C.arc", "kanji"),              // 表.arc: 0x5C is a trail byte
                            record("folder\\\x82\x60.txt", "wide"),       // folder\Ａ.txt
                            record("DATA01000.ARC", "duplicate"),
                            record("nested\\data02000.arc", "nested"),
                        }))});
    ASSERT_EQ(1, load());
    struct Case {
        const char* entry;
        const char* recordName;   // null: no record
        const char* content;
    } cases[] = {
        {"data01000.arc", "data01000.arc", "first"},       // the first of two wins
        {"DATA01000.ARC", "data01000.arc", "first"},
        {"system.arc", "Sub\\System.ARC", "system"},       // by its file-name part
        {"game.exe", "other/Dir/Game.EXE", "game"},
        {"drive.bin", "C:drive.bin", "drive"},
        {"\x95\x5C.arc", "\x95\x5C.arc", "kanji"},
        {".arc", nullptr, nullptr},                        // not split at the trail byte
        {"\x82\x81.TXT", "folder\\\x82\x60.txt", "wide"},  // ａ.TXT
        {"sub\\system.arc", nullptr, nullptr},             // the entry is never split
        {"nested\\data02000.arc", nullptr, nullptr},
        {"data02000.arc", "nested\\data02000.arc", "nested"},
        {"missing.arc", nullptr, nullptr},
        {"", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        const HashValueRecord* r = find(c.entry);
        if (c.recordName == nullptr) {
            EXPECT_EQ(nullptr, r);
            continue;
        }
        ASSERT_NE(nullptr, r);
        EXPECT_STREQ(c.recordName, r->name);   // as stored, letter case and folders kept
        EXPECT_EQ(checksumOf(c.content), Bytes(r->checksum, r->checksum + 8));
    }
}

TEST_F(HashListTest, ARecordNameWithoutNulNeverMatches)
{
    // The empty content's checksum is eight zero bytes, so a reader running
    // past the name field would see the 56 letters end right there.
    std::string full(56, 'q');
    makePayload({packed("KVX.hvl", buildHashValueList({record(full, ""), record("q.bin", "q")}))});
    ASSERT_EQ(1, load());
    EXPECT_EQ(nullptr, find(full));
    EXPECT_EQ(nullptr, find(full.substr(0, 55)));
    ASSERT_NE(nullptr, find("Q.BIN"));
    EXPECT_STREQ("q.bin", find("Q.BIN")->name);
}

TEST_F(HashListTest, LookupsLeaveTheRecordsAsTheyWere)
{
    Bytes hvl = buildHashValueList({record("Sub\\MIXED.arc", "m")});
    makePayload({packed("KVX.hvl", hvl)});
    ASSERT_EQ(1, load());
    ASSERT_NE(nullptr, find("mixed.arc"));
    EXPECT_EQ(0, std::memcmp(list.records(), hvl.data() + 16, 64));
}

} // namespace
