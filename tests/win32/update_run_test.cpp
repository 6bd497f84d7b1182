// The update run against a real folder with the Windows calls themselves: no
// dialog (dialogHandle null), the real message pump, and what only Windows
// shows: attributes, share modes, a second process holding a file, a full
// drive.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <windows.h>

#include "tests/support/update_fixture.h"

using namespace updatetest;
using testsupport::Bytes;
using testsupport::bytesOf;

namespace {

std::string withNul(const std::string& text) { return text + std::string(1, '\0'); }

const DWORD kReadOnly = FILE_ATTRIBUTE_READONLY;
const DWORD kHidden = FILE_ATTRIBUTE_HIDDEN;
const DWORD kSystem = FILE_ATTRIBUTE_SYSTEM;

class WinUpdateRunTest : public UpdateTest {
protected:
    void SetUp() override
    {
        UpdateTest::SetUp();
        realWindowCalls = true;
    }

    DWORD attributes(const std::string& name) const { return GetFileAttributesA(gamePath(name).c_str()); }

    // Three payload files and an installation of their old versions.
    const Bytes newA = pattern(1000, 1), newB = pattern(200000, 2), newC = pattern(3000, 3);
    void threeFiles()
    {
        buildUpdater({entry("a.bin", newA), entry("b.bin", newB), entry("c.bin", newC)});
        install("a.bin", bytesOf("old a"));
        install("b.bin", bytesOf("old b"));
        install("c.bin", bytesOf("old c"));
        install("KVX.hvl", buildHashValueList({record("a.bin", newA), record("gone.bin", newA)}));
        install("uninst.lst", withNul("a.bin\n"));
    }
};

TEST_F(WinUpdateRunTest, WithoutADialogTheRunCommitsAndDoesTheBookkeeping)
{
    threeFiles();
    ASSERT_EQ(nullptr, dialogHandle);

    EXPECT_EQ(UPDATE_OK, run());

    EXPECT_EQ(newA, installed("a.bin"));
    EXPECT_EQ(newB, installed("b.bin"));
    EXPECT_EQ(newC, installed("c.bin"));
    EXPECT_EQ(buildHashValueList({record("a.bin", newA)}), installed("KVX.hvl"));
    EXPECT_EQ(withNul("a.bin\nb.bin\nc.bin\n"), readText("game/uninst.lst"));
    expectFinalFiles({"setup.exe", "game/a.bin", "game/b.bin", "game/c.bin", "game/KVX.hvl", "game/uninst.lst"});
}

TEST_F(WinUpdateRunTest, ReadOnlyHiddenAndSystemInstalledFilesAreReplaced)
{
    threeFiles();
    setAttributes("a.bin", kReadOnly);
    setAttributes("b.bin", kHidden);
    setAttributes("c.bin", kReadOnly | kHidden | kSystem);

    EXPECT_EQ(UPDATE_OK, run());

    EXPECT_EQ(newA, installed("a.bin"));
    EXPECT_EQ(newB, installed("b.bin"));
    EXPECT_EQ(newC, installed("c.bin"));
    // Wine would move over a read-only file anyway; what Windows needs is
    // that the attributes are gone before the move.
    for (const char* name : {"a.bin", "b.bin", "c.bin"}) {
        EXPECT_EQ(0u, attributes(name) & (kReadOnly | kHidden | kSystem)) << name;
        std::string line = std::string("attrs ") + name + " 128";
        std::vector<std::string> order = only({line.c_str(), (std::string("move ") + name + ".tmp").c_str()});
        ASSERT_EQ(2u, order.size()) << name;
        EXPECT_EQ(line, order[0]) << name;
    }
}

TEST_F(WinUpdateRunTest, ReadOnlyOrHiddenLeftoverTemporaryFilesAreOverwritten)
{
    threeFiles();
    install("a.bin.tmp", pattern(5000, 10));
    install("b.bin.tmp", pattern(5000, 11));
    install("c.bin.tmp", pattern(5000, 12));
    setAttributes("a.bin.tmp", kReadOnly);
    setAttributes("b.bin.tmp", kHidden);
    setAttributes("c.bin.tmp", kSystem | kHidden);

    EXPECT_EQ(UPDATE_OK, run());

    EXPECT_EQ(newA, installed("a.bin"));
    EXPECT_EQ(newB, installed("b.bin"));
    EXPECT_EQ(newC, installed("c.bin"));
    for (const char* name : {"a.bin", "b.bin", "c.bin"})
        EXPECT_EQ(0u, attributes(name) & (kReadOnly | kHidden | kSystem)) << name;
    expectFinalFiles({"setup.exe", "game/a.bin", "game/b.bin", "game/c.bin", "game/KVX.hvl", "game/uninst.lst"});
}

// The premise of the test above: a leftover is deleted through its own
// handle before the name is created again, and a read-only file refuses that
// delete (Windows and Wine alike) unless its attributes were reset first.
int keepAttributesOf(os::FileRef, uint32_t) { return 1; }

TEST_F(WinUpdateRunTest, WithoutTheAttributeResetAReadOnlyLeftoverCouldNotBeReplaced)
{
    threeFiles();
    install("b.bin.tmp", pattern(10, 13));
    setAttributes("b.bin.tmp", kReadOnly);
    FolderState before = folderState();
    os::calls().setAttributesOf = keepAttributesOf;

    UpdateResult result = run();
    os::restoreCalls();

    EXPECT_EQ(UPDATE_E_FILE_IO, result) << updateResultName(result);
    EXPECT_EQ(before, folderState()) << "the leftover stays, nothing installed changes";
}

// ---- read-only files that refuse writes ----------------------------------------------

// 1 when the read-only file at path refuses to be opened for writing, as on
// Windows. Wine run as root opens it all the same (root passes every
// permission check), so tools/test runs Wine as a user of its own and says
// so in UPDATER_WINE_UNPRIVILEGED.
bool readOnlyRefusesWrites(const std::string& path)
{
    SetLastError(0xdeadbeef);
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_ACCESS_DENIED;
    CloseHandle(f);
    return false;
}

bool runsUnprivileged() { return GetEnvironmentVariableA("UPDATER_WINE_UNPRIVILEGED", nullptr, 0) > 0; }

TEST_F(WinUpdateRunTest, AReadOnlyFileRefusesWritesWhereTheTestsRunUnprivileged)
{
    install("ro.bin", bytesOf("old"));
    setAttributes("ro.bin", kReadOnly);
    EXPECT_EQ(kReadOnly, attributes("ro.bin") & kReadOnly);
    bool refuses = readOnlyRefusesWrites(gamePath("ro.bin"));
    setAttributes("ro.bin", kNormal);
    if (runsUnprivileged())
        EXPECT_TRUE(refuses) << "Wine's user can write a read-only file: the read-only cases prove nothing";
    else
        std::printf("note: read-only files %s writes here\n", refuses ? "refuse" : "do not refuse");
    EXPECT_EQ(bytesOf("old"), installed("ro.bin"));
}

TEST_F(WinUpdateRunTest, ReadOnlyLeftoverSideFilesOfTheBookkeepingAreReplaced)
{
    threeFiles();
    install("KVX.new", pattern(300, 15));
    install("uninst.new", withNul("stale\n"));
    setAttributes("KVX.new", kReadOnly);
    setAttributes("uninst.new", kReadOnly | kHidden);
    bool enforced = readOnlyRefusesWrites(gamePath("KVX.new"));
    if (runsUnprivileged())
        EXPECT_TRUE(enforced);

    EXPECT_EQ(UPDATE_OK, run());

    EXPECT_EQ(buildHashValueList({record("a.bin", newA)}), installed("KVX.hvl"));
    EXPECT_EQ(withNul("a.bin\nb.bin\nc.bin\n"), readText("game/uninst.lst"));
    for (const char* name : {"KVX.hvl", "uninst.lst"})
        EXPECT_EQ(0u, attributes(name) & (kReadOnly | kHidden | kSystem)) << name;
    expectFinalFiles({"setup.exe", "game/a.bin", "game/b.bin", "game/c.bin", "game/KVX.hvl", "game/uninst.lst"});
}

// The failure table's row for a move that fails half-way through the commit.
void expectFailedCommitAtB(WinUpdateRunTest* t, const FolderState& before, const Bytes& newA,
                           const FolderState& after)
{
    (void)t;
    EXPECT_EQ(newA, after.at("a.bin").content) << "the file before the failing one is replaced";
    EXPECT_EQ(bytesOf("old b"), after.at("b.bin").content) << "the failing one keeps its content";
    EXPECT_NE(0u, before.at("b.bin").attributes & (kReadOnly | kHidden | kSystem));
    // Wine reports a file without attributes as archive (0x20), Windows as normal (0x80).
    EXPECT_EQ(0u, after.at("b.bin").attributes & (kReadOnly | kHidden | kSystem))
        << "but its attributes were reset";
    EXPECT_EQ(before.at("c.bin"), after.at("c.bin")) << "the one after it is unchanged";
    EXPECT_EQ(before.at("KVX.hvl"), after.at("KVX.hvl")) << "no bookkeeping";
    EXPECT_EQ(before.at("uninst.lst"), after.at("uninst.lst")) << "no bookkeeping";
    EXPECT_EQ(0u, after.count("a.bin.tmp") + after.count("b.bin.tmp") + after.count("c.bin.tmp"));
}

TEST_F(WinUpdateRunTest, AMoveOntoAFileHeldOpenWithoutShareDeleteFailsTheCommitThere)
{
    threeFiles();
    setAttributes("b.bin", kReadOnly | kHidden);
    setAttributes("c.bin", kReadOnly);
    FolderState before = folderState();
    HANDLE held = CreateFileA(gamePath("b.bin").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);

    UpdateResult result = run();
    FolderState after = folderState();
    CloseHandle(held);

    EXPECT_EQ(UPDATE_E_FILE_IO, result) << updateResultName(result);
    expectFailedCommitAtB(this, before, newA, after);
    expectFinalFiles({"setup.exe", "game/a.bin", "game/b.bin", "game/c.bin", "game/KVX.hvl", "game/uninst.lst"});
}

// ---- a second process holding the target ------------------------------------------

const char kHoldPathVariable[] = "UPDATER_TEST_HOLD_PATH";
const char kReadyEvent[] = "updater-test-hold-ready";
const char kReleaseEvent[] = "updater-test-hold-release";

// Not a test of its own: the body of the helper process started below.
TEST(UpdateRunHelper, DISABLED_HoldFileOpenUntilReleased)
{
    char target[MAX_PATH];
    DWORD n = GetEnvironmentVariableA(kHoldPathVariable, target, sizeof target);
    ASSERT_TRUE(n > 0 && n < sizeof target);
    HANDLE file = CreateFileA(target, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, kReadyEvent);
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, kReleaseEvent);
    ASSERT_NE(nullptr, ready);
    ASSERT_NE(nullptr, release);
    SetEvent(ready);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(release, 60000));
    CloseHandle(file);
    CloseHandle(ready);
    CloseHandle(release);
}

