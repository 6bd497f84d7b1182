// Links planted in the install folder, for real, under the Windows calls:
// hard links by CreateHardLinkA, symbolic links by CreateSymbolicLinkA on
// Windows and by the Linux ln under Wine (whose CreateSymbolicLinkA reports
// success without making one). Wine shows a Unix symbolic link as a plain
// file with one link and follows it in DeleteFileA, MoveFileExA and
// SetFileAttributesA; the run must still never touch what it reaches.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <windows.h>

#include "tests/support/sample_install.h"

using namespace updatetest;
using testsupport::Bytes;

namespace {

enum LinkKind { SYMLINK_TO_SENTINEL, HARDLINK_TO_SENTINEL, SYMLINK_TO_INSTALLED, HARDLINK_TO_INSTALLED };

struct LinkCase {
    const char* label;
    const char* planted;
    LinkKind kind;
    UpdateResult expected;
};

std::ostream& operator<<(std::ostream& out, const LinkCase& c) { return out << c.label; }

// Wine's own export: the Linux path of a Windows one; null on Windows.
typedef char*(CDECL* UnixNameOf)(const WCHAR*);
UnixNameOf wineUnixNameOf()
{
    return reinterpret_cast<UnixNameOf>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
}

std::string unixPathOf(const std::string& windowsPath)
{
    WCHAR wide[MAX_PATH * 2];
    if (MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide, MAX_PATH * 2) <= 0)
        return std::string();
    char* unixName = wineUnixNameOf()(wide);
    if (unixName == nullptr)
        return std::string();
    std::string out(unixName);
    HeapFree(GetProcessHeap(), 0, unixName);
    return out;
}

