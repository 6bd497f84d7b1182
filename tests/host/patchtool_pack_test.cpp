// patchtool pack end to end on the host, with faults injected through the
// seam: whatever fails after planning, no updater and no partial file stay.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "patchtool/commands.h"
#include "tests/support/test_support.h"

using testsupport::Bytes;

namespace {

Bytes fakeStub()
{
    Bytes b(512, 0);
    b[0] = 'M', b[1] = 'Z';
    b[0x3C] = 0x40;
    std::memcpy(&b[0x40], "PE\0\0", 4);
    b[0x58] = 0x0B, b[0x59] = 0x01;   // PE32
    b[0x58 + 92] = 16;                // data directories, none filled
    return b;
}

class PatchtoolPack : public testsupport::TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        writeFile("stub.exe", fakeStub());
        writeFile("a.dat", std::string(3 * 0x100000 + 5, 'a'));
        writeFile("b.dat", "bee");
    }
    int pack()
    {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        int status = tool::runPack({"-o", path("up.exe"), "--stub", path("stub.exe"), path("a.dat"), path("b.dat")});
        out = testing::internal::GetCapturedStdout();
        err = testing::internal::GetCapturedStderr();
        return status;
    }
    std::string out, err;
};

TEST_F(PatchtoolPack, WritesTheUpdaterAndNothingElse)
{
    ASSERT_EQ(tool::kExitOk, pack()) << err;
    expectFinalFiles({"stub.exe", "a.dat", "b.dat", "up.exe"});
    Bytes up = readFile("up.exe");
    ASSERT_EQ(0x40000u + 16 + 2 * 128 + 3 * 0x100000 + 5 + 3, up.size());
    EXPECT_EQ(0, std::memcmp(up.data() + 0x40000, "VELMOR ARC20", 12));
    EXPECT_EQ("bee", std::string(up.end() - 3, up.end()));
}

TEST_F(PatchtoolPack, FailuresAfterPlanningLeaveNothing)
{
    struct Case {
        const char* what;
        void (*arm)(testsupport::Faults&);
        const char* message;
    } const cases[] = {
        {"a write fails", [](testsupport::Faults& f) { f.failWrite(4, true); }, "writing"},
        {"the partial file cannot be created", [](testsupport::Faults& f) { f.failCreate(1, ".partial"); }, "cannot create"},
        {"the read-back cannot open it", [](testsupport::Faults& f) { f.failOpenRead(1, ".partial"); }, "read it back"},
        {"the rename fails", [](testsupport::Faults& f) { f.failMove(1); }, "cannot rename"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::Faults faults;
        c.arm(faults);
        EXPECT_EQ(tool::kExitFailed, pack());
        EXPECT_NE(std::string::npos, err.find(c.message)) << err;
        EXPECT_NE(std::string::npos, err.find("nothing written")) << err;
        EXPECT_FALSE(exists("up.exe"));
        EXPECT_FALSE(exists("up.exe.partial"));
    }
}

TEST_F(PatchtoolPack, AShortReadDuringTheReadBackIsCaught)
{
    // The read-back reads the data in 1 MiB chunks after the table; cutting
    // every read from some point on makes an entry come back short.
    int reads = 0;
    {
        testsupport::Faults counting;
        ASSERT_EQ(tool::kExitOk, pack()) << err;
        reads = counting.readCalls();
    }
    ASSERT_EQ(0, std::remove(path("up.exe").c_str()));
    testsupport::Faults cut;
    cut.shortenRead(reads - 1, 1, true);
    EXPECT_EQ(tool::kExitFailed, pack());
    EXPECT_NE(std::string::npos, err.find("reading back")) << err;
    EXPECT_FALSE(exists("up.exe"));
    EXPECT_FALSE(exists("up.exe.partial"));
}

} // namespace
