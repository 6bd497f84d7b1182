// Windows side of the platform seam: each entry is the one Windows call its
// comment in os.h names, with those arguments.
//
//   files        CreateFileA, ReadFile, WriteFile, SetFilePointer, GetFileSize,
//                CloseHandle, FlushFileBuffers
//   paths        SetFileAttributesA, GetFileAttributesA, MoveFileExA, DeleteFileA,
//                GetModuleFileNameA
//   dialog       GetDlgItem, SetWindowTextA, SendMessageA (PBM_SETRANGE32, PBM_SETPOS),
//                GetClientRect, MulDiv, GetTickCount (which positions are worth drawing)
//   messages     PeekMessageA, IsDialogMessageA, TranslateMessage, DispatchMessageA
//   own names    CreateFileA (CREATE_NEW; FILE_FLAG_OPEN_REPARSE_POINT), GetFileInformationByHandle,
//                GetFinalPathNameByHandleA, SetFileInformationByHandle (basic, disposition, rename)
//
// Wine follows a Unix symbolic link in DeleteFileA, MoveFileExA and
// SetFileAttributesA and shows it as a plain file; the handle-based calls act
// on the file that was opened and checked, and a rename replaces a link at its
// destination instead of following it.
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

// A progress bar repaints itself on every PBM_SETPOS that changes its
// position, and under Wine each repaint costs dozens of round trips to the
// Wine and X servers: with a position per 1 MiB chunk that is most of a
// large file's copy time. A position that would leave the drawn bar as it
// is, or that comes within one display frame of the last one drawn, cannot
// be seen, so it is not sent. The start and the end of the range always are,
// so the bar ends exactly where the run leaves it. Bars whose range was not
// set here get every position.
struct BarPacing {
    HWND bar;
    uint32_t high;      // the range's end
    int width;          // client width in pixels
    int drawn;          // filled pixels after the last position sent; -1 none yet
    DWORD sentAt;       // GetTickCount() of that position
};
const DWORD kFrameMs = 15;      // about one frame of a 60 Hz display
BarPacing gBars[2];             // the run's two bars
unsigned gNextBar = 0;

void winSetProgressRange(WindowRef bar, uint32_t high)
{
    SendMessageA(static_cast<HWND>(bar), PBM_SETRANGE32, 0, static_cast<LPARAM>(high));
    BarPacing* pacing = nullptr;
    for (BarPacing& b : gBars)
        if (b.bar == static_cast<HWND>(bar))
            pacing = &b;
    if (pacing == nullptr) {
        pacing = &gBars[gNextBar];
        gNextBar = (gNextBar + 1) % 2;
    }
    RECT client = {};
    GetClientRect(static_cast<HWND>(bar), &client);
    *pacing = {static_cast<HWND>(bar), high, static_cast<int>(client.right - client.left), -1, 0};
}

// 0 when the bar would look the same as after the last position sent.
int worthDrawing(BarPacing& pacing, uint32_t position)
{
    int pixels = position >= pacing.high ? pacing.width
                                         : MulDiv(static_cast<int>(position), pacing.width, static_cast<int>(pacing.high));
    DWORD now = GetTickCount();
    if (position != 0 && position < pacing.high &&
        (pixels == pacing.drawn || (pacing.drawn >= 0 && now - pacing.sentAt < kFrameMs)))
        return 0;
    pacing.drawn = pixels;
    pacing.sentAt = now;
    return 1;
}

