// patchtool pack: an updater file from the stub, a hash value list and the
// payload files, refusing before it writes anything what the updater would
// refuse or get wrong.
#include <cstdio>
#include <cstring>

#include "patchtool/commands.h"
#include "patchtool/hash_list_file.h"
#include "patchtool/pack_output.h"
#include "patchtool/pack_plan.h"
#include "patchtool/progress.h"
#include "patchtool/text_codec.h"
#include "patchtool/tool_files.h"
#include "patchtool/tool_platform.h"
#include "payload/entry_name.h"
#include "payload/payload_writer.h"

namespace tool {
namespace {

const char* const kUsage = "patchtool pack -o OUT [--stub FILE] [--hvl FILE] [--layout long|short] [NAME=]PATH...";

const char* const kHelp =
    "Writes an updater: the stub (the updater program), zeros up to 0x40000, then\n"
    "the payload archive with the hash value list first and the files in the\n"
    "order given.\n"
    "\n"
    "  -o OUT           the updater to write; it is written as OUT.partial and\n"
    "                   renamed to OUT only when complete and read back\n"
    "  --stub FILE      the updater program; by default updater.exe from the\n"
    "                   32-bit build: <tool's folder>/../win32/updater.exe, then\n"
    "                   <tool's folder>/updater.exe\n"
    "  --hvl FILE       the hash value list to carry (stored as KVX.hvl, first)\n"
    "  --layout L       long (128-byte entries, names up to 95 bytes; the default)\n"
    "                   or short (32-byte entries, names up to 15 bytes)\n"
    "  [NAME=]PATH      a payload file; it is installed as NAME (UTF-8, stored in\n"
    "                   code page 932; \"/\" or \"\\\" for a folder inside the install\n"
    "                   folder), by default as PATH's file name. A record of the\n"
    "                   list with the same file name, letter case ignored, supplies\n"
    "                   the checksum and the installed name. Split at the first\n"
    "                   \"=\", so a PATH holding \"=\" needs a NAME= in front.\n"
    "\n"
    "Refused, with nothing written: more than 32 entries; a name that does not\n"
    "fit its field, has no code page 932 form, leaves the install folder or is\n"
    "no Windows file name; two files installed under one name (case ignored) or\n"
    "under another's temporary name; uninst.lst; a stub that is no Windows\n"
    "program, is signed, or reaches 0x40000; an entry starting past 2 GiB or an\n"
    "updater reaching 4 GiB; a malformed list; a file whose record in the list\n"
    "has another checksum.\n"
    "\n"
    "patchtool pack --from OLD --to NEW -o OUT packs what changed between two\n"
    "version folders instead (patchtool pack --from --help tells more).\n";

struct PackArgs {
    std::string out, stub, hvl;
    ArchiveLayout layout = ARCHIVE_LAYOUT_LONG;
    std::vector<PackItem> items;
};

int parse(const std::vector<std::string>& args, PackArgs* p)
{
    bool options = true;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (options && a == "--") {
            options = false;
            continue;
        }
        if (options && (a == "-o" || a == "--stub" || a == "--hvl" || a == "--layout")) {
            if (i + 1 >= args.size())
                return usageError("pack", a + " needs a value", kUsage);
            const std::string& v = args[++i];
            std::string* slot = a == "-o" ? &p->out : a == "--stub" ? &p->stub : a == "--hvl" ? &p->hvl : nullptr;
            if (slot) {
                if (!slot->empty())
                    return usageError("pack", a + " given twice", kUsage);
                *slot = v;
            } else if (v == "long") {
                p->layout = ARCHIVE_LAYOUT_LONG;
            } else if (v == "short") {
                p->layout = ARCHIVE_LAYOUT_SHORT;
            } else {
                return usageError("pack", "--layout is long or short, not \"" + v + "\"", kUsage);
            }
            continue;
        }
        if (options && a.size() > 1 && a[0] == '-')
            return usageError("pack", "unknown option " + a, kUsage);
        PackItem item;
        size_t eq = a.find('=');
        if (eq == std::string::npos) {
            item.path = a;
            item.name = fileNameOf(a);
        } else {
            item.name = a.substr(0, eq);
            item.path = a.substr(eq + 1);
            if (item.name.empty() || item.path.empty())
                return usageError("pack", "\"" + a + "\": NAME=PATH needs both a name and a path", kUsage);
        }
        p->items.push_back(item);
    }
    if (p->out.empty())
        return usageError("pack", "no output: -o OUT is required", kUsage);
    if (p->items.empty() && p->hvl.empty())
        return usageError("pack", "no payload files given", kUsage);
    return kExitOk;
}

bool isHashListName(const std::string& utf8)
{
    std::string cp932;
    return toCp932(withBackslashes(utf8), &cp932) && sameName(cp932.c_str(), kHashListName);
}

} // namespace

