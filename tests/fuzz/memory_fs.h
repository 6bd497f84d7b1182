// An install folder in memory, behind the platform seam: files by name with
// their bytes and attributes, open handles, moves, deletes and the updater's
// own executable, so that a fuzzer can run the whole update run thousands of
// times a second without touching the disk.
//
// Names resolve as Windows resolves them: case-insensitively (ASCII letters;
// a double-byte code page 932 character is kept whole, so its trail byte is
// never a separator), "/" as "\", trailing dots and spaces of a component
// dropped, "." dropped and ".." going up. The model records what the run does
// so the caller can check what the run promises; a write, create, move,
// delete or attribute change outside the install folder, or on a device name
// or a stream (a ":" in a component), stops the process at once.
//
//   memfs::reset("C:\\Game", "C:\\Temp\\updater.exe");
//   memfs::addFile("C:\\Game\\uninst.lst", bytes, 0x20);
//   memfs::setExecutable(payload, size);     // read as 0x40000 zeros + payload
//   memfs::install();                        // the seam's table now points here
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace memfs {

struct File {
    std::vector<uint8_t> bytes;
    uint32_t zeroHead = 0;      // bytes of zeros before `bytes` (the executable's image)
    uint32_t attributes = 0x20; // FILE_ATTRIBUTE_ARCHIVE
    bool createdByRun = false;
    int openHandles = 0;
    uint64_t size() const { return zeroHead + static_cast<uint64_t>(bytes.size()); }
};

// Kinds of seam calls a fault can be injected into.
enum Op { OP_CREATE, OP_WRITE, OP_MOVE, OP_DELETE, OP_FLUSH, OP_SET_ATTRIBUTES, OP_READ, OP_ALLOCATE, OP_COUNT };

struct Stats {
    uint32_t calls[OP_COUNT] = {};
    uint32_t movesAttempted = 0;
    uint32_t movesDone = 0;
    std::vector<std::pair<std::string, std::string>> moves;  // done: from, to (keys)
};

// Empties the file system and sets the folders that exist: the install folder,
// its subfolder "Sub" and the executable's folder.
void reset(const std::string& installFolder, const std::string& executablePath);
void addFolder(const std::string& path);
void addFile(const std::string& path, const std::vector<uint8_t>& bytes, uint32_t attributes);
void setExecutable(const uint8_t* payload, size_t size);
// The n-th call (1-based) of kind op fails; 0 for none. A failed write or read
// moves half the bytes asked for.
void failCall(Op op, uint32_t n);
// Allocations above this many bytes fail, as they could in a 32-bit process.
void setAllocationLimit(size_t bytes);

// Replaces every entry of os::calls() with the in-memory versions.
void install();

// The key a path resolves to (see above); empty when it does not resolve to a
// name at all.
std::string canonical(const std::string& path);
// The files now present, by key; null when there is none.
const File* find(const std::string& path);
const std::vector<std::pair<std::string, const File*>> files();
int openHandleCount();
const Stats& stats();
// Stops the process with a message: an invariant of the run does not hold.
[[noreturn]] void violation(const char* what, const std::string& detail);

} // namespace memfs
