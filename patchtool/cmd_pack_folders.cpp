// patchtool pack --from OLD --to NEW: the updater that turns one version
// folder into the next. Compares the folders by content, packs exactly the
// new and changed files with NEW's hash value list first, refuses before
// writing what would break the update on the players' machines, and with
// --prove applies the result to a scratch copy of OLD and checks it
// against NEW.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "patchtool/commands.h"
#include "patchtool/folder_pack.h"
#include "patchtool/hash_list_file.h"
#include "patchtool/pack_output.h"
#include "patchtool/prove.h"
#include "patchtool/text_codec.h"
#include "patchtool/tool_files.h"
#include "patchtool/tool_platform.h"
#include "payload/entry_name.h"
#include "payload/payload_writer.h"

namespace fs = std::filesystem;

namespace tool {
namespace {

const char* const kUsage = "patchtool pack --from OLD --to NEW -o OUT [--stub FILE] [--layout long|short] "
                           "[--plan [--json]] [--prove] [--strict]";

const char* const kHelp =
    "Writes the updater that turns the version folder OLD into NEW: the files\n"
    "of NEW that are new or differ from OLD's (compared by content), each\n"
    "installed at its path in NEW, with NEW's hash value list first: NEW's own\n"
    "KVX.hvl when it has one (it must match NEW's files), else one made as\n"
    "hvl make does. A file in a sub-folder is entered under its bare name, so\n"
    "that its record supplies the checksum and the folder, when that record is\n"
    "the first one with that file name; otherwise under its full path, and\n"
    "unverified. The same two folders always give the same bytes.\n"
    "\n"
    "  -o OUT        the updater to write (not needed with --plan)\n"
    "  --stub FILE   the updater program (default as for pack)\n"
    "  --layout L    long (the default) or short\n"
    "  --plan        print what would be packed, write nothing: changed, added,\n"
    "                removed, the unchanged count, the payload's size and the\n"
    "                record that verifies each file; --json for a machine\n"
    "  --prove       after writing OUT, apply it with the updater's own run to\n"
    "                a scratch copy of OLD (OUT.proof, removed afterwards;\n"
    "                unchanged files are hard links) and check that the result\n"
    "                is NEW file for file; OUT is removed if it is not\n"
    "  --strict      refuse where it would warn\n"
    "\n"
    "Refused, with nothing written: more than 31 new or changed files (the\n"
    "list is the 32nd entry); a new file in a folder OLD lacks (the updater\n"
    "creates none); NEW's KVX.hvl disagreeing with NEW's files; two identical\n"
    "folders; everything pack refuses. Warned (refused with --strict): files\n"
    "of OLD gone in NEW (an updater cannot delete them) and new or changed\n"
    "files NEW's list does not name (installed unverified).\n";

struct FolderArgs {
    std::string from, to, out, stub;
    ArchiveLayout layout = ARCHIVE_LAYOUT_LONG;
    bool plan = false, json = false, prove = false, strict = false;
};

int parse(const std::vector<std::string>& args, FolderArgs* p)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--plan" || a == "--json" || a == "--prove" || a == "--strict") {
            bool* flag = a == "--plan" ? &p->plan : a == "--json" ? &p->json : a == "--prove" ? &p->prove : &p->strict;
            *flag = true;
            continue;
        }
        if (a == "--from" || a == "--to" || a == "-o" || a == "--stub" || a == "--layout") {
            if (i + 1 >= args.size())
                return usageError("pack", a + " needs a value", kUsage);
            const std::string& v = args[++i];
            std::string* slot = a == "--from" ? &p->from : a == "--to" ? &p->to : a == "-o" ? &p->out
                              : a == "--stub" ? &p->stub : nullptr;
            if (slot) {
                if (!slot->empty())
                    return usageError("pack", a + " given twice", kUsage);
                *slot = v;
            } else if (v == "long" || v == "short") {
                p->layout = v == "long" ? ARCHIVE_LAYOUT_LONG : ARCHIVE_LAYOUT_SHORT;
            } else {
                return usageError("pack", "--layout is long or short, not \"" + v + "\"", kUsage);
            }
            continue;
        }
        return usageError("pack", "unexpected \"" + a + "\": with --from and --to the files come from the folders",
                          kUsage);
    }
    if (p->from.empty() || p->to.empty())
        return usageError("pack", "--from OLD and --to NEW go together", kUsage);
    if (p->out.empty() && !p->plan)
        return usageError("pack", "no output: -o OUT is required (or --plan)", kUsage);
    if (p->json && !p->plan)
        return usageError("pack", "--json goes with --plan", kUsage);
    if (p->prove && p->plan)
        return usageError("pack", "--plan writes nothing, so there is nothing to prove", kUsage);
    return kExitOk;
}

