// What to pack to turn one version folder into the next: the changed and
// added files, under the names that let the updater verify them, with the
// reasons to refuse and the things worth a warning. Decided from the
// comparison of the two folders and the hash value list of the new one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "patchtool/pack_plan.h"
#include "patchtool/tree_compare.h"

namespace tool {

// An updater carries at most kMaxEntries entries, the list being one.
const size_t kMaxPackedFiles = kMaxEntries - 1;

struct FolderPlan {
    // The items to pack: the list first (KVX.hvl), then the changed and
    // added files in the order of the new folder's listing.
    std::vector<PackItem> items;
    std::vector<const TreeFile*> files;   // per item; null for the list
    std::vector<int> records;             // per item: the record that verifies it, -1 for none
    std::vector<std::string> refusals;    // each names its file
    std::vector<std::string> warnings;    // refusals under --strict
    std::vector<std::string> notes;
    size_t changed = 0, added = 0, unchanged = 0;
};

// Where the records of the new folder's own KVX.hvl disagree with its
// files: a record of a file the folder lacks, a name whose letter case
// differs from the file's, another checksum, a name listed twice, a record
// that is no usable name. Each line names the file.
std::vector<std::string> listDifferences(const std::vector<HashValueRecord>& records, const TreeDiff& diff,
                                         const std::string& listPath);

// The plan for diff with records as the list carried (listPath names it in
// messages, listSize is its size in bytes). oldFolder is asked whether the
// folders of new files exist there.
FolderPlan planFolderPack(const TreeDiff& diff, const std::vector<HashValueRecord>& records,
                          const std::string& listPath, uint64_t listSize, const std::string& oldFolder);

} // namespace tool
