// One portable case table serves both builds, so that the host tests and the
// updater on a Japanese system lower names identically; the system's own
// routines would make the result depend on the ANSI code page of the machine.
#include "payload/entry_name.h"

#include <cstring>

#include "payload/file_handle.h"

int isLeadByte(unsigned char c)
{
    return ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) ? 1 : 0;
}

namespace {

int isTrailByte(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }

// 1 when p starts a double-byte character: a lead byte and a byte that can
// follow it. A lead byte before anything else (the end, "/", ".") is a byte
// of its own, so it never hides a separator from the scans below.
int isPairAt(const unsigned char* p) { return isLeadByte(p[0]) && isTrailByte(p[1]); }

// Capital double-byte letters of code page 932 and the distance to their
// small forms: full-width Latin, Greek, and Cyrillic (whose small letters
// skip 0x847F, which is not a valid trail byte).
struct CaseRange {
    unsigned char lead, firstTrail, lastTrail, delta;
};
const CaseRange kCaseRanges[] = {
    {0x82, 0x60, 0x79, 0x21},   // Ａ-Ｚ -> ａ-ｚ (0x8281-0x829A)
    {0x83, 0x9F, 0xB6, 0x20},   // Α-Ω -> α-ω (0x83BF-0x83D6)
    {0x84, 0x40, 0x4E, 0x30},   // А-Н -> а-н (0x8470-0x847E)
    {0x84, 0x4F, 0x60, 0x31},   // О-Я -> о-я (0x8480-0x8491)
};

int isSeparator(char c) { return c == '\\' || c == '/'; }

} // namespace

void lowerName(char* name)
{
    unsigned char* p = reinterpret_cast<unsigned char*>(name);
    while (*p != 0) {
        if (isPairAt(p)) {
            for (const CaseRange& r : kCaseRanges) {
                if (p[0] == r.lead && p[1] >= r.firstTrail && p[1] <= r.lastTrail) {
                    p[1] = static_cast<unsigned char>(p[1] + r.delta);
                    break;
                }
            }
            p += 2;
            continue;
        }
        if (*p >= 'A' && *p <= 'Z')
            *p = static_cast<unsigned char>(*p - 'A' + 'a');
        ++p;
    }
}

int sameName(const char* a, const char* b)
{
    size_t la = std::strlen(a), lb = std::strlen(b);
    if (la >= kMaxPath || lb >= kMaxPath)
        return 0;
    char ca[kMaxPath], cb[kMaxPath];
    std::memcpy(ca, a, la + 1);
    std::memcpy(cb, b, lb + 1);
    lowerName(ca);
    lowerName(cb);
    return std::strcmp(ca, cb) == 0 ? 1 : 0;
}

const char* fileNamePart(const char* name)
{
    const char* part = nullptr;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(name);
    while (*p != 0) {
        if (isPairAt(p)) {
            p += 2;
            continue;
        }
        if (isSeparator(static_cast<char>(*p)))
            part = reinterpret_cast<const char*>(p + 1);
        ++p;
    }
    if (part != nullptr)
        return part;
    if (name[0] != 0 && !isPairAt(reinterpret_cast<const unsigned char*>(name)) && name[1] == ':')
        return name + 2;
    return name;
}

namespace {

// ".." itself, and components of dots and spaces like "..." or ".. " that
// the system's trimming of trailing dots and spaces could turn into "..";
// no real file is named like that.
int isParentComponent(const char* begin, const char* end)
{
    int dots = 0;
    for (const char* c = begin; c < end; ++c) {
        if (*c == '.')
            ++dots;
        else if (*c != ' ')
            return 0;
    }
    return dots >= 2 ? 1 : 0;
}

} // namespace

int isSafeInstallName(const char* name)
{
    if (name == nullptr || name[0] == 0)
        return 0;
    // Covers absolute paths, UNC names and "\\?\" alike.
    if (isSeparator(name[0]))
        return 0;
    const char* component = name;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(name);
    for (;;) {
        char c = static_cast<char>(*p);
        if (isLeadByte(*p)) {
            // A lead byte without its trail byte is no character of the code
            // page; the system might turn it into anything.
            if (!isTrailByte(p[1]))
                return 0;
            p += 2;
            continue;
        }
        if (c == 0 || isSeparator(c)) {
            const char* end = reinterpret_cast<const char*>(p);
            if (isParentComponent(component, end))
                return 0;
            if (c == 0)
                return end > component ? 1 : 0;   // a trailing separator names no file
            component = end + 1;
        } else if (c == ':') {
            // A drive ("X:", "X:name") or an alternate stream of some file.
            return 0;
        }
        ++p;
    }
}

