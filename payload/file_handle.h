// FileHandle: the one owner of an open file. Every operation reports 1/0, or
// a byte count for reads and writes; callers compare the count with what they
// asked for. Closing twice is harmless; the destructor closes.
#pragma once

#include <cstdint>

#include "platform/os.h"

const uint32_t kMaxPath = 260;   // MAX_PATH: every path buffer is this size

class FileHandle {
public:
    FileHandle() = default;
    ~FileHandle() { close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    // Shared for reading, open-existing. 0 at once when a file is already open.
    int openRead(const char* path);
    // Exclusive, create-always (an existing file is truncated). 0 at once when open.
    int openWrite(const char* path);
    // Exclusive create of a name nothing holds yet, for writing; fails when
    // anything, a link included, has the name. 0 at once when open.
    int createNew(const char* path);
    // An existing name, without following a link where the system can tell,
    // to check it and then change it through this handle: exclusive when
    // forChange (its attributes, deleteName, moveName), else shared and
    // limited to its attributes. 0 at once when open.
    int openName(const char* path, int forChange);
    // A folder, to ask for its final path. 0 at once when open.
    int openFolder(const char* path);
    // What the system says of the open file: attributes and link count; 1 / 0.
    int info(uint32_t* attributes, uint32_t* links) const;
    // The file's path as the file system resolves it (links followed); 1
    // when it fitted in size bytes with its NUL, else 0.
    int finalPath(char* out, uint32_t size) const;
    int setAttributes(uint32_t attributes);
    // Removes the open file's name (path: the name it was opened by); on
    // Windows it goes when the handle closes.
    int deleteName(const char* path);
    // Moves the open file from path to the name to, replacing what is there.
    int moveName(const char* path, const char* to);
    // One system call; the count it reports, or 0 when it fails.
    uint32_t read(void* buffer, uint32_t count);
    uint32_t write(const void* buffer, uint32_t count);
    // Absolute position as a signed 32-bit distance: 2 GiB and above fail.
    int seek(uint32_t position);
    // Low 32 bits of the size; 0xFFFFFFFF when no file is open or the call fails.
    uint32_t size() const;
    // FlushFileBuffers; 1 / 0.
    int flush();
    void close();
    bool isOpen() const { return file_ != os::noFile(); }

private:
    os::FileRef file_ = os::noFile();
};
