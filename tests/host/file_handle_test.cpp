// FileHandle on the host: the observable results the Windows calls give
// (the Windows-side tests check the same under Wine).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "payload/file_handle.h"
#include "tests/support/test_support.h"

namespace {

class FileHandleTest : public testsupport::TempDirTest {};

TEST_F(FileHandleTest, MissingFileStaysClosed)
{
    FileHandle f;
    EXPECT_EQ(0, f.openRead(path("missing.bin").c_str()));
    EXPECT_FALSE(f.isOpen());
    EXPECT_EQ(0xFFFFFFFFu, f.size());
    f.close();
    EXPECT_FALSE(f.isOpen());
}

TEST_F(FileHandleTest, OpeningAnOpenObjectFailsAndLeavesTheFirstFile)
{
    writeFile("first.txt", "first");
    writeFile("second.txt", "second!");
    FileHandle f;
    ASSERT_EQ(1, f.openRead(path("first.txt").c_str()));
    char c;
    ASSERT_EQ(1u, f.read(&c, 1));
    EXPECT_EQ(0, f.openRead(path("second.txt").c_str()));
    EXPECT_EQ(0, f.openWrite(path("second.txt").c_str()));
    // Still the first file, at the same position; the second untouched.
    EXPECT_EQ(5u, f.size());
    char rest[8] = {};
    EXPECT_EQ(4u, f.read(rest, sizeof rest));
    EXPECT_STREQ("irst", rest);
    EXPECT_EQ("second!", readText("second.txt"));
}

TEST_F(FileHandleTest, SeekPastTheEndSucceedsAndTheReadReturnsNothing)
{
    writeFile("short.bin", "12345");
    FileHandle f;
    ASSERT_EQ(1, f.openRead(path("short.bin").c_str()));
    EXPECT_EQ(1, f.seek(5));
    char buffer[4];
    EXPECT_EQ(0u, f.read(buffer, 4));
    EXPECT_EQ(1, f.seek(0x7FFFFFFF));
    EXPECT_EQ(0u, f.read(buffer, 4));
    EXPECT_EQ(1, f.seek(3));
    EXPECT_EQ(2u, f.read(buffer, 4));   // one call, the count it reports
}

TEST_F(FileHandleTest, PositionsOf2GiBAndAboveFail)
{
    writeFile("f.bin", "abcdef");
    FileHandle f;
    ASSERT_EQ(1, f.openRead(path("f.bin").c_str()));
    ASSERT_EQ(1, f.seek(2));
    for (uint32_t position : {0x80000000u, 0x80000001u, 0xFFFFFFFFu}) {
        EXPECT_EQ(0, f.seek(position)) << position;
    }
    // The failed seeks did not move the file.
    char c;
    ASSERT_EQ(1u, f.read(&c, 1));
    EXPECT_EQ('c', c);
}

TEST_F(FileHandleTest, OpenWriteTruncatesAnExistingFile)
{
    writeFile("old.bin", std::string(1000, 'o'));
    FileHandle f;
    ASSERT_EQ(1, f.openWrite(path("old.bin").c_str()));
    EXPECT_EQ(0u, f.size());
    EXPECT_EQ(3u, f.write("new", 3));
    f.close();
    EXPECT_EQ("new", readText("old.bin"));
}

TEST_F(FileHandleTest, AFileOpenForWritingCannotBeOpenedAgain)
{
    FileHandle writer;
    ASSERT_EQ(1, writer.openWrite(path("locked.bin").c_str()));
    expectFile("locked.bin");
    ASSERT_EQ(4u, writer.write("data", 4));
    FileHandle reader, writer2;
    EXPECT_EQ(0, reader.openRead(path("locked.bin").c_str()));
    EXPECT_EQ(0, writer2.openWrite(path("locked.bin").c_str()));
    // The refused create-always did not truncate the file.
    writer.close();
    EXPECT_EQ("data", readText("locked.bin"));
    EXPECT_EQ(1, reader.openRead(path("locked.bin").c_str()));
}

TEST_F(FileHandleTest, ReadersShareAFileButKeepWritersOut)
{
    writeFile("shared.bin", "shared");
    FileHandle a, b, w;
    ASSERT_EQ(1, a.openRead(path("shared.bin").c_str()));
    EXPECT_EQ(1, b.openRead(path("shared.bin").c_str()));
    EXPECT_EQ(0, w.openWrite(path("shared.bin").c_str()));
    EXPECT_EQ("shared", readText("shared.bin"));
}

TEST_F(FileHandleTest, ClosedObjectsFailEveryOperationAndCloseIsRepeatable)
{
    writeFile("f.bin", "x");
    FileHandle f;
    char c;
    EXPECT_EQ(0u, f.read(&c, 1));
    EXPECT_EQ(0u, f.write("x", 1));
    EXPECT_EQ(0, f.seek(0));
    EXPECT_EQ(0xFFFFFFFFu, f.size());
    ASSERT_EQ(1, f.openRead(path("f.bin").c_str()));
    f.close();
    f.close();
    EXPECT_EQ(0u, f.read(&c, 1));
    // Reopening after close works (the bookkeeping reads, closes, rewrites).
    ASSERT_EQ(1, f.openRead(path("f.bin").c_str()));
    EXPECT_EQ(1u, f.read(&c, 1));
    f.close();
    ASSERT_EQ(1, f.openWrite(path("f.bin").c_str()));
    EXPECT_EQ(2u, f.write("yz", 2));
    f.close();
    EXPECT_EQ("yz", readText("f.bin"));
}

TEST_F(FileHandleTest, WrongDirectionTransfersFail)
{
    writeFile("r.bin", "read me");
    FileHandle r;
    ASSERT_EQ(1, r.openRead(path("r.bin").c_str()));
    EXPECT_EQ(0u, r.write("x", 1));
    FileHandle w;
    ASSERT_EQ(1, w.openWrite(path("w.bin").c_str()));
    expectFile("w.bin");
    char c;
    EXPECT_EQ(0u, w.read(&c, 1));
    EXPECT_EQ("read me", readText("r.bin"));
}

TEST_F(FileHandleTest, BackslashPathsReachTheSameFile)
{
    writeFile("sub/inner.txt", "in");
    FileHandle f;
    ASSERT_EQ(1, f.openRead((dir() + "\\sub\\inner.txt").c_str()));
    EXPECT_EQ(2u, f.size());
}

TEST_F(FileHandleTest, AFolderIsNotAFileToRead)
{
    writeFile("sub/inner.txt", "in");
    FileHandle f;
    EXPECT_EQ(0, f.openRead(path("sub").c_str()));
}

TEST_F(FileHandleTest, TheDestructorCloses)
{
    {
        FileHandle w;
        ASSERT_EQ(1, w.openWrite(path("d.bin").c_str()));
        w.write("1", 1);
    }
    expectFile("d.bin");
    FileHandle again;
    EXPECT_EQ(1, again.openWrite(path("d.bin").c_str()));
}

} // namespace
