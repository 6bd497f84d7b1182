// After a full commit: trim the installed KVX.hvl to the files present and
// add the staged names to uninst.lst. Both rewrite their file beside it and
// replace it only when the new content is complete.
#pragma once

// Keeps the records whose file exists in installFolder. Reports nothing.
void pruneHashValueList(const char* installFolder);

// Appends each name of staged (null-terminated) that does not occur in the
// text yet, as "name\n". 1 when the file was read and rewritten in full.
int updateUninstallList(const char* installFolder, const char* const* staged);
