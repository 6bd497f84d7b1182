// The staging pass on the host: runUpdate (no dialog) applying an updater
// with one large payload file and its hash value list, against `cp` of the
// updater file and against a plain loop that copies the payload file's bytes
// through FileHandle in 1 MiB chunks with no checksum. Warm page cache: the
// updater is read once before timing, and written data is synced (outside
// the timings) between runs so that no run pays for another's write-back.
//
// The loop and the staging pass are timed once more with new files not
// truncated, which ext4 would otherwise write back on close.
//
// Then the peak resident memory of a run, measured in a child process per
// run against a child that does nothing, at two payload sizes; and where a
// run's time goes, by timing the calls it makes through the platform seam.
//
//   stage_bench WORKDIR [--size-mib N] [--small-mib M] [--runs R]
//
// Everything is created in WORKDIR and deleted again. Prints a table, then
// "result <key> <value>" lines for tools/bench.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include "payload/checksum_paths.h"
#include "payload/file_handle.h"
#include "payload/hash_value_list.h"
#include "payload/payload_archive.h"
#include "payload/payload_writer.h"
#include "platform/os.h"
#include "ui/run_control.h"
#include "update/update_run.h"

extern char** environ;

namespace {

const uint32_t kMiB = 1u << 20;
const char kEntryName[] = "data01000.arc";

double seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void fail(const std::string& what)
{
    std::fprintf(stderr, "stage_bench: %s\n", what.c_str());
    std::exit(1);
}

// ---- the updater's own path, as runUpdate finds it ------------------------

std::string gSelfPath;

uint32_t benchModuleFileName(char* buffer, uint32_t size)
{
    if (size == 0 || gSelfPath.size() >= size)
        return 0;
    std::memcpy(buffer, gSelfPath.c_str(), gSelfPath.size() + 1);
    return static_cast<uint32_t>(gSelfPath.size());
}

// ---- files -----------------------------------------------------------------

void removeFile(const std::string& path)
{
    if (unlink(path.c_str()) != 0 && errno != ENOENT)
        fail("cannot delete " + path);
}

void writeText(const std::string& path, const std::string& text)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0)
        fail("cannot write " + path);
}

// An updater whose payload is one file of sizeMiB pseudo-random MiB and a
// hash value list with its checksum, so that the run verifies it.
void makeUpdater(const std::string& dir, const std::string& path, uint32_t sizeMiB)
{
    std::string dataPath = dir + "/payload.bin";
    std::FILE* f = std::fopen(dataPath.c_str(), "wb");
    if (f == nullptr)
        fail("cannot create " + dataPath);
    std::vector<uint8_t> chunk(kMiB);
    FileChecksum sum;
    uint64_t x = 88172645463325252ull + sizeMiB;
    for (uint32_t m = 0; m < sizeMiB; ++m) {
        for (size_t i = 0; i < chunk.size(); i += 8) {
            x ^= x << 13, x ^= x >> 7, x ^= x << 17;
            std::memcpy(&chunk[i], &x, 8);
        }
        sum.update(chunk.data(), chunk.size());
        if (std::fwrite(chunk.data(), 1, chunk.size(), f) != chunk.size())
            fail("cannot write " + dataPath + " (disk full?)");
    }
    if (std::fclose(f) != 0)
        fail("cannot write " + dataPath);

    HashValueRecord record;
    std::memset(&record, 0, sizeof record);
    std::memcpy(record.name, kEntryName, sizeof kEntryName);
    sum.store(record.checksum);
    std::vector<PackEntry> entries(2);
    entries[0].name = kEntryName;
    entries[0].sourcePath = dataPath;
    entries[1].name = "KVX.hvl";
    entries[1].data = buildHashValueList({record});
    std::string error;
    if (!writeUpdater(path, entries, PackOptions(), &error))
        fail(error);
    removeFile(dataPath);
}

// Where entry 0's data starts in the updater, read the way the run reads it.
uint32_t payloadDataStart(const std::string& updater)
{
    FileHandle exe;
    PayloadArchive archive;
    if (!exe.openRead(updater.c_str()) || archive.load(exe) != UPDATE_OK)
        fail("cannot load the payload of " + updater);
    return archive.dataStart() + archive.entry(0).offset;
}

void readWhole(const std::string& path)
{
    FileHandle in;
    std::vector<uint8_t> buffer(kMiB);
    if (!in.openRead(path.c_str()))
        fail("cannot open " + path);
    while (in.read(buffer.data(), kMiB) > 0) {
    }
}

