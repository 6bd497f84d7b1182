#include "patchtool/install_name.h"

#include <cstring>

#include "payload/entry_name.h"
#include "payload/file_handle.h"

namespace tool {
namespace {

// The part of name that starts at at, up to the next separator.
std::string partAt(const char* at)
{
    const char* end = at;
    while (*end != 0 && *end != '\\' && *end != '/') {
        if (isLeadByte(static_cast<unsigned char>(*end)) && end[1] != 0)
            ++end;
        ++end;
    }
    return std::string(at, end);
}

} // namespace

std::string installNameProblem(const std::string& name)
{
    if (name.empty())
        return "is empty";
    if (name.size() >= kMaxPath)
        return "is longer than a Windows path";
    if (std::memchr(name.data(), 0, name.size()))
        return "contains a NUL byte";
    const char* at = nullptr;
    switch (::installNameProblem(name.c_str(), &at)) {
    case NAME_OK:
        return std::string();
    case NAME_LEAVES_FOLDER:
        return "is not a plain path inside the install folder (absolute, a drive, \"..\", \":\", a trailing \"\\\", "
               "half a double-byte character)";
    case NAME_EMPTY_PART:
        return "has an empty folder or file name";
    case NAME_DOTS_AND_SPACES:
        return "has a part \"" + partAt(at) + "\" made only of dots and spaces, which names no file";
    case NAME_BAD_CHARACTER: {
        unsigned char c = static_cast<unsigned char>(*at);
        if (c < 0x20 || c == 0x7F)
            return "contains a control character";
        return std::string("contains '") + static_cast<char>(c) + "', which Windows does not allow in file names";
    }
    case NAME_TRAILING_DOT_OR_SPACE:
        return "has a part ending in '.' or a space, which Windows drops";
    case NAME_DEVICE:
        return "names a Windows device (" + partAt(at) + ")";
    }
    return "is refused by the updater";
}

int hasFolderPart(const std::string& name)
{
    const char* part = fileNamePart(name.c_str());
    return part != name.c_str() && (part[-1] == '\\' || part[-1] == '/') ? 1 : 0;
}

} // namespace tool
