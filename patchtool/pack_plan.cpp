#include "patchtool/pack_plan.h"

#include <cstdio>

#include "patchtool/hash_list_file.h"
#include "patchtool/install_name.h"
#include "patchtool/pe_image.h"
#include "patchtool/text_codec.h"
#include "payload/entry_name.h"

namespace tool {
namespace {

std::string hex32(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

} // namespace

std::string stubProblem(const std::vector<uint8_t>& bytes)
{
    if (bytes.size() >= kPayloadOffset)
        return "is " + std::to_string(bytes.size()) + " bytes; the program image must end before 0x40000 (" +
               std::to_string(kPayloadOffset) + "), where the payload starts";
    CertificateTable certificates = certificateTable(bytes);
    if (!certificates.isProgram)
        return "is not a Windows program (no MZ/PE header)";
    if (certificates.size > 0)
        return "is signed already; a signature made before the payload is appended does not cover it: "
               "pack the unsigned stub, then sign the packed updater";
    return std::string();
}

std::vector<std::string> hashListProblems(const std::vector<HashValueRecord>& records, const std::string& path)
{
    std::vector<std::string> problems;
    for (size_t i = 0; i < records.size(); ++i)
        if (!recordHasName(records[i]))
            problems.push_back(path + ": record " + std::to_string(i) +
                               " has no NUL in its 56-byte name field, so the updater can never use it");
    return problems;
}

std::vector<std::string> planPack(const PackRequest& request, PackPlan* plan)
{
    std::vector<std::string> problems;
    *plan = PackPlan();
    const bool longLayout = request.layout == ARCHIVE_LAYOUT_LONG;
    const size_t maxName = (longLayout ? kLongNameSize : kShortNameSize) - 1;
    const uint64_t entrySize = longLayout ? kLongEntrySize : kShortEntrySize;
    const std::string& listPath = request.recordsFrom;

    if (request.items.size() > kMaxEntries)
        problems.push_back(std::to_string(request.items.size()) + " entries: an updater holds at most " +
                           std::to_string(kMaxEntries) + " (the hash value list counts as one)");
    if (request.stubSize >= kPayloadOffset)
        problems.push_back("the stub is " + std::to_string(request.stubSize) +
                           " bytes; the program image must end before 0x40000, where the payload starts");
    if (!request.records)
        plan->notes.push_back("no hash value list: every file is installed unverified");

    for (const PackItem& item : request.items) {
        PlannedEntry entry;
        entry.path = item.path;
        const std::string given = withBackslashes(item.name);
        const std::string where = item.path + " (name \"" + item.name + "\")";
        if (!toCp932(given, &entry.storedName)) {
            problems.push_back(where + ": the name is not valid UTF-8 or has a character code page 932 lacks");
            plan->entries.push_back(entry);
            continue;
        }
        if (entry.storedName.size() > maxName)
            problems.push_back(where + ": the name is " + std::to_string(entry.storedName.size()) +
                               " bytes in code page 932; the " + (longLayout ? "long" : "short") +
                               " layout holds at most " + std::to_string(maxName));
        std::string problem = installNameProblem(entry.storedName);
        if (!problem.empty())
            problems.push_back(where + ": the name " + problem);
        entry.installedName = entry.storedName;

        if (request.records && problem.empty()) {
            if (hasFolderPart(entry.storedName)) {
                plan->notes.push_back(showName(entry.storedName) +
                                      ": a name with a folder part never matches a record, so it is installed "
                                      "unverified (give the record the folder instead)");
            } else {
                entry.record = findRecordIndex(*request.records, entry.storedName);
                if (entry.record >= 0) {
                    entry.installedName = recordName((*request.records)[entry.record]);
                    std::string recordProblem = installNameProblem(entry.installedName);
                    if (!recordProblem.empty())
                        problems.push_back(listPath + ": the record \"" + showName(entry.installedName) +
                                           "\" that " + item.path + " is installed under " + recordProblem);
                } else if (!sameName(entry.storedName.c_str(), kHashListName)) {
                    plan->notes.push_back(showName(entry.storedName) + ": no record in " + listPath +
                                          ", installed unverified");
                }
            }
        }
        if (sameName(entry.installedName.c_str(), "uninst.lst"))
            problems.push_back(where + ": uninst.lst is the install's own uninstall list, which the updater "
                                       "appends to; it cannot be replaced");
        if (hasFolderPart(entry.installedName))
            plan->notes.push_back(showName(entry.installedName) +
                                  ": goes into a folder that must already exist in the install (the updater "
                                  "creates no folders)");
        plan->entries.push_back(entry);
    }

    // Names the updater would mix up (its own rule): the same file twice,
    // one file's name equal to another's temporary name ("x" staged as
    // "x.tmp"), or one file a folder of another ("a" and "a\b").
    for (size_t i = 0; i < plan->entries.size(); ++i) {
        const PlannedEntry& a = plan->entries[i];
        if (a.installedName.empty())
            continue;
        for (size_t j = 0; j < plan->entries.size(); ++j) {
            const PlannedEntry& b = plan->entries[j];
            if (j == i || b.installedName.empty())
                continue;
            switch (installNameClash(a.installedName.c_str(), b.installedName.c_str())) {
            case NAMES_APART:
                break;
            case NAMES_SAME_FILE:
                if (j > i)
                    problems.push_back(a.path + " and " + b.path + " are both installed as \"" +
                                       showName(a.installedName) +
                                       "\" (letter case, \"/\" or \"\\\" and trailing dots do not count)");
                break;
            case NAMES_TEMPORARY:
                problems.push_back(b.path + " is installed as \"" + showName(b.installedName) +
                                   "\", the temporary name under which " + a.path + " is staged");
                break;
            case NAMES_FOLDER:
                problems.push_back(b.path + " is installed as \"" + showName(b.installedName) + "\", inside " +
                                   a.path + ", which is installed as \"" + showName(a.installedName) +
                                   "\" (or staged as its \".tmp\"): one name cannot be a file and a folder");
                break;
            }
        }
    }

    // Every position is a 32-bit value in the table, and the updater seeks
    // with a signed 32-bit distance: sums are made in 64 bits and checked.
    uint64_t dataStart = kPayloadOffset + kArchiveHeaderSize + request.items.size() * entrySize;
    uint64_t offset = 0;
    for (size_t i = 0; i < request.items.size(); ++i) {
        const PackItem& item = request.items[i];
        if (item.size > 0xFFFFFFFFu)
            problems.push_back(item.path + ": " + std::to_string(item.size) +
                               " bytes; an entry holds at most 4 GiB - 1");
        if (dataStart + offset > kLastSeekablePosition)
            problems.push_back(item.path + ": its data would start at file offset " + hex32(dataStart + offset) +
                               ", past 2 GiB, where the updater cannot seek");
        if (i < plan->entries.size()) {
            plan->entries[i].offset = static_cast<uint32_t>(offset);
            plan->entries[i].size = static_cast<uint32_t>(item.size);
        }
        offset += item.size;
    }
    uint64_t fileSize = dataStart + offset;
    if (fileSize > 0xFFFFFFFFu)
        problems.push_back("the updater would be " + std::to_string(fileSize) +
                           " bytes; its sizes are 32-bit, so it must stay below 4 GiB");
    plan->dataStart = static_cast<uint32_t>(dataStart);
    plan->fileSize = static_cast<uint32_t>(fileSize);
    return problems;
}

} // namespace tool