void syncAll()
{
    sync();
}

// ---- the three ways of copying ---------------------------------------------

// The plain loop: same chunk, same FileHandle calls as the run, no checksum.
void copyLoop(const std::string& updater, uint32_t start, uint32_t size, const std::string& out)
{
    FileHandle in, outFile;
    if (!in.openRead(updater.c_str()) || !in.seek(start) || !outFile.openWrite(out.c_str()))
        fail("loop: cannot open its files");
    std::vector<uint8_t> buffer(kCopyChunkSize);
    for (uint32_t copied = 0; copied < size;) {
        uint32_t chunk = std::min(kCopyChunkSize, size - copied);
        if (in.read(buffer.data(), chunk) != chunk || outFile.write(buffer.data(), chunk) != chunk)
            fail("loop: short read or write");
        copied += chunk;
    }
}

// Runs args[0] (found on PATH) and waits; its exit status, or -1. With
// output, what it printed to its standard output goes there.
int runChild(const std::vector<std::string>& args, std::string* output)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int fds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output != nullptr) {
        if (pipe(fds) != 0)
            fail("cannot make a pipe");
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
    }
    pid_t pid;
    int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        fail("cannot start " + args[0]);
    if (output != nullptr) {
        close(fds[1]);
        char buffer[256];
        ssize_t n;
        while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
            output->append(buffer, static_cast<size_t>(n));
        close(fds[0]);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        fail("cannot wait for " + args[0]);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// This process's peak resident set (VmHWM), in KiB. Not getrusage: after an
// exec, ru_maxrss still carries the high-water mark of the address space the
// process had before it (the parent's), which would hide a small child.
long ownPeakKiB()
{
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr)
        fail("cannot read /proc/self/status");
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f) != nullptr)
        if (std::strncmp(line, "VmHWM:", 6) == 0)
            kib = std::strtol(line + 6, nullptr, 10);
    std::fclose(f);
    if (kib < 0)
        fail("no VmHWM in /proc/self/status");
    return kib;
}

void copyWithCp(const std::string& updater, const std::string& out)
{
    if (runChild({"cp", updater, out}, nullptr) != 0)
        fail("cp failed");
}

// A run needs a fresh install folder: no installed payload file (a move over
// one would also pay for freeing its blocks) and an uninstall list.
void prepareInstallFolder(const std::string& install)
{
    removeFile(install + "/" + kEntryName);
    removeFile(install + "/KVX.hvl");
    writeText(install + "/uninst.lst", "readme.txt\n");
}

// The first move of the commit ends the staging pass; what follows (moves,
// the bookkeeping's rewrites and flushes) is timed apart.
double gFirstMove;

int noteFirstMove(const char* from, const char* to)
{
    if (gFirstMove == 0)
        gFirstMove = seconds();
    return os::defaultCalls().moveFileReplace(from, to);
}

// The run moves its staged files through their checked handles.
int noteFirstMoveOpen(os::FileRef file, const char* from, const char* to)
{
    if (gFirstMove == 0)
        gFirstMove = seconds();
    return os::defaultCalls().moveOpenFile(file, from, to);
}

struct StageTimes {
    UpdateResult result;
    double staging;     // set-up, staging and verification
    double total;       // the whole runUpdate
};

// Runs the update with updater as its own executable. The seam's table is
// the default one but for the entries set here (and those already set by the
// caller, for the timed-calls run).
StageTimes stageRun(const std::string& updater, const std::string& install)
{
    gSelfPath = updater;
    os::calls().getModuleFileName = benchModuleFileName;
    if (os::calls().moveFileReplace == os::defaultCalls().moveFileReplace)
        os::calls().moveFileReplace = noteFirstMove;
    if (os::calls().moveOpenFile == os::defaultCalls().moveOpenFile)
        os::calls().moveOpenFile = noteFirstMoveOpen;
    cancelRequested = 0;
    closeRequested = 0;
    gFirstMove = 0;
    double start = seconds();
    StageTimes t;
    t.result = runUpdate(install.c_str());
    double end = seconds();
    t.total = end - start;
    t.staging = (gFirstMove != 0 ? gFirstMove : end) - start;
    os::restoreCalls();
    return t;
}

// ---- where the time goes ---------------------------------------------------

