// Trimming the installed hash value list and appending to the uninstall list,
// on real folders. Expected files are built byte by byte here, not by the
// code under test.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "payload/hash_value_list.h"
#include "tests/support/test_support.h"
#include "update/install_bookkeeping.h"

using testsupport::Bytes;
using testsupport::bytesOf;
using testsupport::Faults;

namespace {

const size_t kMiB = 0x100000;

Bytes le32(uint32_t v) { return Bytes{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A 64-byte record: the name NUL-padded to 56 bytes, then eight checksum bytes.
Bytes rawRecord(const std::string& name, uint8_t fill)
{
    Bytes r(64, 0);
    std::memcpy(r.data(), name.data(), name.size() < 56 ? name.size() : 56);
    for (int i = 0; i < 8; ++i)
        r[56 + i] = static_cast<uint8_t>(fill + i);
    return r;
}

Bytes rawHeader(uint32_t count, uint32_t reserved = 0, const std::string& magic = "DQM_____")
{
    return bytesOf(magic) + le32(reserved) + le32(count);
}

int failFlush(os::FileRef) { return 0; }

// Paths the existence test was asked about.
std::vector<std::string>& probes()
{
    static std::vector<std::string> p;
    return p;
}
uint32_t probingAttributes(const char* path)
{
    probes().push_back(path);
    return os::defaultCalls().getFileAttributes(path);
}

class PruneTest : public testsupport::TempDirTest {
protected:
    void prune() { pruneHashValueList(dir().c_str()); }
};

TEST_F(PruneTest, KeepsOnlyTheRecordsWhoseFilesExist)
{
    writeFile("a.bin", "a");
    writeFile("KVX.hvl", rawHeader(2, 0x55667788) + rawRecord("a.bin", 1) + rawRecord("b.bin", 2));

    prune();

    EXPECT_EQ(rawHeader(1, 0x55667788) + rawRecord("a.bin", 1), readFile("KVX.hvl"));
}

TEST_F(PruneTest, KeepsTheOrderOfTheRecordsItKeeps)
{
    writeFile("x", "");
    writeFile("z", "");
    writeFile("KVX.hvl", rawHeader(4) + rawRecord("x", 1) + rawRecord("y", 2) + rawRecord("z", 3) + rawRecord("w", 4));

    prune();

    EXPECT_EQ(rawHeader(2) + rawRecord("x", 1) + rawRecord("z", 3), readFile("KVX.hvl"));
}

TEST_F(PruneTest, AWrongMagicIsTrimmedAllTheSame)
{
    writeFile("KVX.hvl", rawHeader(1, 0, "NOTALIST") + rawRecord("gone", 1));
    prune();
    EXPECT_EQ(rawHeader(0, 0, "NOTALIST"), readFile("KVX.hvl"));
}

TEST_F(PruneTest, AFolderOrASubfolderFileCountsAsPresent)
{
    std::error_code ec;
    std::filesystem::create_directories(path("sub/dir"), ec);
    writeFile("sub/a.bin", "a");
    expectFile("sub/dir/");
    writeFile("KVX.hvl", rawHeader(3) + rawRecord("sub\\dir", 1) + rawRecord("sub\\a.bin", 2) + rawRecord("sub\\b", 3));

    prune();

    EXPECT_EQ(rawHeader(2) + rawRecord("sub\\dir", 1) + rawRecord("sub\\a.bin", 2), readFile("KVX.hvl"));
}

TEST_F(PruneTest, WithoutAListNothingIsCreated)
{
    prune();
    expectFinalFiles({});
}

TEST_F(PruneTest, ARecordNameFillingItsFieldIsKeptAndNeverLookedUp)
{
    std::string full(56, 'n');
    writeFile("KVX.hvl", rawHeader(2) + rawRecord(full, 1) + rawRecord("gone", 2));
    os::calls().getFileAttributes = probingAttributes;
    probes().clear();

    prune();

    EXPECT_EQ(rawHeader(1) + rawRecord(full, 1), readFile("KVX.hvl"));
    EXPECT_EQ(std::vector<std::string>({dir() + "\\gone"}), probes());
}

TEST_F(PruneTest, BytesAfterTheCountedRecordsAreNotCarriedOver)
{
    writeFile("a", "");
    writeFile("KVX.hvl", rawHeader(1) + rawRecord("a", 1) + bytesOf("trailing"));
    prune();
    EXPECT_EQ(rawHeader(1) + rawRecord("a", 1), readFile("KVX.hvl"));
}

TEST_F(PruneTest, TheListIsReplacedThroughASideFileNeverTruncatedInPlace)
{
    writeFile("KVX.hvl", rawHeader(1) + rawRecord("gone", 1));
    Faults faults;
    faults.startLog();

    prune();

    std::vector<std::string> expected = {"open " + dir() + "\\KVX.hvl", "create " + dir() + "\\KVX.new",
                                         "move " + dir() + "\\KVX.new -> " + dir() + "\\KVX.hvl"};
    EXPECT_EQ(expected, faults.log());
    EXPECT_EQ(rawHeader(0), readFile("KVX.hvl"));
}

TEST_F(PruneTest, AReadOnlyLeftoverSideFileIsOverwrittenAndGone)
{
    writeFile("KVX.hvl", rawHeader(1) + rawRecord("gone", 1));
    writeFile("KVX.new", "left over by an interrupted rewrite");
    ASSERT_TRUE(os::defaultCalls().setFileAttributes(path("KVX.new").c_str(), os::kAttributeReadOnly));

    prune();

    EXPECT_EQ(rawHeader(0), readFile("KVX.hvl"));
    expectFinalFiles({"KVX.hvl"});
}

struct UnchangedCase {
    const char* label;
    Bytes list;
    std::function<void(Faults&)> arrange;
};

class PruneLeavesTheListTest : public PruneTest, public ::testing::WithParamInterface<UnchangedCase> {};

TEST_P(PruneLeavesTheListTest, ByteForByteWithNoSideFileLeft)
{
    writeFile("a", "");
    writeFile("KVX.hvl", GetParam().list);
    Faults faults;
    if (GetParam().arrange)
        GetParam().arrange(faults);

    prune();

    EXPECT_EQ(GetParam().list, readFile("KVX.hvl"));
    expectFinalFiles({"a", "KVX.hvl"});
}

const Bytes kTwoRecords = rawHeader(2) + rawRecord("a", 1) + rawRecord("gone", 2);

INSTANTIATE_TEST_SUITE_P(
    ShortLists, PruneLeavesTheListTest,
    ::testing::Values(
        UnchangedCase{"ShorterThanAHeader", bytesOf("DQM_____\0\0"), nullptr},
        UnchangedCase{"CountBeyondTheFile", rawHeader(3) + rawRecord("gone", 1) + rawRecord("a", 2), nullptr},
        // 0x04000000 records of 64 bytes are 2^32 bytes: zero in 32 bits.
        UnchangedCase{"CountOverflowingToZero", rawHeader(0x04000000) + rawRecord("gone", 1), nullptr},
        UnchangedCase{"CountAllOnes", rawHeader(0xFFFFFFFFu) + rawRecord("gone", 1), nullptr}),
    [](const ::testing::TestParamInfo<UnchangedCase>& info) { return std::string(info.param.label); });

INSTANTIATE_TEST_SUITE_P(
    Faults, PruneLeavesTheListTest,
    ::testing::Values(
        UnchangedCase{"ListCannotBeOpened", kTwoRecords, [](Faults& f) { f.failOpenRead(1); }},
        UnchangedCase{"HeaderReadShort", kTwoRecords, [](Faults& f) { f.shortenRead(1, 10); }},
        UnchangedCase{"RecordsReadShort", kTwoRecords, [](Faults& f) { f.shortenRead(2, testsupport::kHalf); }},
        UnchangedCase{"RecordBlockCannotBeAllocated", kTwoRecords, [](Faults& f) { f.failAllocNth(1); }},
        UnchangedCase{"KeptBlockCannotBeAllocated", kTwoRecords, [](Faults& f) { f.failAllocNth(2); }},
        UnchangedCase{"SideFileCannotBeCreated", kTwoRecords, [](Faults& f) { f.failCreate(1); }},
        UnchangedCase{"HeaderWriteShortOnAFullDisk", kTwoRecords, [](Faults& f) { f.shortenWrite(1, 8); }},
        UnchangedCase{"RecordWriteFails", kTwoRecords, [](Faults& f) { f.failWrite(2); }},
        UnchangedCase{"FlushFails", kTwoRecords, [](Faults&) { os::calls().flushFileBuffers = failFlush; }},
        UnchangedCase{"ReplaceFails", kTwoRecords, [](Faults& f) { f.failMove(1); }}),
    [](const ::testing::TestParamInfo<UnchangedCase>& info) { return std::string(info.param.label); });

TEST_F(PruneTest, ARecordPathThatWouldNotFitLeavesTheListAsItIs)
{
    // "<folder>\KVX.hvl" fits in 259 bytes, "<folder>\<20-byte name>" does not.
    std::string folder = dir();
    while (folder.size() + 60 < 250)
        folder += "/" + std::string(50, 'd');
    folder += "/" + std::string(250 - folder.size() - 1, 'e');
    ASSERT_EQ(250u, folder.size());
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    Bytes list = rawHeader(1) + rawRecord(std::string(20, 'r'), 1);
    ASSERT_TRUE(testsupport::writeFileAt(folder + "/KVX.hvl", list));
    expectFile(folder.substr(dir().size() + 1) + "/KVX.hvl");

    pruneHashValueList(folder.c_str());

    EXPECT_EQ(list, testsupport::readFileAt(folder + "/KVX.hvl"));
}

// ---- the uninstall list --------------------------------------------------------------

class UninstallListTest : public testsupport::TempDirTest {
protected:
    int update(const std::vector<const char*>& names)
    {
        std::vector<const char*> list(names);
        list.push_back(nullptr);
        return updateUninstallList(dir().c_str(), list.data());
    }
};

std::string nul(const std::string& s) { return s + std::string(1, '\0'); }

struct TextCase {
    const char* label;
    std::string before;
    std::vector<const char*> names;
    std::string after;      // empty: refused, the file stays as it was
};

class UninstallTextTest : public UninstallListTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(UninstallTextTest, IsRewrittenOrRefusedWithNothingLost)
{
    const TextCase& c = GetParam();
    writeFile("uninst.lst", c.before);

    int result = update(c.names);

    if (c.after.empty()) {
        EXPECT_EQ(0, result);
        EXPECT_TRUE(readText("uninst.lst") == c.before) << "the file changed";
    } else {
        EXPECT_EQ(1, result);
        EXPECT_TRUE(readText("uninst.lst") == c.after) << "size " << readText("uninst.lst").size();
    }
    expectFinalFiles({"uninst.lst"});
}

std::string xs(size_t n) { return std::string(n, 'x'); }

INSTANTIATE_TEST_SUITE_P(
    Texts, UninstallTextTest,
    ::testing::Values(
        TextCase{"AppendsTheNamesItDoesNotHoldYet", nul("data01000.arc\n"), {"data01000.arc", "system.arc"},
                 nul("data01000.arc\nsystem.arc\n")},
        TextCase{"ANameInsideALongerLineIsPresent", nul("xdata01000.arc.bak\n"), {"data01000.arc"},
                 nul("xdata01000.arc.bak\n")},
        TextCase{"TheSearchIsCaseSensitive", nul("DATA01000.ARC\n"), {"data01000.arc"},
                 nul("DATA01000.ARC\ndata01000.arc\n")},
        TextCase{"NamesAppendedInThisCallAreSearchedToo", nul(""), {"ab.arc", "b.arc", "ab.arc"}, nul("ab.arc\n")},
        TextCase{"AnEmptyNameListRewritesTheSameBytes", nul("a\nb\n"), {}, nul("a\nb\n")},
        TextCase{"DoubleByteNamesAreAppendedAsTheyAre", nul("a\n"), {"\x83\x63\x83\x4E\\\x95\x5C.arc"},
                 nul("a\n\x83\x63\x83\x4E\\\x95\x5C.arc\n")},
        TextCase{"AFileOfZeroBytesIsEmptyText", "", {"a.arc"}, nul("a.arc\n")},
        TextCase{"AFileOfZeroBytesGetsItsNul", "", {}, nul("")},
        TextCase{"ALastByteOtherThanNulIsKept", "a\nb\n", {"c.arc"}, nul("a\nb\nc.arc\n")},
        TextCase{"ALastByteOtherThanNulIsKeptWithNoNames", "a\nb", {}, nul("a\nb")},
        TextCase{"ANulBeforeTheLastByteIsRefused", nul(std::string("a\n\0b\n", 5)), {"c"}, ""},
        TextCase{"ANulBeforeTheLastByteIsRefusedWithNoNames", nul(std::string("a\n\0b\n", 5)), {}, ""},
        TextCase{"TwoNulsAreRefused", std::string(2, '\0'), {}, ""},
        TextCase{"ANulInsideATextWithoutOneAtTheEndIsRefused", std::string("a\0b", 3), {"c"}, ""},
        // 1 MiB - 7 bytes of text, then 5 + 1 + 1 bytes: exactly full.
        TextCase{"TextNewLinesAndNulFillingTheBuffer", nul(xs(kMiB - 7)), {"abcde"}, nul(xs(kMiB - 7) + "abcde\n")},
        TextCase{"OneByteMoreThanTheBufferIsRefused", nul(xs(kMiB - 7)), {"abcdef"}, ""},
        TextCase{"AFileOfExactlyOneMebibyteEndingInNul", nul(xs(kMiB - 1)), {}, nul(xs(kMiB - 1))},
        TextCase{"AFileOfOneMebibyteWithoutANulIsRefused", xs(kMiB), {}, ""},
        TextCase{"AFileLargerThanTheBufferIsRefused", nul(xs(kMiB)), {}, ""}),
    [](const ::testing::TestParamInfo<TextCase>& info) { return std::string(info.param.label); });

TEST_F(UninstallListTest, AMissingListIsNotCreated)
{
    EXPECT_EQ(0, update({"a.arc"}));
    expectFinalFiles({});
}

TEST_F(UninstallListTest, TheListIsReplacedThroughASideFileNeverTruncatedInPlace)
{
    writeFile("uninst.lst", nul("a\n"));
    Faults faults;
    faults.startLog();

    EXPECT_EQ(1, update({"b"}));

    std::vector<std::string> expected = {"open " + dir() + "\\uninst.lst", "create " + dir() + "\\uninst.new",
                                         "move " + dir() + "\\uninst.new -> " + dir() + "\\uninst.lst"};
    EXPECT_EQ(expected, faults.log());
    EXPECT_EQ(nul("a\nb\n"), readText("uninst.lst"));
}

TEST_F(UninstallListTest, AReadOnlyLeftoverSideFileIsOverwrittenAndGone)
{
    writeFile("uninst.lst", nul("a\n"));
    writeFile("uninst.new", "left over");
    ASSERT_TRUE(os::defaultCalls().setFileAttributes(path("uninst.new").c_str(), os::kAttributeReadOnly));

    EXPECT_EQ(1, update({"b"}));
    EXPECT_EQ(nul("a\nb\n"), readText("uninst.lst"));
    expectFinalFiles({"uninst.lst"});
}

struct FaultCase {
    const char* label;
    std::function<void(Faults&)> arrange;
};

class UninstallFaultTest : public UninstallListTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(UninstallFaultTest, ReturnsZeroAndKeepsTheOldBytes)
{
    const std::string before = nul("data01000.arc\n" + xs(5000) + "\n");
    writeFile("uninst.lst", before);
    Faults faults;
    GetParam().arrange(faults);

    EXPECT_EQ(0, update({"system.arc"}));

    EXPECT_TRUE(readText("uninst.lst") == before);
    expectFinalFiles({"uninst.lst"});
}

INSTANTIATE_TEST_SUITE_P(
    Faults, UninstallFaultTest,
    ::testing::Values(FaultCase{"CannotBeOpened", [](Faults& f) { f.failOpenRead(1); }},
                      FaultCase{"ReadComesUpShort", [](Faults& f) { f.shortenRead(1, testsupport::kHalf); }},
                      FaultCase{"ReadFails", [](Faults& f) { f.failRead(1); }},
                      FaultCase{"BufferCannotBeAllocated", [](Faults& f) { f.failAllocNth(1); }},
                      FaultCase{"SideFileCannotBeCreated", [](Faults& f) { f.failCreate(1); }},
                      FaultCase{"WriteShortOnAFullDisk", [](Faults& f) { f.shortenWrite(1, 4096); }},
                      FaultCase{"WriteFails", [](Faults& f) { f.failWrite(1); }},
                      FaultCase{"FlushFails", [](Faults&) { os::calls().flushFileBuffers = failFlush; }},
                      FaultCase{"ReplaceFails", [](Faults& f) { f.failMove(1); }}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.label); });

} // namespace
