// Throughput of each checksum path against the plain loop, on a buffer of
// 1 MiB (the update run's chunk, in cache) and one of 256 MiB (from memory).
// Each figure is the best of several timed trials; the plain loop is timed
// in the same run, trial for trial with the others, so the ratios compare
// like with like.
//
// Prints a table, then one "result <key> <value>" line per figure for
// tools/bench:  checksum_<size>_<path>_gbps  and  checksum_<size>_<path>_ratio.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "payload/checksum_paths.h"
#include "payload/hash_value_list.h"

namespace {

volatile uint32_t gSink;    // keeps the work from being optimised away

double seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Seconds for `passes` updates over data with the path in use.
double timeOf(const std::vector<uint8_t>& data, int passes)
{
    FileChecksum sum;
    double start = seconds();
    for (int p = 0; p < passes; ++p)
        sum.update(data.data(), data.size());
    double spent = seconds() - start;
    gSink = sum.h;
    return spent;
}

struct Size {
    const char* key;
    size_t bytes;
    int passes;   // per timing: enough for tens of milliseconds
    int trials;
};

} // namespace

int main(int argc, char** argv)
{
    bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    std::printf("checksum throughput, %s build%s\n", UPDATER_BENCH_BUILD_TYPE,
                std::strcmp(UPDATER_BENCH_BUILD_TYPE, "Release") == 0 ? "" : " (not Release: figures mean little)");
    const Size sizes[] = {{"1mib", size_t(1) << 20, quick ? 8 : 64, quick ? 5 : 25},
                          {"256mib", size_t(256) << 20, 1, quick ? 2 : 8}};
    std::vector<uint8_t> data;
    std::printf("%-8s %-6s %10s %8s\n", "buffer", "path", "GB/s", "x plain");
    std::vector<char> results;
    // The path the update run takes, before any is forced.
    char defaultLine[64];
    int defaultLength = std::snprintf(defaultLine, sizeof defaultLine, "result checksum_default_path %s\n",
                                      checksumPathName(checksumPathInUse()));
    results.insert(results.end(), defaultLine, defaultLine + defaultLength);
    for (const Size& size : sizes) {
        data.assign(size.bytes, 0);
        uint32_t x = 2463534242u;
        for (uint8_t& b : data) {
            x ^= x << 13, x ^= x >> 17, x ^= x << 5;
            b = static_cast<uint8_t>(x >> 24);
        }
        // The paths take turns, trial by trial, so that a busy moment of the
        // machine falls on all of them alike; each keeps its best trial.
        double best[kChecksumPathCount];
        for (double& b : best)
            b = 1e300;
        for (int t = 0; t < size.trials; ++t) {
            for (int p = 0; p < kChecksumPathCount; ++p) {
                ChecksumPath path = static_cast<ChecksumPath>(p);
                if (!forceChecksumPath(path))
                    continue;
                // The plain loop is slow; fewer passes keep its timing as long as the others'.
                int passes = path == CHECKSUM_PLAIN ? std::max(1, size.passes / 8) : size.passes;
                best[p] = std::min(best[p], timeOf(data, passes) / passes);
            }
        }
        double plain = static_cast<double>(data.size()) / best[CHECKSUM_PLAIN];
        for (int p = 0; p < kChecksumPathCount; ++p) {
            ChecksumPath path = static_cast<ChecksumPath>(p);
            if (!checksumPathAvailable(path))
                continue;
            double rate = static_cast<double>(data.size()) / best[p];
            std::printf("%-8s %-6s %10.2f %8.2f\n", size.key, checksumPathName(path), rate / 1e9, rate / plain);
            char line[160];
            int n = std::snprintf(line, sizeof line, "result checksum_%s_%s_gbps %.3f\nresult checksum_%s_%s_ratio %.2f\n",
                                  size.key, checksumPathName(path), rate / 1e9, size.key, checksumPathName(path),
                                  rate / plain);
            results.insert(results.end(), line, line + n);
        }
        useBestChecksumPath();
    }
    results.push_back('\0');
    std::fputs(results.data(), stdout);
    return 0;
}
