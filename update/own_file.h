// Names the run creates, reuses, deletes or moves in the install folder. The
// updater runs elevated in a folder that others may write, so any existing
// name may have been planted: a symbolic link, a hard link or another reparse
// point to a file anywhere. A name is touched only while it is a plain file
// of its own there: no reparse point, one link, and its final path is the
// path the run formed. Every check is made on the handle the change then
// goes through, so the name cannot be swapped in between.
//
// Every path is "<folder>\<name>" as the run formed it, folder first.
#pragma once

#include "payload/file_handle.h"

// 1 when file, open by path, is a plain file of its own there.
int isOwnFileAt(const FileHandle& file, const char* folder, const char* path);

// Opens path for writing as a new, empty file. Nothing there: an exclusive
// create, so a name planted meanwhile makes it fail. A plain file of its own
// there (a leftover of an earlier run, even read-only): deleted, then the
// exclusive create. Anything else there is left alone and the create fails.
int createOwnFile(FileHandle& out, const char* folder, const char* path);

// Deletes path when it is a plain file of its own. 1 when the name is gone
// or was never there; 0 when something else holds it (left untouched) or the
// delete failed.
int deleteOwnFile(const char* folder, const char* path);

// For a name a file is about to be moved over: 1 when nothing is there or a
// plain file of its own, whose attributes are then reset to normal when
// resetAttributes is set (a read-only file would refuse the move).
int isFreeOrOwn(const char* folder, const char* path, int resetAttributes);

// Moves from over to once from is still a plain file of its own; the move
// goes through the checked handle and replaces whatever name is at to.
int moveOwnFile(const char* folder, const char* from, const char* to);
