// Names planted in the install folder as links, on the host's own file
// system: a symbolic or a hard link at a name the run creates, reuses or
// moves over, pointing at a file outside the folder (the sentinel) or at
// another installed file. The elevated run must never write, move, delete or
// change the attributes of what such a link reaches.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <sys/stat.h>

#include "tests/support/sample_install.h"

using namespace updatetest;
using testsupport::Bytes;

namespace {

namespace fs = std::filesystem;

enum LinkKind { SYMLINK_TO_SENTINEL, HARDLINK_TO_SENTINEL, SYMLINK_TO_INSTALLED, HARDLINK_TO_INSTALLED };

struct LinkCase {
    const char* label;
    const char* planted;        // the name in the install folder
    LinkKind kind;
    UpdateResult expected;
};

std::ostream& operator<<(std::ostream& out, const LinkCase& c) { return out << c.label; }

struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    mode_t mode = 0;
    nlink_t links = 0;
    bool operator==(const Identity& o) const
    {
        return device == o.device && inode == o.inode && mode == o.mode && links == o.links;
    }
};

Identity identityOf(const std::string& path)
{
    struct stat st;
    Identity id;
    if (lstat(path.c_str(), &st) == 0) {
        id.device = st.st_dev;
        id.inode = st.st_ino;
        id.mode = st.st_mode;
        id.links = st.st_nlink;
    }
    return id;
}

class PlantedLinkTest : public UpdateTest, public ::testing::WithParamInterface<LinkCase> {
protected:
    SampleInstall sample;
    const Bytes sentinelBytes = testsupport::bytesOf("the sentinel: no run may change these bytes");

    std::string linkTarget(LinkKind kind) const
    {
        return (kind == SYMLINK_TO_SENTINEL || kind == HARDLINK_TO_SENTINEL) ? path("sentinel.bin")
                                                                              : gamePath("system.arc");
    }
    void plant(const std::string& name, LinkKind kind)
    {
        std::error_code ec;
        fs::remove(gamePath(name), ec);
        if (kind == SYMLINK_TO_SENTINEL || kind == SYMLINK_TO_INSTALLED)
            fs::create_symlink(linkTarget(kind), gamePath(name), ec);
        else
            fs::create_hard_link(linkTarget(kind), gamePath(name), ec);
        ASSERT_FALSE(ec) << ec.message();
    }
};

TEST_P(PlantedLinkTest, NothingOutsideTheFolderChangesAndTheRunEndsCleanOrUntouched)
{
    const LinkCase& c = GetParam();
    sample.buildPayload(*this);
    sample.install(*this);
    writeFile("sentinel.bin", sentinelBytes);
    ASSERT_EQ(0, chmod(path("sentinel.bin").c_str(), 0444));   // an attribute reset would show
    plant(c.planted, c.kind);
    Identity sentinelBefore = identityOf(path("sentinel.bin"));
    Identity plantedBefore = identityOf(gamePath(c.planted));
    FolderContents before = contentsOf(folderState());

    UpdateResult result = run();

    EXPECT_EQ(c.expected, result) << updateResultName(result);
    EXPECT_EQ(sentinelBytes, readFile("sentinel.bin"));
    EXPECT_TRUE(sentinelBefore == identityOf(path("sentinel.bin"))) << "the sentinel kept its place and mode";

    FolderContents after = contentsOf(folderState());
    FolderContents success = sample.successContents();
    if (result == UPDATE_E_FILE_IO) {
        EXPECT_EQ(before, after) << "every installed file untouched";
        EXPECT_TRUE(plantedBefore == identityOf(gamePath(c.planted))) << "the planted link left as it was";
    } else {
        // The payload files are new; a list whose side name was planted
        // keeps what it held before its rewrite.
        EXPECT_EQ(success.at("data01000.arc"), after.at("data01000.arc"));
        EXPECT_EQ(success.at("system.arc"), after.at("system.arc"));
        if (std::string(c.planted) == "KVX.new")
            EXPECT_EQ(sample.payloadList, after.at("KVX.hvl")) << "the payload's list, not trimmed";
        else
            EXPECT_EQ(success.at("KVX.hvl"), after.at("KVX.hvl"));
        if (std::string(c.planted) == "uninst.new")
            EXPECT_EQ(before.at("uninst.lst"), after.at("uninst.lst"));
        else
            EXPECT_EQ(success.at("uninst.lst"), after.at("uninst.lst"));
    }
    if (std::string(c.planted) != "data01000.arc") {
        EXPECT_FALSE(fs::is_symlink(gamePath("data01000.arc"))) << "never moved a link into place";
    }
    for (const char* name : {"data01000.arc.tmp", "system.arc.tmp", "KVX.hvl.tmp", "KVX.new", "uninst.new"})
        if (name != std::string(c.planted)) {
            EXPECT_FALSE(isInstalled(name) || fs::is_symlink(gamePath(name))) << name << " left behind";
        }
    expectFile("sentinel.bin");
    expectFile("game/" + std::string(c.planted));
}

