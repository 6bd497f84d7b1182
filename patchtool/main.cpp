// patchtool: builds and checks updater files for the people who make patches.
#include <cstdio>
#include <string>
#include <vector>

#include "patchtool/commands.h"
#include "patchtool/tool_platform.h"

namespace {

const char* const kOverview =
    "usage: patchtool COMMAND ...\n"
    "\n"
    "  pack -o OUT [--stub FILE] [--hvl FILE] [--layout long|short] [NAME=]PATH...\n"
    "                         write an updater from the stub and payload files\n"
    "  pack --from OLD --to NEW -o OUT [--plan [--json]] [--prove] [--strict]\n"
    "                         write the updater that turns version folder OLD\n"
    "                         into NEW, and prove it on a copy of OLD\n"
    "  list UPDATER           show an updater's table\n"
    "  verify UPDATER         check every entry's data against its record\n"
    "  hvl make DIR -o FILE   make the hash value list of a game folder\n"
    "  hvl show FILE          show a hash value list\n"
    "  hvl check DIR FILE     which listed files are missing or differ in DIR\n"
    "  apply UPDATER DIR      apply an updater's payload to a folder as the updater does\n"
    "\n"
    "patchtool COMMAND --help tells more. Exit status: 0 success, 1 refused or\n"
    "failed, 2 a wrong command line. Names are given and shown in UTF-8 and\n"
    "stored in code page 932.\n";

} // namespace

int main(int argc, char** argv)
{
    tool::setUpConsole();
    std::vector<std::string> args = tool::commandLineArguments(argc, argv);
    if (args.empty()) {
        std::fputs(kOverview, stderr);
        return tool::kExitUsage;
    }
    const std::string command = args[0];
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kOverview, stdout);
        return tool::kExitOk;
    }
    if (command == "pack")
        return tool::runPack(rest);
    if (command == "list")
        return tool::runList(rest);
    if (command == "verify")
        return tool::runVerify(rest);
    if (command == "hvl")
        return tool::runHvl(rest);
    if (command == "apply")
        return tool::runApply(rest);
    std::fprintf(stderr, "patchtool: unknown command \"%s\"\n\n%s", command.c_str(), kOverview);
    return tool::kExitUsage;
}
