// patchtool list and verify: an updater file as the updater reads it.
#include <cstdio>

#include "patchtool/commands.h"
#include "patchtool/hash_list_file.h"
#include "patchtool/install_name.h"
#include "patchtool/text_codec.h"
#include "patchtool/tool_files.h"

namespace tool {
namespace {

const char* const kListUsage = "patchtool list UPDATER";
const char* const kVerifyUsage = "patchtool verify UPDATER";

// Opens and loads UPDATER; prints the header lines. 0 when the table is
// unreadable (the message says why).
int loadReport(const char* command, const std::vector<std::string>& args, const char* usage, bool readData,
               UpdaterReport* report, int* status)
{
    if (args.size() != 1 || (args[0].size() > 1 && args[0][0] == '-')) {
        *status = usageError(command, args.empty() ? "no updater given" : "expects exactly one updater", usage);
        return 0;
    }
    const std::string& path = args[0];
    FileInfo info = fileInfo(path);
    if (!info.regular || !readUpdaterReport(path, readData, report)) {
        printProblem(command, path + ": " + (!info.exists ? "no such file" : !info.regular ? "not a regular file"
                                                                                           : "cannot open for reading"));
        *status = kExitFailed;
        return 0;
    }
    if (report->loadResult != UPDATE_OK) {
        std::string why = report->loadResult == UPDATE_E_TOO_MANY_ENTRIES
                              ? "its archive header declares more than 32 entries"
                              : info.size <= 0x40000 ? "it ends at or before 0x40000, where the payload starts"
                                                     : "its archive header or entry table is short or unreadable";
        printProblem(command, path + ": " + why + " (the updater reports " + updateResultName(report->loadResult) + ")");
        *status = kExitFailed;
        return 0;
    }
    std::printf("updater: %s (%llu bytes)\n", path.c_str(), static_cast<unsigned long long>(info.size));
    std::printf("layout: %s (%u-byte entries), %u entries, data area at 0x%x\n", layoutName(report->layout),
                report->layout == ARCHIVE_LAYOUT_LONG ? 128u : 32u, report->count, report->dataStart);
    if (report->listLoaded)
        std::printf("hash value list: KVX.hvl, %u records\n", report->listRecords);
    else if (report->listEntry)
        std::printf("hash value list: the KVX.hvl entry is not a hash value list; every file installs unverified\n");
    else
        std::printf("hash value list: none; every file installs unverified\n");
    return 1;
}

} // namespace

int runList(const std::vector<std::string>& args)
{
    if (wantsHelp(args)) {
        std::printf("usage: %s\n\nShows the layout, the data area's start and every entry: its name, offset\n"
                    "(from the data area), size and the record of the hash value list that will\n"
                    "verify it, or \"unverified\". Reads only the table, not the data.\n",
                    kListUsage);
        return kExitOk;
    }
    UpdaterReport report;
    int status = kExitOk;
    if (!loadReport("list", args, kListUsage, false, &report, &status))
        return status;
    printEntries(report);
    std::string signature = signatureLine(report);
    if (!signature.empty())
        std::printf("%s\n", signature.c_str());
    return kExitOk;
}

int runVerify(const std::vector<std::string>& args)
{
    if (wantsHelp(args)) {
        std::printf("usage: %s\n\nReads the updater with the updater's own reader and checks every entry's\n"
                    "data against its record: verified, unverified (no record) or mismatch.\n"
                    "Fails on a mismatch, data that end early or cannot be reached, an\n"
                    "unreadable table, and an installed name outside the install folder.\n",
                    kVerifyUsage);
        return kExitOk;
    }
    UpdaterReport report;
    int status = kExitOk;
    if (!loadReport("verify", args, kVerifyUsage, true, &report, &status))
        return status;
    unsigned verified = 0, unverified = 0, failed = 0;
    for (const EntryReport& e : report.entries) {
        std::string name = showName(e.name);
        std::string line;
        switch (e.state) {
        case ENTRY_VERIFIED:
            ++verified;
            line = "verified    " + name + " (record " + showName(e.installedName) + " " + checksumHex(e.actual) + ")";
            break;
        case ENTRY_UNVERIFIED:
            ++unverified;
            line = "unverified  " + name + " (no record; checksum " + checksumHex(e.actual) + ")";
            break;
        case ENTRY_MISMATCH:
            ++failed;
            line = "mismatch    " + name + ": the data's checksum is " + checksumHex(e.actual) + ", its record " +
                   showName(e.installedName) + " says " + checksumHex(e.expected);
            break;
        case ENTRY_SHORT:
            ++failed;
            line = "short       " + name + ": the file ends after " + std::to_string(e.bytesRead) + " of its " +
                   std::to_string(e.size) + " bytes";
            break;
        default: {
            ++failed;
            char at[24];
            std::snprintf(at, sizeof at, "0x%llx", static_cast<unsigned long long>(report.dataStart) + e.offset);
            line = "unreachable " + name + ": its data at " + at + " cannot be reached (past 2 GiB or past the end)";
            break;
        }
        }
        std::string problem = installNameProblem(e.installedName);
        if (!problem.empty()) {
            if (e.state == ENTRY_VERIFIED || e.state == ENTRY_UNVERIFIED)
                ++failed;
            line += "; the installed name " + problem;
        }
        std::printf("%s\n", line.c_str());
    }
    if (report.listEntry && !report.listLoaded) {
        ++failed;
        std::printf("the KVX.hvl entry is not a hash value list: nothing would be verified, and it would replace "
                    "the install's own list\n");
    }
    std::string signature = signatureLine(report);
    if (!signature.empty())
        std::printf("%s\n", signature.c_str());
    if (!report.isProgram)
        std::printf("warning: the part before 0x40000 is not a Windows program\n");
    std::printf("verify: %s: %u verified, %u unverified, %u failed\n", failed ? "FAILED" : "ok", verified, unverified,
                failed);
    return failed ? kExitFailed : kExitOk;
}

} // namespace tool