// Starts a Linux program from under Wine. Wine gives no dependable wait on
// such a process, so callers watch for its effect (untilTrue).
bool startUnix(const std::string& program, const std::string& arguments)
{
    std::string image = "\\\\?\\unix" + program;
    for (char& c : image)
        if (c == '/')
            c = '\\';
    std::string line = program + " " + arguments;
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back(0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(image.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        ADD_FAILURE() << "cannot start " << image << ": error " << GetLastError();
        return false;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

template <typename Condition>
bool untilTrue(Condition condition)
{
    for (int i = 0; i < 300; ++i) {
        if (condition())
            return true;
        Sleep(50);
    }
    return false;
}

std::string shellQuoted(const std::string& s) { return "\"" + s + "\""; }

// What identifies a file and what the run might change about it.
struct Identity {
    DWORD volume = 0, indexHigh = 0, indexLow = 0, attributes = 0, links = 0;
    std::string finalPath;
    bool operator==(const Identity& o) const
    {
        return volume == o.volume && indexHigh == o.indexHigh && indexLow == o.indexLow &&
               attributes == o.attributes && links == o.links && finalPath == o.finalPath;
    }
};

Identity identityOf(const std::string& path)
{
    Identity id;
    HANDLE h = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return id;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(h, &info)) {
        id.volume = info.dwVolumeSerialNumber;
        id.indexHigh = info.nFileIndexHigh;
        id.indexLow = info.nFileIndexLow;
        id.attributes = info.dwFileAttributes;
        id.links = info.nNumberOfLinks;
    }
    char buffer[MAX_PATH * 2] = {};
    if (GetFinalPathNameByHandleA(h, buffer, sizeof buffer, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS) < sizeof buffer)
        id.finalPath = buffer;
    CloseHandle(h);
    return id;
}

// A link whose target is gone no longer opens but still has its name in the folder.
bool isSymlinkLeft(const std::string& path)
{
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA(path.c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    FindClose(h);
    return true;
}

class WinPlantedLinkTest : public UpdateTest, public ::testing::WithParamInterface<LinkCase> {
protected:
    SampleInstall sample;
    const Bytes sentinelBytes = testsupport::bytesOf("the sentinel: no run may change these bytes");
    bool symbolic = false;

    void SetUp() override
    {
        UpdateTest::SetUp();
        realWindowCalls = true;
    }
    void TearDown() override
    {
        // A Unix symbolic link must go as itself: Wine's DeleteFileA would
        // delete its target and leave the link behind.
        if (symbolic && wineUnixNameOf() != nullptr) {
            std::string link = gamePath(GetParam().planted);
            if (startUnix("/bin/rm", "-f " + shellQuoted(unixPathOf(link))))
                EXPECT_TRUE(untilTrue([&] { return !testsupport::fileExistsAt(link) && !isSymlinkLeft(link); }));
        }
        UpdateTest::TearDown();
    }

    std::string linkTarget(LinkKind kind) const
    {
        return (kind == SYMLINK_TO_SENTINEL || kind == HARDLINK_TO_SENTINEL) ? path("sentinel.bin")
                                                                              : gamePath("system.arc");
    }
    void plant(const std::string& name, LinkKind kind)
    {
        std::string at = gamePath(name), target = linkTarget(kind);
        DeleteFileA(at.c_str());
        if (kind == HARDLINK_TO_SENTINEL || kind == HARDLINK_TO_INSTALLED) {
            ASSERT_TRUE(CreateHardLinkA(at.c_str(), target.c_str(), nullptr)) << "error " << GetLastError();
            return;
        }
        symbolic = true;
        if (wineUnixNameOf() != nullptr) {
            std::string unixAt = unixPathOf(at), unixTarget = unixPathOf(target);
            ASSERT_FALSE(unixAt.empty() || unixTarget.empty());
            ASSERT_TRUE(startUnix("/bin/ln", "-s " + shellQuoted(unixTarget) + " " + shellQuoted(unixAt)));
            ASSERT_TRUE(untilTrue([&] { return GetFileAttributesA(at.c_str()) != INVALID_FILE_ATTRIBUTES; }))
                << "ln made no link at " << unixAt;
        } else {
            ASSERT_TRUE(CreateSymbolicLinkA(at.c_str(), target.c_str(), 0)) << "error " << GetLastError();
        }
        // Whatever the platform shows of the link, its final path is the target's.
        ASSERT_EQ(identityOf(target).finalPath, identityOf(at).finalPath) << "no link was made at " << name;
    }
};

TEST_P(WinPlantedLinkTest, NothingOutsideTheFolderChangesAndTheRunEndsCleanOrUntouched)
{
    const LinkCase& c = GetParam();
    sample.buildPayload(*this);
    sample.install(*this);
    writeFile("sentinel.bin", sentinelBytes);
    ASSERT_TRUE(SetFileAttributesA(path("sentinel.bin").c_str(), FILE_ATTRIBUTE_READONLY));
    plant(c.planted, c.kind);
    Identity sentinelBefore = identityOf(path("sentinel.bin"));
    Identity plantedBefore = identityOf(gamePath(c.planted));
    FolderContents before = contentsOf(folderState());

    UpdateResult result = run();

    EXPECT_EQ(c.expected, result) << updateResultName(result);
    EXPECT_EQ(sentinelBytes, readFile("sentinel.bin"));
    Identity sentinelAfter = identityOf(path("sentinel.bin"));
    EXPECT_TRUE(sentinelBefore == sentinelAfter)
        << "the sentinel kept its place and attributes: 0x" << std::hex << sentinelBefore.attributes << " -> 0x"
        << sentinelAfter.attributes << std::dec << ", " << sentinelBefore.finalPath << " -> " << sentinelAfter.finalPath;

    FolderContents after = contentsOf(folderState());
    FolderContents success = sample.successContents();
    if (result == UPDATE_E_FILE_IO) {
        EXPECT_EQ(before, after) << "every installed file untouched";
        EXPECT_TRUE(plantedBefore == identityOf(gamePath(c.planted))) << "the planted link left as it was";
    } else {
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
    // An installed file that is still itself: its final path is its own name.
    for (const char* name : {"data01000.arc", "system.arc", "KVX.hvl", "uninst.lst"})
        if (name != std::string(c.planted) && isInstalled(name)) {
            EXPECT_NE(std::string::npos, identityOf(gamePath(name)).finalPath.find(name))
                << name << " resolves to " << identityOf(gamePath(name)).finalPath;
        }
    for (const char* name : {"data01000.arc.tmp", "system.arc.tmp", "KVX.hvl.tmp", "KVX.new", "uninst.new"})
        if (name != std::string(c.planted)) {
            EXPECT_FALSE(isInstalled(name)) << name << " left behind";
        }
    expectFile("sentinel.bin");
    expectFile("game/" + std::string(c.planted));
}

INSTANTIATE_TEST_SUITE_P(
    Links, WinPlantedLinkTest,
    ::testing::Values(
        LinkCase{"TempSymlinkOut", "data01000.arc.tmp", SYMLINK_TO_SENTINEL, UPDATE_E_FILE_IO},
        LinkCase{"TempHardlinkOut", "data01000.arc.tmp", HARDLINK_TO_SENTINEL, UPDATE_E_FILE_IO},
        LinkCase{"TempSymlinkIn", "data01000.arc.tmp", SYMLINK_TO_INSTALLED, UPDATE_E_FILE_IO},
        LinkCase{"TempHardlinkIn", "data01000.arc.tmp", HARDLINK_TO_INSTALLED, UPDATE_E_FILE_IO},
        LinkCase{"HashSideSymlinkOut", "KVX.new", SYMLINK_TO_SENTINEL, UPDATE_OK},
        LinkCase{"HashSideHardlinkOut", "KVX.new", HARDLINK_TO_SENTINEL, UPDATE_OK},
        LinkCase{"HashSideSymlinkIn", "KVX.new", SYMLINK_TO_INSTALLED, UPDATE_OK},
        LinkCase{"HashSideHardlinkIn", "KVX.new", HARDLINK_TO_INSTALLED, UPDATE_E_FILE_IO},
        LinkCase{"UninstallSideSymlinkOut", "uninst.new", SYMLINK_TO_SENTINEL, UPDATE_E_UNINSTALL_LIST},
        LinkCase{"UninstallSideHardlinkOut", "uninst.new", HARDLINK_TO_SENTINEL, UPDATE_E_UNINSTALL_LIST},
        LinkCase{"UninstallSideSymlinkIn", "uninst.new", SYMLINK_TO_INSTALLED, UPDATE_E_UNINSTALL_LIST},
        LinkCase{"UninstallSideHardlinkIn", "uninst.new", HARDLINK_TO_INSTALLED, UPDATE_E_FILE_IO},
        LinkCase{"InstalledSymlinkOut", "data01000.arc", SYMLINK_TO_SENTINEL, UPDATE_E_FILE_IO},
        LinkCase{"InstalledHardlinkOut", "data01000.arc", HARDLINK_TO_SENTINEL, UPDATE_E_FILE_IO},
        LinkCase{"InstalledSymlinkIn", "data01000.arc", SYMLINK_TO_INSTALLED, UPDATE_E_FILE_IO},
        LinkCase{"InstalledHardlinkIn", "data01000.arc", HARDLINK_TO_INSTALLED, UPDATE_E_FILE_IO}),
    [](const ::testing::TestParamInfo<LinkCase>& info) { return std::string(info.param.label); });

} // namespace
