#include "patchtool/tree_compare.h"

#include <map>

#include "patchtool/progress.h"
#include "patchtool/text_codec.h"
#include "patchtool/tool_files.h"

namespace tool {

int compareTrees(const std::string& oldFolder, const std::string& newFolder, const std::vector<std::string>& skip,
                 TreeDiff* diff, std::vector<std::string>* problems)
{
    *diff = TreeDiff();
    size_t before = problems->size();
    std::vector<std::string> oldProblems;
    std::vector<FolderFile> oldFiles = listGameFolder(oldFolder, skip, &oldProblems);
    for (const std::string& p : oldProblems)
        problems->push_back(oldFolder + ": " + p);
    std::vector<std::string> newProblems;
    std::vector<FolderFile> newFiles = listGameFolder(newFolder, skip, &newProblems);
    for (const std::string& p : newProblems)
        problems->push_back(newFolder + ": " + p);
    if (problems->size() != before)
        return 0;

    std::map<std::string, const FolderFile*> oldByName;
    for (const FolderFile& f : oldFiles)
        oldByName[lowered(f.recordName)] = &f;
    uint64_t total = 0;
    for (const FolderFile& f : newFiles)
        total += f.size;

    Progress progress("comparing", total);
    for (const FolderFile& f : newFiles) {
        TreeFile file;
        file.recordName = f.recordName;
        file.newPath = f.path;
        file.size = f.size;
        std::string key = lowered(f.recordName);
        auto old = oldByName.find(key);
        std::string compareWith;
        bool linked = false;
        if (old != oldByName.end()) {
            file.oldPath = old->second->path;
            file.change = FILE_CHANGED;
            if (old->second->size == f.size) {
                linked = sameFile(file.oldPath, file.newPath);
                if (!linked)
                    compareWith = file.oldPath;
            }
            oldByName.erase(old);
        }
        progress.setItem(showName(f.recordName));
        bool same = false;
        std::string error;
        if (!checksumAndCompare(f.path, compareWith, f.size, file.checksum, &same, &progress, &error)) {
            problems->push_back(error);
            continue;
        }
        if (same || linked)
            file.change = FILE_UNCHANGED;
        diff->files.push_back(file);
    }
    for (const FolderFile& f : oldFiles)
        if (oldByName.count(lowered(f.recordName)))
            diff->removed.push_back(f);
    return problems->size() == before;
}

} // namespace tool