TEST_F(WinUpdateRunTest, AMoveOntoAFileThatAnotherProcessHoldsOpenFailsTheCommitThere)
{
    threeFiles();
    setAttributes("b.bin", kReadOnly);
    FolderState before = folderState();

    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, kReadyEvent);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, kReleaseEvent);
    ASSERT_NE(nullptr, ready);
    ASSERT_NE(nullptr, release);
    ASSERT_TRUE(SetEnvironmentVariableA(kHoldPathVariable, gamePath("b.bin").c_str()));
    char buffer[MAX_PATH * 2];
    DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    ASSERT_TRUE(n > 0 && n < sizeof buffer);
    std::string self(buffer, n);
    // Wine names a program outside every drive "unix\...", which opens only
    // as "\\?\unix\...".
    if (self.compare(0, 5, "unix\\") == 0)
        self = "\\\\?\\" + self;
    std::string command = "\"" + self +
                          "\" --gtest_also_run_disabled_tests --gtest_filter=UpdateRunHelper.DISABLED_HoldFileOpenUntilReleased";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, dir().c_str(), &si, &pi))
        << "error " << GetLastError();
    SetEnvironmentVariableA(kHoldPathVariable, nullptr);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready, 60000)) << "the helper never opened the file";

    UpdateResult result = run();
    FolderState after = folderState();

    SetEvent(release);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 60000));
    DWORD helperExit = 1;
    GetExitCodeProcess(pi.hProcess, &helperExit);
    EXPECT_EQ(0u, helperExit) << "the helper process failed";
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    CloseHandle(ready);
    CloseHandle(release);

    EXPECT_EQ(UPDATE_E_FILE_IO, result) << updateResultName(result);
    expectFailedCommitAtB(this, before, newA, after);
}

