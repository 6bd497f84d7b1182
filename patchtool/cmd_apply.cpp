// patchtool apply: the update run on a folder, without the registry, the
// confirmation or the dialog. The run is the updater's own (runUpdate); the
// tool only answers through the seam what the updater's surroundings
// would: which file the updater is, what the dialog's controls show, and,
// on a host whose file names are UTF-8, where the run's code page 932
// paths are. Its file calls go on to the seam's entries in place when apply
// starts (the system's, or a test's).
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "patchtool/commands.h"
#include "patchtool/progress.h"
#include "patchtool/text_codec.h"
#include "patchtool/tool_files.h"
#include "patchtool/tool_platform.h"
#include "payload/file_handle.h"
#include "ui/run_control.h"
#include "update/update_run.h"

namespace tool {
namespace {

const char* const kUsage = "patchtool apply UPDATER DIR";

// Stand-ins for the dialog's controls: any distinct non-null values.
os::WindowRef controlRef(int id) { return reinterpret_cast<os::WindowRef>(static_cast<intptr_t>(0x1000 + id)); }

struct ApplyState {
    std::string updater;        // the updater's path in the run's form
    std::string folder;         // the install folder in the run's form
    std::string statusSuffix;   // "をインストール中" in code page 932
    uint32_t total = 0, staged = 0, filePosition = 0;
    Progress* progress = nullptr;
    bool showFiles = true;
    os::Calls inner;            // the file calls the run's go on to
    // Set by Ctrl-C. It reaches cancelRequested only through the pump, as a
    // click on the dialog's cancel button would: the commit never pumps, so
    // an interrupt that comes once staging is complete lets the commit and
    // the bookkeeping finish, and the outcome is what they really did.
    int32_t interrupted = 0;
};
ApplyState* gApply = nullptr;

// The part of a run path after the install folder, for showing.
std::string inFolder(const char* path)
{
    std::string name(path);
    const std::string prefix = gApply->folder + "\\";
    if (name.compare(0, prefix.size(), prefix) == 0)
        name.erase(0, prefix.size());
    return showName(name);
}

void say(const char* what, const std::string& name)
{
    if (!gApply->showFiles)
        return;
    gApply->progress->clear();
    std::printf("%-9s %s\n", what, name.c_str());
    std::fflush(stdout);
}

bool endsWith(const std::string& s, const char* tail)
{
    size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// ---- the run's file calls, with its paths turned into the host's ----------

os::FileRef openForRead(const char* path)
{
    std::string native;
    return fileSystemPath(path, &native) ? gApply->inner.openForRead(native.c_str()) : os::noFile();
}

uint32_t getFileAttributes(const char* path);

os::FileRef createNewFile(const char* path)
{
    std::string native;
    os::FileRef file = fileSystemPath(path, &native) ? gApply->inner.createNewFile(native.c_str()) : os::noFile();
    // A name in the way is for the run to check; it says so itself if refused.
    if (file == os::noFile() && getFileAttributes(path) == os::kInvalidAttributes)
        say("CANNOT", "create " + inFolder(path));
    return file;
}

os::FileRef openExistingName(const char* path, int forChange)
{
    std::string native;
    return fileSystemPath(path, &native) ? gApply->inner.openExistingName(native.c_str(), forChange)
                                         : os::noFile();
}

os::FileRef openFolder(const char* path)
{
    std::string native;
    return fileSystemPath(path, &native) ? gApply->inner.openFolder(native.c_str()) : os::noFile();
}

// The final path in the run's form, so that the run can compare it with the
// paths it formed.
uint32_t getFinalPath(os::FileRef file, char* buffer, uint32_t size)
{
    char native[4096];
    uint32_t n = gApply->inner.getFinalPath(file, native, sizeof native);
    if (n == 0 || n >= sizeof native)
        return 0;
    std::string inRunForm;
    if (!runPathOfFileSystemPath(std::string(native, n), &inRunForm))
        return 0;
    if (inRunForm.size() >= size)
        return static_cast<uint32_t>(inRunForm.size()) + 1;
    std::memcpy(buffer, inRunForm.c_str(), inRunForm.size() + 1);
    return static_cast<uint32_t>(inRunForm.size());
}

int setFileAttributes(const char* path, uint32_t attributes)
{
    std::string native;
    return fileSystemPath(path, &native) ? gApply->inner.setFileAttributes(native.c_str(), attributes) : 0;
}

uint32_t getFileAttributes(const char* path)
{
    std::string native;
    return fileSystemPath(path, &native) ? gApply->inner.getFileAttributes(native.c_str()) : os::kInvalidAttributes;
}

int moveOpenFile(os::FileRef file, const char* from, const char* to)
{
    std::string nativeFrom, nativeTo;
    int moved = fileSystemPath(from, &nativeFrom) && fileSystemPath(to, &nativeTo) &&
                gApply->inner.moveOpenFile(file, nativeFrom.c_str(), nativeTo.c_str());
    // Staged files come from "<name>.tmp"; the bookkeeping rewrites
    // KVX.hvl and uninst.lst from side files of its own.
    bool staged = endsWith(from, ".tmp");
    if (!moved)
        say("CANNOT", "move into place " + inFolder(to));
    else
        say(staged ? "installed" : "updated", inFolder(to));
    return moved;
}

int deleteOpenFile(os::FileRef file, const char* path)
{
    std::string native;
    return fileSystemPath(path, &native) ? gApply->inner.deleteOpenFile(file, native.c_str()) : 0;
}

// ---- what the dialog would be ---------------------------------------------

uint32_t updaterAsModule(char* buffer, uint32_t size)
{
    if (size == 0)
        return 0;
    uint32_t n = static_cast<uint32_t>(gApply->updater.size());
    if (n >= size)
        n = size - 1;
    std::memcpy(buffer, gApply->updater.data(), n);
    buffer[n] = '\0';
    return n;
}

os::WindowRef findControl(os::WindowRef, int id) { return controlRef(id); }

int showStatus(os::WindowRef window, const char* text)
{
    if (window != controlRef(IDC_STATUS_TEXT))
        return 1;
    std::string name(text);
    const std::string& suffix = gApply->statusSuffix;
    if (name.size() > suffix.size() && endsWith(name, suffix.c_str()))
        name.resize(name.size() - suffix.size());
    say("staging", "[" + std::to_string(gApply->staged + 1) + "/" + std::to_string(gApply->total) + "] " +
                       showName(name));
    gApply->progress->restart(0xFFFF);
    gApply->filePosition = 0;
    gApply->progress->setItem(showName(name));
    return 1;
}

void setRange(os::WindowRef bar, uint32_t high)
{
    if (bar == controlRef(IDC_TOTAL_PROGRESS))
        gApply->total = high;
}

void setPos(os::WindowRef bar, uint32_t position)
{
    if (bar == controlRef(IDC_TOTAL_PROGRESS)) {
        gApply->staged = position;
    } else if (bar == controlRef(IDC_FILE_PROGRESS) && position > gApply->filePosition) {
        gApply->progress->advance(position - gApply->filePosition);
        gApply->filePosition = position;
    }
}

// There is no window, so there is never a message; an interrupt is taken
// here as the cancel button's confirmed click.
int noMessage(os::WindowRef)
{
    if (gApply->interrupted != 0)
        cancelRequested = 1;
    return 0;
}

} // namespace

int applyUpdaterRun(const std::string& updater, const std::string& folder, bool showFiles, UpdateResult* result,
                    std::string* problem)
{
    ApplyState state;
    std::error_code ec;
    std::string absolute = std::filesystem::absolute(std::filesystem::u8path(updater), ec).u8string();
    if (ec || !runPath(absolute, &state.updater) || !runPath(folder, &state.folder)) {
        *problem = "the updater's or the folder's path has no code page 932 form";
        return 0;
    }
    if (state.updater.size() >= kMaxPath || state.folder.size() >= kMaxPath) {
        *problem = "a path is longer than the updater's 259 bytes";
        return 0;
    }
    toCp932("をインストール中", &state.statusSuffix);

    Progress progress("staging", 0xFFFF);
    state.progress = &progress;
    state.showFiles = showFiles;
    gApply = &state;
    os::Calls& calls = os::calls();
    state.inner = calls;
    calls.openForRead = openForRead;
    calls.setFileAttributes = setFileAttributes;
    calls.getFileAttributes = getFileAttributes;
    calls.createNewFile = createNewFile;
    calls.openExistingName = openExistingName;
    calls.openFolder = openFolder;
    calls.getFinalPath = getFinalPath;
    calls.moveOpenFile = moveOpenFile;
    calls.deleteOpenFile = deleteOpenFile;
    calls.getModuleFileName = updaterAsModule;
    calls.getDlgItem = findControl;
    calls.setWindowText = showStatus;
    calls.setProgressRange = setRange;
    calls.setProgressPos = setPos;
    calls.pumpOneMessage = noMessage;
    raiseFlagOnInterrupt(&state.interrupted);

    *result = runUpdate(state.folder.c_str());

    raiseFlagOnInterrupt(nullptr);
    os::calls() = state.inner;
    gApply = nullptr;
    progress.clear();
    if (state.interrupted != 0 && cancelRequested == 0)
        std::printf("interrupted once every file was staged: the run did not stop there\n");
    return 1;
}

int runApply(const std::vector<std::string>& args)
{
    if (wantsHelp(args)) {
        std::printf("usage: %s\n\nApplies UPDATER's payload to the folder DIR with the updater's own run: every\n"
                    "file staged beside its target as NAME.tmp and verified, then all moved into\n"
                    "place, KVX.hvl trimmed and uninst.lst extended, exactly as the updater does\n"
                    "once the player said Yes. No registry, no question, no dialog. Prints each\n"
                    "file and the outcome (UPDATE_OK, UPDATE_E_PAYLOAD, ...); exit status 0 only\n"
                    "for UPDATE_OK. Try a patch on a copy of an install, not on the only one.\n"
                    "Ctrl-C cancels the run as the dialog's cancel button does: while files are\n"
                    "staged; once all are staged the files are moved into place regardless and\n"
                    "the outcome says how that went.\n",
                    kUsage);
        return kExitOk;
    }
    if (args.size() != 2)
        return usageError("apply", "expects an updater and a folder", kUsage);
    FileInfo updater = fileInfo(args[0]);
    if (!updater.regular) {
        printProblem("apply", args[0] + ": " + (updater.exists ? "not a regular file" : "no such file"));
        return kExitFailed;
    }
    if (!fileInfo(args[1]).directory) {
        printProblem("apply", args[1] + ": not a folder");
        return kExitFailed;
    }
    UpdateResult result = UPDATE_E_PAYLOAD;
    std::string problem;
    if (!applyUpdaterRun(args[0], args[1], true, &result, &problem)) {
        printProblem("apply", problem);
        return kExitFailed;
    }
    std::printf("outcome: %s (0x%08x)\n", updateResultName(result), static_cast<unsigned>(result));
    return result == UPDATE_OK ? kExitOk : kExitFailed;
}

} // namespace tool
