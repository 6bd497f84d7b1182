// Hash value lists as files of their own (a game folder's KVX.hvl, the list
// a maker packs): reading one, and making one from a folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "payload/hash_value_list.h"

namespace tool {

struct HashListFile {
    uint8_t header[kHashListHeaderSize];
    std::vector<HashValueRecord> records;
    uint64_t trailingBytes = 0;       // after the last record; the updater ignores them
};

// Parses the bytes of a list. 0 with *problem when the magic is not
// "DQM_____" or the file is shorter than its count says.
int parseHashList(const std::vector<uint8_t>& bytes, HashListFile* list, std::string* problem);

// 1 when the record's name ends inside its 56 bytes.
int recordHasName(const HashValueRecord& record);
std::string recordName(const HashValueRecord& record);   // up to the NUL or 56 bytes
std::string checksumHex(const uint8_t* checksum);         // 16 hex digits, stored byte order

// A copy of a stored name lowered by the core's rule (lowerName), for
// comparing names as the updater and Windows do.
std::string lowered(const std::string& name);

// The record for name as the updater finds it: the first one whose name
// ends in name, compared by the file-name part and ignoring case. -1 when
// none (always for a name with a folder part).
int findRecordIndex(const std::vector<HashValueRecord>& records, const std::string& name);

// A file found in a game folder: its stored record name (code page 932,
// "\" separators) and its path (UTF-8).
struct FolderFile {
    std::string recordName;
    std::string path;
    uint64_t size;
};

// Every regular file below folder, except folder's own KVX.hvl and
// uninst.lst (the files the updater rewrites itself) and the paths in
// skip. Sorted by record name, ignoring case first, so that lists of two
// versions diff line by line. Each name that cannot be a record (over 55
// bytes, not code page 932, an unusable Windows name, or two files whose
// names differ only in case) is added to *problems.
std::vector<FolderFile> listGameFolder(const std::string& folder, const std::vector<std::string>& skip,
                                       std::vector<std::string>* problems);

} // namespace tool
