#include "patchtool/tool_files.h"

#include <cstring>
#include <filesystem>
#include <system_error>

#include "patchtool/progress.h"
#include "patchtool/tool_platform.h"
#include "payload/file_handle.h"
#include "payload/hash_value_list.h"
#include "update/update_run.h"

namespace fs = std::filesystem;

namespace tool {

FileInfo fileInfo(const std::string& path)
{
    FileInfo info;
    std::error_code ec;
    fs::file_status status = fs::status(fs::u8path(path), ec);
    if (ec || !fs::exists(status))
        return info;
    info.exists = true;
    info.regular = fs::is_regular_file(status);
    info.directory = fs::is_directory(status);
    if (info.regular) {
        uintmax_t size = fs::file_size(fs::u8path(path), ec);
        info.size = ec ? 0 : static_cast<uint64_t>(size);
    }
    return info;
}

std::string fileNameOf(const std::string& path)
{
    return fs::u8path(path).filename().u8string();
}

bool sameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    return fs::equivalent(fs::u8path(a), fs::u8path(b), ec) && !ec;
}

int readFileBytes(const std::string& path, std::vector<uint8_t>* bytes, std::string* error)
{
    FileInfo info = fileInfo(path);
    if (!info.exists || !info.regular) {
        *error = path + ": " + (info.exists ? "not a regular file" : "no such file");
        return 0;
    }
    if (info.size >= 0xFFFFFFFFu) {
        *error = path + ": too large to read (" + std::to_string(info.size) + " bytes)";
        return 0;
    }
    std::string native;
    FileHandle file;
    if (!corePath(path, &native) || !file.openRead(native.c_str())) {
        *error = path + ": cannot open for reading";
        return 0;
    }
    bytes->assign(static_cast<size_t>(info.size), 0);
    uint32_t at = 0;
    while (at < bytes->size()) {
        uint32_t chunk = static_cast<uint32_t>(bytes->size() - at);
        if (chunk > kCopyChunkSize)
            chunk = kCopyChunkSize;
        uint32_t got = file.read(bytes->data() + at, chunk);
        if (got == 0) {
            *error = path + ": read failed after " + std::to_string(at) + " bytes";
            return 0;
        }
        at += got;
    }
    return 1;
}

int checksumAndCompare(const std::string& path, const std::string& other, uint64_t size, uint8_t* checksum,
                       bool* same, Progress* progress, std::string* error)
{
    std::string nativePath, nativeOther;
    FileHandle file, otherFile;
    if (!corePath(path, &nativePath) || !file.openRead(nativePath.c_str())) {
        *error = path + ": cannot open for reading";
        return 0;
    }
    const bool compare = !other.empty();
    if (compare && (!corePath(other, &nativeOther) || !otherFile.openRead(nativeOther.c_str()))) {
        *error = other + ": cannot open for reading";
        return 0;
    }
    *same = compare;
    std::vector<uint8_t> buffer(kCopyChunkSize), otherBuffer(compare ? kCopyChunkSize : 0);
    FileChecksum sum;
    uint64_t total = 0;
    for (;;) {
        uint32_t got = file.read(buffer.data(), kCopyChunkSize);
        if (got == 0)
            break;
        sum.update(buffer.data(), got);
        if (*same) {
            // A short read is not a difference: read on until the same
            // count arrives or the file ends.
            uint32_t have = 0;
            while (have < got) {
                uint32_t more = otherFile.read(otherBuffer.data() + have, got - have);
                if (more == 0)
                    break;
                have += more;
            }
            if (have != got || std::memcmp(buffer.data(), otherBuffer.data(), got) != 0)
                *same = false;
        }
        total += got;
        if (progress)
            progress->advance(got);
    }
    if (total != size) {
        *error = path + ": read " + std::to_string(total) + " of its " + std::to_string(size) +
                 " bytes (unreadable, or changed while being read)";
        return 0;
    }
    // The other file may go on past path's end.
    uint8_t extra;
    if (*same && otherFile.read(&extra, 1) != 0)
        *same = false;
    sum.store(checksum);
    return 1;
}

int checksumFile(const std::string& path, uint8_t* checksum, Progress* progress, std::string* error)
{
    bool same;
    return checksumAndCompare(path, std::string(), fileInfo(path).size, checksum, &same, progress, error);
}

std::string partialPathFor(const std::string& target) { return target + ".partial"; }

int moveIntoPlace(const std::string& partial, const std::string& target, std::string* error)
{
    std::string from, to;
    if (!corePath(partial, &from) || !corePath(target, &to) || !os::calls().moveFileReplace(from.c_str(), to.c_str())) {
        *error = target + ": cannot rename " + partial + " to it";
        return 0;
    }
    return 1;
}

void removeFile(const std::string& path)
{
    std::string native;
    if (corePath(path, &native))
        os::calls().deleteFile(native.c_str());
}

int writeFileReplacing(const std::string& target, const std::vector<uint8_t>& bytes, std::string* error)
{
    const std::string partial = partialPathFor(target);
    std::string native;
    FileHandle file;
    if (!corePath(partial, &native) || !file.openWrite(native.c_str())) {
        *error = partial + ": cannot create";
        return 0;
    }
    uint32_t at = 0;
    while (at < bytes.size()) {
        uint32_t chunk = static_cast<uint32_t>(bytes.size() - at);
        if (chunk > kCopyChunkSize)
            chunk = kCopyChunkSize;
        uint32_t wrote = file.write(bytes.data() + at, chunk);
        if (wrote == 0) {
            file.close();
            removeFile(partial);
            *error = partial + ": write failed after " + std::to_string(at) + " bytes (disk full?)";
            return 0;
        }
        at += wrote;
    }
    int flushed = file.flush();
    file.close();
    if (!flushed) {
        removeFile(partial);
        *error = partial + ": could not be flushed to disk";
        return 0;
    }
    if (!moveIntoPlace(partial, target, error)) {
        removeFile(partial);
        return 0;
    }
    return 1;
}

std::string outputProblem(const std::string& target)
{
    if (target.empty())
        return "the output path is empty";
    fs::path p = fs::u8path(target);
    FileInfo info = fileInfo(target);
    if (info.directory)
        return target + ": is a folder";
    fs::path parent = p.parent_path();
    if (!parent.empty()) {
        std::error_code ec;
        if (!fs::is_directory(parent, ec))
            return target + ": the folder " + parent.u8string() + " does not exist";
    }
    return std::string();
}

} // namespace tool
