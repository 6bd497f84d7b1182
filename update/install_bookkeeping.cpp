// Both files are read whole, changed in memory and written out again. The new
// content goes to a side file that replaces the original only once it has been
// written in full and flushed, so a full disk or a failed write never leaves a
// shortened list behind: either the old bytes or the new ones.
#include "update/install_bookkeeping.h"

#include <cstdio>
#include <cstring>

#include "payload/file_handle.h"
#include "payload/hash_value_list.h"
#include "platform/os.h"
#include "update/own_file.h"

const char kHashListSideName[] = "KVX.new";
const char kUninstallSideName[] = "uninst.new";

namespace {

const char kHashListFile[] = "KVX.hvl";
const char kUninstallListFile[] = "uninst.lst";
const uint32_t kUninstallBufferSize = 0x100000;   // 1 MiB: text, new lines and NUL

// "%s\%s" into a kMaxPath buffer; 0 when it would not fit (never truncated).
int formatPath(char* out, const char* folder, const char* name)
{
    int n = std::snprintf(out, kMaxPath, "%s\\%s", folder, name);
    return (n >= 0 && static_cast<uint32_t>(n) < kMaxPath) ? 1 : 0;
}

// One block from the free store, released on every path out.
class Block {
public:
    explicit Block(size_t bytes) : data_(bytes ? os::calls().allocate(bytes) : nullptr) {}
    ~Block()
    {
        if (data_)
            os::calls().release(data_);
    }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    unsigned char* bytes() const { return static_cast<unsigned char*>(data_); }

private:
    void* data_;
};

struct Piece {
    const void* data;
    uint32_t length;
};

// Writes the pieces to the side file, flushes it and moves it over the file.
// On any failure the side file is deleted and the file keeps its old content.
int replaceFile(const char* folder, const char* name, const char* sideName, const Piece* pieces,
                size_t pieceCount)
{
    char path[kMaxPath], sidePath[kMaxPath];
    if (!formatPath(path, folder, name) || !formatPath(sidePath, folder, sideName))
        return 0;
    // A side file left by an interrupted earlier rewrite is ours to replace,
    // even if something made it read-only; anything else under its name
    // keeps the old list.
    FileHandle side;
    if (!createOwnFile(side, folder, sidePath))
        return 0;
    int complete = 1;
    for (size_t i = 0; i < pieceCount && complete; ++i) {
        if (pieces[i].length != 0 && side.write(pieces[i].data, pieces[i].length) != pieces[i].length)
            complete = 0;
    }
    if (complete && !side.flush())
        complete = 0;
    side.close();
    if (complete && moveOwnFile(folder, sidePath, path))
        return 1;
    deleteOwnFile(folder, sidePath);
    return 0;
}

uint32_t readLE32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void writeLE32(unsigned char* p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

// 1 when needle occurs in text[0, textLength) as a plain byte substring. An
// empty needle occurs everywhere, as with strstr.
int containsBytes(const unsigned char* text, uint32_t textLength, const char* needle, uint32_t needleLength)
{
    if (needleLength == 0)
        return 1;
    if (needleLength > textLength)
        return 0;
    for (uint32_t at = 0; at + needleLength <= textLength; ++at) {
        if (text[at] == static_cast<unsigned char>(needle[0]) &&
            std::memcmp(text + at, needle, needleLength) == 0)
            return 1;
    }
    return 0;
}

} // namespace

void pruneHashValueList(const char* installFolder)
{
    char path[kMaxPath];
    if (!formatPath(path, installFolder, kHashListFile))
        return;
    FileHandle list;
    if (!list.openRead(path) || !isOwnFileAt(list, installFolder, path))
        return;
    unsigned char header[kHashListHeaderSize];
    if (list.read(header, kHashListHeaderSize) != kHashListHeaderSize)
        return;
    uint32_t count = readLE32(header + 12);
    // The records must lie inside the file; a count that would overflow the
    // multiplication or reach past the end is a short list and left alone.
    uint32_t fileSize = list.size();
    if (fileSize == os::kInvalidFileSize || fileSize < kHashListHeaderSize)
        return;
    uint64_t recordBytes64 = static_cast<uint64_t>(count) * kHashRecordSize;
    if (recordBytes64 > fileSize - kHashListHeaderSize)
        return;
    uint32_t recordBytes = static_cast<uint32_t>(recordBytes64);

    Block records(recordBytes);
    Block kept(recordBytes);
    if (recordBytes != 0 && (records.bytes() == nullptr || kept.bytes() == nullptr))
        return;
    if (recordBytes != 0 && list.read(records.bytes(), recordBytes) != recordBytes)
        return;
    list.close();

    uint32_t keptCount = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const unsigned char* record = records.bytes() + static_cast<size_t>(i) * kHashRecordSize;
        const char* name = reinterpret_cast<const char*>(record);
        int keep;
        if (std::memchr(name, 0, kHashRecordNameSize) == nullptr) {
            // No NUL in the field: not a name that can be looked up, and not
            // ours to drop either.
            keep = 1;
        } else {
            char filePath[kMaxPath];
            if (!formatPath(filePath, installFolder, name))
                return;     // cannot be checked without truncating: leave the list as it is
            keep = os::calls().getFileAttributes(filePath) != os::kInvalidAttributes;
        }
        if (keep) {
            std::memcpy(kept.bytes() + static_cast<size_t>(keptCount) * kHashRecordSize, record, kHashRecordSize);
            ++keptCount;
        }
    }

