#include "patchtool/folder_pack.h"

#include <cstring>
#include <filesystem>
#include <map>

#include "patchtool/install_name.h"
#include "patchtool/text_codec.h"
#include "patchtool/tool_files.h"
#include "payload/entry_name.h"

namespace tool {
namespace {

// The folder part of a record name ("sub\deeper" of "sub\deeper\x.dat").
std::string folderOf(const std::string& recordName)
{
    const char* part = fileNamePart(recordName.c_str());
    size_t length = static_cast<size_t>(part - recordName.c_str());
    return length ? recordName.substr(0, length - 1) : std::string();
}

bool folderExists(const std::string& root, const std::string& recordFolder)
{
    std::string utf8;
    if (!fromCp932(recordFolder, &utf8))
        return false;
    for (char& c : utf8)
        if (c == '\\')
            c = '/';
    return fileInfo((std::filesystem::u8path(root) / std::filesystem::u8path(utf8)).u8string()).directory;
}

int exactRecord(const std::vector<HashValueRecord>& records, const std::string& name)
{
    for (size_t i = 0; i < records.size(); ++i)
        if (recordHasName(records[i]) && recordName(records[i]) == name)
            return static_cast<int>(i);
    return -1;
}

} // namespace

std::vector<std::string> listDifferences(const std::vector<HashValueRecord>& records, const TreeDiff& diff,
                                         const std::string& listPath)
{
    std::vector<std::string> differences = hashListProblems(records, listPath);
    std::map<std::string, const TreeFile*> files;
    for (const TreeFile& f : diff.files)
        files[lowered(f.recordName)] = &f;
    std::map<std::string, size_t> seen;
    for (size_t i = 0; i < records.size(); ++i) {
        if (!recordHasName(records[i]))
            continue;
        const std::string name = recordName(records[i]);
        const std::string shown = showName(name);
        const std::string key = lowered(name);
        if (!seen.emplace(key, i).second) {
            differences.push_back(listPath + ": lists " + shown + " twice (records " + std::to_string(seen[key]) +
                                  " and " + std::to_string(i) + ")");
            continue;
        }
        auto file = files.find(key);
        if (file == files.end()) {
            differences.push_back(listPath + ": lists " + shown + ", which the new folder does not have");
        } else if (file->second->recordName != name) {
            differences.push_back(listPath + ": lists " + shown + ", but the file is " +
                                  showName(file->second->recordName) + " (letter case)");
        } else if (std::memcmp(file->second->checksum, records[i].checksum, 8) != 0) {
            differences.push_back(listPath + ": " + shown + ": the record says " + checksumHex(records[i].checksum) +
                                  ", the file's checksum is " + checksumHex(file->second->checksum));
        }
    }
    return differences;
}

FolderPlan planFolderPack(const TreeDiff& diff, const std::vector<HashValueRecord>& records,
                          const std::string& listPath, uint64_t listSize, const std::string& oldFolder)
{
    FolderPlan plan;
    PackItem list;
    list.name = "KVX.hvl";
    list.path = listPath;
    list.size = listSize;
    plan.items.push_back(list);
    plan.files.push_back(nullptr);
    plan.records.push_back(-1);

    std::vector<std::string> packedNames;
    for (const TreeFile& f : diff.files) {
        if (f.change == FILE_UNCHANGED) {
            ++plan.unchanged;
            continue;
        }
        ++(f.change == FILE_ADDED ? plan.added : plan.changed);
        const std::string shown = showName(f.recordName);
        packedNames.push_back(shown);
        const std::string bare = fileNamePart(f.recordName.c_str());
        const int own = exactRecord(records, f.recordName);
        const int found = findRecordIndex(records, bare);
        std::string entryName = f.recordName;
        int record = -1;
        if (found >= 0 && found == own) {
            entryName = bare;
            record = own;
        } else if (!hasFolderPart(f.recordName)) {
            if (found >= 0) {
                plan.refusals.push_back(shown + ": the record " + showName(recordName(records[found])) + " in " +
                                        listPath + " comes first for this file name, so the updater would install "
                                        "the file there; list " + shown + " before it");
                continue;
            }
        } else if (own >= 0) {
            plan.notes.push_back(shown + ": the record " + showName(recordName(records[found])) +
                                 " comes first for its file name, so it is packed under its full path and "
                                 "installed unverified");
        }
        if (own < 0)
            plan.warnings.push_back(shown + ": " + (f.change == FILE_ADDED ? "added" : "changed") + " but not in " +
                                    listPath + ", so it is installed unverified");
        if (hasFolderPart(f.recordName) && !folderExists(oldFolder, folderOf(f.recordName)))
            plan.refusals.push_back(shown + ": its folder " + showName(folderOf(f.recordName)) + " does not exist in " +
                                    oldFolder + "; the updater creates no folders, so every player's update would "
                                    "fail with UPDATE_E_FILE_IO");
        PackItem item;
        fromCp932(entryName, &item.name);
        item.path = f.newPath;
        item.size = f.size;
        plan.items.push_back(item);
        plan.files.push_back(&f);
        plan.records.push_back(record);
    }
    for (const FolderFile& gone : diff.removed)
        plan.warnings.push_back(showName(gone.recordName) + ": in " + oldFolder +
                                " but gone in the new folder; an updater cannot delete files, so players keep it");
    if (packedNames.empty()) {
        plan.refusals.push_back(diff.removed.empty()
                                    ? "nothing to patch: the two folders hold the same files"
                                    : "nothing to patch: no file is new or changed (an updater cannot remove files)");
    } else if (packedNames.size() > kMaxPackedFiles) {
        std::string all;
        for (const std::string& n : packedNames)
            all += (all.empty() ? "" : ", ") + n;
        plan.refusals.push_back(std::to_string(packedNames.size()) + " files are new or changed; an updater carries "
                                "at most " + std::to_string(kMaxPackedFiles) + " besides the hash value list: " + all);
    }
    return plan;
}

} // namespace tool
