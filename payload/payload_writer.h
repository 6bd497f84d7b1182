// Writes updater files and hash value lists in the formats the updater reads.
// Used by the tests to build fixtures and by the makers' patch tool; the
// updater itself never writes these formats.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "payload/hash_value_list.h"
#include "payload/payload_archive.h"

struct PackEntry {
    std::string name;                 // stored name, code page 932 bytes
    std::string sourcePath;           // data read from this file when not empty,
    std::vector<uint8_t> data;        // else these bytes
};

struct PackOptions {
    ArchiveLayout layout = ARCHIVE_LAYOUT_LONG;
    std::vector<uint8_t> stub;        // executable image; must be below kPayloadOffset
    // Raw 12 magic bytes to write instead of the layout's own (for tests of
    // the reader); empty means "VELMOR ARC20" for long, 12 zero bytes for short.
    std::string magicOverride;
};

// Writes stub, zeros to 0x40000, header, table and data (in entry order, no
// gaps) to outPath. Returns 1, or 0 with *error saying which file and what.
// Refuses names that do not fit their field. It does not apply the policy
// checks of the patch tool (safe names, duplicates); tests need bad payloads.
int writeUpdater(const std::string& outPath, const std::vector<PackEntry>& entries,
                 const PackOptions& options, std::string* error);

// The bytes of a hash value list: magic, the 4 bytes at offset 8, count, records.
std::vector<uint8_t> buildHashValueList(const std::vector<HashValueRecord>& records,
                                        uint32_t reserved = 0);

// A record from a name (at most 55 bytes) and the checksum of data. A longer
// name fills the 56-byte field without a NUL (cut at 56 bytes); the patch tool
// checks lengths itself, tests use this for records that never match.
HashValueRecord makeHashRecord(const std::string& name, const void* data, size_t length);

// Reads a whole file into *out; 1 / 0.
int readWholeFile(const std::string& path, std::vector<uint8_t>* out);
