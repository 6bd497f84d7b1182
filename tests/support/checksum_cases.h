// Inputs and helpers for comparing each path of the checksum with the plain
// loop, shared by the host tests and the Windows-side tests.
//
//   class MyTest : public checksumcases::PathTest {};   // parameter: the path
//   TEST_P(MyTest, X) { ... checksumcases::viaUpdate(...) ... }
//   INSTANTIATE_TEST_SUITE_P(Paths, MyTest, ::testing::ValuesIn(checksumcases::kAllPaths),
//                            checksumcases::pathName);
//
// PathTest forces its path for the test (skipping it where the machine
// cannot run it) and puts the automatic choice back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "payload/checksum_paths.h"
#include "payload/hash_value_list.h"

namespace checksumcases {

typedef std::vector<uint8_t> Bytes;

enum Pattern { PATTERN_RANDOM, PATTERN_ZEROS, PATTERN_ONES, PATTERN_HIGH_BIT, PATTERN_RAMP_UP, PATTERN_RAMP_DOWN };
const Pattern kPatterns[] = {PATTERN_RANDOM,   PATTERN_ZEROS,   PATTERN_ONES,
                             PATTERN_HIGH_BIT, PATTERN_RAMP_UP, PATTERN_RAMP_DOWN};

inline const char* patternName(Pattern p)
{
    switch (p) {
    case PATTERN_RANDOM: return "random";
    case PATTERN_ZEROS: return "all 0x00";
    case PATTERN_ONES: return "all 0xFF";
    case PATTERN_HIGH_BIT: return "all 0x80";
    case PATTERN_RAMP_UP: return "ramp up";
    default: return "ramp down";
    }
}

// Exactly offset + length bytes, so that a read past the end is a heap
// overflow under ASan; the data proper starts at offset.
inline Bytes makeData(Pattern p, size_t offset, size_t length, uint32_t seed)
{
    Bytes b(offset + length, 0x5A);
    std::mt19937 rng(seed);
    for (size_t i = 0; i < length; ++i) {
        uint8_t v = 0;
        switch (p) {
        case PATTERN_RANDOM: v = static_cast<uint8_t>(rng()); break;
        case PATTERN_ZEROS: v = 0x00; break;
        case PATTERN_ONES: v = 0xFF; break;
        case PATTERN_HIGH_BIT: v = 0x80; break;
        case PATTERN_RAMP_UP: v = static_cast<uint8_t>(i); break;
        case PATTERN_RAMP_DOWN: v = static_cast<uint8_t>(255 - i % 251); break;
        }
        b[offset + i] = v;
    }
    return b;
}

// The state a file starts from, then states from the middle of some file.
inline FileChecksum startState(int which)
{
    FileChecksum s;
    if (which == 0)
        return s;
    std::mt19937 rng(static_cast<uint32_t>(which) * 7919u);
    s.h = static_cast<uint32_t>(rng());
    s.a = static_cast<uint8_t>(rng());
    s.b = static_cast<uint8_t>(rng());
    s.c = static_cast<uint8_t>(rng());
    s.d = static_cast<uint8_t>(rng());
    if (which == 1)
        s.h = 0xFFFFFFFFu;
    return s;
}

inline std::string hex(const FileChecksum& s)
{
    uint8_t b[8];
    s.store(b);
    char text[3 * 8 + 1];
    for (int i = 0; i < 8; ++i)
        std::snprintf(text + 3 * i, 4, "%02X ", b[i]);
    text[3 * 8 - 1] = '\0';
    return text;
}

inline FileChecksum viaPlain(FileChecksum s, const uint8_t* data, size_t length)
{
    checksumUpdatePlain(s, data, length);
    return s;
}

// Through FileChecksum::update, that is the path in use.
inline FileChecksum viaUpdate(FileChecksum s, const uint8_t* data, size_t length)
{
    s.update(data, length);
    return s;
}

const ChecksumPath kAllPaths[] = {CHECKSUM_PLAIN, CHECKSUM_SSE2, CHECKSUM_AVX2};

inline std::string pathName(const ::testing::TestParamInfo<ChecksumPath>& info)
{
    return checksumPathName(info.param);
}

class PathTest : public ::testing::TestWithParam<ChecksumPath> {
protected:
    void SetUp() override
    {
        if (!checksumPathAvailable(GetParam()))
            GTEST_SKIP() << "this processor has no " << checksumPathName(GetParam()) << " path";
        ASSERT_EQ(1, forceChecksumPath(GetParam()));
        ASSERT_EQ(GetParam(), checksumPathInUse());
    }
    void TearDown() override { useBestChecksumPath(); }
};

// Lengths around every size at which a vector path changes what it does:
// its loads (16, 32 bytes), the smallest stretch it takes (8 x 16 and
// 16 x 32 bytes), a segment (256), a group of segments (2048, 4096) and a
// block of groups (8192, 16384), and multiples of them.
inline std::vector<size_t> boundaryLengths()
{
    std::vector<size_t> lengths;
    const size_t sizes[] = {16, 32, 128, 256, 512, 1024, 2048, 3 * 2048, 4096, 3 * 4096,
                            8192, 16384, 2 * 16384, 3 * 16384 + 4096 + 512};
    for (size_t s : sizes) {
        lengths.push_back(s - 1);
        lengths.push_back(s);
        lengths.push_back(s + 1);
    }
    return lengths;
}

} // namespace checksumcases
