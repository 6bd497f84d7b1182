#include "patchtool/text_codec.h"

#include <cstdio>

#include "patchtool/tool_platform.h"

namespace tool {

int toCp932(const std::string& utf8, std::string* cp932)
{
    std::string bytes, back;
    if (!rawUtf8ToCp932(utf8, &bytes) || !rawCp932ToUtf8(bytes, &back) || back != utf8)
        return 0;
    *cp932 = bytes;
    return 1;
}

int fromCp932(const std::string& cp932, std::string* utf8)
{
    std::string text, back;
    if (!rawCp932ToUtf8(cp932, &text) || !rawUtf8ToCp932(text, &back) || back != cp932)
        return 0;
    *utf8 = text;
    return 1;
}

std::string showName(const std::string& cp932)
{
    std::string utf8;
    if (fromCp932(cp932, &utf8)) {
        bool printable = true;
        for (unsigned char c : utf8)
            if (c < 0x20 || c == 0x7F)
                printable = false;
        if (printable)
            return utf8;
    }
    std::string shown;
    for (unsigned char c : cp932) {
        if (c >= 0x20 && c < 0x7F) {
            shown += static_cast<char>(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            shown += hex;
        }
    }
    return shown;
}

std::string showName(const char* cp932) { return showName(std::string(cp932)); }

std::string withBackslashes(std::string s)
{
    for (char& c : s)
        if (c == '/')
            c = '\\';
    return s;
}

} // namespace tool