// Time spent in the calls, split at the first move: before it the staging
// pass, after it the commit and the bookkeeping.
struct CallTimes {
    double read, write, open;   // during staging (or the whole loop); open: opens and closes
    double afterStaging;        // in any timed call from the first move on
    double flush;               // all flushes (the bookkeeping's, after staging)
};
CallTimes gTimes;

void addTime(double* staging, double spent)
{
    if (gFirstMove == 0)
        *staging += spent;
    else
        gTimes.afterStaging += spent;
}

int timedRead(os::FileRef file, void* buffer, uint32_t count, uint32_t* done)
{
    double t = seconds();
    int r = os::defaultCalls().readFile(file, buffer, count, done);
    addTime(&gTimes.read, seconds() - t);
    return r;
}

int timedWrite(os::FileRef file, const void* buffer, uint32_t count, uint32_t* done)
{
    double t = seconds();
    int r = os::defaultCalls().writeFile(file, buffer, count, done);
    addTime(&gTimes.write, seconds() - t);
    return r;
}

os::FileRef timedOpenRead(const char* path)
{
    double t = seconds();
    os::FileRef f = os::defaultCalls().openForRead(path);
    addTime(&gTimes.open, seconds() - t);
    return f;
}

os::FileRef timedCreate(const char* path)
{
    double t = seconds();
    os::FileRef f = os::defaultCalls().createForWrite(path);
    addTime(&gTimes.open, seconds() - t);
    return f;
}

int timedClose(os::FileRef file)
{
    double t = seconds();
    int r = os::defaultCalls().closeHandle(file);
    addTime(&gTimes.open, seconds() - t);
    return r;
}

int timedMove(const char* from, const char* to)
{
    double t = seconds();
    if (gFirstMove == 0)
        gFirstMove = t;
    int r = os::defaultCalls().moveFileReplace(from, to);
    gTimes.afterStaging += seconds() - t;
    return r;
}

os::FileRef timedCreateNew(const char* path)
{
    double t = seconds();
    os::FileRef f = os::defaultCalls().createNewFile(path);
    addTime(&gTimes.open, seconds() - t);
    return f;
}

int timedMoveOpen(os::FileRef file, const char* from, const char* to)
{
    double t = seconds();
    if (gFirstMove == 0)
        gFirstMove = t;
    int r = os::defaultCalls().moveOpenFile(file, from, to);
    gTimes.afterStaging += seconds() - t;
    return r;
}

int timedFlush(os::FileRef file)
{
    double t = seconds();
    int r = os::defaultCalls().flushFileBuffers(file);
    double spent = seconds() - t;
    gTimes.flush += spent;
    double unused = 0;
    addTime(&unused, spent);
    return r;
}

void installTimers()
{
    gTimes = CallTimes();
    os::calls().readFile = timedRead;
    os::calls().writeFile = timedWrite;
    os::calls().moveFileReplace = timedMove;
    os::calls().flushFileBuffers = timedFlush;
    os::calls().openForRead = timedOpenRead;
    os::calls().createForWrite = timedCreate;
    os::calls().createNewFile = timedCreateNew;
    os::calls().moveOpenFile = timedMoveOpen;
    os::calls().closeHandle = timedClose;
}

// ---- statistics -------------------------------------------------------------

struct Stats {
    double min, median;
};

Stats statsOf(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return {v[0], n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2};
}

long childPeakKiB(const std::vector<std::string>& args)
{
    std::string output;
    int code = runChild(args, &output);
    if (code != 0)
        fail("child " + args[1] + " ended with " + std::to_string(code));
    return std::strtol(output.c_str(), nullptr, 10);
}

uint32_t parseCount(const char* text, const char* what)
{
    char* end = nullptr;
    unsigned long v = std::strtoul(text, &end, 10);
    if (end == text || *end != '\0' || v == 0 || v > 2000)
        fail(std::string("bad ") + what + ": " + text);
    return static_cast<uint32_t>(v);
}

std::string selfExe()
{
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        fail("cannot find this program's path");
    path[n] = '\0';
    return path;
}

} // namespace

