// File helpers of the patch tool, on top of the core's FileHandle (paths
// are UTF-8 here and converted with corePath) and std::filesystem for what
// FileHandle does not do (sizes beyond 32 bits, folders).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tool {

class Progress;

struct FileInfo {
    bool exists = false;
    bool regular = false;
    bool directory = false;
    uint64_t size = 0;     // the full size, also beyond 4 GiB
};
FileInfo fileInfo(const std::string& path);

// The last component of path ("dir/a.dat" -> "a.dat").
std::string fileNameOf(const std::string& path);

// 1 when a and b name the same existing file.
bool sameFile(const std::string& a, const std::string& b);

// Reads the whole file; 0 with *error (which file, what) on failure.
int readFileBytes(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);

// The 8-byte checksum of a file's content, read in 1 MiB chunks.
int checksumFile(const std::string& path, uint8_t* checksum, Progress* progress, std::string* error);

// Reads path whole (size bytes) for its checksum and, when other is not
// empty, other alongside it: *same says whether the two were equal byte
// for byte (false for an empty other). 0 with *error when path cannot be
// read in full or other cannot be opened.
int checksumAndCompare(const std::string& path, const std::string& other, uint64_t size, uint8_t* checksum,
                       bool* same, Progress* progress, std::string* error);

// Where an output is written until it is complete: beside its target, so
// that the final rename stays on one file system.
std::string partialPathFor(const std::string& target);

// Renames partial over target (replacing it); 0 with *error.
int moveIntoPlace(const std::string& partial, const std::string& target, std::string* error);
void removeFile(const std::string& path);

// Writes bytes to partialPathFor(target) and renames it over target; on any
// failure nothing is left behind. 0 with *error.
int writeFileReplacing(const std::string& target, const std::vector<uint8_t>& bytes, std::string* error);

// Why target cannot receive an output (a folder, or its folder missing);
// empty when it can.
std::string outputProblem(const std::string& target);

} // namespace tool
