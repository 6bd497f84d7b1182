// The plan of one pack: every check that can be made before a byte is
// written, and the table that will be written. Pure logic on names and
// sizes; reading files and writing the updater are the caller's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "payload/hash_value_list.h"
#include "payload/payload_archive.h"

namespace tool {

const uint32_t kLastSeekablePosition = 0x7FFFFFFF;   // the updater seeks with a signed 32-bit distance

// One payload file as the maker gave it.
struct PackItem {
    std::string name;      // installed name as given, UTF-8; "/" or "\" between folders
    std::string path;      // where its bytes come from (for messages and reading)
    uint64_t size = 0;
};

struct PackRequest {
    ArchiveLayout layout = ARCHIVE_LAYOUT_LONG;
    std::vector<PackItem> items;   // in table order; the hash value list, if any, first
    // The records of the hash value list among the items (named KVX.hvl),
    // or null when there is none.
    const std::vector<HashValueRecord>* records = nullptr;
    std::string recordsFrom;       // the list's path, for messages
    uint64_t stubSize = 0;
};

struct PlannedEntry {
    std::string storedName;      // code page 932, as written to the table
    std::string installedName;   // the matched record's name, else storedName
    int record = -1;             // index of the record that verifies it, -1 for none
    std::string path;
    uint32_t offset = 0;         // relative to the data area
    uint32_t size = 0;
};

struct PackPlan {
    std::vector<PlannedEntry> entries;
    uint32_t dataStart = 0;      // file offset of the data area
    uint32_t fileSize = 0;       // of the whole updater
    std::vector<std::string> notes;   // worth telling the maker, not stopping the pack
};

// Fills *plan and returns every reason to refuse, each naming the file and
// what is wrong; empty when the pack can go ahead.
std::vector<std::string> planPack(const PackRequest& request, PackPlan* plan);

// Why bytes (the whole stub file) cannot be a stub, or empty. A stub must
// be a Windows program ("MZ"), end before the payload's offset 0x40000 and
// carry no signature (one made before the payload is appended would not
// cover it; sign the packed updater instead).
std::string stubProblem(const std::vector<uint8_t>& bytes);

// Why list (a parsed hash value list about to be packed) would mislead the
// updater: a record whose name does not end inside its field.
std::vector<std::string> hashListProblems(const std::vector<HashValueRecord>& records, const std::string& path);

} // namespace tool
