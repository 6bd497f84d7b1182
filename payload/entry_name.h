// Names of installed files: the shared case rule and the one rule, used by
// the updater and by the patch tool alike, for which names a payload may
// install. Names are code page 932 byte strings,
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

// Why a name cannot be installed; NAME_OK when it can. Windows would refuse
// to create the others, would open a device instead of a file, or would
// resolve them to another name than the one the uninstall list records.
enum NameProblem {
    NAME_OK = 0,
    NAME_LEAVES_FOLDER,      // isSafeInstallName refuses it (also: empty)
    NAME_EMPTY_PART,         // two separators in a row
    NAME_DOTS_AND_SPACES,    // a part made only of dots and spaces: ".", " ", "sub\."
    NAME_BAD_CHARACTER,      // a control character or one of < > " | ? *
    NAME_TRAILING_DOT_OR_SPACE,   // "a.bin.", "sub \x": Windows drops them
    NAME_DEVICE,             // CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$
};

// The rule for one name. When at is not null and the name is refused for
// something inside it, *at points at the offending character or part (for
// a message); otherwise at name.
NameProblem installNameProblem(const char* name, const char** at);

// How two names of one payload would get in each other's way.
enum NameClash {
    NAMES_APART = 0,
    NAMES_SAME_FILE,         // both resolve to one file
    NAMES_TEMPORARY,         // b is the file a is staged in: "a.tmp"
    NAMES_FOLDER,            // a, or a's temporary file, is a folder of b: "a" and "a\b"
};

// a and b compared as the file system resolves them: letter case by
// lowerName, "/" as "\", trailing dots and spaces of a part cut, empty and
// "." parts dropped. Not symmetric: call it both ways round.
NameClash installNameClash(const char* a, const char* b);
