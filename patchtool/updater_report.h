// An updater file as the updater itself reads it: the core's PayloadArchive,
// HashValueList and FileChecksum, never a reader of the tool's own. Used by
// list, verify and by pack to read back what it wrote.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "payload/payload_archive.h"

namespace tool {

enum EntryState {
    ENTRY_NOT_READ,      // data not examined (list)
    ENTRY_VERIFIED,      // the data match the record's checksum
    ENTRY_UNVERIFIED,    // no record; the updater installs it unchecked
    ENTRY_MISMATCH,      // the updater would stop with UPDATE_E_PAYLOAD
    ENTRY_SHORT,         // the data end before size bytes
    ENTRY_UNREACHABLE,   // the updater cannot seek to the data
};

struct EntryReport {
    std::string name;            // as stored, code page 932
    uint32_t offset = 0, size = 0;
    bool hasRecord = false;
    std::string installedName;   // the record's name, else name
    uint8_t expected[8] = {};    // the record's checksum
    uint8_t actual[8] = {};      // of the data, once read
    uint32_t bytesRead = 0;
    EntryState state = ENTRY_NOT_READ;
};

struct UpdaterReport {
    UpdateResult loadResult = UPDATE_E_PAYLOAD;   // PayloadArchive::load; 0 when the table was read
    uint32_t fileSize = 0;                        // as the updater sees it (low 32 bits)
    ArchiveLayout layout = ARCHIVE_LAYOUT_SHORT;
    uint32_t count = 0, dataStart = 0;
    std::string magic;                            // the header's 12 bytes
    bool listEntry = false;                       // an entry is named KVX.hvl (any case)
    bool listLoaded = false;                      // and it loaded as a hash value list
    uint32_t listRecords = 0;
    std::vector<EntryReport> entries;
    uint64_t payloadEnd = 0;                      // the end of the last entry's data
    bool isProgram = false;                       // the image before 0x40000 is an MZ/PE program
    uint32_t certificateOffset = 0, certificateSize = 0;   // its signature, if any
};

// One line on what follows the payload and whether a signature covers the
// payload; empty when there is nothing after it and no signature.
std::string signatureLine(const UpdaterReport& report);

// Reads path (UTF-8) with the updater's own code. With readData, every
// entry's data are read and checksummed. 0 when the file cannot be opened;
// otherwise 1 with *report filled (loadResult says whether the table was
// readable). Reading the data shows a progress line.
int readUpdaterReport(const std::string& path, bool readData, UpdaterReport* report);

const char* entryStateName(EntryState state);

} // namespace tool
