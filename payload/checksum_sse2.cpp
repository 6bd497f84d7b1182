// The checksum with SSE2. checksum_avx2.cpp is the same method at twice the
// width; checksum_paths.h gives the contract.
//
// The input is cut into blocks of kGroups groups of kLanes segments, each
// segment kSegment bytes (shorter, a multiple of kStep, for a final block).
//
// h: over a segment of len bytes, h becomes 233^len * h + sum x_i * 233^(len-1-i)
// (mod 2^32). The sums are multiply-adds against a table of powers; one scalar
// multiply-add per segment chains them, and the h before each segment gives
// the low byte its recurrence starts from.
//
// b: the low byte l of h depends only on the previous l (l = 233 l + x
// mod 256), so each group runs its segments' recurrences side by side, one
// segment per 16-bit lane, and XORs every l into an accumulator. Only the low
// byte of a lane means anything: a multiply never carries into it from above.
// Each step takes one 16-bit word of the segment, two bytes at a time.
//
// a, c, d: c and d are the bytes' sum and XOR; a follows from h before and
// after, and the byte sum (checksumSumOfLows).
#include <emmintrin.h>

#include "payload/checksum_paths.h"

namespace {

const size_t kLanes = 8;        // segments per group, one per 16-bit lane
const size_t kGroups = 4;       // groups per block: independent chains of multiplies
const size_t kSegment = 256;    // bytes of a full segment
const size_t kStep = 16;        // bytes per load

// Weights 233^(kSegment-1-i) of the bytes of a full segment, split into
// signed 16-bit halves for pmaddwd with lo + 65536 * hi = weight (mod 2^32).
// A segment of len bytes uses the last len weights.
struct PowerTable {
    int16_t lo[kSegment];
    int16_t hi[kSegment];
};

constexpr int16_t signed16(uint32_t v)
{
    v &= 0xFFFF;
    return static_cast<int16_t>(v >= 0x8000 ? static_cast<int32_t>(v) - 0x10000 : static_cast<int32_t>(v));
}

constexpr PowerTable makePowerTable()
{
    PowerTable t{};
    uint32_t weight = 1;
    for (size_t i = kSegment; i-- > 0;) {
        int16_t lo = signed16(weight);
        t.lo[i] = lo;
        t.hi[i] = signed16((weight - static_cast<uint32_t>(static_cast<int32_t>(lo))) >> 16);
        weight *= 233u;
    }
    return t;
}

alignas(16) constexpr PowerTable kPowers = makePowerTable();

inline __m128i load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline __m128i loadTable(const int16_t* p) { return _mm_load_si128(reinterpret_cast<const __m128i*>(p)); }

// One segment's own part of h (mod 2^32); adds its bytes to byteSum and
// XORs them into byteXor.
inline uint32_t segmentPart(const uint8_t* p, size_t len, __m128i& byteSum, __m128i& byteXor)
{
    const __m128i zero = _mm_setzero_si128();
    const int16_t* lo = kPowers.lo + (kSegment - len);
    const int16_t* hi = kPowers.hi + (kSegment - len);
    __m128i sumLo = zero, sumHi = zero;
    // Unrolled in full (as -O3 would), its loads crowd the registers and spill.
#pragma GCC unroll 1
    for (size_t i = 0; i < len; i += kStep) {
        __m128i x = load(p + i);
        byteSum = _mm_add_epi64(byteSum, _mm_sad_epu8(x, zero));
        byteXor = _mm_xor_si128(byteXor, x);
        __m128i x0 = _mm_unpacklo_epi8(x, zero), x1 = _mm_unpackhi_epi8(x, zero);
        sumLo = _mm_add_epi32(sumLo, _mm_madd_epi16(x0, loadTable(lo + i)));
        sumHi = _mm_add_epi32(sumHi, _mm_madd_epi16(x0, loadTable(hi + i)));
        sumLo = _mm_add_epi32(sumLo, _mm_madd_epi16(x1, loadTable(lo + i + 8)));
        sumHi = _mm_add_epi32(sumHi, _mm_madd_epi16(x1, loadTable(hi + i + 8)));
    }
    __m128i t = _mm_add_epi32(sumLo, _mm_slli_epi32(sumHi, 16));
    t = _mm_add_epi32(t, _mm_shuffle_epi32(t, _MM_SHUFFLE(1, 0, 3, 2)));
    t = _mm_add_epi32(t, _mm_shuffle_epi32(t, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(t));
}

// 8x8 transpose of 16-bit words: afterwards r<t> holds word t of every row.
inline void transpose(__m128i& r0, __m128i& r1, __m128i& r2, __m128i& r3,
                      __m128i& r4, __m128i& r5, __m128i& r6, __m128i& r7)
{
    __m128i a0 = _mm_unpacklo_epi16(r0, r1), a1 = _mm_unpackhi_epi16(r0, r1);
    __m128i a2 = _mm_unpacklo_epi16(r2, r3), a3 = _mm_unpackhi_epi16(r2, r3);
    __m128i a4 = _mm_unpacklo_epi16(r4, r5), a5 = _mm_unpackhi_epi16(r4, r5);
    __m128i a6 = _mm_unpacklo_epi16(r6, r7), a7 = _mm_unpackhi_epi16(r6, r7);
    __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    r0 = _mm_unpacklo_epi64(b0, b4), r1 = _mm_unpackhi_epi64(b0, b4);
    r2 = _mm_unpacklo_epi64(b1, b5), r3 = _mm_unpackhi_epi64(b1, b5);
    r4 = _mm_unpacklo_epi64(b2, b6), r5 = _mm_unpackhi_epi64(b2, b6);
    r6 = _mm_unpacklo_epi64(b3, b7), r7 = _mm_unpackhi_epi64(b3, b7);
}

// Two bytes per lane: w = x0 + 256 x1. XORs the l after x0 and the l after
// x1 into lows and leaves the latter in l. The second l is taken from l
// directly (233^2 l + 233 x0 + x1), so the chain from one step to the next
// is a single multiply-add.
inline void twoBytes(__m128i& l, __m128i w, __m128i& lows)
{
    const __m128i k = _mm_set1_epi16(233), kk = _mm_set1_epi16(static_cast<int16_t>(233 * 233));
    __m128i afterX0 = _mm_add_epi16(_mm_mullo_epi16(l, k), w);
    __m128i pair = _mm_add_epi16(_mm_mullo_epi16(w, k), _mm_srli_epi16(w, 8));
    l = _mm_add_epi16(_mm_mullo_epi16(l, kk), pair);
    lows = _mm_xor_si128(lows, _mm_xor_si128(afterX0, l));
}

// What a block adds to: the byte sum (64-bit lanes), the XOR of the bytes
// and the XOR of the low bytes of h (16-bit lanes). Kept as bytes, moved in
// and out with unaligned loads and stores, so that no vector lives on the
// stack where the compiler would have to align it.
struct Accumulators {
    uint8_t byteSum[16], byteXor[16], lows[16];
};

inline __m128i get(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void put(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// One block of groups * kLanes segments of len bytes at p; returns h after it.
// power is 233^len.
inline uint32_t block(uint32_t h, const uint8_t* p, size_t groups, size_t len, uint32_t power,
                      Accumulators& acc)
{
    __m128i byteSum = get(acc.byteSum), byteXor = get(acc.byteXor), lows = get(acc.lows);
    uint16_t l[kGroups * kLanes];   // each lane's running low byte (and junk above it)
    for (size_t s = 0; s < groups * kLanes; ++s) {
        l[s] = static_cast<uint16_t>(h);
        h = h * power + segmentPart(p + s * len, len, byteSum, byteXor);
    }
    for (size_t row = 0; row < len; row += kStep) {
        for (size_t g = 0; g < groups; ++g) {
            const uint8_t* q = p + g * kLanes * len + row;
            __m128i r0 = load(q), r1 = load(q + len), r2 = load(q + 2 * len), r3 = load(q + 3 * len);
            __m128i r4 = load(q + 4 * len), r5 = load(q + 5 * len), r6 = load(q + 6 * len), r7 = load(q + 7 * len);
            transpose(r0, r1, r2, r3, r4, r5, r6, r7);
            __m128i lanes = load(l + g * kLanes);
            twoBytes(lanes, r0, lows);
            twoBytes(lanes, r1, lows);
            twoBytes(lanes, r2, lows);
            twoBytes(lanes, r3, lows);
            twoBytes(lanes, r4, lows);
            twoBytes(lanes, r5, lows);
            twoBytes(lanes, r6, lows);
            twoBytes(lanes, r7, lows);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(l + g * kLanes), lanes);
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

size_t checksumUpdateSse2(FileChecksum& sum, const uint8_t* data, size_t length)
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

    // The two 64-bit byte sums are only needed mod 2^32.
    __m128i s = _mm_add_epi32(get(acc.byteSum), _mm_shuffle_epi32(get(acc.byteSum), _MM_SHUFFLE(1, 0, 3, 2)));
    uint32_t byteSum = static_cast<uint32_t>(_mm_cvtsi128_si32(s));
    uint32_t x = xorLanes(get(acc.byteXor));
    x ^= x >> 16;
    x ^= x >> 8;
    uint32_t lows = xorLanes(get(acc.lows));
    lows ^= lows >> 16;         // 16-bit lanes: their low bytes only

    sum.a = static_cast<uint8_t>(sum.a + checksumSumOfLows(sum.h, h, byteSum));
    sum.b = static_cast<uint8_t>(sum.b ^ lows);
    sum.c = static_cast<uint8_t>(sum.c + byteSum);
    sum.d = static_cast<uint8_t>(sum.d ^ x);
    sum.h = h;
    return done;
}
