// A run stopped at any one of its file-system calls, by a crash (the process
// ends inside the call: no clean-up, no destructor) or by that call failing,
// must leave every installed file with its old or its new bytes, and the next
// complete run must end exactly where one uninterrupted run ends.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/sample_install.h"

using namespace updatetest;
using testsupport::Bytes;

namespace {

const int kCrashedStatus = 77;
const int kFinishedStatus = 78;

// Counts the seam's file calls; the one numbered `at` crashes the process or
// fails, as asked. names[i] is what call i + 1 was.
struct Interruption {
    int calls = 0;
    int at = 0;
    bool crash = false;
    std::vector<const char*> names;
};

Interruption& interruption()
{
    static Interruption state;
    return state;
}

bool reached(const char* name)
{
    Interruption& s = interruption();
    ++s.calls;
    s.names.push_back(name);
    if (s.calls != s.at)
        return false;
    if (s.crash)
        _exit(kCrashedStatus);
    return true;
}

template <int N, typename R, typename... A>
struct Counted {
    static R (*inner)(A...);
    static R failure;
    static const char* name;
    static R call(A... a) { return reached(name) ? failure : inner(a...); }
};
template <int N, typename R, typename... A>
R (*Counted<N, R, A...>::inner)(A...) = nullptr;
template <int N, typename R, typename... A>
R Counted<N, R, A...>::failure{};
template <int N, typename R, typename... A>
const char* Counted<N, R, A...>::name = nullptr;

template <int N, typename R, typename... A>
void count(R (*&slot)(A...), R failure, const char* name)
{
    Counted<N, R, A...>::inner = slot;
    Counted<N, R, A...>::failure = failure;
    Counted<N, R, A...>::name = name;
    slot = &Counted<N, R, A...>::call;
}

// A close that reports failure has still closed the file (as CloseHandle
// does), so that its lock does not outlive the run.
int (*innerClose)(os::FileRef) = nullptr;
int countedClose(os::FileRef file)
{
    bool fail = reached("close");
    int closed = innerClose(file);
    return fail ? 0 : closed;
}

void countFileCalls()
{
    os::Calls& c = os::calls();
    count<1>(c.openForRead, os::noFile(), "openForRead");
    count<2>(c.createForWrite, os::noFile(), "createForWrite");
    count<3>(c.readFile, 0, "read");
    count<4>(c.writeFile, 0, "write");
    count<5>(c.setFilePointer, os::kInvalidFilePointer, "seek");
    count<6>(c.getFileSize, os::kInvalidFileSize, "size");
    count<7>(c.flushFileBuffers, 0, "flush");
    count<8>(c.setFileAttributes, 0, "setAttributes");
    count<9>(c.getFileAttributes, os::kInvalidAttributes, "getAttributes");
    count<10>(c.moveFileReplace, 0, "moveFile");
    count<11>(c.deleteFile, 0, "deleteFile");
    count<12>(c.getModuleFileName, 0u, "moduleName");
    count<13>(c.allocate, static_cast<void*>(nullptr), "allocate");
    count<14>(c.createNewFile, os::noFile(), "createNew");
    count<15>(c.openExistingName, os::noFile(), "openName");
    count<16>(c.openFolder, os::noFile(), "openFolder");
    count<17>(c.getFileInfo, 0, "fileInfo");
    count<18>(c.getFinalPath, 0u, "finalPath");
    count<19>(c.setAttributesOf, 0, "setAttributesOf");
    count<20>(c.deleteOpenFile, 0, "deleteOpen");
    count<21>(c.moveOpenFile, 0, "moveOpen");
    innerClose = c.closeHandle;
    c.closeHandle = countedClose;
}

class InterruptedRunTest : public UpdateTest {
protected:
    SampleInstall sample;