// NEW's own list: a top-level file named KVX.hvl in any letter case.
std::string ownListOf(const std::string& folder)
{
    std::error_code ec;
    for (fs::directory_iterator it(fs::u8path(folder), ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().u8string();
        std::error_code e;
        if (it->is_regular_file(e) && sameName(name.c_str(), kHashListName))
            return it->path().u8string();
    }
    return std::string();
}

// 1 when path lies below folder (both need not exist yet).
bool isInside(const std::string& path, const std::string& folder)
{
    std::error_code ec1, ec2;
    fs::path p = fs::weakly_canonical(fs::absolute(fs::u8path(path), ec1), ec1);
    fs::path f = fs::weakly_canonical(fs::absolute(fs::u8path(folder), ec2), ec2);
    if (ec1 || ec2)
        return false;
    fs::path relative = p.lexically_relative(f);
    return !relative.empty() && *relative.begin() != "..";
}

std::string jsonText(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string jsonList(const std::vector<std::string>& items)
{
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i)
        out += (i ? ", " : "") + jsonText(items[i]);
    return out + "]";
}

struct Outcome {
    const FolderArgs* args;
    const TreeDiff* diff;
    const FolderPlan* folders;
    const PackPlan* pack;
    const std::vector<HashValueRecord>* records;
    std::string listFrom;
    bool listMade;
    std::vector<std::string> refusals, warnings;
};

std::string recordText(const Outcome& o, size_t i)
{
    int r = o.folders->records[i];
    if (r < 0)
        return std::string();
    return showName(recordName((*o.records)[static_cast<size_t>(r)]));
}

uint64_t payloadBytes(const Outcome& o)
{
    uint64_t total = 0;
    for (const PackItem& item : o.folders->items)
        total += item.size;
    return total;
}

void printPlanText(const Outcome& o)
{
    const FolderPlan& f = *o.folders;
    std::printf("plan: %s -> %s\n", o.args->from.c_str(), o.args->to.c_str());
    std::printf("hash value list: %s, %zu records\n", o.listFrom.c_str(), o.records->size());
    for (size_t i = 0; i < f.items.size(); ++i) {
        const TreeFile* file = f.files[i];
        const char* what = !file ? "list" : file->change == FILE_ADDED ? "added" : "changed";
        std::string name = file ? showName(file->recordName) : "KVX.hvl";
        std::string entry = f.items[i].name != name ? " (entry " + f.items[i].name + ")" : "";
        std::string record = recordText(o, i);
        std::string check = !file ? "carries the records" : record.empty() ? "unverified"
                          : "verified by record " + record + " " +
                                checksumHex((*o.records)[static_cast<size_t>(f.records[i])].checksum);
        std::printf("  %-8s %s%s, %llu bytes, %s\n", what, name.c_str(), entry.c_str(),
                    static_cast<unsigned long long>(f.items[i].size), check.c_str());
    }
    for (const FolderFile& gone : o.diff->removed)
        std::printf("  %-8s %s (stays on the players' machines)\n", "removed", showName(gone.recordName).c_str());
    std::printf("unchanged: %zu files\n", f.unchanged);
    std::printf("payload: %zu entries, %llu bytes of data; the updater: %u bytes\n", f.items.size(),
                static_cast<unsigned long long>(payloadBytes(o)), o.pack->fileSize);
}

void printPlanJson(const Outcome& o)
{
    const FolderPlan& f = *o.folders;
    std::vector<std::string> changed, added;
    for (size_t i = 1; i < f.items.size(); ++i) {
        const TreeFile* file = f.files[i];
        std::string record = recordText(o, i);
        std::string line = "{\"name\": " + jsonText(showName(file->recordName)) + ", \"entry\": " +
                           jsonText(f.items[i].name) + ", \"size\": " + std::to_string(file->size) +
                           ", \"checksum\": " + jsonText(checksumHex(file->checksum)) + ", \"record\": " +
                           (record.empty() ? "null" : jsonText(record)) + "}";
        (file->change == FILE_ADDED ? added : changed).push_back(line);
    }
    auto objects = [](const std::vector<std::string>& items) {
        std::string out = "[";
        for (size_t i = 0; i < items.size(); ++i)
            out += (i ? ",\n    " : "\n    ") + items[i];
        return out + (items.empty() ? "]" : "\n  ]");
    };
    std::vector<std::string> removed;
    for (const FolderFile& gone : o.diff->removed)
        removed.push_back(showName(gone.recordName));
    std::printf("{\n");
    std::printf("  \"from\": %s,\n  \"to\": %s,\n", jsonText(o.args->from).c_str(), jsonText(o.args->to).c_str());
    std::printf("  \"list\": {\"from\": %s, \"made\": %s, \"records\": %zu, \"size\": %llu},\n",
                jsonText(o.listFrom).c_str(), o.listMade ? "true" : "false", o.records->size(),
                static_cast<unsigned long long>(f.items[0].size));
    std::printf("  \"changed\": %s,\n", objects(changed).c_str());
    std::printf("  \"added\": %s,\n", objects(added).c_str());
    std::printf("  \"removed\": %s,\n", jsonList(removed).c_str());
    std::printf("  \"unchanged\": %zu,\n", f.unchanged);
    std::printf("  \"entries\": %zu,\n  \"payload_bytes\": %llu,\n  \"updater_bytes\": %u,\n", f.items.size(),
                static_cast<unsigned long long>(payloadBytes(o)), o.pack->fileSize);
    std::printf("  \"warnings\": %s,\n", jsonList(o.warnings).c_str());
    std::printf("  \"notes\": %s,\n", jsonList(f.notes).c_str());
    std::printf("  \"refusals\": %s,\n", jsonList(o.refusals).c_str());
    std::printf("  \"ok\": %s\n}\n", o.refusals.empty() ? "true" : "false");
}

int refuse(const std::vector<std::string>& refusals)
{
    for (const std::string& r : refusals)
        printProblem("pack", "refused: " + r);
    return kExitFailed;
}

} // namespace

