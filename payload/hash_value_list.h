// The 8-byte file checksum and the hash value list ("KVX.hvl") that carries
// the expected checksum of each game file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "payload/file_handle.h"

class PayloadArchive;

// Running checksum: h = h * 233 + x (mod 2^32); l = low byte of h;
// a += l, b ^= l, c += x, d ^= x. Stored as h little-endian, a, b, c, d.
struct FileChecksum {
    uint32_t h = 0;
    uint8_t a = 0, b = 0, c = 0, d = 0;

    void update(const void* data, size_t length);
    // 1 when all eight stored bytes equal expected[0..7].
    int equals(const uint8_t* expected) const;
    void store(uint8_t* out) const;     // the eight bytes
    void reset() { *this = FileChecksum(); }
};

// The one readable definition; every faster path must match it byte for byte.
void checksumUpdatePlain(FileChecksum& sum, const uint8_t* data, size_t length);

const uint32_t kHashListHeaderSize = 16;
const uint32_t kHashRecordSize = 64;
const uint32_t kHashRecordNameSize = 56;
extern const char kHashListMagic[8];    // "DQM_____"
extern const char kHashListName[];      // "kvx.hvl", compared after lowering

struct HashValueRecord {
    char name[kHashRecordNameSize];     // NUL-terminated, or not a valid record
    uint8_t checksum[8];
};
static_assert(sizeof(HashValueRecord) == kHashRecordSize, "record layout");

class HashValueList {
public:
    HashValueList() = default;
    ~HashValueList() { release(); }
    HashValueList(const HashValueList&) = delete;
    HashValueList& operator=(const HashValueList&) = delete;

    // Finds the first entry named kvx.hvl (any case) and loads it by its own
    // count. 1 when a list was loaded (with count 0: no block, nothing ever
    // matches); 0 leaves no list (count 0, no block). Records that would pass
    // 32 bits or the end of the file, or cannot be allocated, are no list.
    int loadFromPayload(const PayloadArchive& archive, FileHandle& exe);
    // The first record whose file-name part, lowered, equals lowerName.
    // Records whose name has no NUL in its field never match.
    const HashValueRecord* findRecord(const char* lowerName) const;
    uint32_t count() const { return count_; }
    const HashValueRecord* records() const { return records_; }
    const unsigned char* header() const { return header_; }
    void release();

private:
    unsigned char header_[kHashListHeaderSize] = {};
    uint32_t count_ = 0;
    HashValueRecord* records_ = nullptr;
};
