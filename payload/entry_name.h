// Names of installed files: the shared case rule and the checks that keep a
// name inside the install folder. Names are code page 932 byte strings.
#pragma once

#include <cstddef>

// 1 when c is a lead byte of a double-byte character in code page 932.
int isLeadByte(unsigned char c);

// Lowers name in place with code page 932's rules: ASCII letters, and
// double-byte characters as whole characters (full-width Latin, Greek,
// Cyrillic). A trail byte is never changed on its own.
void lowerName(char* name);

// Case-insensitive equality by lowerName on copies. Names longer than
// kMaxPath - 1 bytes compare unequal.
int sameName(const char* a, const char* b);

// The part of a record name after its last "\" or "/" (a trail byte is not a
// separator), or after a leading "X:" when there is no separator.
const char* fileNamePart(const char* name);

// 1 when name is a relative path that stays inside the install folder: not
// empty, not absolute, no leading "\" or "/", no drive, no UNC or "\\?\"
// prefix, no component that is exactly "..". Scanned with the lead-byte rule.
int isSafeInstallName(const char* name);