int main(int argc, char** argv)
{
    // Children for the memory figures: one run, or nothing at all; each
    // prints its own high-water mark.
    if (argc == 2 && std::strcmp(argv[1], "--child-idle") == 0) {
        std::printf("%ld\n", ownPeakKiB());
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "--child-stage") == 0) {
        prepareInstallFolder(argv[3]);
        if (stageRun(argv[2], argv[3]).result != UPDATE_OK)
            return 2;
        std::printf("%ld\n", ownPeakKiB());
        return 0;
    }

    if (argc < 2)
        fail("usage: stage_bench WORKDIR [--size-mib N] [--small-mib M] [--runs R]");
    std::string work = argv[1];
    uint32_t sizeMiB = 1024, smallMiB = 64, runs = 5;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--size-mib") == 0)
            sizeMiB = parseCount(argv[i + 1], "size");
        else if (std::strcmp(argv[i], "--small-mib") == 0)
            smallMiB = parseCount(argv[i + 1], "small size");
        else if (std::strcmp(argv[i], "--runs") == 0)
            runs = parseCount(argv[i + 1], "run count");
        else
            fail(std::string("unknown option ") + argv[i]);
    }

    if (mkdir(work.c_str(), 0755) != 0 && errno != EEXIST)
        fail("cannot create " + work);
    std::string install = work + "/install";
    if (mkdir(install.c_str(), 0755) != 0 && errno != EEXIST)
        fail("cannot create " + install);
    // The updater, one copy of it at a time and a second, small updater.
    struct statvfs fs;
    double needed = (2.0 * sizeMiB + 2.0 * smallMiB + 64) * kMiB;
    if (statvfs(work.c_str(), &fs) != 0 || static_cast<double>(fs.f_bavail) * fs.f_frsize < needed)
        fail("not enough free space in " + work + " (" + std::to_string(static_cast<long>(needed / kMiB)) +
             " MiB needed)");

    std::printf("staging pass, %s build, checksum path %s, payload %u MiB, %u runs\n", UPDATER_BENCH_BUILD_TYPE,
                checksumPathName(checksumPathInUse()), sizeMiB, runs);
    std::string updater = work + "/updater.exe";
    std::string small = work + "/updater-small.exe";
    std::string loopOut = work + "/loop.out", cpOut = work + "/cp.out";
    makeUpdater(work, updater, sizeMiB);
    makeUpdater(work, small, smallMiB);
    const uint32_t start = payloadDataStart(updater), size = sizeMiB * kMiB;
    syncAll();
    readWhole(updater);     // into the page cache

    std::vector<double> loopTimes, cpTimes, stageTimes, runTimes;
    for (uint32_t r = 0; r < runs; ++r) {
        // A different order each run, so that drift spreads over all three.
        // Each starts after a sync, with no write-back of another pending.
        for (uint32_t k = 0; k < 3; ++k) {
            int which = static_cast<int>((r + k) % 3);
            removeFile(loopOut);
            removeFile(cpOut);
            prepareInstallFolder(install);
            syncAll();
            if (which == 0) {
                double t = seconds();
                copyLoop(updater, start, size, loopOut);
                loopTimes.push_back(seconds() - t);
            } else if (which == 1) {
                double t = seconds();
                copyWithCp(updater, cpOut);
                cpTimes.push_back(seconds() - t);
            } else {
                StageTimes t = stageRun(updater, install);
                if (t.result != UPDATE_OK)
                    fail("runUpdate returned " + std::to_string(t.result));
                stageTimes.push_back(t.staging);
                runTimes.push_back(t.total);
            }
        }
    }
    removeFile(loopOut);
    removeFile(cpOut);

    // One more run of each copy with its calls timed.
    prepareInstallFolder(install);
    syncAll();
    installTimers();
    gFirstMove = 0;
    double t0 = seconds();
    copyLoop(updater, start, size, loopOut);
    double loopTotal = seconds() - t0;
    CallTimes loopCalls = gTimes;
    os::restoreCalls();
    removeFile(loopOut);
    syncAll();
    installTimers();
    StageTimes profiled = stageRun(updater, install);
    if (profiled.result != UPDATE_OK)
        fail("the timed-calls run failed");
    double stageTotal = profiled.total;
    CallTimes stageCalls = gTimes;
    syncAll();
    // The checksum alone over the same bytes, in cache, 1 MiB at a time.
    std::vector<uint8_t> chunk(kMiB, 0x5A);
    FileChecksum sum;
    t0 = seconds();
    for (uint32_t m = 0; m < sizeMiB; ++m)
        sum.update(chunk.data(), chunk.size());
    double checksumOnly = seconds() - t0;

    // Peak memory: a child that does nothing, then one run at each size.
    std::string self = selfExe();
    long idle = childPeakKiB({self, "--child-idle"});
    long smallRun = childPeakKiB({self, "--child-stage", small, install});
    long bigRun = childPeakKiB({self, "--child-stage", updater, install});

    prepareInstallFolder(install);
    removeFile(install + "/uninst.lst");
    removeFile(updater);
    removeFile(small);
    rmdir(install.c_str());
    rmdir(work.c_str());

    Stats loop = statsOf(loopTimes), cp = statsOf(cpTimes), stage = statsOf(stageTimes), run = statsOf(runTimes);
    double mib = static_cast<double>(sizeMiB);
    std::printf("\n%-44s %8s %9s %7s %7s\n", "copying the payload", "min s", "median s", "MiB/s", "x loop");
    std::printf("%-44s %8.3f %9.3f %7.0f %7.2f\n", "plain read/write loop, 1 MiB chunks", loop.min, loop.median,
                mib / loop.min, 1.0);
    std::printf("%-44s %8.3f %9.3f %7.0f %7.2f\n", "cp of the updater file", cp.min, cp.median, mib / cp.min,
                loop.min / cp.min);
    std::printf("%-44s %8.3f %9.3f %7.0f %7.2f\n", "runUpdate, staging pass (up to the commit)", stage.min,
                stage.median, mib / stage.min, loop.min / stage.min);
    std::printf("%-44s %8.3f %9.3f %7.0f %7.2f\n", "runUpdate, whole (commit and bookkeeping too)", run.min,
                run.median, mib / run.min, loop.min / run.min);
    std::printf("staging pass vs loop %.2f, vs cp %.2f (from the minimums; from the medians %.2f, %.2f)\n",
                loop.min / stage.min, cp.min / stage.min, loop.median / stage.median, cp.median / stage.median);
    std::printf("\nwhere the time goes (one more run of each, calls timed through the seam)\n");
    std::printf("%-12s %8s %8s %8s %12s %8s %10s\n", "", "total s", "reads s", "writes s", "open/close s",
                "rest s", "commit s");
    std::printf("%-12s %8.3f %8.3f %8.3f %12.3f %8.3f %10s\n", "plain loop", loopTotal, loopCalls.read,
                loopCalls.write, loopCalls.open, loopTotal - loopCalls.read - loopCalls.write - loopCalls.open, "-");
    std::printf("%-12s %8.3f %8.3f %8.3f %12.3f %8.3f %10.3f\n", "runUpdate", stageTotal, stageCalls.read,
                stageCalls.write, stageCalls.open,
                profiled.staging - stageCalls.read - stageCalls.write - stageCalls.open, stageTotal - profiled.staging);
    std::printf("  rest = the checksum and the run's own work; the checksum alone over as many 1 MiB chunks in "
                "cache: %.3f s\n", checksumOnly);
    std::printf("  commit = moves, bookkeeping and its flushes (%.3f s in flushes)\n", stageCalls.flush);

    std::printf("\npeak resident memory (VmHWM of a child process per run)\n");
    std::printf("  child doing nothing %.1f MiB; run of %u MiB: %.1f MiB (+%.1f); run of %u MiB: %.1f MiB (+%.1f)\n",
                idle / 1024.0, smallMiB, smallRun / 1024.0, (smallRun - idle) / 1024.0, sizeMiB, bigRun / 1024.0,
                (bigRun - idle) / 1024.0);

    std::printf("result stage_whole_run_min_s %.4f\nresult stage_whole_run_median_s %.4f\n", run.min, run.median);
    std::printf("result stage_loop_min_s %.4f\nresult stage_loop_median_s %.4f\n", loop.min, loop.median);
    std::printf("result stage_cp_min_s %.4f\nresult stage_cp_median_s %.4f\n", cp.min, cp.median);
    std::printf("result stage_pass_min_s %.4f\nresult stage_pass_median_s %.4f\n", stage.min, stage.median);
    std::printf("result stage_vs_loop %.2f\nresult stage_vs_cp %.2f\n", loop.min / stage.min, cp.min / stage.min);
    std::printf("result stage_size_mib %u\nresult stage_small_mib %u\n", sizeMiB, smallMiB);
    std::printf("result rss_idle_mib %.1f\n", idle / 1024.0);
    std::printf("result rss_small_growth_mib %.1f\n", (smallRun - idle) / 1024.0);
    std::printf("result peak_rss_mib %.1f\n", (bigRun - idle) / 1024.0);
    return 0;
}
