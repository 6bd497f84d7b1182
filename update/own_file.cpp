#include "update/own_file.h"

#include <cstring>

#include "payload/entry_name.h"
#include "platform/os.h"

namespace {

// Final paths carry a "\\?\" prefix and may be longer than the path formed.
const uint32_t kFinalPathSize = 2 * kMaxPath;

// Without the "\\?\" prefix of a final path, "/" taken as "\" and a run of
// separators as one (a folder given with a trailing "\"), lowered: the file
// system compares names without regard to case, as lowerName does. A trail
// byte 0x5C stays part of its character.
void comparable(char* path)
{
    const char* in = path;
    if (std::strncmp(in, "\\\\?\\", 4) == 0)
        in += 4;
    char* out = path;
    int afterSeparator = 0;
    while (*in != 0) {
        if (isLeadByte(static_cast<unsigned char>(*in)) && in[1] != 0) {
            *out++ = *in++;
            *out++ = *in++;
            afterSeparator = 0;
        } else if (*in == '\\' || *in == '/') {
            if (!afterSeparator)
                *out++ = '\\';
            ++in;
            afterSeparator = 1;
        } else {
            *out++ = *in++;
            afterSeparator = 0;
        }
    }
    *out = 0;
    lowerName(path);
}

// The path the file at path should resolve to: the folder's own final path
// (the folder itself may lie behind a link, which is the player's choice)
// followed by the rest of the path as formed.
int expectedFinalPath(const char* folder, const char* path, char* out)
{
    size_t folderLength = std::strlen(folder);
    if (std::strncmp(path, folder, folderLength) != 0 || path[folderLength] != '\\')
        return 0;
    FileHandle dir;
    if (!dir.openFolder(folder) || !dir.finalPath(out, kFinalPathSize))
        return 0;
    size_t length = std::strlen(out);
    const char* rest = path + folderLength;
    if (length + std::strlen(rest) >= kFinalPathSize)
        return 0;
    std::memcpy(out + length, rest, std::strlen(rest) + 1);
    return 1;
}

} // namespace

int isOwnFileAt(const FileHandle& file, const char* folder, const char* path)
{
    uint32_t attributes = 0, links = 0;
    if (!file.info(&attributes, &links))
        return 0;
    if ((attributes & (os::kAttributeReparsePoint | os::kAttributeDirectory | os::kAttributeDevice)) != 0 ||
        links != 1)
        return 0;
    // A Unix symbolic link under Wine shows neither a reparse point nor a
    // second link; only its final path gives it away.
    char found[kFinalPathSize], expected[kFinalPathSize];
    if (!file.finalPath(found, kFinalPathSize) || !expectedFinalPath(folder, path, expected))
        return 0;
    comparable(found);
    comparable(expected);
    return std::strcmp(found, expected) == 0 ? 1 : 0;
}

namespace {

const int kNothingThere = 2;

// 1 deleted, kNothingThere when the name holds nothing, 0 refused or failed.
int deleteIfOwn(const char* folder, const char* path)
{
    FileHandle file;
    if (!file.openName(path, 1))
        return os::calls().getFileAttributes(path) == os::kInvalidAttributes ? kNothingThere : 0;
    if (!isOwnFileAt(file, folder, path))
        return 0;
    // A read-only file refuses to be deleted.
    file.setAttributes(os::kAttributeNormal);
    return file.deleteName(path);
}

} // namespace

int deleteOwnFile(const char* folder, const char* path) { return deleteIfOwn(folder, path) != 0 ? 1 : 0; }

int createOwnFile(FileHandle& out, const char* folder, const char* path)
{
    // When the exclusive create fails with nothing there, it failed for a
    // reason of its own (no such folder, no room): no second try.
    if (!out.createNew(path) && (deleteIfOwn(folder, path) != 1 || !out.createNew(path)))
        return 0;
    // A folder on the way that is a link would have put the new file
    // elsewhere: it is ours and empty, so it goes again.
    if (isOwnFileAt(out, folder, path))
        return 1;
    out.deleteName(path);
    out.close();
    return 0;
}

int isFreeOrOwn(const char* folder, const char* path, int resetAttributes)
{
    FileHandle file;
    if (!file.openName(path, 0))
        return os::calls().getFileAttributes(path) == os::kInvalidAttributes ? 1 : 0;
    if (!isOwnFileAt(file, folder, path))
        return 0;
    if (resetAttributes)
        file.setAttributes(os::kAttributeNormal);
    return 1;
}

int moveOwnFile(const char* folder, const char* from, const char* to)
{
    FileHandle file;
    if (!file.openName(from, 1) || !isOwnFileAt(file, folder, from))
        return 0;
    return file.moveName(from, to);
}