    writeLE32(header + 12, keptCount);
    Piece pieces[] = {{header, kHashListHeaderSize}, {kept.bytes(), keptCount * kHashRecordSize}};
    replaceFile(installFolder, kHashListFile, kHashListSideName, pieces, 2);
}

int updateUninstallList(const char* installFolder, const char* const* staged)
{
    char path[kMaxPath];
    if (!formatPath(path, installFolder, kUninstallListFile))
        return 0;
    // A list planted as a link would have the elevated run copy whatever
    // it points to into the folder.
    FileHandle list;
    if (!list.openRead(path) || !isOwnFileAt(list, installFolder, path))
        return 0;
    uint32_t size = list.size();
    if (size == os::kInvalidFileSize || size > kUninstallBufferSize)
        return 0;
    Block buffer(kUninstallBufferSize);
    unsigned char* text = buffer.bytes();
    if (text == nullptr)
        return 0;
    if (size != 0 && list.read(text, size) != size)
        return 0;   // a short read would drop the rest of the file
    list.close();

    // The stored text ends with one NUL, its last byte. A file of 0 bytes is
    // empty text; a file whose last byte is something else keeps every byte
    // and gets its NUL after the new lines. A NUL further in would end the
    // rewritten text there and lose what follows it, so such a file is refused.
    if (size > 1 && std::memchr(text, 0, size - 1) != nullptr)
        return 0;
    uint32_t length = (size != 0 && text[size - 1] == 0) ? size - 1 : size;

    for (const char* const* name = staged; *name != nullptr; ++name) {
        size_t nameLength = std::strlen(*name);
        if (nameLength >= kUninstallBufferSize)
            return 0;
        if (containsBytes(text, length, *name, static_cast<uint32_t>(nameLength)))
            continue;
        // The name, its line feed and the closing NUL must all fit.
        if (static_cast<uint64_t>(length) + nameLength + 2 > kUninstallBufferSize)
            return 0;
        std::memcpy(text + length, *name, nameLength);
        length += static_cast<uint32_t>(nameLength);
        text[length++] = '\n';
    }
    if (length >= kUninstallBufferSize)
        return 0;   // no room for the NUL (a full 1 MiB text without one)
    text[length] = 0;

    Piece pieces[] = {{text, length + 1}};
    return replaceFile(installFolder, kUninstallListFile, kUninstallSideName, pieces, 1);
}
