// The subcommands of patchtool. Each takes the arguments after its own name
// and returns the process exit status.
#pragma once

#include <string>
#include <vector>

#include "patchtool/updater_report.h"

namespace tool {

const int kExitOk = 0;
const int kExitFailed = 1;    // refused, a check failed, the run did not succeed
const int kExitUsage = 2;     // the command line itself is wrong

int runPack(const std::vector<std::string>& args);
int runList(const std::vector<std::string>& args);
int runVerify(const std::vector<std::string>& args);
int runHvl(const std::vector<std::string>& args);
int runApply(const std::vector<std::string>& args);
int runPackFolders(const std::vector<std::string>& args);   // pack --from OLD --to NEW

// Shared by the subcommands.
bool wantsHelp(const std::vector<std::string>& args);
int usageError(const char* command, const std::string& message, const char* usage);
void printProblem(const char* command, const std::string& message);   // "patchtool CMD: message" on stderr
// The table of entries (name, offset, size, what verifies it) on stdout.
void printEntries(const UpdaterReport& report);
const char* layoutName(ArchiveLayout layout);

// The updater's own run of the updater file on folder (both UTF-8), as
// apply does it; with showFiles each file is printed as it is staged and
// installed. 0 with *problem when the run cannot be started (a path the
// run cannot take); else 1 with the run's *result.
int applyUpdaterRun(const std::string& updater, const std::string& folder, bool showFiles, UpdateResult* result,
                    std::string* problem);

} // namespace tool
