#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "payload/checksum_paths.h"
#include "payload/hash_value_list.h"
#include "tests/support/checksum_cases.h"

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes stored(const FileChecksum& sum)
{
    Bytes b(8);
    sum.store(b.data());
    return b;
}

const Bytes kAbc = {0x06, 0xB4, 0x50, 0x00, 0x12, 0xCC, 0x26, 0x60};

TEST(FileChecksum, AbcInOneCallAndInThreeCalls)
{
    FileChecksum one;
    one.update("abc", 3);
    EXPECT_EQ(kAbc, stored(one));
    EXPECT_EQ(0x0050B406u, one.h);

    FileChecksum three;
    three.update("a", 1);
    three.update("b", 1);
    three.update("c", 1);
    EXPECT_EQ(kAbc, stored(three));
}

TEST(FileChecksum, EmptyInputAndZeroLengthCallsLeaveZeros)
{
    FileChecksum sum;
    EXPECT_EQ(Bytes(8, 0), stored(sum));
    sum.update("", 0);
    sum.update(nullptr, 0);
    EXPECT_EQ(Bytes(8, 0), stored(sum));
    sum.update("abc", 3);
    sum.update("xyz", 0);
    EXPECT_EQ(kAbc, stored(sum));
}

TEST(FileChecksum, EqualsComparesEveryByte)
{
    FileChecksum sum;
    sum.update("abc", 3);
    EXPECT_EQ(1, sum.equals(kAbc.data()));
    for (int i = 0; i < 8; ++i) {
        Bytes other = kAbc;
        other[i] ^= 0x01;
        EXPECT_EQ(0, sum.equals(other.data())) << i;
    }
}

// High bytes must be fed unsigned: 0xFF is 255, not -1.
TEST(FileChecksum, HighBytesAreFedUnsigned)
{
    FileChecksum sum;
    const uint8_t ff = 0xFF;
    sum.update(&ff, 1);
    EXPECT_EQ((Bytes{0xFF, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}), stored(sum));
    sum.update(&ff, 1);
    // h = 255 * 233 + 255 = 0xE916; l = 0x16
    EXPECT_EQ((Bytes{0x16, 0xE9, 0, 0, 0x15, 0xE9, 0xFE, 0x00}), stored(sum));
}

TEST(FileChecksum, SplittingTheInputAnywhereGivesTheSameResult)
{
    Bytes data(100000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
    FileChecksum whole;
    whole.update(data.data(), data.size());
    for (size_t split : {size_t(1), size_t(15), size_t(16), size_t(33), size_t(4096), size_t(65537), size_t(99999)}) {
        FileChecksum parts;
        parts.update(data.data(), split);
        parts.update(data.data() + split, data.size() - split);
        EXPECT_EQ(stored(whole), stored(parts)) << split;
    }
}

// ---- the vector paths against the plain loop ------------------------------

using checksumcases::PathTest;

class ChecksumPathTest : public PathTest {};

// Every length up to 300, the lengths around each size where a path changes
// what it does, odd sizes and a few MiB; every pattern; from the start of a
// file and from the middle of one; data at every alignment.
TEST_P(ChecksumPathTest, MatchesThePlainLoopOverLengthsPatternsAndStartStates)
{
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 300; ++n)
        lengths.push_back(n);
    for (size_t n : checksumcases::boundaryLengths())
        lengths.push_back(n);
    for (size_t n : {size_t(1000), size_t(2500), size_t(4000), size_t(12345), size_t(65537), size_t(99991),
                     size_t(1048575), size_t(1048576), size_t(1048577), size_t(3 * 1048576 + 4093)})
        lengths.push_back(n);

    int failures = 0;
    for (size_t length : lengths) {
        for (checksumcases::Pattern pattern : checksumcases::kPatterns) {
            size_t offset = (length * 7 + static_cast<size_t>(pattern)) % 32;
            Bytes data = checksumcases::makeData(pattern, offset, length, static_cast<uint32_t>(length));
            for (int state = 0; state < 3; ++state) {
                FileChecksum start = checksumcases::startState(state);
                FileChecksum expected = checksumcases::viaPlain(start, data.data() + offset, length);
                FileChecksum got = checksumcases::viaUpdate(start, data.data() + offset, length);
                if (checksumcases::hex(expected) != checksumcases::hex(got)) {
                    ADD_FAILURE() << "length " << length << ", " << checksumcases::patternName(pattern)
                                  << ", start state " << state << ", offset " << offset << ": plain "
                                  << checksumcases::hex(expected) << ", got " << checksumcases::hex(got);
                    if (++failures == 20)
                        return;
                }
            }
        }
    }
}

