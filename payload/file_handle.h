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
