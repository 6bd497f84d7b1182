// patchtool apply interrupted by a real SIGINT at a chosen file call: while
// files are staged it cancels like the dialog's button; once every file is
// staged the commit and the bookkeeping go on, and the outcome is theirs.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "patchtool/commands.h"
#include "payload/payload_writer.h"
#include "tests/support/test_support.h"
#include "ui/run_control.h"

namespace {

using testsupport::Bytes;
using testsupport::bytesOf;

// The seam entry that raises SIGINT, and the one it then goes on to.
os::Calls gBase;
int gInterruptAtMove = 0, gInterruptAtCreate = 0;

int moveThenInterrupt(os::FileRef file, const char* from, const char* to)
{
    if (gInterruptAtMove != 0 && --gInterruptAtMove == 0)
        std::raise(SIGINT);
    return gBase.moveOpenFile(file, from, to);
}

os::FileRef createThenInterrupt(const char* path)
{
    if (gInterruptAtCreate != 0 && --gInterruptAtCreate == 0)
        std::raise(SIGINT);
    return gBase.createNewFile(path);
}

class PatchtoolApply : public testsupport::TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        cancelRequested = 0;
        closeRequested = 0;
        writeFile("game/a.bin", "old a");
        writeFile("game/b.bin", "old b");
        writeFile("game/uninst.lst", std::string("a.bin\n") + '\0');
        PackOptions options;
        options.stub = bytesOf("MZ stub");
        std::string error;
        std::vector<PackEntry> entries = {{"a.bin", "", bytesOf("new a")}, {"b.bin", "", bytesOf("new b")}};
        ASSERT_EQ(1, writeUpdater(path("up.exe"), entries, options, &error)) << error;
        expectFile("up.exe");
    }
    // The interrupting entries, on top of whatever the seam holds now.
    void hook()
    {
        gBase = os::calls();
        os::calls().moveOpenFile = moveThenInterrupt;
        os::calls().createNewFile = createThenInterrupt;
    }
    void TearDown() override
    {
        gInterruptAtMove = gInterruptAtCreate = 0;
        cancelRequested = 0;
        closeRequested = 0;
        TempDirTest::TearDown();
    }
    int apply(std::string* out)
    {
        testing::internal::CaptureStdout();
        int status = tool::runApply({path("up.exe"), path("game")});
        *out = testing::internal::GetCapturedStdout();
        return status;
    }
};

TEST_F(PatchtoolApply, AnInterruptDuringTheCommitLetsItFinishAndReportsWhatItDid)
{
    hook();
    gInterruptAtMove = 1;   // the first move: every file is staged by then
    std::string out;

    EXPECT_EQ(tool::kExitOk, apply(&out));

    EXPECT_EQ(0, gInterruptAtMove) << "the interrupt was delivered";
    EXPECT_NE(std::string::npos, out.find("outcome: UPDATE_OK (0x00000000)")) << out;
    EXPECT_NE(std::string::npos, out.find("interrupted once every file was staged")) << out;
    EXPECT_EQ("new a", readText("game/a.bin"));
    EXPECT_EQ("new b", readText("game/b.bin"));
    EXPECT_EQ(std::string("a.bin\nb.bin\n") + '\0', readText("game/uninst.lst"));
    EXPECT_EQ(0, cancelRequested);
}

TEST_F(PatchtoolApply, AnInterruptDuringTheCommitStillReportsAFailedMove)
{
    // The second move is b.bin's: the interrupt comes, then the move fails.
    testsupport::Faults faults;
    faults.failMove(2);
    hook();
    gInterruptAtMove = 2;
    std::string out;

    EXPECT_EQ(tool::kExitFailed, apply(&out));

    EXPECT_NE(std::string::npos, out.find("outcome: UPDATE_E_FILE_IO")) << out;
    EXPECT_EQ("new a", readText("game/a.bin"));
    EXPECT_EQ("old b", readText("game/b.bin"));
}

TEST_F(PatchtoolApply, AnInterruptWhileStagingCancelsWithTheFolderUntouched)
{
    hook();
    gInterruptAtCreate = 2;   // as b.bin.tmp is created
    std::string out;

    EXPECT_EQ(tool::kExitFailed, apply(&out));

    EXPECT_EQ(0, gInterruptAtCreate);
    EXPECT_NE(std::string::npos, out.find("outcome: UPDATE_E_CANCELLED")) << out;
    EXPECT_EQ(std::string::npos, out.find("interrupted once")) << out;
    EXPECT_EQ("old a", readText("game/a.bin"));
    EXPECT_EQ("old b", readText("game/b.bin"));
    EXPECT_EQ(std::string("a.bin\n") + '\0', readText("game/uninst.lst"));
}

} // namespace
