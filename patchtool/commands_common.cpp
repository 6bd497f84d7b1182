#include <cstdio>

#include "patchtool/commands.h"
#include "patchtool/hash_list_file.h"
#include "patchtool/text_codec.h"

namespace tool {

bool wantsHelp(const std::vector<std::string>& args)
{
    for (const std::string& a : args) {
        if (a == "--")
            return false;
        if (a == "--help" || a == "-h")
            return true;
    }
    return false;
}

int usageError(const char* command, const std::string& message, const char* usage)
{
    std::fprintf(stderr, "patchtool %s: %s\nusage: %s\n(patchtool %s --help for more)\n", command,
                 message.c_str(), usage, command);
    return kExitUsage;
}

void printProblem(const char* command, const std::string& message)
{
    std::fprintf(stderr, "patchtool %s: %s\n", command, message.c_str());
}

const char* layoutName(ArchiveLayout layout)
{
    return layout == ARCHIVE_LAYOUT_LONG ? "long" : "short";
}

void printEntries(const UpdaterReport& report)
{
    std::printf("  %-3s %-10s %12s  %-32s %s\n", "#", "offset", "size", "name", "checked by");
    for (size_t i = 0; i < report.entries.size(); ++i) {
        const EntryReport& e = report.entries[i];
        std::string verifiedBy;
        if (e.hasRecord)
            verifiedBy = "record " + showName(e.installedName) + " " + checksumHex(e.expected);
        else
            verifiedBy = "unverified";
        std::string name = showName(e.name);
        std::printf("  %-3zu 0x%08x %12u  %-32s %s", i, e.offset, e.size, name.c_str(), verifiedBy.c_str());
        if (e.state != ENTRY_NOT_READ && e.state != ENTRY_UNVERIFIED)
            std::printf("  [%s]", entryStateName(e.state));
        std::printf("\n");
    }
}

} // namespace tool
