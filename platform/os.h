// The platform seam: every operating-system call the portable core makes.
//
// The core (payload/, update/, ui/run_control) calls these and nothing else of
// the system. os_win32.cpp makes the Windows calls named beside each entry;
// os_posix.cpp gives the same observable results on Linux. The build picks
// one of the two files; no other file looks at the platform.
//
// Every call goes through a table of function pointers so that a test can
// replace one entry at run time (make the third write come up short, the
// second move fail, an allocation return null) and put the default back
// with restoreCalls().
#pragma once

#include <cstddef>
#include <cstdint>

namespace os {

// An open file of the system (a HANDLE on Windows, a descriptor on POSIX).
typedef void* FileRef;
// A window (an HWND); null means none. There are no windows on POSIX.
typedef void* WindowRef;

// The value of a FileRef that holds no file (INVALID_HANDLE_VALUE, -1).
inline FileRef noFile() { return reinterpret_cast<FileRef>(static_cast<intptr_t>(-1)); }

const uint32_t kInvalidAttributes = 0xFFFFFFFFu;     // INVALID_FILE_ATTRIBUTES
const uint32_t kInvalidFilePointer = 0xFFFFFFFFu;    // INVALID_SET_FILE_POINTER
const uint32_t kInvalidFileSize = 0xFFFFFFFFu;       // INVALID_FILE_SIZE
const uint32_t kAttributeReadOnly = 0x1;
const uint32_t kAttributeHidden = 0x2;
const uint32_t kAttributeSystem = 0x4;
const uint32_t kAttributeDirectory = 0x10;
const uint32_t kAttributeDevice = 0x40;
const uint32_t kAttributeNormal = 0x80;
const uint32_t kAttributeReparsePoint = 0x400;

struct Calls {
    // CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
    // FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_ARCHIVE, NULL); noFile() on failure.
    FileRef (*openForRead)(const char* path);
    // CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0x08000020, NULL).
    FileRef (*createForWrite)(const char* path);
    // ReadFile / WriteFile: one call; 1 when the call succeeded, with *done set.
    int (*readFile)(FileRef file, void* buffer, uint32_t count, uint32_t* done);
    int (*writeFile)(FileRef file, const void* buffer, uint32_t count, uint32_t* done);
    // SetFilePointer(file, distance, NULL, FILE_BEGIN): the new position, or
    // kInvalidFilePointer. A negative distance fails.
    uint32_t (*setFilePointer)(FileRef file, int32_t distance);
    // GetFileSize(file, NULL): low 32 bits, kInvalidFileSize on failure.
    uint32_t (*getFileSize)(FileRef file);
    int (*closeHandle)(FileRef file);
    int (*flushFileBuffers)(FileRef file);
    // SetFileAttributesA(path, attributes); 1 / 0.
    int (*setFileAttributes)(const char* path, uint32_t attributes);
    // GetFileAttributesA(path); kInvalidAttributes when nothing is there.
    uint32_t (*getFileAttributes)(const char* path);
    // MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING); 1 / 0.
    int (*moveFileReplace)(const char* from, const char* to);
    // DeleteFileA(path); 1 / 0.
    int (*deleteFile)(const char* path);
    // GetModuleFileNameA(NULL, buffer, size): the length written.
    uint32_t (*getModuleFileName)(char* buffer, uint32_t size);
    // The free store, so that tests can make an allocation fail.
    void* (*allocate)(size_t bytes);
    void (*release)(void* block);

    // GetDlgItem(dialog, id); null when there is none.
    WindowRef (*getDlgItem)(WindowRef dialog, int id);
    // SetWindowTextA(window, text).
    int (*setWindowText)(WindowRef window, const char* text);
    // SendMessageA(bar, PBM_SETRANGE32, 0, high).
    void (*setProgressRange)(WindowRef bar, uint32_t high);
    // SendMessageA(bar, PBM_SETPOS, position, 0). On Windows a position that
    // could not be seen (same drawn pixels, or within a frame of the last one)
    // is not sent; the range's start and end always are.
    void (*setProgressPos)(WindowRef bar, uint32_t position);
    // Takes at most one pending window message of the thread and handles it
    // (PeekMessageA with PM_REMOVE | PM_NOYIELD; IsDialogMessageA with dialog when it is
    // not null, else TranslateMessage and DispatchMessageA). Returns nonzero
    // when a message was taken, 0 when the queue was empty; throws the
    // integer 0 on WM_QUIT. On POSIX there is no queue: it returns 0.
    int (*pumpOneMessage)(WindowRef dialog);

    // Names in the install folder, handled without following a planted link.
    // CreateFileA(path, GENERIC_WRITE | DELETE, 0, NULL, CREATE_NEW, 0x08000020,
    // NULL): fails when anything, a link included, already has the name.
    FileRef (*createNewFile)(const char* path);
    // CreateFileA(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE,
    // plus DELETE with share mode 0 when forChange, else every share mode,
    // NULL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL); refused access
    // is tried once more without FILE_WRITE_ATTRIBUTES (Wine as a user who may
    // not write a read-only file). POSIX refuses a symbolic link here
    // (O_NOFOLLOW).
    FileRef (*openExistingName)(const char* path, int forChange);
    // CreateFileA(path, FILE_READ_ATTRIBUTES, every share mode, NULL,
    // OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL): a folder.
    FileRef (*openFolder)(const char* path);
    // GetFileInformationByHandle: dwFileAttributes and nNumberOfLinks; 1 / 0.
    int (*getFileInfo)(FileRef file, uint32_t* attributes, uint32_t* links);
    // GetFinalPathNameByHandleA(file, buffer, size, FILE_NAME_NORMALIZED |
    // VOLUME_NAME_DOS): the length, 0 on failure, size or more when it does
    // not fit. POSIX gives the resolved path with "\" as separator.
    uint32_t (*getFinalPath)(FileRef file, char* buffer, uint32_t size);
    // SetFileInformationByHandle(file, FileBasicInfo) with only the
    // attributes set; 1 / 0.
    int (*setAttributesOf)(FileRef file, uint32_t attributes);
    // SetFileInformationByHandle(file, FileDispositionInfo, TRUE): the name
    // goes when the handle is closed. path is the name the file was opened
    // by (POSIX unlinks it once it still names the same file).
    int (*deleteOpenFile)(FileRef file, const char* path);
    // SetFileInformationByHandle(file, FileRenameInfo, ReplaceIfExists, to):
    // moves the open file itself. A link at to is replaced, not followed.
    int (*moveOpenFile)(FileRef file, const char* from, const char* to);
};

// The live table. Tests may overwrite entries; restoreCalls() undoes that.
Calls& calls();
const Calls& defaultCalls();
void restoreCalls();

} // namespace os
