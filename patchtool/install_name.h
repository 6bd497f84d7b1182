// Whether a stored name (code page 932) can be installed by the updater: the
// updater's own rule (payload/entry_name), put into words for makers.
#pragma once

#include <string>

namespace tool {

// Empty when the updater can install a file under name inside the install
// folder; otherwise what is wrong, for a message ("leaves the install
// folder", "contains '?'", "names a Windows device (nul)", ...). Beyond the
// updater's rule only what a stored name cannot hold at all: a NUL byte, a
// length past a Windows path.
std::string installNameProblem(const std::string& name);

// 1 when name holds a "\" or "/" that is not the trail byte of a
// double-byte character.
int hasFolderPart(const std::string& name);

} // namespace tool
