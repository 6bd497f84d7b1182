#include "patchtool/hash_list_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "patchtool/install_name.h"
#include "patchtool/text_codec.h"
#include "payload/entry_name.h"

namespace fs = std::filesystem;

namespace tool {

int parseHashList(const std::vector<uint8_t>& bytes, HashListFile* list, std::string* problem)
{
    if (bytes.size() < kHashListHeaderSize) {
        *problem = "shorter than the 16-byte header (" + std::to_string(bytes.size()) + " bytes)";
        return 0;
    }
    if (std::memcmp(bytes.data(), kHashListMagic, sizeof kHashListMagic) != 0) {
        *problem = "does not start with \"DQM_____\": not a hash value list";
        return 0;
    }
    std::memcpy(list->header, bytes.data(), kHashListHeaderSize);
    uint32_t count = static_cast<uint32_t>(bytes[12]) | static_cast<uint32_t>(bytes[13]) << 8 |
                     static_cast<uint32_t>(bytes[14]) << 16 | static_cast<uint32_t>(bytes[15]) << 24;
    uint64_t needed = kHashListHeaderSize + static_cast<uint64_t>(count) * kHashRecordSize;
    if (bytes.size() < needed) {
        *problem = "says " + std::to_string(count) + " records (" + std::to_string(needed) +
                   " bytes) but has " + std::to_string(bytes.size()) + " bytes";
        return 0;
    }
    list->records.resize(count);
    if (count)
        std::memcpy(list->records.data(), bytes.data() + kHashListHeaderSize,
                    static_cast<size_t>(count) * kHashRecordSize);
    list->trailingBytes = bytes.size() - needed;
    return 1;
}

int recordHasName(const HashValueRecord& record)
{
    return std::memchr(record.name, 0, kHashRecordNameSize) ? 1 : 0;
}

std::string recordName(const HashValueRecord& record)
{
    const void* nul = std::memchr(record.name, 0, kHashRecordNameSize);
    size_t length = nul ? static_cast<size_t>(static_cast<const char*>(nul) - record.name) : kHashRecordNameSize;
    return std::string(record.name, length);
}

std::string checksumHex(const uint8_t* checksum)
{
    char text[17];
    for (int i = 0; i < 8; ++i)
        std::snprintf(text + 2 * i, 3, "%02x", checksum[i]);
    return std::string(text, 16);
}

int findRecordIndex(const std::vector<HashValueRecord>& records, const std::string& name)
{
    for (size_t i = 0; i < records.size(); ++i)
        if (recordHasName(records[i]) && sameName(fileNamePart(records[i].name), name.c_str()))
            return static_cast<int>(i);
    return -1;
}

std::string lowered(const std::string& name)
{
    std::string copy = name;
    lowerName(&copy[0]);
    return copy;
}

namespace {

bool inSkipList(const fs::path& p, const std::vector<fs::path>& skip)
{
    std::error_code ec;
    fs::path canonical = fs::weakly_canonical(p, ec);
    for (const fs::path& s : skip)
        if (!ec && canonical == s)
            return true;
    return false;
}

} // namespace

std::vector<FolderFile> listGameFolder(const std::string& folder, const std::vector<std::string>& skip,
                                       std::vector<std::string>* problems)
{
    std::vector<FolderFile> files;
    std::vector<fs::path> skipPaths;
    for (const std::string& s : skip) {
        std::error_code ec;
        fs::path canonical = fs::weakly_canonical(fs::u8path(s), ec);
        if (!ec)
            skipPaths.push_back(canonical);
    }
    fs::path root = fs::u8path(folder);
    std::error_code ec;
    fs::recursive_directory_iterator it(root, ec), end;
    if (ec) {
        problems->push_back(folder + ": cannot read the folder (" + ec.message() + ")");
        return files;
    }
    for (; it != end; it.increment(ec)) {
        if (ec) {
            problems->push_back(folder + ": cannot read the folder (" + ec.message() + ")");
            break;
        }
        std::error_code typeError;
        if (!it->is_regular_file(typeError))
            continue;
        fs::path relative = it->path().lexically_relative(root);
        std::string utf8 = withBackslashes(relative.u8string());
        std::string name;
        if (!toCp932(utf8, &name)) {
            problems->push_back(utf8 + ": the name has no form in code page 932");
            continue;
        }
        if (!hasFolderPart(name) && (sameName(name.c_str(), "KVX.hvl") || sameName(name.c_str(), "uninst.lst")))
            continue;
        if (inSkipList(it->path(), skipPaths))
            continue;
        if (name.size() >= kHashRecordNameSize) {
            problems->push_back(utf8 + ": the name is " + std::to_string(name.size()) +
                                " bytes in code page 932; a record holds at most 55");
            continue;
        }
        std::string problem = installNameProblem(name);
        if (!problem.empty()) {
            problems->push_back(utf8 + ": the name " + problem);
            continue;
        }
        std::error_code sizeError;
        uint64_t size = it->file_size(sizeError);
        if (sizeError) {
            problems->push_back(utf8 + ": cannot read its size (" + sizeError.message() + ")");
            continue;
        }
        files.push_back(FolderFile{name, it->path().u8string(), size});
    }
    std::sort(files.begin(), files.end(), [](const FolderFile& a, const FolderFile& b) {
        std::string la = lowered(a.recordName), lb = lowered(b.recordName);
        return la != lb ? la < lb : a.recordName < b.recordName;
    });
    for (size_t i = 1; i < files.size(); ++i)
        if (sameName(files[i - 1].recordName.c_str(), files[i].recordName.c_str()))
            problems->push_back(showName(files[i - 1].recordName) + " and " + showName(files[i].recordName) +
                                ": names that differ only in letter case are one file on Windows");
    return files;
}

} // namespace tool