// The run feeds one chunk at a time; a file's checksum must not depend on
// where its chunks end.
TEST_P(ChecksumPathTest, MatchesThePlainLoopForRandomSplitsAndStartStates)
{
    std::mt19937 rng(20240601u);
    const size_t total = 300000;
    for (checksumcases::Pattern pattern : {checksumcases::PATTERN_RANDOM, checksumcases::PATTERN_ONES}) {
        Bytes data = checksumcases::makeData(pattern, 0, total, 99u);
        for (int trial = 0; trial < 150; ++trial) {
            size_t begin = rng() % 64;
            size_t length = trial < 50 ? rng() % 20000 : rng() % (total - begin);
            FileChecksum start = checksumcases::startState(trial % 4 == 0 ? 0 : 10 + trial);
            FileChecksum expected = checksumcases::viaPlain(start, data.data() + begin, length);

            // Cut points: some anywhere, some just around the sizes that matter.
            std::vector<size_t> cuts;
            int pieces = static_cast<int>(rng() % 8);
            for (int k = 0; k < pieces; ++k) {
                size_t cut = rng() % (length + 1);
                if (k % 2 == 1) {
                    // On a multiple of 512 or one byte either side of it.
                    size_t multiple = (cut / 512) * 512, nudge = rng() % 3;
                    cut = multiple + nudge == 0 ? 0 : std::min(length, multiple + nudge - 1);
                }
                cuts.push_back(cut);
            }
            std::sort(cuts.begin(), cuts.end());
            cuts.push_back(length);
            FileChecksum got = start;
            size_t at = 0;
            for (size_t cut : cuts) {
                got.update(data.data() + begin + at, cut - at);
                at = cut;
            }
            ASSERT_EQ(checksumcases::hex(expected), checksumcases::hex(got))
                << checksumcases::patternName(pattern) << ", trial " << trial << ", " << cuts.size() << " pieces of "
                << length << " bytes";
        }
    }
}

TEST_P(ChecksumPathTest, AbcAndByteByByteFeeding)
{
    FileChecksum abc;
    abc.update("abc", 3);
    EXPECT_EQ(kAbc, stored(abc));

    Bytes data = checksumcases::makeData(checksumcases::PATTERN_RANDOM, 0, 20000, 5u);
    FileChecksum whole, byByte;
    whole.update(data.data(), data.size());
    for (uint8_t x : data)
        byByte.update(&x, 1);
    EXPECT_EQ(checksumcases::hex(checksumcases::viaPlain(FileChecksum(), data.data(), data.size())),
              checksumcases::hex(whole));
    EXPECT_EQ(checksumcases::hex(whole), checksumcases::hex(byByte));
}

INSTANTIATE_TEST_SUITE_P(Paths, ChecksumPathTest, ::testing::ValuesIn(checksumcases::kAllPaths),
                         checksumcases::pathName);

// Against the compiler's own processor check, which also asks the operating
// system whether it saves the AVX registers: a path the machine has must
// not go unused, and one it lacks must never be chosen.
TEST(ChecksumPaths, AvailabilityFollowsTheProcessorAndTheBestIsTheDefault)
{
    __builtin_cpu_init();
    EXPECT_EQ(1, checksumPathAvailable(CHECKSUM_PLAIN));
    EXPECT_EQ(__builtin_cpu_supports("sse2") ? 1 : 0, checksumPathAvailable(CHECKSUM_SSE2));
    EXPECT_EQ(__builtin_cpu_supports("avx2") ? 1 : 0, checksumPathAvailable(CHECKSUM_AVX2));

    useBestChecksumPath();
    ChecksumPath best = CHECKSUM_PLAIN;
    for (ChecksumPath p : checksumcases::kAllPaths)
        if (checksumPathAvailable(p))
            best = p;
    EXPECT_EQ(best, checksumPathInUse());
    EXPECT_EQ(1, forceChecksumPath(CHECKSUM_PLAIN));
    EXPECT_EQ(CHECKSUM_PLAIN, checksumPathInUse());
    useBestChecksumPath();
    EXPECT_EQ(best, checksumPathInUse());
}

// A vector path that quietly left its input to the plain loop would still
// give the right bytes, only slowly: each must take all but a short tail.
TEST(ChecksumPaths, EachVectorPathTakesAllButAShortTail)
{
    struct Case {
        ChecksumPath path;
        size_t (*update)(FileChecksum&, const uint8_t*, size_t);
        size_t smallest;    // the shortest stretch it takes
    };
    const Case cases[] = {{CHECKSUM_SSE2, checksumUpdateSse2, 8 * 16}, {CHECKSUM_AVX2, checksumUpdateAvx2, 16 * 32}};
    for (const Case& c : cases) {
        if (!checksumPathAvailable(c.path))
            continue;
        for (size_t length : {size_t(0), c.smallest - 1, c.smallest, size_t(1048576), size_t(1048576 + 1000)}) {
            Bytes data = checksumcases::makeData(checksumcases::PATTERN_RANDOM, 0, length, 3u);
            FileChecksum sum = checksumcases::startState(2);
            size_t done = c.update(sum, data.data(), length);
            EXPECT_LE(done, length);
            EXPECT_LT(length - done, c.smallest) << checksumPathName(c.path) << ", length " << length;
            checksumUpdatePlain(sum, data.data() + done, length - done);
            EXPECT_EQ(checksumcases::hex(checksumcases::viaPlain(checksumcases::startState(2), data.data(), length)),
                      checksumcases::hex(sum))
                << checksumPathName(c.path) << ", length " << length;
        }
    }
}

} // namespace
