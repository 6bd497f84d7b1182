#include "patchtool/prove.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "patchtool/commands.h"
#include "patchtool/hash_list_file.h"
#include "patchtool/progress.h"
#include "patchtool/text_codec.h"
#include "patchtool/tool_files.h"
#include "payload/payload_writer.h"

namespace fs = std::filesystem;

namespace tool {
namespace {

// The record-style name (code page 932, "\" separators) of a path below
// root; empty when it has none.
std::string relativeName(const fs::path& path, const fs::path& root)
{
    std::string name;
    if (!toCp932(withBackslashes(path.lexically_relative(root).u8string()), &name))
        return std::string();
    return name;
}

fs::path pathOf(const fs::path& root, const std::string& name)
{
    std::string utf8;
    fromCp932(name, &utf8);
    for (char& c : utf8)
        if (c == '\\')
            c = '/';
    return root / fs::u8path(utf8);
}

// Every name the run may create, write or move over: each installed file
// and its ".tmp", the bookkeeping files and their side files. Those get
// real copies; a hard link there would let the run reach OLD's file.
std::set<std::string> namesTheRunWrites(const std::vector<std::string>& installed)
{
    std::set<std::string> names = {"kvx.hvl", "kvx.new", "uninst.lst", "uninst.new"};
    for (const std::string& n : installed) {
        names.insert(lowered(n));
        names.insert(lowered(n + ".tmp"));
    }
    return names;
}

std::string makeScratchCopy(const ProofRequest& request, ProofReport* report)
{
    const fs::path root = fs::u8path(request.oldFolder), scratch = fs::u8path(request.scratch);
    const std::set<std::string> written = namesTheRunWrites(request.installedNames);
    std::error_code ec;
    if (!fs::create_directory(scratch, ec) || ec)
        return request.scratch + ": cannot create the scratch folder (" + ec.message() + ")";
    fs::recursive_directory_iterator it(root, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const fs::path target = scratch / it->path().lexically_relative(root);
        std::error_code e;
        if (it->is_directory(e) && !it->is_symlink(e)) {
            fs::create_directory(target, e);
        } else if (it->is_regular_file(e)) {
            const std::string name = relativeName(it->path(), root);
            bool linked = false;
            if (!name.empty() && !written.count(lowered(name)) && !it->is_symlink(e)) {
                fs::create_hard_link(it->path(), target, e);
                linked = !e;
                e.clear();
            }
            if (linked) {
                ++report->linked;
            } else {
                fs::copy_file(it->path(), target, e);
                ++report->copied;
                report->copiedBytes += e ? 0 : it->file_size(e);
            }
        }
        if (e)
            return it->path().u8string() + ": cannot copy it into the scratch folder (" + e.message() + ")";
    }
    if (ec)
        return request.oldFolder + ": cannot read the folder (" + ec.message() + ")";
    return std::string();
}

// An install as players have it always holds uninst.lst; a version folder
// may not. Then the scratch copy gets one naming OLD's files.
void addUninstallList(const ProofRequest& request, ProofReport* report)
{
    if (fileInfo((fs::u8path(request.oldFolder) / "uninst.lst").u8string()).exists)
        return;
    std::string text;
    std::vector<std::string> problems;
    for (const FolderFile& f : listGameFolder(request.oldFolder, {}, &problems))
        text += f.recordName + "\n";
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    std::string error;
    writeFileReplacing((fs::u8path(request.scratch) / "uninst.lst").u8string(), bytes, &error);
    report->madeUninstallList = true;
}

// uninst.lst as the run leaves it: the old text (up to its final NUL) and a
// line for every installed name it does not contain yet.
std::vector<uint8_t> expectedUninstallList(const std::vector<uint8_t>& before, const std::vector<std::string>& installed)
{
    std::string text(before.begin(), before.end());
    if (!text.empty() && text.back() == '\0')
        text.pop_back();
    for (const std::string& name : installed)
        if (text.find(name) == std::string::npos)
            text += name + "\n";
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

// KVX.hvl as the run leaves it: the carried list's header and its records
// whose files exist in the folder.
std::vector<uint8_t> expectedHashList(const std::vector<uint8_t>& carried, const fs::path& folder)
{
    HashListFile list;
    std::string problem;
    if (!parseHashList(carried, &list, &problem))
        return carried;
    std::vector<HashValueRecord> kept;
    for (const HashValueRecord& r : list.records) {
        std::error_code ec;
        if (fs::exists(pathOf(folder, recordName(r)), ec))
            kept.push_back(r);
    }
    uint32_t reserved = static_cast<uint32_t>(list.header[8]) | static_cast<uint32_t>(list.header[9]) << 8 |
                        static_cast<uint32_t>(list.header[10]) << 16 | static_cast<uint32_t>(list.header[11]) << 24;
    return buildHashValueList(kept, reserved);
}

std::string differingBytes(const std::string& name, const std::vector<uint8_t>& actual,
                           const std::vector<uint8_t>& expected)
{
    size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at])
        ++at;
    return showName(name) + ": differs from what the run should leave at byte " + std::to_string(at) + " (" +
           std::to_string(actual.size()) + " bytes, expected " + std::to_string(expected.size()) + ")";
}

std::string compareResult(const ProofRequest& request, const std::vector<uint8_t>& uninstallBefore,
                          ProofReport* report)
{
    const fs::path scratch = fs::u8path(request.scratch);
    // What must be there: NEW's files (compared with NEW unless still
    // OLD's own unchanged file), OLD's removed files (as OLD had them).
    struct Expected {
        std::string from;      // the file whose content it must have
        bool unchanged;        // equal to OLD's file of the same name
        std::string oldPath;
        uint64_t size;
    };
    std::map<std::string, std::pair<std::string, Expected>> expected;
    for (const TreeFile& f : request.diff->files)
        expected[lowered(f.recordName)] = {f.recordName, {f.newPath, f.change == FILE_UNCHANGED, f.oldPath, f.size}};
    for (const FolderFile& f : request.diff->removed)
        expected[lowered(f.recordName)] = {f.recordName, {f.path, true, f.path, f.size}};

    std::vector<std::pair<std::string, fs::path>> found;
    std::error_code ec;
    fs::recursive_directory_iterator it(scratch, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code e;
        if (it->is_regular_file(e))
            found.push_back({relativeName(it->path(), scratch), it->path()});
    }
    if (ec)
        return request.scratch + ": cannot read the result (" + ec.message() + ")";
    std::sort(found.begin(), found.end());

    uint64_t total = 0;
    for (const auto& f : found) {
        auto e = expected.find(lowered(f.first));
        if (e != expected.end() && !(e->second.second.unchanged && sameFile(f.second.u8string(), e->second.second.oldPath)))
            total += e->second.second.size;
    }
    Progress progress("proving", total);
    for (const auto& f : found) {
        const std::string& name = f.first;
        const std::string key = lowered(name);
        ++report->checked;
        if (key == "kvx.hvl" || key == "uninst.lst") {
            std::vector<uint8_t> actual, wanted;
            std::string error;
            if (!readFileBytes(f.second.u8string(), &actual, &error))
                return error;
            wanted = key == "kvx.hvl" ? expectedHashList(request.list, scratch)
                                      : expectedUninstallList(uninstallBefore, request.installedNames);
            if (actual != wanted)
                return differingBytes(name, actual, wanted);
            continue;
        }
        auto e = expected.find(key);
        if (e == expected.end())
            return showName(name) + ": left in the result, but the new version has no such file";
        const Expected want = e->second.second;
        if (e->second.first != name)
            return showName(name) + ": in the result under this letter case, the new version has " +
                   showName(e->second.first);
        expected.erase(e);
        // OLD's unchanged file, still the same file: the run never opened it.
        if (want.unchanged && sameFile(f.second.u8string(), want.oldPath))
            continue;
        progress.setItem(showName(name));
        FileInfo info = fileInfo(f.second.u8string());
        uint8_t sum[8];
        bool same = false;
        std::string error;
        if (info.size != want.size)
            return showName(name) + ": " + std::to_string(info.size) + " bytes after the run, the new version's has " +
                   std::to_string(want.size);
        if (!checksumAndCompare(f.second.u8string(), want.from, info.size, sum, &same, &progress, &error))
            return error;
        report->readBytes += info.size;
        if (!same)
            return showName(name) + ": its content after the run differs from " + want.from;
    }
    if (!expected.empty())
        return showName(expected.begin()->second.first) + ": missing from the result";
    return std::string();
}

} // namespace

std::string proveUpdater(const ProofRequest& request, ProofReport* report)
{
    *report = ProofReport();
    std::string failure = makeScratchCopy(request, report);
    if (failure.empty())
        addUninstallList(request, report);
    std::vector<uint8_t> uninstallBefore;
    std::string error;
    if (failure.empty() && !readFileBytes((fs::u8path(request.scratch) / "uninst.lst").u8string(), &uninstallBefore, &error))
        failure = error;
    if (failure.empty()) {
        UpdateResult result = UPDATE_E_PAYLOAD;
        if (!applyUpdaterRun(request.updater, request.scratch, false, &result, &failure))
            failure = "the updater's run cannot start: " + failure;
        else if (result != UPDATE_OK)
            failure = std::string("the updater's run on the copy of the old version ended with ") +
                      updateResultName(result);
    }
    if (failure.empty())
        failure = compareResult(request, uninstallBefore, report);
    std::error_code ec;
    fs::remove_all(fs::u8path(request.scratch), ec);
    return failure;
}

} // namespace tool
