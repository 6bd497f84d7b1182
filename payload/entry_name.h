// Names of installed files: the shared case rule and the checks that keep a
// name inside the install folder. Names are code page 932 byte strings,
// scanned character by character: a lead byte followed by a trail byte
// (0x40-0x7E, 0x80-0xFC) is one character, so a 0x5C trail byte as in
// "\x95\x5C" is never a separator; any other byte is a character of its own.
#pragma once

#include <cstddef>

// 1 when c is a lead byte of a double-byte character in code page 932.
int isLeadByte(unsigned char c);

// Lowers name in place with code page 932's rules: ASCII letters, and
// double-byte characters as whole characters (full-width Latin, Greek,
// Cyrillic). A trail byte is never changed on its own. The same table on
// every build, not the system's routines.
void lowerName(char* name);

// Case-insensitive equality by lowerName on copies. Names longer than
// kMaxPath - 1 bytes compare unequal.
int sameName(const char* a, const char* b);

// The part of a record name after its last "\" or "/" (a trail byte is not a
// separator), or after a leading "X:" when there is no separator.
const char* fileNamePart(const char* name);

// 1 when name is a relative path that stays inside the install folder: not
// empty, not absolute, no leading "\" or "/", no drive, no UNC or "\\?\"
// prefix, no component that is exactly "..". Also refused: a component of
// dots and spaces with two or more dots ("...", ".. ": path rules of the
// system trim dots and spaces, so they are refused with ".."), any ":" (a drive or a stream), a trailing separator, and a
// lead byte without its trail byte.
int isSafeInstallName(const char* name);