int runPack(const std::vector<std::string>& args)
{
    for (const std::string& a : args)
        if (a == "--from" || a == "--to")
            return runPackFolders(args);
    if (wantsHelp(args)) {
        std::printf("usage: %s\n\n%s", kUsage, kHelp);
        return kExitOk;
    }
    PackArgs p;
    if (int status = parse(args, &p))
        return status;

    std::vector<std::string> problems;
    // The list goes first. A positional file installed as KVX.hvl is the
    // list, as if given with --hvl; with --hvl as well, the plan refuses
    // the two as one name.
    if (!p.hvl.empty()) {
        PackItem list;
        list.name = "KVX.hvl";
        list.path = p.hvl;
        p.items.insert(p.items.begin(), list);
    } else {
        for (size_t i = 0; i < p.items.size(); ++i) {
            if (isHashListName(p.items[i].name)) {
                PackItem list = p.items[i];
                p.items.erase(p.items.begin() + static_cast<long>(i));
                p.items.insert(p.items.begin(), list);
                p.hvl = list.path;
                break;
            }
        }
    }

    std::vector<std::string> inputs;
    for (PackItem& item : p.items) {
        FileInfo info = fileInfo(item.path);
        if (!info.exists)
            problems.push_back(item.path + ": no such file");
        else if (!info.regular)
            problems.push_back(item.path + ": not a regular file");
        item.size = info.size;
        inputs.push_back(item.path);
    }

    PackRequest request;
    request.layout = p.layout;
    std::vector<uint8_t> stub;
    for (const std::string& problem : readStub(&p.stub, &stub, &request.stubSize))
        problems.push_back(problem);
    if (!p.stub.empty())
        inputs.push_back(p.stub);

    HashListFile list;
    if (!p.hvl.empty()) {
        const uint64_t kLargestList = 64u << 20;
        FileInfo info = fileInfo(p.hvl);
        std::vector<uint8_t> bytes;
        std::string error;
        if (info.regular && info.size > kLargestList) {
            problems.push_back(p.hvl + ": " + std::to_string(info.size) + " bytes is too large for a hash value list");
        } else if (info.regular && !readFileBytes(p.hvl, &bytes, &error)) {
            problems.push_back(error);
        } else if (info.regular && !parseHashList(bytes, &list, &error)) {
            problems.push_back(p.hvl + ": " + error);
        } else if (info.regular) {
            for (const std::string& problem : hashListProblems(list.records, p.hvl))
                problems.push_back(problem);
            request.records = &list.records;
            request.recordsFrom = p.hvl;
        }
    }

    std::string outProblem = outputProblem(p.out);
    if (!outProblem.empty())
        problems.push_back(outProblem);
    for (const std::string& input : inputs)
        if (sameFile(p.out, input) || sameFile(partialPathFor(p.out), input))
            problems.push_back(p.out + ": is also an input (" + input + ")");

    request.items = p.items;
    PackPlan plan;
    for (const std::string& problem : planPack(request, &plan))
        problems.push_back(problem);
    if (!problems.empty()) {
        for (const std::string& problem : problems)
            printProblem("pack", "refused: " + problem);
        return kExitFailed;
    }
    for (const std::string& note : plan.notes)
        printProblem("pack", "note: " + note);

    // Every file's checksum: to hold it against its record now, and against
    // the written updater after.
    std::vector<std::vector<uint8_t>> sums(plan.entries.size(), std::vector<uint8_t>(8));
    {
        uint64_t total = 0;
        for (const PlannedEntry& e : plan.entries)
            total += e.size;
        Progress progress("checking", total);
        for (size_t i = 0; i < plan.entries.size(); ++i) {
            const PlannedEntry& e = plan.entries[i];
            progress.setItem(e.path);
            std::string error;
            if (!checksumFile(e.path, sums[i].data(), &progress, &error)) {
                problems.push_back(error);
                continue;
            }
            if (e.record >= 0) {
                const HashValueRecord& record = list.records[static_cast<size_t>(e.record)];
                if (std::memcmp(record.checksum, sums[i].data(), 8) != 0)
                    problems.push_back(e.path + ": its checksum is " + checksumHex(sums[i].data()) + ", but its record \"" +
                                       showName(e.installedName) + "\" in " + p.hvl + " says " +
                                       checksumHex(record.checksum) + " (the updater would stop with UPDATE_E_PAYLOAD)");
            }
        }
    }
    if (!problems.empty()) {
        for (const std::string& problem : problems)
            printProblem("pack", "refused: " + problem);
        return kExitFailed;
    }

    std::vector<PackEntry> entries;
    for (const PlannedEntry& e : plan.entries) {
        PackEntry entry;
        entry.name = e.storedName;
        if (!corePath(e.path, &entry.sourcePath)) {
            printProblem("pack", e.path + ": this path cannot be opened here (not in the ANSI code page)");
            return kExitFailed;
        }
        entries.push_back(entry);
    }
    PackOptions options;
    options.layout = p.layout;
    options.stub = stub;

    UpdaterReport report;
    std::string failure =
        writePlannedUpdater(p.out, plan, entries, options, request.records != nullptr, sums, &report);
    if (!failure.empty()) {
        printProblem("pack", failure + "; nothing written");
        return kExitFailed;
    }

    std::printf("packed %s: %zu entries, %s layout, data area at 0x%x, %u bytes\n", p.out.c_str(),
                plan.entries.size(), layoutName(p.layout), plan.dataStart, plan.fileSize);
    std::printf("stub: %s (%zu bytes)\n", p.stub.c_str(), stub.size());
    printEntries(report);
    return kExitOk;
}

} // namespace tool
