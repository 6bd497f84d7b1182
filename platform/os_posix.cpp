// POSIX side of the platform seam, with the observable results of the
// Windows calls:
//
//   files     a reader takes a shared flock and a writer an exclusive one
//             (non-blocking), so a second open of a file open for writing
//             fails as with share modes; the writer truncates only after it
//             holds the lock, as CREATE_ALWAYS does.
//   paths     "\" is the separator on Windows; names are passed through
//             with "\" turned into "/".
//   names     the install folder's own names are opened with O_NOFOLLOW (a
//             symbolic link is refused, as a reparse point is on Windows),
//             created with O_EXCL, and deleted or moved by name only while
//             the name still holds the file that was opened; the final path
//             of a file is what /proc/self/fd resolves it to.
//   windows   there are none: no control is ever found and no message is
//             pending. Tests replace these entries to watch the run.
#include "platform/os.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace os {
namespace {

// Names are code page 932 bytes: 0x5C is also the trail byte of characters
// such as 0x95 0x5C, and only a 0x5C outside a double-byte character is a
// separator.
std::string nativePath(const char* path)
{
    std::string p(path);
    for (size_t i = 0; i < p.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(p[i]);
        if (((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) && i + 1 < p.size())
            ++i;
        else if (c == '\\')
            p[i] = '/';
    }
    return p;
}

FileRef toRef(int fd) { return reinterpret_cast<FileRef>(static_cast<intptr_t>(fd)); }
int toFd(FileRef file) { return static_cast<int>(reinterpret_cast<intptr_t>(file)); }

FileRef posixOpenForRead(const char* path)
{
    int fd = open(nativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return noFile();
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || flock(fd, LOCK_SH | LOCK_NB) != 0) {
        close(fd);
        return noFile();
    }
    return toRef(fd);
}

FileRef posixCreateForWrite(const char* path)
{
    std::string p = nativePath(path);
    int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return noFile();
    // An empty file is left as it is: ext4 writes back, on close, every file
    // that was truncated to zero and rewritten, new ones included.
    struct stat st;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || fstat(fd, &st) != 0 || (st.st_size != 0 && ftruncate(fd, 0) != 0)) {
        close(fd);
        return noFile();
    }
    return toRef(fd);
}

int posixReadFile(FileRef file, void* buffer, uint32_t count, uint32_t* done)
{
    *done = 0;
    ssize_t n;
    do
        n = read(toFd(file), buffer, count);
    while (n < 0 && errno == EINTR);
    if (n < 0)
        return 0;
    *done = static_cast<uint32_t>(n);
    return 1;
}

int posixWriteFile(FileRef file, const void* buffer, uint32_t count, uint32_t* done)
{
    *done = 0;
    ssize_t n;
    do
        n = write(toFd(file), buffer, count);
    while (n < 0 && errno == EINTR);
    if (n < 0)
        return 0;
    *done = static_cast<uint32_t>(n);
    return 1;
}

uint32_t posixSetFilePointer(FileRef file, int32_t distance)
{
    if (distance < 0)
        return kInvalidFilePointer;
    off_t at = lseek(toFd(file), distance, SEEK_SET);
    return at < 0 ? kInvalidFilePointer : static_cast<uint32_t>(at);
}

uint32_t posixGetFileSize(FileRef file)
{
    struct stat st;
    if (file == noFile() || fstat(toFd(file), &st) != 0)
        return kInvalidFileSize;
    return static_cast<uint32_t>(static_cast<uint64_t>(st.st_size));
}

int posixCloseHandle(FileRef file) { return close(toFd(file)) == 0 ? 1 : 0; }
int posixFlushFileBuffers(FileRef file) { return fsync(toFd(file)) == 0 ? 1 : 0; }

// Only the read-only bit has a POSIX meaning (the owner's write permission).
int posixSetFileAttributes(const char* path, uint32_t attributes)
{
    std::string p = nativePath(path);
    struct stat st;
    if (stat(p.c_str(), &st) != 0)
        return 0;
    mode_t mode = st.st_mode & 07777;
    mode = (attributes & kAttributeReadOnly) ? (mode & ~0222) : (mode | 0200);
    return chmod(p.c_str(), mode) == 0 ? 1 : 0;
}

uint32_t posixGetFileAttributes(const char* path)
{
    struct stat st;
    if (stat(nativePath(path).c_str(), &st) != 0)
        return kInvalidAttributes;
    uint32_t attributes = S_ISDIR(st.st_mode) ? kAttributeDirectory : 0x80;   // NORMAL
    if (!(st.st_mode & 0200))
        attributes = (attributes & ~0x80u) | kAttributeReadOnly;
    return attributes;
}

int posixMoveFileReplace(const char* from, const char* to)
{
    return rename(nativePath(from).c_str(), nativePath(to).c_str()) == 0 ? 1 : 0;
}

int posixDeleteFile(const char* path)
{
    std::string p = nativePath(path);
    struct stat st;
    if (lstat(p.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return 0;
    return unlink(p.c_str()) == 0 ? 1 : 0;
}

// A new file is empty already: no ftruncate, which would make some file
// systems write the whole file again on close.
FileRef posixCreateNewFile(const char* path)
{
    int fd = open(nativePath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return noFile();
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return noFile();
    }
    return toRef(fd);
}

// O_NONBLOCK: a FIFO planted under the name must not hang the open.
FileRef posixOpenExistingName(const char* path, int forChange)
{
    int fd = open(nativePath(path).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return noFile();
    if (forChange && flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return noFile();
    }
    return toRef(fd);
}

FileRef posixOpenFolder(const char* path)
{
    int fd = open(nativePath(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return fd < 0 ? noFile() : toRef(fd);
}

uint32_t attributesOfMode(mode_t mode)
{
    uint32_t attributes;
    if (S_ISDIR(mode))
        attributes = kAttributeDirectory;
    else if (S_ISREG(mode))
        attributes = 0x80;      // NORMAL
    else
        attributes = kAttributeDevice;
    if (!(mode & 0200))
        attributes = (attributes & ~0x80u) | kAttributeReadOnly;
    return attributes;
}

int posixGetFileInfo(FileRef file, uint32_t* attributes, uint32_t* links)
{
    struct stat st;
    if (fstat(toFd(file), &st) != 0)
        return 0;
    *attributes = attributesOfMode(st.st_mode);
    *links = static_cast<uint32_t>(st.st_nlink);
    return 1;
}

uint32_t posixGetFinalPath(FileRef file, char* buffer, uint32_t size)
{
    char link[64], target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", toFd(file));
    ssize_t n = readlink(link, target, sizeof target);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof target)
        return 0;
    if (static_cast<uint32_t>(n) >= size)
        return static_cast<uint32_t>(n) + 1;
    for (ssize_t i = 0; i < n; ++i)
        buffer[i] = target[i] == '/' ? '\\' : target[i];
    buffer[n] = 0;
    return static_cast<uint32_t>(n);
}

int posixSetAttributesOf(FileRef file, uint32_t attributes)
{
    struct stat st;
    if (fstat(toFd(file), &st) != 0)
        return 0;
    mode_t mode = st.st_mode & 07777;
    mode = (attributes & kAttributeReadOnly) ? (mode & ~0222) : (mode | 0200);
    return fchmod(toFd(file), mode) == 0 ? 1 : 0;
}

// 1 when path names the very file that is open, not something put there since.
int stillNames(FileRef file, const std::string& path)
{
    struct stat open, named;
    return fstat(toFd(file), &open) == 0 && lstat(path.c_str(), &named) == 0 && open.st_dev == named.st_dev &&
           open.st_ino == named.st_ino;
}

int posixDeleteOpenFile(FileRef file, const char* path)
{
    std::string p = nativePath(path);
    return stillNames(file, p) && unlink(p.c_str()) == 0 ? 1 : 0;
}

// rename() never follows a link at either end.
int posixMoveOpenFile(FileRef file, const char* from, const char* to)
{
    std::string p = nativePath(from);
    return stillNames(file, p) && rename(p.c_str(), nativePath(to).c_str()) == 0 ? 1 : 0;
}

uint32_t posixGetModuleFileName(char* buffer, uint32_t size)
{
    if (size == 0)
        return 0;
    ssize_t n = readlink("/proc/self/exe", buffer, size - 1);
    if (n < 0)
        return 0;
    buffer[n] = '\0';
    return static_cast<uint32_t>(n);
}

void* posixAllocate(size_t bytes) { return ::operator new(bytes, std::nothrow); }
void posixRelease(void* block) { ::operator delete(block); }

WindowRef posixGetDlgItem(WindowRef, int) { return nullptr; }
int posixSetWindowText(WindowRef, const char*) { return 0; }
void posixSetProgressRange(WindowRef, uint32_t) {}
void posixSetProgressPos(WindowRef, uint32_t) {}
int posixPumpOneMessage(WindowRef) { return 0; }

const Calls kDefaultCalls = {
    posixOpenForRead, posixCreateForWrite, posixReadFile, posixWriteFile, posixSetFilePointer,
    posixGetFileSize, posixCloseHandle, posixFlushFileBuffers, posixSetFileAttributes,
    posixGetFileAttributes, posixMoveFileReplace, posixDeleteFile, posixGetModuleFileName,
    posixAllocate, posixRelease, posixGetDlgItem, posixSetWindowText, posixSetProgressRange,
    posixSetProgressPos, posixPumpOneMessage, posixCreateNewFile, posixOpenExistingName, posixOpenFolder,
    posixGetFileInfo, posixGetFinalPath, posixSetAttributesOf, posixDeleteOpenFile, posixMoveOpenFile,
};

Calls gCalls = kDefaultCalls;

} // namespace

Calls& calls() { return gCalls; }
const Calls& defaultCalls() { return kDefaultCalls; }
void restoreCalls() { gCalls = kDefaultCalls; }

} // namespace os