INSTANTIATE_TEST_SUITE_P(
    Links, PlantedLinkTest,
    ::testing::Values(
        // A staged name that is a link stops staging before any installed file is touched.
        LinkCase{"TempSymlinkOut", "data01000.arc.tmp", SYMLINK_TO_SENTINEL, UPDATE_E_FILE_IO},
        LinkCase{"TempHardlinkOut", "data01000.arc.tmp", HARDLINK_TO_SENTINEL, UPDATE_E_FILE_IO},
        LinkCase{"TempSymlinkIn", "data01000.arc.tmp", SYMLINK_TO_INSTALLED, UPDATE_E_FILE_IO},
        LinkCase{"TempHardlinkIn", "data01000.arc.tmp", HARDLINK_TO_INSTALLED, UPDATE_E_FILE_IO},
        // A side name that is a link keeps its list as it was; the run itself is done.
        LinkCase{"HashSideSymlinkOut", "KVX.new", SYMLINK_TO_SENTINEL, UPDATE_OK},
        LinkCase{"HashSideHardlinkOut", "KVX.new", HARDLINK_TO_SENTINEL, UPDATE_OK},
        LinkCase{"HashSideSymlinkIn", "KVX.new", SYMLINK_TO_INSTALLED, UPDATE_OK},
        // system.arc itself then has two links: the commit refuses to reset
        // its attributes, which would reach the other name too.
        LinkCase{"HashSideHardlinkIn", "KVX.new", HARDLINK_TO_INSTALLED, UPDATE_E_FILE_IO},
        LinkCase{"UninstallSideSymlinkOut", "uninst.new", SYMLINK_TO_SENTINEL, UPDATE_E_UNINSTALL_LIST},
        LinkCase{"UninstallSideHardlinkOut", "uninst.new", HARDLINK_TO_SENTINEL, UPDATE_E_UNINSTALL_LIST},
        LinkCase{"UninstallSideSymlinkIn", "uninst.new", SYMLINK_TO_INSTALLED, UPDATE_E_UNINSTALL_LIST},
        LinkCase{"UninstallSideHardlinkIn", "uninst.new", HARDLINK_TO_INSTALLED, UPDATE_E_FILE_IO},
        // An installed name that is a link refuses the commit before its first move.
        LinkCase{"InstalledSymlinkOut", "data01000.arc", SYMLINK_TO_SENTINEL, UPDATE_E_FILE_IO},
        LinkCase{"InstalledHardlinkOut", "data01000.arc", HARDLINK_TO_SENTINEL, UPDATE_E_FILE_IO},
        LinkCase{"InstalledSymlinkIn", "data01000.arc", SYMLINK_TO_INSTALLED, UPDATE_E_FILE_IO},
        LinkCase{"InstalledHardlinkIn", "data01000.arc", HARDLINK_TO_INSTALLED, UPDATE_E_FILE_IO}),
    [](const ::testing::TestParamInfo<LinkCase>& info) { return std::string(info.param.label); });

} // namespace
