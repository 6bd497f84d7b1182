// The archive reader against updater images assembled byte by byte here,
// independently of the writer: the offsets below are the format's own
// numbers (header at 0x40000, 128- or 32-byte entries after it).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "payload/payload_archive.h"
#include "tests/support/test_support.h"

using testsupport::Bytes;
using testsupport::putBytes;
using testsupport::putLe32;

namespace {

const char kLong[] = "VELMOR ARC20";

Bytes header(const char* magic12, uint32_t count)
{
    Bytes h;
    putBytes(h, 0, magic12, 12);
    putLe32(h, 12, count);
    return h;
}

// One table entry; nameBytes may fill the whole field (no NUL).
Bytes entryBytes(bool isLong, const std::string& nameBytes, uint32_t offset, uint32_t size)
{
    Bytes e(isLong ? 128 : 32, 0);
    size_t field = isLong ? 96 : 16;
    putBytes(e, 0, nameBytes.data(), nameBytes.size());
    putLe32(e, field, offset);
    putLe32(e, field + 4, size);
    // The trailing bytes are never read: fill them to show it.
    for (size_t i = field + 8; i < e.size(); ++i)
        e[i] = 0xEE;
    return e;
}

// Stub bytes, zero fill to 0x40000, then the given archive bytes.
Bytes image(const Bytes& archive)
{
    Bytes b(0x40000 + archive.size(), 0);
    b[0] = 'M';
    b[1] = 'Z';
    if (!archive.empty())
        std::memcpy(&b[0x40000], archive.data(), archive.size());
    return b;
}

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

class ArchiveTest : public testsupport::TempDirTest {
protected:
    void TearDown() override
    {
        archive.release();
        exe.close();
        TempDirTest::TearDown();
    }
    UpdateResult loadImage(const Bytes& bytes)
    {
        writeFile("updater.exe", bytes);
        EXPECT_EQ(1, exe.openRead(path("updater.exe").c_str()));
        return archive.load(exe);
    }
    std::string readAt(uint32_t index, uint32_t length)
    {
        if (!archive.seekToEntry(exe, index))
            return "<seek failed>";
        std::string s(length, '\0');
        s.resize(exe.read(&s[0], length));
        return s;
    }

