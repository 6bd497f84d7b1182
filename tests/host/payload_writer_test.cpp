// The writer, read back through the reader: the tests of the other parts
// build their fixtures with it, so it must agree with the reader exactly.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "payload/hash_value_list.h"
#include "payload/payload_archive.h"
#include "payload/payload_writer.h"
#include "tests/support/test_support.h"

using testsupport::Bytes;
using testsupport::bytesOf;

namespace {

class WriterTest : public testsupport::TempDirTest {
protected:
    PackEntry entry(const std::string& name, const std::string& data)
    {
        PackEntry e;
        e.name = name;
        e.data = bytesOf(data);
        return e;
    }
};

TEST_F(WriterTest, RoundTripInBothLayouts)
{
    for (ArchiveLayout layout : {ARCHIVE_LAYOUT_LONG, ARCHIVE_LAYOUT_SHORT}) {
        SCOPED_TRACE(layout == ARCHIVE_LAYOUT_LONG ? "long" : "short");
        writeFile("big.src", std::string(3 * 0x100000 + 17, 'z'));   // several chunks
        std::vector<PackEntry> entries = {entry("KVX.hvl", "list"), entry("empty", ""), entry("b.arc", "bee")};
        PackEntry streamed;
        streamed.name = "big.arc";
        streamed.sourcePath = path("big.src");
        entries.push_back(streamed);
        PackOptions options;
        options.layout = layout;
        options.stub = bytesOf("MZ-stub");
        std::string error;
        ASSERT_EQ(1, writeUpdater(path("upd.exe"), entries, options, &error)) << error;
        expectFile("upd.exe");

        Bytes file = readFile("upd.exe");
        uint32_t entrySize = layout == ARCHIVE_LAYOUT_LONG ? 128 : 32;
        uint32_t dataStart = 0x40010 + 4 * entrySize;
        ASSERT_EQ(dataStart + 4 + 0 + 3 + 3 * 0x100000 + 17, file.size());
        EXPECT_EQ("MZ-stub", std::string(file.begin(), file.begin() + 7));
        for (size_t i = 7; i < 0x40000; ++i)
            ASSERT_EQ(0, file[i]) << i;

        FileHandle exe;
        ASSERT_EQ(1, exe.openRead(path("upd.exe").c_str()));
        PayloadArchive archive;
        ASSERT_EQ(UPDATE_OK, archive.load(exe));
        EXPECT_EQ(layout, archive.layout());
        ASSERT_EQ(4u, archive.count());
        EXPECT_EQ(dataStart, archive.dataStart());
        // Data follow one another in entry order without gaps.
        uint32_t expectedOffset = 0;
        const char* names[] = {"KVX.hvl", "empty", "b.arc", "big.arc"};
        for (uint32_t i = 0; i < 4; ++i) {
            EXPECT_STREQ(names[i], archive.entry(i).name);
            EXPECT_EQ(expectedOffset, archive.entry(i).offset);
            expectedOffset += archive.entry(i).size;
        }
        EXPECT_EQ(3u * 0x100000 + 17, archive.entry(3).size);
        ASSERT_EQ(1, archive.seekToEntry(exe, 2));
        char bee[3];
        ASSERT_EQ(3u, exe.read(bee, 3));
        EXPECT_EQ("bee", std::string(bee, 3));
        ASSERT_EQ(1, archive.seekToEntry(exe, 3));
        std::vector<char> big(archive.entry(3).size + 1);
        uint32_t got = 0;
        while (uint32_t n = exe.read(big.data() + got, static_cast<uint32_t>(big.size()) - got))
            got += n;
        EXPECT_EQ(archive.entry(3).size, got);
        EXPECT_EQ(std::string(got, 'z'), std::string(big.data(), got));
    }
}

TEST_F(WriterTest, TheMagicOverrideIsWrittenAsGiven)
{
    PackOptions options;
    options.magicOverride = "VELMOR ARC2_";
    std::string error;
    ASSERT_EQ(1, writeUpdater(path("upd.exe"), {entry("a", "1")}, options, &error)) << error;
    expectFile("upd.exe");
    Bytes file = readFile("upd.exe");
    EXPECT_EQ("VELMOR ARC2_", std::string(file.begin() + 0x40000, file.begin() + 0x4000C));
    options.magicOverride = "short";
    EXPECT_EQ(0, writeUpdater(path("bad.exe"), {entry("a", "1")}, options, &error));
    EXPECT_NE(std::string::npos, error.find("12 bytes")) << error;
}

TEST_F(WriterTest, RefusesWhatTheFormatCannotHold)
{
    std::string error;
    PackOptions bigStub;
    bigStub.stub.assign(0x40000, 'S');
    EXPECT_EQ(0, writeUpdater(path("a.exe"), {entry("x", "")}, bigStub, &error));
    EXPECT_NE(std::string::npos, error.find("stub")) << error;

    PackOptions shortLayout;
    shortLayout.layout = ARCHIVE_LAYOUT_SHORT;
    EXPECT_EQ(1, writeUpdater(path("b.exe"), {entry(std::string(15, 'n'), "")}, shortLayout, &error)) << error;
    expectFile("b.exe");
    EXPECT_EQ(0, writeUpdater(path("c.exe"), {entry(std::string(16, 'n'), "")}, shortLayout, &error));
    EXPECT_NE(std::string::npos, error.find("at most 15")) << error;
    PackOptions longLayout;
    EXPECT_EQ(0, writeUpdater(path("d.exe"), {entry(std::string(96, 'n'), "")}, longLayout, &error));
    EXPECT_NE(std::string::npos, error.find("at most 95")) << error;

    PackEntry missing;
    missing.name = "gone";
    missing.sourcePath = path("no-such-file");
    EXPECT_EQ(0, writeUpdater(path("e.exe"), {missing}, longLayout, &error));
    EXPECT_NE(std::string::npos, error.find("no-such-file")) << error;
    // None of the refused files is left behind (checked by the fixture).
}

TEST_F(WriterTest, AFailedWriteIsReportedAndRemovesThePartialFile)
{
    struct Case {
        const char* what;
        int nth;
        bool andAfter;
    } cases[] = {
        {"the first write fails", 1, false},
        {"the disk fills up during the data", 3, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::Faults faults;
        faults.failWrite(c.nth, c.andAfter);
        std::string error;
        EXPECT_EQ(0, writeUpdater(path("upd.exe"), {entry("a", std::string(5000, 'a'))}, PackOptions(), &error));
        EXPECT_NE(std::string::npos, error.find("upd.exe")) << error;
        EXPECT_FALSE(exists("upd.exe"));
    }
}

TEST_F(WriterTest, ShortWritesAreContinued)
{
    testsupport::Faults faults;
    faults.shortenWrite(1, 1000, true);   // every write moves at most 1000 bytes
    std::string error;
    ASSERT_EQ(1, writeUpdater(path("upd.exe"), {entry("a", "payload")}, PackOptions(), &error)) << error;
    expectFile("upd.exe");
    Bytes file = readFile("upd.exe");
    EXPECT_EQ("payload", std::string(file.end() - 7, file.end()));
}

TEST_F(WriterTest, HashValueListBytes)
{
    HashValueRecord r1 = makeHashRecord("data01000.arc", "abc", 3);
    HashValueRecord r2 = makeHashRecord("sub\\x.bin", "", 0);
    Bytes list = buildHashValueList({r1, r2}, 0x11223344);
    ASSERT_EQ(16u + 2 * 64, list.size());
    EXPECT_EQ("DQM_____", std::string(list.begin(), list.begin() + 8));
    EXPECT_EQ((Bytes{0x44, 0x33, 0x22, 0x11, 2, 0, 0, 0}), Bytes(list.begin() + 8, list.begin() + 16));
    EXPECT_STREQ("data01000.arc", reinterpret_cast<const char*>(&list[16]));
    for (size_t i = 16 + 13; i < 16 + 56; ++i)
        ASSERT_EQ(0, list[i]) << i;
    EXPECT_EQ((Bytes{0x06, 0xB4, 0x50, 0x00, 0x12, 0xCC, 0x26, 0x60}), Bytes(list.begin() + 72, list.begin() + 80));
    EXPECT_EQ(Bytes(8, 0), Bytes(list.begin() + 136, list.end()));
}

TEST_F(WriterTest, AHashRecordNameOfTheWholeFieldHasNoNul)
{
    HashValueRecord r = makeHashRecord(std::string(60, 'q'), "", 0);
    EXPECT_EQ(std::string(56, 'q'), std::string(r.name, 56));
}

TEST_F(WriterTest, ReadWholeFile)
{
    writeFile("in.bin", std::string(0x100000 * 2 + 3, 'r'));
    std::vector<uint8_t> bytes;
    ASSERT_EQ(1, readWholeFile(path("in.bin"), &bytes));
    EXPECT_EQ(readFile("in.bin"), bytes);
    EXPECT_EQ(0, readWholeFile(path("missing.bin"), &bytes));
}

} // namespace

#include <sys/resource.h>

namespace {

long peakResidentKiB()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Payload files are streamed: a 1 GiB source must not be held in memory.
TEST_F(WriterTest, AOneGiBPayloadIsStreamedWithFlatMemory)
{
    const uint64_t size = 1ull << 30;
    {
        // Sparse apart from a marker at its very end.
        writeFile("huge.src", "");
        std::filesystem::resize_file(path("huge.src"), size - 3);
        std::ofstream out(path("huge.src"), std::ios::binary | std::ios::app);
        out.write("END", 3);
    }
    long before = peakResidentKiB();
    PackEntry big;
    big.name = "huge.arc";
    big.sourcePath = path("huge.src");
    std::string error;
    ASSERT_EQ(1, writeUpdater(path("upd.exe"), {big, entry("tail.txt", "tail")}, PackOptions(), &error)) << error;
    expectFile("upd.exe");
    long grownKiB = peakResidentKiB() - before;
    EXPECT_LT(grownKiB, 64 * 1024) << "the writer's peak memory grew by " << grownKiB << " KiB";

    FileHandle exe;
    ASSERT_EQ(1, exe.openRead(path("upd.exe").c_str()));
    EXPECT_EQ(0x40010u + 2 * 128 + size + 4, exe.size());
    PayloadArchive archive;
    ASSERT_EQ(UPDATE_OK, archive.load(exe));
    EXPECT_EQ(static_cast<uint32_t>(size), archive.entry(0).size);
    EXPECT_EQ(static_cast<uint32_t>(size), archive.entry(1).offset);
    ASSERT_EQ(1, exe.seek(archive.dataStart() + static_cast<uint32_t>(size) - 3));
    char tail[7];
    ASSERT_EQ(7u, exe.read(tail, 7));
    EXPECT_EQ("ENDtail", std::string(tail, 7));
}

} // namespace
