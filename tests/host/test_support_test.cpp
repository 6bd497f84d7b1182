// The shared test fixtures must catch what they promise to catch: a test that
// leaves a stray file fails, and injected faults hit the call they name.
#include <gtest/gtest.h>
#include <gtest/gtest-spi.h>

#include "payload/file_handle.h"
#include "tests/support/test_support.h"

namespace {

testsupport::TempDir* gDir = nullptr;

class TempDirCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        gDir = &dir;
        dir.create();
    }
    void TearDown() override { dir.remove(); }
    void put(const std::string& name)
    {
        std::filesystem::create_directories(std::filesystem::path(dir.path(name)).parent_path());
        ASSERT_TRUE(testsupport::writeFileAt(dir.path(name), "x"));
    }
    testsupport::TempDir dir;
};

TEST_F(TempDirCheck, EachTestGetsAFreshEmptyFolder)
{
    EXPECT_TRUE(std::filesystem::is_directory(dir.root()));
    EXPECT_TRUE(dir.listing().empty());
    testsupport::TempDir other;
    other.create();
    EXPECT_NE(dir.dir(), other.dir());
}

TEST_F(TempDirCheck, AStrayFileFailsTheTest)
{
    put("data.arc");
    dir.noteWritten("data.arc");
    put("data.arc.tmp");
    EXPECT_NONFATAL_FAILURE(gDir->check(), "file left behind in the test folder: data.arc.tmp");
}

TEST_F(TempDirCheck, DeclaredFilesMayStay)
{
    put("in.bin");
    dir.noteWritten("in.bin");
    put("sub/out.bin");
    dir.expectFile("sub\\out.bin");
    dir.check();
}

TEST_F(TempDirCheck, AnExactSetAlsoReportsMissingFiles)
{
    put("a.txt");
    dir.expectFinalFiles({"a.txt", "b.txt"});
    EXPECT_NONFATAL_FAILURE(gDir->check(), "expected file missing from the test folder: b.txt");
}

TEST_F(TempDirCheck, AnEmptyFolderLeftBehindCounts)
{
    std::filesystem::create_directories(dir.root() / "left" / "empty");
    EXPECT_NONFATAL_FAILURE(gDir->check(), "left/empty/");
}

class FaultsCheck : public testsupport::TempDirTest {};

TEST_F(FaultsCheck, TheNthWriteIsCutAndLaterOnesAreNot)
{
    FileHandle f;
    ASSERT_EQ(1, f.openWrite(path("out.bin").c_str()));
    expectFile("out.bin");
    testsupport::Faults faults;
    faults.shortenWrite(2, testsupport::kHalf);
    EXPECT_EQ(4u, f.write("1234", 4));
    EXPECT_EQ(2u, f.write("5678", 4));
    EXPECT_EQ(4u, f.write("9abc", 4));
    EXPECT_EQ(3, faults.writeCalls());
    f.close();
    EXPECT_EQ("1234569abc", readText("out.bin"));
}

TEST_F(FaultsCheck, FromTheNthOnEveryReadFails)
{
    writeFile("in.bin", "abcdef");
    FileHandle f;
    ASSERT_EQ(1, f.openRead(path("in.bin").c_str()));
    testsupport::Faults faults;
    faults.failRead(2, true);
    char b[2];
    EXPECT_EQ(2u, f.read(b, 2));
    EXPECT_EQ(0u, f.read(b, 2));
    EXPECT_EQ(0u, f.read(b, 2));
}

TEST_F(FaultsCheck, PathRulesCountOnlyMatchingCallsAndTheLogKeepsTheOrder)
{
    writeFile("a.tmp", "a");
    writeFile("b.tmp", "b");
    testsupport::Faults faults;
    faults.startLog();
    faults.failMove(2, ".tmp");
    EXPECT_EQ(1, os::calls().moveFileReplace(path("a.tmp").c_str(), path("a").c_str()));
    EXPECT_EQ(0, os::calls().moveFileReplace(path("b.tmp").c_str(), path("b").c_str()));
    ASSERT_EQ(2u, faults.log().size());
    EXPECT_EQ("move " + path("b.tmp") + " -> " + path("b"), faults.log()[1]);
    expectFinalFiles({"a", "b.tmp"});
}

TEST_F(FaultsCheck, AllocationsFailAboveALimitOrOnTheNthCall)
{
    testsupport::Faults faults;
    faults.failAllocAbove(100);
    void* small = os::calls().allocate(100);
    EXPECT_NE(nullptr, small);
    os::calls().release(small);
    EXPECT_EQ(nullptr, os::calls().allocate(101));
    faults.failAllocAbove(SIZE_MAX);
    faults.failAllocNth(2);
    void* first = os::calls().allocate(8);
    EXPECT_NE(nullptr, first);
    EXPECT_EQ(nullptr, os::calls().allocate(8));
    os::calls().release(first);
}

TEST_F(FaultsCheck, TheTableIsRestored)
{
    {
        testsupport::Faults faults;
        EXPECT_NE(os::defaultCalls().readFile, os::calls().readFile);
    }
    EXPECT_EQ(os::defaultCalls().readFile, os::calls().readFile);
    EXPECT_EQ(os::defaultCalls().allocate, os::calls().allocate);
}

} // namespace