int runPackFolders(const std::vector<std::string>& args)
{
    if (wantsHelp(args)) {
        std::printf("usage: %s\n\n%s", kUsage, kHelp);
        return kExitOk;
    }
    FolderArgs p;
    if (int status = parse(args, &p))
        return status;

    std::vector<std::string> refusals;
    for (const std::string* folder : {&p.from, &p.to})
        if (!fileInfo(*folder).directory)
            refusals.push_back(*folder + ": not a folder");
    const std::string scratch = p.out + ".proof";
    std::vector<std::string> skip;
    if (!p.out.empty()) {
        std::string problem = outputProblem(p.out);
        if (!problem.empty())
            refusals.push_back(problem);
        skip = {p.out, partialPathFor(p.out), scratch};
        if (p.prove && fileInfo(scratch).exists)
            refusals.push_back(scratch + ": exists; the proof makes its scratch copy there (remove it first)");
        if (p.prove && isInside(p.out, p.from))
            refusals.push_back(p.out + ": inside " + p.from + ", where the proof's scratch copy of it cannot go");
    }
    if (!refusals.empty())
        return refuse(refusals);

    PackRequest request;
    request.layout = p.layout;
    std::vector<uint8_t> stub;
    for (const std::string& problem : readStub(&p.stub, &stub, &request.stubSize))
        refusals.push_back(problem);

    TreeDiff diff;
    if (!compareTrees(p.from, p.to, skip, &diff, &refusals))
        return refuse(refusals);

    // The list: NEW's own, which must describe NEW, or one made from it.
    std::vector<HashValueRecord> records;
    std::vector<uint8_t> listBytes;
    std::string listPath = ownListOf(p.to);
    const bool listMade = listPath.empty();
    if (listMade) {
        for (const TreeFile& f : diff.files) {
            HashValueRecord r;
            std::memset(&r, 0, sizeof r);
            std::memcpy(r.name, f.recordName.data(), f.recordName.size());
            std::memcpy(r.checksum, f.checksum, 8);
            records.push_back(r);
        }
        listBytes = buildHashValueList(records);
        listPath = "the list made from " + p.to;
    } else {
        HashListFile list;
        std::string error;
        if (!readFileBytes(listPath, &listBytes, &error)) {
            refusals.push_back(error);
        } else if (!parseHashList(listBytes, &list, &error)) {
            refusals.push_back(listPath + ": " + error);
        } else {
            records = list.records;
            for (const std::string& d : listDifferences(records, diff, listPath))
                refusals.push_back(d + " (the list must describe the new version's files)");
        }
    }

    FolderPlan folders = planFolderPack(diff, records, listPath, listBytes.size(), p.from);
    for (const std::string& r : folders.refusals)
        refusals.push_back(r);
    request.items = folders.items;
    request.records = &records;
    request.recordsFrom = listPath;
    PackPlan plan;
    if (folders.items.size() > 1)
        for (const std::string& problem : planPack(request, &plan))
            refusals.push_back(problem);
    std::vector<std::string> warnings = folders.warnings;
    if (p.strict) {
        for (const std::string& w : warnings)
            refusals.push_back(w + " (--strict)");
        warnings.clear();
    }

    Outcome outcome{&p, &diff, &folders, &plan, &records, listPath, listMade, refusals, warnings};
    if (p.plan) {
        if (p.json) {
            printPlanJson(outcome);
        } else {
            printPlanText(outcome);
            for (const std::string& w : warnings)
                printProblem("pack", "warning: " + w);
            for (const std::string& n : folders.notes)
                printProblem("pack", "note: " + n);
            for (const std::string& r : refusals)
                printProblem("pack", "refused: " + r);
        }
        return refusals.empty() ? kExitOk : kExitFailed;
    }
    for (const std::string& w : warnings)
        printProblem("pack", "warning: " + w);
    if (!refusals.empty())
        return refuse(refusals);
    for (const std::string& n : folders.notes)
        printProblem("pack", "note: " + n);

    std::vector<PackEntry> entries;
    std::vector<std::vector<uint8_t>> sums;
    for (size_t i = 0; i < plan.entries.size(); ++i) {
        PackEntry entry;
        entry.name = plan.entries[i].storedName;
        std::vector<uint8_t> sum(8);
        if (i == 0) {
            entry.data = listBytes;
            FileChecksum listSum;
            listSum.update(listBytes.data(), listBytes.size());
            listSum.store(sum.data());
        } else {
            std::memcpy(sum.data(), folders.files[i]->checksum, 8);
            if (!corePath(plan.entries[i].path, &entry.sourcePath)) {
                printProblem("pack", plan.entries[i].path + ": this path cannot be opened here (not in the ANSI code page)");
                return kExitFailed;
            }
        }
        entries.push_back(entry);
        sums.push_back(sum);
    }
    PackOptions options;
    options.layout = p.layout;
    options.stub = stub;
    UpdaterReport report;
    std::string failure = writePlannedUpdater(p.out, plan, entries, options, true, sums, &report);
    if (!failure.empty()) {
        printProblem("pack", failure + "; nothing written");
        return kExitFailed;
    }
    std::printf("packed %s from %s -> %s: %zu changed, %zu added, %zu unchanged, %zu removed; %zu entries, %s "
                "layout, %u bytes\n",
                p.out.c_str(), p.from.c_str(), p.to.c_str(), folders.changed, folders.added, folders.unchanged,
                diff.removed.size(), plan.entries.size(), layoutName(p.layout), plan.fileSize);
    std::printf("hash value list: %s, %zu records\n", listPath.c_str(), records.size());
    printEntries(report);
    if (!p.prove)
        return kExitOk;

    ProofRequest proof;
    proof.updater = p.out;
    proof.oldFolder = p.from;
    proof.newFolder = p.to;
    proof.scratch = scratch;
    proof.diff = &diff;
    proof.list = listBytes;
    for (const EntryReport& e : report.entries)
        proof.installedNames.push_back(e.installedName);
    ProofReport proved;
    failure = proveUpdater(proof, &proved);
    if (!failure.empty()) {
        removeFile(p.out);
        printProblem("pack", "the proof failed: " + failure + "; " + p.out + " removed");
        return kExitFailed;
    }
    if (proved.madeUninstallList)
        std::printf("proof: %s has no uninst.lst; the scratch copy got one naming its files\n", p.from.c_str());
    std::printf("proof: ok: the updater's run on a copy of %s (%zu files linked, %zu copied, %llu MiB) gives %s "
                "file for file (%zu files checked, %llu MiB read)\n",
                p.from.c_str(), proved.linked, proved.copied,
                static_cast<unsigned long long>(proved.copiedBytes >> 20), p.to.c_str(), proved.checked,
                static_cast<unsigned long long>(proved.readBytes >> 20));
    return kExitOk;
}

} // namespace tool
