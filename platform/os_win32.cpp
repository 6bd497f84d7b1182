// Windows side of the platform seam: each entry is the one Windows call its
// comment in os.h names, with those arguments.
//
//   files        CreateFileA, ReadFile, WriteFile, SetFilePointer, GetFileSize,
//                CloseHandle, FlushFileBuffers
//   paths        SetFileAttributesA, GetFileAttributesA, MoveFileExA, DeleteFileA,
//                GetModuleFileNameA
//   dialog       GetDlgItem, SetWindowTextA, SendMessageA (PBM_SETRANGE32, PBM_SETPOS)
//   messages     PeekMessageA, IsDialogMessageA, TranslateMessage, DispatchMessageA
#include "platform/os.h"

#include <new>

#include <windows.h>
#include <commctrl.h>

namespace os {
namespace {

const DWORD kFileFlags = FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_ARCHIVE;   // 0x08000020

FileRef winOpenForRead(const char* path)
{
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, kFileFlags, nullptr);
}

FileRef winCreateForWrite(const char* path)
{
    return CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, kFileFlags, nullptr);
}

int winReadFile(FileRef file, void* buffer, uint32_t count, uint32_t* done)
{
    DWORD n = 0;
    BOOL ok = ReadFile(static_cast<HANDLE>(file), buffer, count, &n, nullptr);
    *done = n;
    return ok ? 1 : 0;
}

int winWriteFile(FileRef file, const void* buffer, uint32_t count, uint32_t* done)
{
    DWORD n = 0;
    BOOL ok = WriteFile(static_cast<HANDLE>(file), buffer, count, &n, nullptr);
    *done = n;
    return ok ? 1 : 0;
}

uint32_t winSetFilePointer(FileRef file, int32_t distance)
{
    return SetFilePointer(static_cast<HANDLE>(file), distance, nullptr, FILE_BEGIN);
}

uint32_t winGetFileSize(FileRef file) { return GetFileSize(static_cast<HANDLE>(file), nullptr); }
int winCloseHandle(FileRef file) { return CloseHandle(static_cast<HANDLE>(file)) ? 1 : 0; }
int winFlushFileBuffers(FileRef file) { return FlushFileBuffers(static_cast<HANDLE>(file)) ? 1 : 0; }

int winSetFileAttributes(const char* path, uint32_t attributes)
{
    return SetFileAttributesA(path, attributes) ? 1 : 0;
}

uint32_t winGetFileAttributes(const char* path) { return GetFileAttributesA(path); }

int winMoveFileReplace(const char* from, const char* to)
{
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) ? 1 : 0;
}

int winDeleteFile(const char* path) { return DeleteFileA(path) ? 1 : 0; }

uint32_t winGetModuleFileName(char* buffer, uint32_t size)
{
    return GetModuleFileNameA(nullptr, buffer, size);
}

void* winAllocate(size_t bytes) { return ::operator new(bytes, std::nothrow); }
void winRelease(void* block) { ::operator delete(block); }

WindowRef winGetDlgItem(WindowRef dialog, int id)
{
    return GetDlgItem(static_cast<HWND>(dialog), id);
}

int winSetWindowText(WindowRef window, const char* text)
{
    return SetWindowTextA(static_cast<HWND>(window), text) ? 1 : 0;
}

void winSetProgressRange(WindowRef bar, uint32_t high)
{
    SendMessageA(static_cast<HWND>(bar), PBM_SETRANGE32, 0, static_cast<LPARAM>(high));
}

void winSetProgressPos(WindowRef bar, uint32_t position)
{
    SendMessageA(static_cast<HWND>(bar), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

int winPumpOneMessage(WindowRef dialog)
{
    MSG msg;
    BOOL taken = PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);
    if (!taken)
        return 0;
    if (msg.message == WM_QUIT)
        throw 0;
    if (dialog != nullptr && IsDialogMessageA(static_cast<HWND>(dialog), &msg))
        return taken;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    return taken;
}

const Calls kDefaultCalls = {
    winOpenForRead, winCreateForWrite, winReadFile, winWriteFile, winSetFilePointer,
    winGetFileSize, winCloseHandle, winFlushFileBuffers, winSetFileAttributes,
    winGetFileAttributes, winMoveFileReplace, winDeleteFile, winGetModuleFileName,
    winAllocate, winRelease, winGetDlgItem, winSetWindowText, winSetProgressRange,
    winSetProgressPos, winPumpOneMessage,
};

Calls gCalls = kDefaultCalls;

} // namespace

Calls& calls() { return gCalls; }
const Calls& defaultCalls() { return kDefaultCalls; }
void restoreCalls() { gCalls = kDefaultCalls; }

} // namespace os
