// The update run: stage every payload file as "<name>.tmp" and verify it,
// then move them all into place and do the install's bookkeeping.
#pragma once

#include <cstdint>

#include "update/update_result.h"

const uint32_t kCopyChunkSize = 0x100000;   // 1 MiB, one buffer for every file

// Null-terminated array of count + 1 name pointers; entry i is the name under
// which payload entry i was staged, null when it never was.
typedef const char** StagedFileList;

// Applies the payload of the running executable (locateSelf) to installFolder.
UpdateResult runUpdate(const char* installFolder);
