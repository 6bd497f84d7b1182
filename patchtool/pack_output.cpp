#include "patchtool/pack_output.h"

#include <cstring>
#include <filesystem>

#include "patchtool/text_codec.h"
#include "patchtool/tool_files.h"
#include "patchtool/tool_platform.h"

namespace tool {
namespace {

// Compares the read-back of the written file with the plan.
std::string readBackProblem(const UpdaterReport& r, const PackPlan& plan, ArchiveLayout layout, bool withList,
                            const std::vector<std::vector<uint8_t>>& sums)
{
    if (r.loadResult != UPDATE_OK)
        return std::string("the updater's reader refuses it: ") + updateResultName(r.loadResult);
    if (r.layout != layout || r.count != plan.entries.size() || r.dataStart != plan.dataStart ||
        r.fileSize != plan.fileSize)
        return "its header, table or size differ from what was planned";
    if (r.listLoaded != withList)
        return "the updater does not find the hash value list in it";
    for (size_t i = 0; i < plan.entries.size(); ++i) {
        const PlannedEntry& p = plan.entries[i];
        const EntryReport& e = r.entries[i];
        EntryState expected = p.record >= 0 ? ENTRY_VERIFIED : ENTRY_UNVERIFIED;
        if (e.name != p.storedName || e.offset != p.offset || e.size != p.size ||
            e.installedName != p.installedName || e.state != expected || std::memcmp(e.actual, sums[i].data(), 8) != 0)
            return "entry " + std::to_string(i) + " (" + showName(p.storedName) + ") reads back as " +
                   entryStateName(e.state) + ", not as the file " + p.path;
    }
    return std::string();
}

std::string defaultStub()
{
    std::string self = toolPath();
    if (self.empty())
        return std::string();
    std::filesystem::path folder = std::filesystem::u8path(self).parent_path();
    for (const std::filesystem::path& candidate : {folder / ".." / "win32" / "updater.exe", folder / "updater.exe"}) {
        FileInfo info = fileInfo(candidate.u8string());
        if (info.regular)
            return candidate.lexically_normal().u8string();
    }
    return std::string();
}

} // namespace

std::vector<std::string> readStub(std::string* path, std::vector<uint8_t>* bytes, uint64_t* size)
{
    std::vector<std::string> problems;
    if (path->empty()) {
        *path = defaultStub();
        if (path->empty()) {
            problems.push_back("no stub: updater.exe is neither in ../win32/ nor beside this tool; give --stub FILE");
            return problems;
        }
    }
    FileInfo info = fileInfo(*path);
    *size = info.size;
    std::string error;
    if (info.regular && info.size >= kPayloadOffset) {
        // planPack names the size
    } else if (!readFileBytes(*path, bytes, &error)) {
        problems.push_back("--stub " + error);
    } else {
        std::string problem = stubProblem(*bytes);
        if (!problem.empty())
            problems.push_back("the stub " + *path + " " + problem);
    }
    return problems;
}

std::string writePlannedUpdater(const std::string& out, const PackPlan& plan, const std::vector<PackEntry>& entries,
                                const PackOptions& options, bool withList,
                                const std::vector<std::vector<uint8_t>>& sums, UpdaterReport* report)
{
    const std::string partial = partialPathFor(out);
    std::string nativePartial;
    if (!corePath(partial, &nativePartial))
        return partial + ": this path cannot be written here (not in the ANSI code page)";
    removeOnInterrupt(nativePartial);
    std::string error;
    int written = writeUpdater(nativePartial, entries, options, &error);
    std::string failure;
    if (!written) {
        failure = "writing " + partial + " failed: " + error;
    } else if (!readUpdaterReport(partial, true, report)) {
        failure = partial + ": cannot be opened to read it back";
    } else {
        std::string problem = readBackProblem(*report, plan, options.layout, withList, sums);
        if (!problem.empty())
            failure = "reading back " + partial + ": " + problem;
    }
    if (failure.empty() && !moveIntoPlace(partial, out, &error))
        failure = error;
    if (!failure.empty())
        removeFile(partial);
    removeOnInterrupt(std::string());
    return failure;
}

} // namespace tool
