// patchtool hvl make / show / check: hash value lists of game folders.
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "patchtool/commands.h"
#include "patchtool/hash_list_file.h"
#include "patchtool/install_name.h"
#include "patchtool/progress.h"
#include "patchtool/text_codec.h"
#include "patchtool/tool_files.h"
#include "payload/payload_writer.h"

namespace tool {
namespace {

const char* const kUsage = "patchtool hvl make DIR -o FILE | hvl show FILE | hvl check DIR FILE";

const char* const kHelp =
    "  hvl make DIR -o FILE   a list of every file below DIR: records named by\n"
    "                         the path relative to DIR with \"\\\" between folders\n"
    "                         (bare names for top-level files), sorted by name\n"
    "                         ignoring case, so two versions diff line by line.\n"
    "                         DIR's own KVX.hvl and uninst.lst are left out (the\n"
    "                         updater rewrites both). Refuses names over 55 bytes\n"
    "                         in code page 932 or without a code page 932 form.\n"
    "  hvl show FILE          the header and every record with its checksum\n"
    "  hvl check DIR FILE     which listed files are missing in DIR or differ\n"
    "                         from their record (a support check of a player's\n"
    "                         install); fails when any is\n";

int readList(const char* command, const std::string& path, HashListFile* list)
{
    std::vector<uint8_t> bytes;
    std::string error;
    if (!readFileBytes(path, &bytes, &error)) {
        printProblem(command, error);
        return 0;
    }
    if (!parseHashList(bytes, list, &error)) {
        printProblem(command, path + ": " + error);
        return 0;
    }
    return 1;
}

int make(const std::vector<std::string>& args)
{
    std::string dir, out;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" && i + 1 < args.size() && out.empty())
            out = args[++i];
        else if (args[i].size() > 1 && args[i][0] == '-')
            return usageError("hvl make", "unexpected " + args[i], "patchtool hvl make DIR -o FILE");
        else if (dir.empty())
            dir = args[i];
        else
            return usageError("hvl make", "one folder only", "patchtool hvl make DIR -o FILE");
    }
    if (dir.empty() || out.empty())
        return usageError("hvl make", "needs a folder and -o FILE", "patchtool hvl make DIR -o FILE");
    if (!fileInfo(dir).directory) {
        printProblem("hvl make", dir + ": not a folder");
        return kExitFailed;
    }
    std::string problem = outputProblem(out);
    if (!problem.empty()) {
        printProblem("hvl make", problem);
        return kExitFailed;
    }
    std::vector<std::string> problems;
    std::vector<FolderFile> files = listGameFolder(dir, {out, partialPathFor(out)}, &problems);
    if (!problems.empty()) {
        for (const std::string& p : problems)
            printProblem("hvl make", "refused: " + p);
        return kExitFailed;
    }
    uint64_t total = 0;
    for (const FolderFile& f : files)
        total += f.size;
    std::vector<HashValueRecord> records;
    {
        Progress progress("checksumming", total);
        for (const FolderFile& f : files) {
            progress.setItem(f.path);
            HashValueRecord record;
            std::memset(&record, 0, sizeof record);
            std::memcpy(record.name, f.recordName.data(), f.recordName.size());
            std::string error;
            if (!checksumFile(f.path, record.checksum, &progress, &error)) {
                printProblem("hvl make", error);
                return kExitFailed;
            }
            records.push_back(record);
        }
    }
    std::string error;
    if (!writeFileReplacing(out, buildHashValueList(records), &error)) {
        printProblem("hvl make", error + "; nothing written");
        return kExitFailed;
    }
    std::printf("wrote %s: %zu records\n", out.c_str(), records.size());
    for (const HashValueRecord& r : records)
        std::printf("  %s  %s\n", checksumHex(r.checksum).c_str(), showName(recordName(r)).c_str());
    return kExitOk;
}

int show(const std::vector<std::string>& args)
{
    if (args.size() != 1)
        return usageError("hvl show", "expects one list", "patchtool hvl show FILE");
    HashListFile list;
    if (!readList("hvl show", args[0], &list))
        return kExitFailed;
    std::printf("hash value list: %s\n", args[0].c_str());
    std::printf("reserved (offset 8): %02x %02x %02x %02x\n", list.header[8], list.header[9], list.header[10],
                list.header[11]);
    std::printf("records: %zu\n", list.records.size());
    if (list.trailingBytes)
        std::printf("after the records: %llu bytes the updater ignores\n",
                    static_cast<unsigned long long>(list.trailingBytes));
    for (const HashValueRecord& r : list.records)
        std::printf("  %s  %s%s\n", checksumHex(r.checksum).c_str(), showName(recordName(r)).c_str(),
                    recordHasName(r) ? "" : "  (no NUL in the name field: never used)");
    return kExitOk;
}

int check(const std::vector<std::string>& args)
{
    if (args.size() != 2)
        return usageError("hvl check", "expects a folder and a list", "patchtool hvl check DIR FILE");
    const std::string& dir = args[0];
    if (!fileInfo(dir).directory) {
        printProblem("hvl check", dir + ": not a folder");
        return kExitFailed;
    }
    HashListFile list;
    if (!readList("hvl check", args[1], &list))
        return kExitFailed;
    unsigned ok = 0, missing = 0, differs = 0, unusable = 0;
    uint64_t total = 0;
    std::vector<std::string> paths(list.records.size());
    for (size_t i = 0; i < list.records.size(); ++i) {
        std::string name = recordName(list.records[i]), utf8;
        if (!recordHasName(list.records[i]) || !installNameProblem(name).empty() || !fromCp932(name, &utf8))
            continue;
        std::string relative = utf8;
        for (char& c : relative)
            if (c == '\\')
                c = '/';
        paths[i] = (std::filesystem::u8path(dir) / std::filesystem::u8path(relative)).u8string();
        total += fileInfo(paths[i]).size;
    }
    Progress progress("checking", total);
    for (size_t i = 0; i < list.records.size(); ++i) {
        const HashValueRecord& r = list.records[i];
        std::string shown = showName(recordName(r));
        if (paths[i].empty()) {
            ++unusable;
            std::printf("unusable  %s (a name no file in the folder can have)\n", shown.c_str());
            continue;
        }
        FileInfo info = fileInfo(paths[i]);
        if (!info.regular) {
            ++missing;
            std::printf("missing   %s\n", shown.c_str());
            continue;
        }
        progress.setItem(shown);
        uint8_t sum[8];
        std::string error;
        if (!checksumFile(paths[i], sum, &progress, &error)) {
            ++differs;
            std::printf("differs   %s (%s)\n", shown.c_str(), error.c_str());
        } else if (std::memcmp(sum, r.checksum, 8) != 0) {
            ++differs;
            std::printf("differs   %s (checksum %s, the list says %s)\n", shown.c_str(), checksumHex(sum).c_str(),
                        checksumHex(r.checksum).c_str());
        } else {
            ++ok;
            std::printf("ok        %s\n", shown.c_str());
        }
    }
    bool good = missing + differs + unusable == 0;
    std::string unusableNote = unusable ? ", " + std::to_string(unusable) + " unusable" : "";
    std::printf("hvl check: %s: %u ok, %u missing, %u differ%s\n", good ? "ok" : "FAILED", ok, missing, differs,
                unusableNote.c_str());
    return good ? kExitOk : kExitFailed;
}

} // namespace

int runHvl(const std::vector<std::string>& args)
{
    if (args.empty())
        return usageError("hvl", "make, show or check?", kUsage);
    if (args[0] == "--help" || args[0] == "-h") {
        std::printf("usage: %s\n\n%s", kUsage, kHelp);
        return kExitOk;
    }
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (wantsHelp(rest)) {
        std::printf("usage: %s\n\n%s", kUsage, kHelp);
        return kExitOk;
    }
    if (args[0] == "make")
        return make(rest);
    if (args[0] == "show")
        return show(rest);
    if (args[0] == "check")
        return check(rest);
    return usageError("hvl", "unknown subcommand \"" + args[0] + "\"", kUsage);
}

} // namespace tool
