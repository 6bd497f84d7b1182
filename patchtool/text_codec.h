// Names as the maker types them (UTF-8) and as the updater stores them
// (code page 932 bytes).
#pragma once

#include <string>

namespace tool {

// UTF-8 to code page 932, refusing anything that would not come back
// unchanged: invalid UTF-8, characters code page 932 lacks, and characters
// that only map one way (U+301C WAVE DASH, for one, would come back as
// U+FF5E on Windows). 1 / 0.
int toCp932(const std::string& utf8, std::string* cp932);

// Code page 932 to UTF-8, exact in the same sense. 1 / 0.
int fromCp932(const std::string& cp932, std::string* utf8);

// A stored name for showing: its UTF-8 form, or, where it has none, the
// bytes with each byte outside printable ASCII written as \xHH.
std::string showName(const std::string& cp932);
std::string showName(const char* cp932);

// s with every "/" replaced by "\" (the separator of stored names).
std::string withBackslashes(std::string s);

} // namespace tool