void winSetProgressPos(WindowRef bar, uint32_t position)
{
    for (BarPacing& b : gBars)
        if (b.bar == static_cast<HWND>(bar) && b.high != 0 && b.high <= 0x7FFFFFFFu && !worthDrawing(b, position))
            return;
    SendMessageA(static_cast<HWND>(bar), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

int winPumpOneMessage(WindowRef dialog)
{
    MSG msg;
    // Without PM_NOYIELD, Wine gives up the processor (sched_yield) whenever
    // the queue is empty, which is at almost every one of the run's pumps: on
    // a busy machine the copy then waits for other programs once per chunk.
    BOOL taken = PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE | PM_NOYIELD);
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

FileRef winCreateNewFile(const char* path)
{
    return CreateFileA(path, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, kFileFlags, nullptr);
}

FileRef winOpenExistingName(const char* path, int forChange)
{
    DWORD access = FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    if (forChange) {
        access |= DELETE;
        share = 0;
    }
    HANDLE file = CreateFileA(path, access, share, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    // Windows grants FILE_WRITE_ATTRIBUTES on a read-only file; Wine run by
    // a user who may not write the file refuses it, yet lets a handle without
    // it set the attributes all the same.
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
        file = CreateFileA(path, access & ~FILE_WRITE_ATTRIBUTES, share, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    return file;
}

FileRef winOpenFolder(const char* path)
{
    return CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

int winGetFileInfo(FileRef file, uint32_t* attributes, uint32_t* links)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(static_cast<HANDLE>(file), &info))
        return 0;
    *attributes = info.dwFileAttributes;
    *links = info.nNumberOfLinks;
    return 1;
}

uint32_t winGetFinalPath(FileRef file, char* buffer, uint32_t size)
{
    return GetFinalPathNameByHandleA(static_cast<HANDLE>(file), buffer, size,
                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
}

int winSetAttributesOf(FileRef file, uint32_t attributes)
{
    FILE_BASIC_INFO info = {};     // zero times: left as they are
    info.FileAttributes = attributes;
    return SetFileInformationByHandle(static_cast<HANDLE>(file), FileBasicInfo, &info, sizeof info) ? 1 : 0;
}

int winDeleteOpenFile(FileRef file, const char*)
{
    FILE_DISPOSITION_INFO info = {};
    info.DeleteFile = TRUE;
    return SetFileInformationByHandle(static_cast<HANDLE>(file), FileDispositionInfo, &info, sizeof info) ? 1 : 0;
}

int winMoveOpenFile(FileRef file, const char*, const char* to)
{
    // The structure ends in the wide destination path; MAX_PATH characters
    // are all a narrow path of this system can become.
    WCHAR wide[MAX_PATH];
    int length = MultiByteToWideChar(CP_ACP, 0, to, -1, wide, MAX_PATH);
    if (length <= 0)
        return 0;
    --length;   // without its NUL
    size_t bytes = sizeof(FILE_RENAME_INFO) + static_cast<size_t>(length) * sizeof(WCHAR);
    FILE_RENAME_INFO* info = static_cast<FILE_RENAME_INFO*>(::operator new(bytes, std::nothrow));
    if (info == nullptr)
        return 0;
    ZeroMemory(info, bytes);
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(length * sizeof(WCHAR));
    CopyMemory(info->FileName, wide, static_cast<size_t>(length) * sizeof(WCHAR));
    BOOL ok = SetFileInformationByHandle(static_cast<HANDLE>(file), FileRenameInfo, info, static_cast<DWORD>(bytes));
    ::operator delete(info);
    return ok ? 1 : 0;
}

const Calls kDefaultCalls = {
    winOpenForRead, winCreateForWrite, winReadFile, winWriteFile, winSetFilePointer,
    winGetFileSize, winCloseHandle, winFlushFileBuffers, winSetFileAttributes,
    winGetFileAttributes, winMoveFileReplace, winDeleteFile, winGetModuleFileName,
    winAllocate, winRelease, winGetDlgItem, winSetWindowText, winSetProgressRange,
    winSetProgressPos, winPumpOneMessage, winCreateNewFile, winOpenExistingName, winOpenFolder,
    winGetFileInfo, winGetFinalPath, winSetAttributesOf, winDeleteOpenFile, winMoveOpenFile,
};

Calls gCalls = kDefaultCalls;

} // namespace

Calls& calls() { return gCalls; }
const Calls& defaultCalls() { return kDefaultCalls; }
void restoreCalls() { gCalls = kDefaultCalls; }

} // namespace os
