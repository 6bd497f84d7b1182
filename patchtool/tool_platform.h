// What the patch tool needs from the system beyond the core's seam: text
// conversion between UTF-8 and code page 932, the command line as UTF-8,
// the console, and where the tool itself lives. tool_platform_posix.cpp and
// tool_platform_win32.cpp are the two implementations; the build picks one.
//
// Inside the tool every path and every text is UTF-8. Names stored in an
// updater or a hash value list are code page 932 bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tool {

// One-way conversions of the system's converter. 0 when the input is not
// valid in its encoding or a character has no form in the other one. The
// callers in text_codec.cpp make them exact by converting back.
int rawUtf8ToCp932(const std::string& utf8, std::string* cp932);
int rawCp932ToUtf8(const std::string& cp932, std::string* utf8);

// The arguments after the program name, as UTF-8.
std::vector<std::string> commandLineArguments(int argc, char** argv);

// Makes UTF-8 output show correctly where the console needs telling.
void setUpConsole();

// 1 when stderr is a terminal (progress lines are written only then).
int stderrIsTerminal();

// The path of the running tool, UTF-8; empty when the system does not say.
std::string toolPath();

// The narrow path that the core's FileHandle and the seam's file calls take
// for a UTF-8 path: unchanged on POSIX, the ANSI code page on Windows.
// 0 when the path cannot be expressed there.
int corePath(const std::string& utf8, std::string* out);

// apply runs the updater's own code, which forms paths from the install
// folder and code page 932 names. runPath gives the run's form of a UTF-8
// path; fileSystemPath turns a path the run formed back into one the
// seam's file calls can open. On POSIX the run works in code page 932 and
// the files have UTF-8 names; on Windows both are the ANSI code page, as
// for the updater itself. 0 when a path has no such form.
int runPath(const std::string& utf8, std::string* out);
int fileSystemPath(const char* runPath, std::string* out);
// The reverse of fileSystemPath, for a path the seam's file calls report
// (a final path, "\\" as separator).
int runPathOfFileSystemPath(const std::string& native, std::string* out);

// Interrupts (Ctrl-C, and on POSIX SIGTERM and SIGHUP):
// removeOnInterrupt makes one delete the file at nativePath and end the
// process (an empty path undoes it); on Windows the delete can fail while
// the file is still open, so a "*.partial" file may stay there.
// raiseFlagOnInterrupt makes the first one set *flag to 1 and carry on, for
// work that polls the flag; a second one ends the process.
void removeOnInterrupt(const std::string& nativePath);
void raiseFlagOnInterrupt(int32_t* flag);

} // namespace tool