// ---- the message pump under the run ---------------------------------------------------

TEST_F(WinUpdateRunTest, AQuitMessagePendingAtTheFirstPumpClosesTheRunBeforeAnyFile)
{
    threeFiles();
    FolderState before = folderState();
    ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 0, 0));

    EXPECT_EQ(UPDATE_E_CLOSED, run());

    EXPECT_EQ(1, closeRequested);
    EXPECT_EQ(before, folderState());
    EXPECT_TRUE(only({"create", "move"}).empty());
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) << "the quit message was taken";
}

// ---- a full drive ------------------------------------------------------------------

// Run by tests/suites/20-full-disk.sh, which mounts a small drive and names
// a folder on it in UPDATER_TEST_FULL_DRIVE_FOLDER.
TEST_F(WinUpdateRunTest, DISABLED_OnAFullDriveTheRunStopsWithTheFolderUntouched)
{
    char folderBuffer[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("UPDATER_TEST_FULL_DRIVE_FOLDER", folderBuffer, sizeof folderBuffer);
    ASSERT_TRUE(n > 0 && n < sizeof folderBuffer) << "UPDATER_TEST_FULL_DRIVE_FOLDER is not set";
    std::string folder(folderBuffer);
    ULARGE_INTEGER freeBytes = {};
    ASSERT_TRUE(GetDiskFreeSpaceExA(folder.c_str(), &freeBytes, nullptr, nullptr));
    ASSERT_LT(freeBytes.QuadPart, 64u * 1024 * 1024) << "not a small drive";

    // A first file that fits and a second one larger than what is left.
    Bytes small = pattern(100000, 20);
    Bytes large = pattern(static_cast<size_t>(freeBytes.QuadPart) + 3 * 0x100000, 21);
    buildUpdater({entry("small.bin", small), entry("large.bin", large)});
    ASSERT_TRUE(testsupport::writeFileAt(folder + "\\small.bin", bytesOf("old small")));
    ASSERT_TRUE(testsupport::writeFileAt(folder + "\\large.bin", bytesOf("old large")));
    ASSERT_TRUE(testsupport::writeFileAt(folder + "\\uninst.lst", withNul("small.bin\n")));
    FolderState before = folderStateOf(folder);

    UpdateResult result = runIn(folder);
    FolderState after = folderStateOf(folder);
    for (const auto& f : after)
        DeleteFileA((folder + "\\" + f.first).c_str());

    EXPECT_EQ(UPDATE_E_FILE_IO, result) << updateResultName(result);
    EXPECT_EQ(before, after) << "installed files untouched, no temporary file left";
    EXPECT_FALSE(only({"create large.bin.tmp"}).empty()) << "the large file was being staged";
    EXPECT_FALSE(only({"wrote only", "write failed"}).empty()) << "the drive did not fill up";
    for (const std::string& line : only({"wrote only", "write failed"}))
        std::printf("full drive: %s\n", line.c_str());
}

} // namespace