    FileHandle exe;
    PayloadArchive archive;
};

TEST_F(ArchiveTest, FourLongEntriesPutTheDataAreaAt0x40210)
{
    Bytes archiveBytes = cat({header(kLong, 4), entryBytes(true, "KVX.hvl", 0, 3),
                              entryBytes(true, "data01000.arc", 3, 5), entryBytes(true, "system.arc", 8, 2),
                              entryBytes(true, "empty.bin", 10, 0)});
    ASSERT_EQ(0x210u, archiveBytes.size());
    Bytes data = testsupport::bytesOf("hvlDATA1sy");
    ASSERT_EQ(UPDATE_OK, loadImage(image(cat({archiveBytes, data}))));

    EXPECT_EQ(ARCHIVE_LAYOUT_LONG, archive.layout());
    EXPECT_EQ(4u, archive.count());
    EXPECT_EQ(0x40210u, archive.dataStart());
    EXPECT_STREQ("data01000.arc", archive.entry(1).name);
    EXPECT_EQ(3u, archive.entry(1).offset);
    EXPECT_EQ(5u, archive.entry(1).size);
    EXPECT_EQ("hvl", readAt(0, 3));
    EXPECT_EQ("DATA1", readAt(1, 5));
    EXPECT_EQ("sy", readAt(2, 2));
    EXPECT_EQ("", readAt(3, 1));   // at the end of the file: nothing to read
}

TEST_F(ArchiveTest, FourShortEntriesPutTheDataAreaAt0x40090)
{
    Bytes archiveBytes = cat({header("VELMOR ARC10", 4), entryBytes(false, "a.txt", 2, 2),
                              entryBytes(false, "b.txt", 0, 2), entryBytes(false, "c.txt", 4, 1),
                              entryBytes(false, "fifteen-bytes.x", 5, 1)});
    ASSERT_EQ(0x90u, archiveBytes.size());
    ASSERT_EQ(UPDATE_OK, loadImage(image(cat({archiveBytes, testsupport::bytesOf("bbaacf")}))));

    EXPECT_EQ(ARCHIVE_LAYOUT_SHORT, archive.layout());
    EXPECT_EQ(0x40090u, archive.dataStart());
    EXPECT_STREQ("fifteen-bytes.x", archive.entry(3).name);
    // Offsets are each entry's own, not the table order.
    EXPECT_EQ("aa", readAt(0, 2));
    EXPECT_EQ("bb", readAt(1, 2));
    EXPECT_EQ("c", readAt(2, 1));
}

TEST_F(ArchiveTest, FilesTooShortForAHeaderAreNoPayload)
{
    struct Case {
        const char* what;
        size_t size;
    } cases[] = {
        {"empty file", 0},
        {"one byte below the payload offset", 0x3FFFF},
        {"exactly 0x40000 bytes: the header read returns nothing", 0x40000},
        {"15 header bytes", 0x4000F},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes full = image(cat({header(kLong, 0)}));
        full.resize(c.size);
        EXPECT_EQ(UPDATE_E_PAYLOAD, loadImage(full));
        EXPECT_EQ(0u, archive.count());
        exe.close();
    }
}

TEST_F(ArchiveTest, MoreThan32EntriesAreRefusedBeforeTheMagicIsLookedAt)
{
    const char* magics[] = {kLong, "VELMOR ARC21", "\0\0\0\0\0\0\0\0\0\0\0\0"};
    uint32_t counts[] = {33, 0x80000000u, 0xFFFFFFFFu};
    for (const char* magic : magics) {
        for (uint32_t count : counts) {
            SCOPED_TRACE(count);
            // No table follows: the count alone decides.
            EXPECT_EQ(UPDATE_E_TOO_MANY_ENTRIES, loadImage(image(header(magic, count))));
            exe.close();
        }
    }
}

TEST_F(ArchiveTest, ThirtyTwoEntriesAreAcceptedInBothLayouts)
{
    for (bool isLong : {true, false}) {
        SCOPED_TRACE(isLong ? "long" : "short");
        Bytes a = header(isLong ? kLong : "short layout", 32);
        for (uint32_t i = 0; i < 32; ++i) {
            Bytes e = entryBytes(isLong, "f" + std::to_string(i), i, 1);
            a.insert(a.end(), e.begin(), e.end());
        }
        Bytes data(32, 'x');
        ASSERT_EQ(UPDATE_OK, loadImage(image(cat({a, data}))));
        EXPECT_EQ(32u, archive.count());
        EXPECT_EQ(0x40010u + 32 * (isLong ? 128u : 32u), archive.dataStart());
        EXPECT_STREQ("f31", archive.entry(31).name);
        exe.close();
    }
}

TEST_F(ArchiveTest, AnyDifferentMagicByteSelectsTheShortLayout)
{
    for (int i = 0; i < 12; ++i) {
        SCOPED_TRACE(i);
        char magic[12];
        std::memcpy(magic, kLong, 12);
        magic[i] ^= 0x20;   // a letter changes case; the space becomes NUL
        Bytes a = cat({header(magic, 1), entryBytes(false, "one.txt", 0, 3), testsupport::bytesOf("abc")});
        ASSERT_EQ(UPDATE_OK, loadImage(image(a)));
        EXPECT_EQ(ARCHIVE_LAYOUT_SHORT, archive.layout());
        EXPECT_EQ(0x40030u, archive.dataStart());
        EXPECT_EQ("abc", readAt(0, 3));
        exe.close();
    }
}

TEST_F(ArchiveTest, ATableShorterThanItsCountIsNoPayload)
{
    struct Case {
        const char* what;
        bool isLong;
        size_t tableBytes;   // of count 4 entries
    } cases[] = {
        {"long, one byte short", true, 4 * 128 - 1},
        {"long, three entries", true, 3 * 128},
        {"short, one byte short", false, 4 * 32 - 1},
        {"short, no table at all", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes table;
        for (int i = 0; i < 4; ++i) {
            Bytes e = entryBytes(c.isLong, "n", 0, 0);
            table.insert(table.end(), e.begin(), e.end());
        }
        table.resize(c.tableBytes);
        EXPECT_EQ(UPDATE_E_PAYLOAD, loadImage(image(cat({header(c.isLong ? kLong : "xxxxxxxxxxxx", 4), table}))));
        EXPECT_EQ(0u, archive.count());
        exe.close();
    }
}

TEST_F(ArchiveTest, CountZeroLoadsAnEmptyTable)
{
    ASSERT_EQ(UPDATE_OK, loadImage(image(header(kLong, 0))));
    EXPECT_EQ(0u, archive.count());
    EXPECT_EQ(0x40010u, archive.dataStart());
    EXPECT_EQ(0, archive.seekToEntry(exe, 0));
}

TEST_F(ArchiveTest, ANameMustEndInsideItsField)
{
    struct Case {
        const char* what;
        bool isLong;
        std::string secondName;
        UpdateResult expected;
    } cases[] = {
        {"long, 95 bytes and NUL", true, std::string(95, 'a'), UPDATE_OK},
        {"long, 96 bytes without NUL", true, std::string(96, 'a'), UPDATE_E_PAYLOAD},
        {"short, 15 bytes and NUL", false, std::string(15, 'b'), UPDATE_OK},
        {"short, 16 bytes without NUL", false, std::string(16, 'b'), UPDATE_E_PAYLOAD},
        // a double-byte character cut by the field end changes nothing
        {"short, 15 bytes and a lead byte, no NUL", false, std::string(15, 'c') + "\x82", UPDATE_E_PAYLOAD},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes a = cat({header(c.isLong ? kLong : "------------", 2), entryBytes(c.isLong, "first", 0, 0),
                       entryBytes(c.isLong, c.secondName, 0, 0)});
        EXPECT_EQ(c.expected, loadImage(image(a)));
        if (c.expected == UPDATE_OK) {
            EXPECT_EQ(c.secondName, archive.entry(1).name);
        }
        exe.close();
    }
}

TEST_F(ArchiveTest, SeekToEntryNeverWrapsPast32Bits)
{
    struct Case {
        const char* what;
        uint32_t offset;
    } cases[] = {
        // 0x40090 + 0xFFFBFF80 = 0x1_0000_0010: wrapping would land at offset
        // 0x10, inside the executable image.
        {"sum just past 4 GiB", 0xFFFBFF80u},
        {"largest offset", 0xFFFFFFFFu},
        {"sum at 2 GiB (the seek itself refuses it)", 0x80000000u - 0x40090u},
        {"sum just below 4 GiB", 0xFFFBFF6Fu},
    };
    Bytes a = header("short-layout", 4);
    for (const Case& c : cases) {
        Bytes e = entryBytes(false, "x", c.offset, 1);
        a.insert(a.end(), e.begin(), e.end());
    }
    ASSERT_EQ(UPDATE_OK, loadImage(image(a)));
    ASSERT_EQ(0x40090u, archive.dataStart());
    for (uint32_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(cases[i].what);
        EXPECT_EQ(0, archive.seekToEntry(exe, i));
    }
    EXPECT_EQ(0, archive.seekToEntry(exe, 4));   // no such entry
}

TEST_F(ArchiveTest, SeekPastTheEndOfTheFileSucceedsAndReadsNothing)
{
    Bytes a = cat({header(kLong, 1), entryBytes(true, "late.bin", 0x1000, 4)});
    ASSERT_EQ(UPDATE_OK, loadImage(image(a)));
    EXPECT_EQ("", readAt(0, 4));
}

TEST_F(ArchiveTest, ATableThatCannotBeAllocatedIsNoPayload)
{
    Bytes a = cat({header(kLong, 2), entryBytes(true, "a", 0, 0), entryBytes(true, "b", 0, 0)});
    writeFile("updater.exe", image(a));
    ASSERT_EQ(1, exe.openRead(path("updater.exe").c_str()));
    testsupport::Faults faults;
    faults.failAllocAbove(0);
    EXPECT_EQ(UPDATE_E_PAYLOAD, archive.load(exe));
    EXPECT_EQ(0u, archive.count());
    EXPECT_EQ(1, faults.allocCalls());
}

TEST_F(ArchiveTest, ReadFaultsAreNoPayload)
{
    Bytes a = cat({header(kLong, 2), entryBytes(true, "a", 0, 0), entryBytes(true, "b", 0, 0)});
    writeFile("updater.exe", image(a));
    struct Case {
        const char* what;
        int nth;
        uint32_t keep;
    } cases[] = {
        {"header read fails", 1, testsupport::kFail},
        {"header read short", 1, 15},
        {"table read fails", 2, testsupport::kFail},
        {"table read returns half", 2, testsupport::kHalf},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(1, exe.openRead(path("updater.exe").c_str()));
        testsupport::Faults faults;
        faults.shortenRead(c.nth, c.keep);
        EXPECT_EQ(UPDATE_E_PAYLOAD, archive.load(exe));
        EXPECT_EQ(0u, archive.count());
        exe.close();
    }
}

TEST_F(ArchiveTest, AnExecutableThatIsNotOpenIsNoPayload)
{
    // Its size reads as 0xFFFFFFFF, so it passes the size test and fails on
    // the header read.
    EXPECT_EQ(UPDATE_E_PAYLOAD, archive.load(exe));
}

TEST_F(ArchiveTest, ReloadingReplacesTheTableAndAFailedLoadLeavesNone)
{
    Bytes good = image(cat({header(kLong, 1), entryBytes(true, "first.bin", 0, 0)}));
    ASSERT_EQ(UPDATE_OK, loadImage(good));
    exe.close();
    Bytes other = image(cat({header("xxxxxxxxxxxx", 2), entryBytes(false, "a", 0, 0), entryBytes(false, "b", 0, 0)}));
    ASSERT_EQ(UPDATE_OK, loadImage(other));
    EXPECT_EQ(2u, archive.count());
    EXPECT_STREQ("b", archive.entry(1).name);
    exe.close();
    EXPECT_EQ(UPDATE_E_TOO_MANY_ENTRIES, loadImage(image(header(kLong, 40))));
    EXPECT_EQ(0u, archive.count());
    EXPECT_EQ(0x40010u, archive.dataStart());
}

// ---- locateSelf ---------------------------------------------------------------

std::string gFakeModulePath;
uint32_t fakeModuleFileName(char* buffer, uint32_t size)
{
    if (gFakeModulePath.empty())
        return 0;   // fails, writes nothing
    size_t n = gFakeModulePath.size() < size ? gFakeModulePath.size() : size;
    std::memcpy(buffer, gFakeModulePath.data(), n);
    if (n < size)
        buffer[n] = '\0';
    return static_cast<uint32_t>(n);
}

class LocateSelfTest : public ::testing::Test {
protected:
    void SetUp() override { os::calls().getModuleFileName = fakeModuleFileName; }
    void TearDown() override { os::restoreCalls(); }
};

TEST_F(LocateSelfTest, AFailedCallLeavesSetupExeAndZeros)
{
    gFakeModulePath.clear();
    char path[kMaxPath];
    std::memset(path, 0x55, sizeof path);
    locateSelf(path);
    EXPECT_STREQ("setup.exe", path);
    for (uint32_t i = 9; i < kMaxPath; ++i)
        ASSERT_EQ(0, path[i]) << i;
}

TEST_F(LocateSelfTest, TheModulePathReplacesTheDefault)
{
    gFakeModulePath = "C:\\Games\\patch.exe";
    char path[kMaxPath];
    locateSelf(path);
    EXPECT_STREQ("C:\\Games\\patch.exe", path);
}

TEST_F(LocateSelfTest, APathFillingTheBufferIsStillTerminated)
{
    gFakeModulePath = std::string(300, 'p');
    char path[kMaxPath];
    locateSelf(path);
    EXPECT_EQ(kMaxPath - 1, std::strlen(path));
}

TEST(LocateSelfHost, FindsTheRunningTestBinary)
{
    char path[kMaxPath];
    locateSelf(path);
    FileHandle self;
    EXPECT_EQ(1, self.openRead(path)) << path;
}

} // namespace
