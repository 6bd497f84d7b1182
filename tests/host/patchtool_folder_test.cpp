// Listing a game folder for "hvl make": which files become records, under
// which names, in which order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "patchtool/hash_list_file.h"
#include "patchtool/text_codec.h"
#include "tests/support/test_support.h"

namespace {

class PatchtoolFolder : public testsupport::TempDirTest {
protected:
    std::vector<std::string> names(const std::vector<std::string>& skip = {})
    {
        problems.clear();
        std::vector<std::string> shown;
        for (const tool::FolderFile& f : tool::listGameFolder(dir(), skip, &problems))
            shown.push_back(tool::showName(f.recordName));
        return shown;
    }
    std::vector<std::string> problems;
};

TEST_F(PatchtoolFolder, RecordsSortedIgnoringCaseWithBackslashes)
{
    writeFile("system.arc", "s");
    writeFile("Data02.arc", "d2");
    writeFile("data01.arc", "d1");
    writeFile("sub/ツクメラ.dat", "t");
    writeFile("sub/deeper/b.dat", "b");
    writeFile("Game.exe", "mz");
    EXPECT_EQ((std::vector<std::string>{"data01.arc", "Data02.arc", "Game.exe", "sub\\deeper\\b.dat",
                                        "sub\\ツクメラ.dat", "system.arc"}),
              names());
    EXPECT_TRUE(problems.empty());
}

TEST_F(PatchtoolFolder, LeavesOutTheFilesTheUpdaterRewrites)
{
    writeFile("KVX.hvl", "list");
    writeFile("uninst.lst", std::string("a\n", 3));
    writeFile("a.arc", "a");
    writeFile("sub/kvx.hvl", "a game file that happens to share the name");
    writeFile("out.hvl", "the list being written");
    EXPECT_EQ((std::vector<std::string>{"a.arc", "sub\\kvx.hvl"}), names({path("out.hvl")}));
}

TEST_F(PatchtoolFolder, NamesThatCannotBeRecords)
{
    writeFile(std::string(55, 'n'), "fits: 55 bytes and the NUL");
    writeFile(std::string(56, 'm'), "too long");
    writeFile("café.dat", "no code page 932 form");
    writeFile("a.dat", "one");
    writeFile("A.DAT", "the same file on Windows");
    std::vector<std::string> listed = names();
    ASSERT_EQ(3u, problems.size());
    std::string all = problems[0] + "\n" + problems[1] + "\n" + problems[2];
    EXPECT_NE(std::string::npos, all.find("56 bytes")) << all;
    EXPECT_NE(std::string::npos, all.find("café.dat: the name has no form in code page 932")) << all;
    EXPECT_NE(std::string::npos, all.find("differ only in letter case")) << all;
}

} // namespace
