// Whether a stored name (code page 932) can be installed by the updater.
#pragma once

#include <string>

namespace tool {

// Empty when the updater can install a file under name inside the install
// folder; otherwise what is wrong, for a message ("leaves the install
// folder", "contains '?'", ...). Beyond leaving the folder it refuses what
// Windows would not create: empty, "." or device-name components, control
// characters, the characters <>:"|?*, a component ending in "." or a space,
// and a name cut in the middle of a double-byte character.
std::string installNameProblem(const std::string& name);

// name with "/" between components turned into "\" (never a trail byte).
std::string normalSeparators(const std::string& name);

// 1 when a and b install the same file: letter case ignored (the core's
// rule) and "/" the same as "\".
int sameInstalledName(const std::string& a, const std::string& b);

// 1 when name holds a "\" or "/" that is not the trail byte of a
// double-byte character.
int hasFolderPart(const std::string& name);

} // namespace tool
