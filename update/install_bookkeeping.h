// After a full commit: trim the installed KVX.hvl to the files present and
// add the staged names to uninst.lst. Both rewrite their file beside it and
// replace it only when the new content is complete.
#pragma once

// The side files the new content is written to before it replaces the list.
// Each name is as long as the file it stands in for, so its path fits
// MAX_PATH whenever the list's own path does. The run refuses payload files
// installed under these names.
extern const char kHashListSideName[];      // "KVX.new"
extern const char kUninstallSideName[];     // "uninst.new"

// Keeps the records whose file exists in installFolder. Reports nothing.
void pruneHashValueList(const char* installFolder);

// Appends each name of staged (null-terminated) that does not occur in the
// text yet, as "name\n". 1 when the file was read and rewritten in full.
int updateUninstallList(const char* installFolder, const char* const* staged);