    void SetUp() override
    {
        UpdateTest::SetUp();
        sample.buildPayload(*this);
        // Hundreds of runs: a flush to the disk proves nothing about a crash
        // of the process (the kernel keeps what was written) and costs most
        // of the time.
        os::calls().flushFileBuffers = [](os::FileRef) { return 1; };
    }
    void freshInstall()
    {
        std::error_code ec;
        std::filesystem::remove_all(game(), ec);
        std::filesystem::create_directory(game(), ec);
        sample.install(*this);
    }
    // A counted run; at = 0 lets every call through.
    UpdateResult countedRun(int at, bool crash)
    {
        Interruption& s = interruption();
        s = Interruption();
        s.at = at;
        s.crash = crash;
        os::Calls saved = os::calls();
        countFileCalls();
        UpdateResult result = run();
        os::calls() = saved;
        return result;
    }
    int firstCallNamed(const char* name) const
    {
        const std::vector<const char*>& names = interruption().names;
        for (size_t i = 0; i < names.size(); ++i)
            if (std::string(names[i]) == name)
                return static_cast<int>(i) + 1;
        return 0;
    }

    // Every installed file holds its old bytes or its new ones; KVX.hvl may
    // also be the payload's copy, moved in but not trimmed yet. Temporary and
    // side files may hold anything.
    void expectOldOrNew(int k)
    {
        FolderContents old = sample.oldContents(), success = sample.successContents();
        for (const auto& f : contentsOf(folderState())) {
            const std::string& name = f.first;
            if (name.size() > 4 && (name.compare(name.size() - 4, 4, ".tmp") == 0 ||
                                    name.compare(name.size() - 4, 4, ".new") == 0))
                continue;
            ASSERT_TRUE(old.count(name)) << "at call " << k << ": unexpected file " << name;
            bool known = f.second == old.at(name) || f.second == success.at(name) ||
                         (name == "KVX.hvl" && f.second == sample.payloadList);
            EXPECT_TRUE(known) << "at call " << k << " (" << interruption().names[k - 1] << "): " << name
                               << " holds neither its old nor its new bytes";
        }
    }
    void expectConvergesOnARerun(int k)
    {
        UpdateResult again = run();
        EXPECT_EQ(UPDATE_OK, again) << "at call " << k << ": the re-run returned " << updateResultName(again);
        EXPECT_EQ(sample.successContents(), contentsOf(folderState()))
            << "at call " << k << " (" << interruption().names[k - 1] << "): the re-run did not converge";
    }
};

TEST_F(InterruptedRunTest, ACrashAtAnyCallLeavesOldOrNewBytesAndARerunConverges)
{
    freshInstall();
    ASSERT_EQ(UPDATE_OK, countedRun(0, false));
    ASSERT_EQ(sample.successContents(), contentsOf(folderState()));
    const int total = interruption().calls;
    const std::vector<const char*> names = interruption().names;
    ASSERT_GT(total, 20);
    std::printf("a clean run makes %d file calls\n", total);

    for (int k = 1; k <= total; ++k) {
        freshInstall();
        std::fflush(nullptr);
        pid_t child = fork();
        ASSERT_NE(-1, child);
        if (child == 0) {
            countedRun(k, true);
            _exit(kFinishedStatus);
        }
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kCrashedStatus)
            << "call " << k << " was never reached";
        interruption().names = names;
        expectOldOrNew(k);
        expectConvergesOnARerun(k);
        if (HasFailure())
            break;
    }
}

TEST_F(InterruptedRunTest, AFailureAtAnyCallEndsInTheFailureTableAndARerunConverges)
{
    freshInstall();
    ASSERT_EQ(UPDATE_OK, countedRun(0, false));
    const int total = interruption().calls;
    const int firstMove = firstCallNamed("moveOpen");
    ASSERT_GT(firstMove, 0);

    for (int k = 1; k <= total; ++k) {
        freshInstall();
        FolderContents before = contentsOf(folderState());
        UpdateResult result = countedRun(k, false);
        const char* failed = interruption().names[k - 1];
        if (k < firstMove && result != UPDATE_OK) {
            // Nothing was moved yet: the folder is as it was, leftovers included.
            EXPECT_EQ(before, contentsOf(folderState())) << "call " << k << " (" << failed << ") failed";
        }
        if (k > firstMove) {
            EXPECT_TRUE(result == UPDATE_OK || result == UPDATE_E_FILE_IO || result == UPDATE_E_UNINSTALL_LIST)
                << "call " << k << " (" << failed << "): " << updateResultName(result);
        }
        // A failing existence test can trim a record of a file that is there;
        // the list is judged after the re-run only.
        if (std::string(failed) != "getAttributes")
            expectOldOrNew(k);
        expectConvergesOnARerun(k);
        if (HasFailure())
            break;
    }
}

} // namespace
