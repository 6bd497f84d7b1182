// Two version folders of a game compared by content: which files of the new
// one are new or differ, which are unchanged, which of the old one are gone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "patchtool/hash_list_file.h"

namespace tool {

class Progress;

enum FileChange { FILE_UNCHANGED, FILE_CHANGED, FILE_ADDED };

struct TreeFile {
    std::string recordName;     // code page 932, "\" separators, relative to the folder
    std::string newPath;        // UTF-8
    std::string oldPath;        // UTF-8; empty when the old folder has no such file
    uint64_t size = 0;
    FileChange change = FILE_ADDED;
    uint8_t checksum[8] = {};   // of the new file
};

struct TreeDiff {
    std::vector<TreeFile> files;         // every file of the new folder, in listGameFolder order
    std::vector<FolderFile> removed;     // files of the old folder the new one lacks
};

// Lists both folders as hvl make does (their own KVX.hvl and uninst.lst
// left out, and the paths in skip), matches names ignoring letter case as
// Windows does, and reads every file of the new folder once: its checksum,
// and, where the old folder has a file of the same name and size, a byte
// comparison with it read alongside. Files of one folder that are the same
// file as the other's (hard links) are equal without reading the old one.
// Every problem (names that cannot be records, unreadable files) goes to
// *problems; 1 when there was none.
int compareTrees(const std::string& oldFolder, const std::string& newFolder, const std::vector<std::string>& skip,
                 TreeDiff* diff, std::vector<std::string>* problems);

} // namespace tool
