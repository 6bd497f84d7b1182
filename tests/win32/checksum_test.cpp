// The checksum's paths in the Windows build: the same comparison with the
// plain loop as on the host, over a smaller table. This is the compiler,
// calling convention and stack alignment the product ships with.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "payload/checksum_paths.h"
#include "payload/hash_value_list.h"
#include "tests/support/checksum_cases.h"

namespace {

typedef std::vector<uint8_t> Bytes;

class WindowsChecksumPathTest : public checksumcases::PathTest {};

TEST_P(WindowsChecksumPathTest, MatchesThePlainLoopOverLengthsPatternsAndStartStates)
{
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 40; ++n)
        lengths.push_back(n);
    for (size_t n : checksumcases::boundaryLengths())
        lengths.push_back(n);
    lengths.push_back(12345);
    lengths.push_back(1048576 + 4093);

    int failures = 0;
    for (size_t length : lengths) {
        for (checksumcases::Pattern pattern : checksumcases::kPatterns) {
            size_t offset = (length * 7 + static_cast<size_t>(pattern)) % 32;
            Bytes data = checksumcases::makeData(pattern, offset, length, static_cast<uint32_t>(length));
            for (int state : {0, 2}) {
                FileChecksum start = checksumcases::startState(state);
                FileChecksum expected = checksumcases::viaPlain(start, data.data() + offset, length);
                FileChecksum got = checksumcases::viaUpdate(start, data.data() + offset, length);
                if (checksumcases::hex(expected) != checksumcases::hex(got)) {
                    ADD_FAILURE() << "length " << length << ", " << checksumcases::patternName(pattern)
                                  << ", start state " << state << ": plain " << checksumcases::hex(expected)
                                  << ", got " << checksumcases::hex(got);
                    if (++failures == 20)
                        return;
                }
            }
        }
    }
}

TEST_P(WindowsChecksumPathTest, MatchesThePlainLoopForRandomSplits)
{
    std::mt19937 rng(77u);
    Bytes data = checksumcases::makeData(checksumcases::PATTERN_RANDOM, 0, 100000, 8u);
    for (int trial = 0; trial < 40; ++trial) {
        size_t length = rng() % data.size();
        FileChecksum start = checksumcases::startState(trial % 3);
        std::vector<size_t> cuts;
        for (int k = static_cast<int>(rng() % 6); k > 0; --k)
            cuts.push_back(rng() % (length + 1));
        std::sort(cuts.begin(), cuts.end());
        cuts.push_back(length);
        FileChecksum got = start;
        size_t at = 0;
        for (size_t cut : cuts) {
            got.update(data.data() + at, cut - at);
            at = cut;
        }
        ASSERT_EQ(checksumcases::hex(checksumcases::viaPlain(start, data.data(), length)), checksumcases::hex(got))
            << "trial " << trial;
    }
}

TEST_P(WindowsChecksumPathTest, Abc)
{
    FileChecksum abc;
    abc.update("abc", 3);
    EXPECT_EQ("06 B4 50 00 12 CC 26 60", checksumcases::hex(abc));
}

INSTANTIATE_TEST_SUITE_P(Paths, WindowsChecksumPathTest, ::testing::ValuesIn(checksumcases::kAllPaths),
                         checksumcases::pathName);

TEST(WindowsChecksumPaths, AvailabilityFollowsTheProcessor)
{
    __builtin_cpu_init();
    EXPECT_EQ(__builtin_cpu_supports("sse2") ? 1 : 0, checksumPathAvailable(CHECKSUM_SSE2));
    EXPECT_EQ(__builtin_cpu_supports("avx2") ? 1 : 0, checksumPathAvailable(CHECKSUM_AVX2));
    useBestChecksumPath();
    EXPECT_EQ(checksumPathAvailable(CHECKSUM_AVX2) ? CHECKSUM_AVX2 : checksumPathAvailable(CHECKSUM_SSE2) ? CHECKSUM_SSE2 : CHECKSUM_PLAIN,
              checksumPathInUse());
}

} // namespace