namespace {

int isDotOrSpace(char c) { return c == '.' || c == ' '; }

int upperAscii(char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }

int sameUpper(const char* begin, const char* end, const char* word)
{
    size_t n = std::strlen(word);
    if (static_cast<size_t>(end - begin) != n)
        return 0;
    for (size_t i = 0; i < n; ++i)
        if (upperAscii(begin[i]) != word[i])
            return 0;
    return 1;
}

// Windows opens the device for its name followed by anything from the first
// ".", and ignores spaces before that dot: "nul .txt", "COM1.tar.gz". Spaces
// in front are cut too, which is stricter than Windows needs.
int isDeviceName(const char* begin, const char* end)
{
    const char* stop = begin;
    while (stop < end && *stop != '.')
        ++stop;
    while (begin < stop && *begin == ' ')
        ++begin;
    while (stop > begin && stop[-1] == ' ')
        --stop;
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : kDevices)
        if (sameUpper(begin, stop, device))
            return 1;
    if (stop - begin == 4 && (sameUpper(begin, begin + 3, "COM") || sameUpper(begin, begin + 3, "LPT")))
        return begin[3] >= '0' && begin[3] <= '9';
    return 0;
}

NameProblem partProblem(const char* begin, const char* end, const char** at)
{
    *at = begin;
    if (begin == end)
        return NAME_EMPTY_PART;
    int onlyDotsAndSpaces = 1;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(begin);
    const unsigned char* stop = reinterpret_cast<const unsigned char*>(end);
    while (p < stop) {
        if (isPairAt(p)) {
            onlyDotsAndSpaces = 0;
            p += 2;
            continue;
        }
        if (*p < 0x20 || *p == 0x7F || std::strchr("<>\"|?*", *p) != nullptr) {
            *at = reinterpret_cast<const char*>(p);
            return NAME_BAD_CHARACTER;
        }
        if (!isDotOrSpace(static_cast<char>(*p)))
            onlyDotsAndSpaces = 0;
        ++p;
    }
    if (onlyDotsAndSpaces)
        return NAME_DOTS_AND_SPACES;
    // "." and " " are never trail bytes, so a final one is a character.
    if (isDotOrSpace(end[-1]))
        return NAME_TRAILING_DOT_OR_SPACE;
    if (isDeviceName(begin, end))
        return NAME_DEVICE;
    return NAME_OK;
}

// The file a name stands for, as the file system resolves it: lowered by
// lowerName, "/" taken as "\", trailing dots and spaces cut from every
// part, empty and "." parts dropped. 0 when the name does not fit a
// kMaxPath buffer.
int canonicalName(const char* name, char* out)
{
    size_t length = std::strlen(name);
    if (length >= kMaxPath)
        return 0;
    char lowered[kMaxPath];
    std::memcpy(lowered, name, length + 1);
    lowerName(lowered);
    size_t n = 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(lowered);
    while (*p != 0) {
        size_t start = n, keep = n;
        while (*p != 0 && !isSeparator(static_cast<char>(*p))) {
            if (isPairAt(p)) {
                out[n++] = static_cast<char>(*p++);
                out[n++] = static_cast<char>(*p++);
                keep = n;
                continue;
            }
            char c = static_cast<char>(*p++);
            out[n++] = c;
            if (!isDotOrSpace(c))
                keep = n;
        }
        n = keep;
        if (n > start)
            out[n++] = '\\';
        if (*p != 0)
            ++p;
    }
    if (n > 0)
        --n;    // the separator after the last part
    out[n] = 0;
    return 1;
}

// 1 when folder names a folder that path lies in.
int isFolderOf(const char* folder, const char* path)
{
    size_t n = std::strlen(folder);
    return n > 0 && std::strncmp(folder, path, n) == 0 && path[n] == '\\';
}

} // namespace

NameProblem installNameProblem(const char* name, const char** at)
{
    const char* where = name;
    if (at == nullptr)
        at = &where;
    *at = name;
    if (!isSafeInstallName(name))
        return NAME_LEAVES_FOLDER;
    // A safe name holds whole characters only, so the scan below never
    // splits a pair.
    const char* part = name;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(name);
    for (;;) {
        if (isPairAt(p)) {
            p += 2;
            continue;
        }
        if (*p == 0 || isSeparator(static_cast<char>(*p))) {
            const char* end = reinterpret_cast<const char*>(p);
            NameProblem problem = partProblem(part, end, at);
            if (problem != NAME_OK)
                return problem;
            if (*p == 0)
                break;
            part = end + 1;
        }
        ++p;
    }
    *at = name;
    return NAME_OK;
}

NameClash installNameClash(const char* a, const char* b)
{
    char ca[kMaxPath], cb[kMaxPath], tempA[kMaxPath], ct[kMaxPath];
    size_t la = std::strlen(a);
    // A name too long to compare is refused elsewhere; taking it as a clash
    // keeps it out of the folder all the same.
    if (la + 4 >= kMaxPath || !canonicalName(a, ca) || !canonicalName(b, cb))
        return NAMES_SAME_FILE;
    std::memcpy(tempA, a, la);
    std::memcpy(tempA + la, ".tmp", 5);
    canonicalName(tempA, ct);
    if (std::strcmp(ca, cb) == 0)
        return NAMES_SAME_FILE;
    if (std::strcmp(ct, cb) == 0)
        return NAMES_TEMPORARY;
    if (isFolderOf(ca, cb) || isFolderOf(ct, cb))
        return NAMES_FOLDER;
    return NAMES_APART;
}
