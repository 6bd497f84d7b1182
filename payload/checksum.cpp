#include <cpuid.h>
#include <cstring>

#include "payload/checksum_paths.h"
#include "payload/hash_value_list.h"

void checksumUpdatePlain(FileChecksum& sum, const uint8_t* data, size_t length)
{
    uint32_t h = sum.h;
    uint8_t a = sum.a, b = sum.b, c = sum.c, d = sum.d;
    for (size_t i = 0; i < length; ++i) {
        uint8_t x = data[i];
        h = h * 233u + x;
        uint8_t l = static_cast<uint8_t>(h);
        a = static_cast<uint8_t>(a + l);
        b ^= l;
        c = static_cast<uint8_t>(c + x);
        d ^= x;
    }
    sum.h = h;
    sum.a = a, sum.b = b, sum.c = c, sum.d = d;
}

uint32_t checksumPower(uint32_t k)
{
    uint32_t result = 1, square = 233;
    for (; k != 0; k >>= 1) {
        if (k & 1)
            result *= square;
        square *= square;
    }
    return result;
}

uint8_t checksumSumOfLows(uint32_t hBefore, uint32_t hAfter, uint32_t byteSum)
{
    // Divisible by 8 by construction: mod 8 every step adds x to h.
    uint32_t sum232 = 0u - (233u * (hBefore - hAfter) + byteSum);
    return static_cast<uint8_t>((sum232 >> 3) * 53u);
}

namespace {

int gBestPath = -1;     // what this machine offers; -1 until asked
int gPathInUse = -1;    // what update() uses; -1 means the best one

// The one look at the processor. SSE2 needs only the CPUID bit; AVX2 also
// needs the operating system to save the full YMM registers on a task switch
// (OSXSAVE set and XCR0 bits 1 and 2), or their upper halves would be lost.
ChecksumPath bestPathOfThisMachine()
{
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || (edx & bit_SSE2) == 0)
        return CHECKSUM_PLAIN;
    if ((ecx & bit_OSXSAVE) == 0 || (ecx & bit_AVX) == 0)
        return CHECKSUM_SSE2;
    unsigned xcr0, xcr0High;
    __asm__ volatile("xgetbv" : "=a"(xcr0), "=d"(xcr0High) : "c"(0));
    if ((xcr0 & 6) != 6)
        return CHECKSUM_SSE2;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) || (ebx & bit_AVX2) == 0)
        return CHECKSUM_SSE2;
    return CHECKSUM_AVX2;
}

ChecksumPath bestPath()
{
    if (gBestPath < 0)
        gBestPath = bestPathOfThisMachine();
    return static_cast<ChecksumPath>(gBestPath);
}

} // namespace

int checksumPathAvailable(ChecksumPath path)
{
    return path >= CHECKSUM_PLAIN && path <= bestPath() ? 1 : 0;
}

int forceChecksumPath(ChecksumPath path)
{
    if (!checksumPathAvailable(path))
        return 0;
    gPathInUse = path;
    return 1;
}

void useBestChecksumPath() { gPathInUse = -1; }

ChecksumPath checksumPathInUse()
{
    return gPathInUse < 0 ? bestPath() : static_cast<ChecksumPath>(gPathInUse);
}

const char* checksumPathName(ChecksumPath path)
{
    switch (path) {
    case CHECKSUM_SSE2: return "sse2";
    case CHECKSUM_AVX2: return "avx2";
    default: return "plain";
    }
}

void FileChecksum::update(const void* data, size_t length)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    size_t done = 0;
    switch (checksumPathInUse()) {
    case CHECKSUM_AVX2: done = checksumUpdateAvx2(*this, bytes, length); break;
    case CHECKSUM_SSE2: done = checksumUpdateSse2(*this, bytes, length); break;
    default: break;
    }
    checksumUpdatePlain(*this, bytes + done, length - done);
}

void FileChecksum::store(uint8_t* out) const
{
    out[0] = static_cast<uint8_t>(h);
    out[1] = static_cast<uint8_t>(h >> 8);
    out[2] = static_cast<uint8_t>(h >> 16);
    out[3] = static_cast<uint8_t>(h >> 24);
    out[4] = a, out[5] = b, out[6] = c, out[7] = d;
}

int FileChecksum::equals(const uint8_t* expected) const
{
    uint8_t mine[8];
    store(mine);
    return std::memcmp(mine, expected, 8) == 0 ? 1 : 0;
}
