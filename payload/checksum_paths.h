// The implementations behind FileChecksum::update and the choice among them.
//
// The plain loop (checksumUpdatePlain) is the definition. The vector paths
// compute the same eight bytes over long stretches: each takes the longest
// prefix of its input that it handles whole, updates the state over it
// exactly as the plain loop would, and returns that prefix's length; update()
// feeds the rest to the plain loop. A path is used only when the processor
// has its instructions and the operating system saves their registers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "payload/hash_value_list.h"

enum ChecksumPath { CHECKSUM_PLAIN, CHECKSUM_SSE2, CHECKSUM_AVX2 };
const int kChecksumPathCount = 3;

// 1 when this machine can run path (the plain loop always).
int checksumPathAvailable(ChecksumPath path);
// Makes update() use path from now on: 1, or 0 with nothing changed when
// the machine cannot run it.
int forceChecksumPath(ChecksumPath path);
// Back to the automatic choice: the fastest path the machine can run.
void useBestChecksumPath();
ChecksumPath checksumPathInUse();
const char* checksumPathName(ChecksumPath path);   // "plain", "sse2", "avx2"

size_t checksumUpdateSse2(FileChecksum& sum, const uint8_t* data, size_t length);
size_t checksumUpdateAvx2(FileChecksum& sum, const uint8_t* data, size_t length);

// Scalar pieces the vector paths share. They live in checksum.cpp, which is
// compiled for the baseline processor.
//
// 233^k mod 2^32: h after k more bytes is checksumPower(k) * h + (the bytes'
// own contribution).
uint32_t checksumPower(uint32_t k);
// How much a grows over a stretch of bytes, from h before and after it and
// the sum of its bytes (mod 2^32). Summing h_i = 233 h_(i-1) + x_i over the
// stretch gives 232 * (sum of the h_i) = -(233 (hBefore - hAfter) + byteSum),
// and 232 = 8 * 29 with 29 * 53 = 1 (mod 256), so the sum of the low bytes
// needs no pass over the data.
uint8_t checksumSumOfLows(uint32_t hBefore, uint32_t hAfter, uint32_t byteSum);
