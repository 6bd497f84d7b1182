// The payload archive appended to the updater's executable at kPayloadOffset:
// a 16-byte header, a table of long (128-byte) or short (32-byte) entries, and
// the data area. Every value read from the file is checked before use.
#pragma once

#include <cstdint>

#include "payload/file_handle.h"
#include "update/update_result.h"

const uint32_t kPayloadOffset = 0x40000;
const uint32_t kMaxEntries = 32;
const uint32_t kArchiveHeaderSize = 16;
const uint32_t kLongEntrySize = 128;
const uint32_t kShortEntrySize = 32;
const uint32_t kLongNameSize = 96;
const uint32_t kShortNameSize = 16;
extern const char kLongLayoutMagic[12];   // "VELMOR ARC20"

enum ArchiveLayout { ARCHIVE_LAYOUT_LONG, ARCHIVE_LAYOUT_SHORT };

struct ArchiveEntry {
    const char* name;   // points into the loaded table; NUL-terminated
    uint32_t offset;    // relative to dataStart()
    uint32_t size;
};

// Fills path (kMaxPath bytes) with the running executable's path. The buffer
// starts as "setup.exe" and zeros; the call's own result is not consulted.
void locateSelf(char* path);

class PayloadArchive {
public:
    PayloadArchive() = default;
    ~PayloadArchive() { release(); }
    PayloadArchive(const PayloadArchive&) = delete;
    PayloadArchive& operator=(const PayloadArchive&) = delete;

    // Reads header and table from exe. 0 on success, else UPDATE_E_PAYLOAD or
    // UPDATE_E_TOO_MANY_ENTRIES. An entry name without a NUL in its field, or a
    // table that cannot be allocated, is UPDATE_E_PAYLOAD.
    UpdateResult load(FileHandle& exe);
    uint32_t count() const { return count_; }
    ArchiveLayout layout() const { return layout_; }
    ArchiveEntry entry(uint32_t index) const;   // index < count()
    uint32_t dataStart() const;                 // 0x40010 + count * entry size
    // Seeks exe to dataStart() + the entry's offset; 0 when that passes 32 bits
    // or the seek fails.
    int seekToEntry(FileHandle& exe, uint32_t index) const;
    void release();

private:
    unsigned char* table_ = nullptr;
    uint32_t count_ = 0;
    ArchiveLayout layout_ = ARCHIVE_LAYOUT_SHORT;
};
