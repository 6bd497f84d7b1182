// The checksum with AVX2: the method of checksum_sse2.cpp at twice the width.
// A group is 16 segments (lanes 0-7 in the low half of a register, 8-15 in
// the high half, so that every shuffle stays within its half), and segment
// lengths are multiples of 32 bytes, one load of the h pass.
//
// Windows keeps the stack aligned to 4 bytes (32-bit) or 16 (64-bit), never
// to 32, and the compiler cannot always make up for it there: vectors go to
// and from memory only through unaligned loads and stores, but for the
// static power table. What the compiler itself spills is checked by
// tests/suites/15-checksum-codegen.sh.
#include <immintrin.h>

#include "payload/checksum_paths.h"

namespace {

const size_t kLanes = 16;       // segments per group, one per 16-bit lane
const size_t kGroups = 4;       // groups per block: independent chains of multiplies
const size_t kSegment = 256;    // bytes of a full segment
const size_t kStep = 32;        // bytes per load of the h pass
const size_t kRow = 16;         // bytes per segment and step of the b pass

// As in checksum_sse2.cpp, but in the order the in-half unpacks deliver the
// bytes of a 32-byte load: 0-7 and 16-23 (low unpack), then 8-15 and 24-31.
struct PowerTable {
    int16_t lo[kSegment];
    int16_t hi[kSegment];
};

constexpr int16_t signed16(uint32_t v)
{
    v &= 0xFFFF;
    return static_cast<int16_t>(v >= 0x8000 ? static_cast<int32_t>(v) - 0x10000 : static_cast<int32_t>(v));
}

constexpr size_t unpackedIndex(size_t position)
{
    size_t base = position & ~static_cast<size_t>(31), q = position & 31;
    size_t octet = q >> 3;
    size_t swapped = octet == 1 ? 2 : octet == 2 ? 1 : octet;
    return base + swapped * 8 + (q & 7);
}

constexpr PowerTable makePowerTable()
{
    PowerTable t{};
    uint32_t weight = 1;
    for (size_t i = kSegment; i-- > 0;) {
        int16_t lo = signed16(weight);
        t.lo[unpackedIndex(i)] = lo;
        t.hi[unpackedIndex(i)] = signed16((weight - static_cast<uint32_t>(static_cast<int32_t>(lo))) >> 16);
        weight *= 233u;
    }
    return t;
}

alignas(32) constexpr PowerTable kPowers = makePowerTable();

inline __m256i load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
inline __m256i loadTable(const int16_t* p) { return _mm256_load_si256(reinterpret_cast<const __m256i*>(p)); }
inline __m256i loadPair(const uint8_t* low, const uint8_t* high)
{
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
}

inline __m128i halvesAdded(__m256i v)
{
    return _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

inline __m128i halvesXored(__m256i v)
{
    return _mm_xor_si128(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

// One segment's own part of h (mod 2^32); adds its bytes to byteSum and
// XORs them into byteXor.
inline uint32_t segmentPart(const uint8_t* p, size_t len, __m256i& byteSum, __m256i& byteXor)
{
    const __m256i zero = _mm256_setzero_si256();
    const int16_t* lo = kPowers.lo + (kSegment - len);
    const int16_t* hi = kPowers.hi + (kSegment - len);
    __m256i sumLo = zero, sumHi = zero;
    // Unrolled in full (as -O3 would), its loads crowd the registers and spill.
#pragma GCC unroll 1
    for (size_t i = 0; i < len; i += kStep) {
        __m256i x = load(p + i);
        byteSum = _mm256_add_epi64(byteSum, _mm256_sad_epu8(x, zero));
        byteXor = _mm256_xor_si256(byteXor, x);
        __m256i x0 = _mm256_unpacklo_epi8(x, zero), x1 = _mm256_unpackhi_epi8(x, zero);
        sumLo = _mm256_add_epi32(sumLo, _mm256_madd_epi16(x0, loadTable(lo + i)));
        sumHi = _mm256_add_epi32(sumHi, _mm256_madd_epi16(x0, loadTable(hi + i)));
        sumLo = _mm256_add_epi32(sumLo, _mm256_madd_epi16(x1, loadTable(lo + i + 16)));
        sumHi = _mm256_add_epi32(sumHi, _mm256_madd_epi16(x1, loadTable(hi + i + 16)));
    }
    __m128i t = halvesAdded(_mm256_add_epi32(sumLo, _mm256_slli_epi32(sumHi, 16)));
    t = _mm_add_epi32(t, _mm_shuffle_epi32(t, _MM_SHUFFLE(1, 0, 3, 2)));
    t = _mm_add_epi32(t, _mm_shuffle_epi32(t, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(t));
}

// 8x8 transpose of 16-bit words in each half: afterwards r<t> holds word t
// of every row.
inline void transpose(__m256i& r0, __m256i& r1, __m256i& r2, __m256i& r3,
                      __m256i& r4, __m256i& r5, __m256i& r6, __m256i& r7)
{
    __m256i a0 = _mm256_unpacklo_epi16(r0, r1), a1 = _mm256_unpackhi_epi16(r0, r1);
    __m256i a2 = _mm256_unpacklo_epi16(r2, r3), a3 = _mm256_unpackhi_epi16(r2, r3);
    __m256i a4 = _mm256_unpacklo_epi16(r4, r5), a5 = _mm256_unpackhi_epi16(r4, r5);
    __m256i a6 = _mm256_unpacklo_epi16(r6, r7), a7 = _mm256_unpackhi_epi16(r6, r7);
    __m256i b0 = _mm256_unpacklo_epi32(a0, a2), b1 = _mm256_unpackhi_epi32(a0, a2);
    __m256i b2 = _mm256_unpacklo_epi32(a1, a3), b3 = _mm256_unpackhi_epi32(a1, a3);
    __m256i b4 = _mm256_unpacklo_epi32(a4, a6), b5 = _mm256_unpackhi_epi32(a4, a6);
    __m256i b6 = _mm256_unpacklo_epi32(a5, a7), b7 = _mm256_unpackhi_epi32(a5, a7);
    r0 = _mm256_unpacklo_epi64(b0, b4), r1 = _mm256_unpackhi_epi64(b0, b4);
    r2 = _mm256_unpacklo_epi64(b1, b5), r3 = _mm256_unpackhi_epi64(b1, b5);
    r4 = _mm256_unpacklo_epi64(b2, b6), r5 = _mm256_unpackhi_epi64(b2, b6);
    r6 = _mm256_unpacklo_epi64(b3, b7), r7 = _mm256_unpackhi_epi64(b3, b7);
}

// Two bytes per lane, as in checksum_sse2.cpp.
inline void twoBytes(__m256i& l, __m256i w, __m256i& lows)
{
    const __m256i k = _mm256_set1_epi16(233), kk = _mm256_set1_epi16(static_cast<int16_t>(233 * 233));
    __m256i afterX0 = _mm256_add_epi16(_mm256_mullo_epi16(l, k), w);
    __m256i pair = _mm256_add_epi16(_mm256_mullo_epi16(w, k), _mm256_srli_epi16(w, 8));
    l = _mm256_add_epi16(_mm256_mullo_epi16(l, kk), pair);
    lows = _mm256_xor_si256(lows, _mm256_xor_si256(afterX0, l));
}

// What a block adds to: the byte sum (64-bit lanes), the XOR of the bytes
// and the XOR of the low bytes of h (16-bit lanes). Kept as bytes, moved in
// and out with unaligned loads and stores, so that no vector lives on the
// stack where the compiler would have to align it.
struct Accumulators {
    uint8_t byteSum[32], byteXor[32], lows[32];
};

inline __m256i get(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
inline void put(uint8_t* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

// One block of groups * kLanes segments of len bytes at p; returns h after it.
// power is 233^len.
inline uint32_t block(uint32_t h, const uint8_t* p, size_t groups, size_t len, uint32_t power,
                      Accumulators& acc)
{
    __m256i byteSum = get(acc.byteSum), byteXor = get(acc.byteXor), lows = get(acc.lows);
    uint16_t l[kGroups * kLanes];   // each lane's running low byte (and junk above it)
    for (size_t s = 0; s < groups * kLanes; ++s) {
        l[s] = static_cast<uint16_t>(h);
        h = h * power + segmentPart(p + s * len, len, byteSum, byteXor);
    }
    const size_t half = kLanes / 2 * len;
    for (size_t row = 0; row < len; row += kRow) {
        for (size_t g = 0; g < groups; ++g) {
            const uint8_t* q = p + g * kLanes * len + row;
            __m256i r0 = loadPair(q, q + half), r1 = loadPair(q + len, q + len + half);
            __m256i r2 = loadPair(q + 2 * len, q + 2 * len + half), r3 = loadPair(q + 3 * len, q + 3 * len + half);
            __m256i r4 = loadPair(q + 4 * len, q + 4 * len + half), r5 = loadPair(q + 5 * len, q + 5 * len + half);
            __m256i r6 = loadPair(q + 6 * len, q + 6 * len + half), r7 = loadPair(q + 7 * len, q + 7 * len + half);
            transpose(r0, r1, r2, r3, r4, r5, r6, r7);
            __m256i lanes = load(l + g * kLanes);
            twoBytes(lanes, r0, lows);
            twoBytes(lanes, r1, lows);
            twoBytes(lanes, r2, lows);
            twoBytes(lanes, r3, lows);
            twoBytes(lanes, r4, lows);
            twoBytes(lanes, r5, lows);
            twoBytes(lanes, r6, lows);
            twoBytes(lanes, r7, lows);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(l + g * kLanes), lanes);
        }
    }
    put(acc.byteSum, byteSum), put(acc.byteXor, byteXor), put(acc.lows, lows);
    return h;
}

// XOR of the four 32-bit lanes.
inline uint32_t xorLanes(__m128i v)
{
    v = _mm_xor_si128(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_xor_si128(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(v));
}

} // namespace

size_t checksumUpdateAvx2(FileChecksum& sum, const uint8_t* data, size_t length)
{
    const size_t groupBytes = kLanes * kSegment;
    const size_t blockBytes = kGroups * groupBytes;
    const uint32_t segmentPower = checksumPower(kSegment);
    Accumulators acc = {};
    uint32_t h = sum.h;
    size_t done = 0;
    for (; length - done >= blockBytes; done += blockBytes)
        h = block(h, data + done, kGroups, kSegment, segmentPower, acc);
    size_t groups = (length - done) / groupBytes;
    if (groups > 0) {
        h = block(h, data + done, groups, kSegment, segmentPower, acc);
        done += groups * groupBytes;
    }
    size_t len = (length - done) / (kLanes * kStep) * kStep;
    if (len > 0) {
        h = block(h, data + done, 1, len, checksumPower(static_cast<uint32_t>(len)), acc);
        done += kLanes * len;
    }
    if (done == 0)
        return 0;

    // The four 64-bit byte sums are only needed mod 2^32.
    __m128i s = halvesAdded(get(acc.byteSum));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, _MM_SHUFFLE(1, 0, 3, 2)));
    uint32_t byteSum = static_cast<uint32_t>(_mm_cvtsi128_si32(s));
    uint32_t x = xorLanes(halvesXored(get(acc.byteXor)));
    x ^= x >> 16;
    x ^= x >> 8;
    uint32_t lows = xorLanes(halvesXored(get(acc.lows)));
    lows ^= lows >> 16;         // 16-bit lanes: their low bytes only

    sum.a = static_cast<uint8_t>(sum.a + checksumSumOfLows(sum.h, h, byteSum));
    sum.b = static_cast<uint8_t>(sum.b ^ lows);
    sum.c = static_cast<uint8_t>(sum.c + byteSum);
    sum.d = static_cast<uint8_t>(sum.d ^ x);
    sum.h = h;
    return done;
}
