#include "patchtool/install_name.h"

#include <cstring>
#include <vector>

#include "payload/entry_name.h"
#include "payload/file_handle.h"

namespace tool {
namespace {

int isTrailByte(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }

// A lead byte pairs only with a byte that can follow it, as the core's
// name rules read it.
int isPairAt(const std::string& s, size_t i)
{
    return i + 1 < s.size() && isLeadByte(static_cast<unsigned char>(s[i])) &&
           isTrailByte(static_cast<unsigned char>(s[i + 1]));
}

// Split at separators that are whole characters, never at a trail byte
// (0x5C is a valid trail byte in code page 932). 0 for a lead byte without
// its trail byte.
int splitComponents(const std::string& name, std::vector<std::string>* parts)
{
    std::string part;
    int whole = 1;
    for (size_t i = 0; i < name.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (isPairAt(name, i)) {
            part += name[i];
            part += name[++i];
        } else if (isLeadByte(c)) {
            whole = 0;
            part += name[i];
        } else if (c == '\\' || c == '/') {
            parts->push_back(part);
            part.clear();
        } else {
            part += name[i];
        }
    }
    parts->push_back(part);
    return whole;
}

bool isDeviceName(const std::string& component)
{
    std::string stem = component.substr(0, component.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (char& c : stem)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
    for (const char* d : kDevices)
        if (stem == d)
            return true;
    if (stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0))
        return stem[3] >= '1' && stem[3] <= '9';
    return false;
}

std::string componentProblem(const std::string& c)
{
    if (c.empty())
        return "has an empty folder or file name";
    if (c == ".")
        return "has a \".\" component";
    for (size_t i = 0; i < c.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(c[i]);
        if (isPairAt(c, i)) {
            ++i;
            continue;
        }
        if (b < 0x20 || b == 0x7F)
            return "contains a control character";
        if (std::strchr("<>:\"|?*", b))
            return std::string("contains '") + static_cast<char>(b) + "', which Windows does not allow in file names";
    }
    char last = c.back();
    // "." and " " are never trail bytes, so a final one is a character.
    if (last == '.' || last == ' ')
        return "has a component ending in '.' or a space, which Windows drops";
    if (isDeviceName(c))
        return "names a Windows device (" + c.substr(0, c.find('.')) + ")";
    return std::string();
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
    if (!isSafeInstallName(name.c_str()))
        return "is not a plain path inside the install folder (absolute, a drive, \"..\", \":\", a trailing \"\\\")";
    std::vector<std::string> parts;
    if (!splitComponents(name, &parts))
        return "has half a double-byte character";
    for (const std::string& part : parts) {
        std::string problem = componentProblem(part);
        if (!problem.empty())
            return problem;
    }
    return std::string();
}

std::string normalSeparators(const std::string& name)
{
    std::string out = name;
    for (size_t i = 0; i < out.size(); ++i) {
        if (isPairAt(out, i))
            ++i;
        else if (out[i] == '/')
            out[i] = '\\';
    }
    return out;
}

int sameInstalledName(const std::string& a, const std::string& b)
{
    return sameName(normalSeparators(a).c_str(), normalSeparators(b).c_str());
}

int hasFolderPart(const std::string& name)
{
    std::vector<std::string> parts;
    splitComponents(name, &parts);
    return parts.size() > 1 ? 1 : 0;
}

} // namespace tool
