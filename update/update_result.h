// The outcome of one update run; after a run it is also the process exit code.
#pragma once

#include <cstdint>

typedef uint32_t UpdateResult;

const UpdateResult UPDATE_OK = 0;
const UpdateResult UPDATE_E_PAYLOAD = 0x80000001u;          // payload missing, short, unreadable, or a checksum mismatch
const UpdateResult UPDATE_E_TOO_MANY_ENTRIES = 0x80000002u; // more than kMaxEntries entries
const UpdateResult UPDATE_E_FILE_IO = 0x80000004u;          // temporary file not created or written, or a move failed
const UpdateResult UPDATE_E_UNINSTALL_LIST = 0x80000005u;   // uninst.lst not readable or not rewritten in full
const UpdateResult UPDATE_E_CANCELLED = 0x80000006u;        // the user confirmed cancel
const UpdateResult UPDATE_E_CLOSED = 0x80000007u;           // dialog closed or quit message

// "UPDATE_OK", "UPDATE_E_PAYLOAD", ...; "unknown" for any other value.
const char* updateResultName(UpdateResult result);
