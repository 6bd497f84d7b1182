#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "payload/hash_value_list.h"

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

} // namespace
