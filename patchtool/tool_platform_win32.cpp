// The patch tool on Windows: code page 932 through the system's own tables,
// the command line read as UTF-16, output in UTF-8.
#include "patchtool/tool_platform.h"

#include <windows.h>
#include <shellapi.h>
#include <io.h>

#include <cstring>

namespace tool {
namespace {

int toWide(UINT codePage, DWORD flags, const std::string& in, std::wstring* out)
{
    out->clear();
    if (in.empty())
        return 1;
    int n = MultiByteToWideChar(codePage, flags, in.data(), static_cast<int>(in.size()), nullptr, 0);
    if (n <= 0)
        return 0;
    out->resize(static_cast<size_t>(n));
    return MultiByteToWideChar(codePage, flags, in.data(), static_cast<int>(in.size()), &(*out)[0], n) == n;
}

// Without best-fit mapping and with the default character watched, a
// character that code page 932 lacks fails instead of turning into "?".
int fromWide(UINT codePage, const std::wstring& in, std::string* out)
{
    out->clear();
    if (in.empty())
        return 1;
    if (codePage == CP_ACP)
        codePage = GetACP();
    BOOL usedDefault = FALSE;
    BOOL* watch = codePage == CP_UTF8 ? nullptr : &usedDefault;
    DWORD flags = codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    int n = WideCharToMultiByte(codePage, flags, in.data(), static_cast<int>(in.size()), nullptr, 0,
                                nullptr, watch);
    if (n <= 0 || usedDefault)
        return 0;
    out->resize(static_cast<size_t>(n));
    n = WideCharToMultiByte(codePage, flags, in.data(), static_cast<int>(in.size()), &(*out)[0], n,
                            nullptr, watch);
    return n > 0 && !usedDefault;
}

char gRemovePath[MAX_PATH];
int32_t* volatile gInterruptFlag = nullptr;

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI onConsoleEvent(DWORD)
{
    if (gInterruptFlag && *gInterruptFlag == 0) {
        *gInterruptFlag = 1;
        return TRUE;
    }
    if (gRemovePath[0])
        DeleteFileA(gRemovePath);
    return FALSE;
}

} // namespace

int runPath(const std::string& utf8, std::string* out) { return corePath(utf8, out); }

int fileSystemPath(const char* runPath, std::string* out)
{
    *out = runPath;
    return 1;
}

int runPathOfFileSystemPath(const std::string& native, std::string* out)
{
    *out = native;
    return 1;
}

void removeOnInterrupt(const std::string& nativePath)
{
    if (nativePath.size() >= sizeof gRemovePath)
        return;
    std::memcpy(gRemovePath, nativePath.c_str(), nativePath.size() + 1);
    SetConsoleCtrlHandler(onConsoleEvent, nativePath.empty() ? FALSE : TRUE);
}

void raiseFlagOnInterrupt(int32_t* flag)
{
    gInterruptFlag = flag;
    SetConsoleCtrlHandler(onConsoleEvent, flag ? TRUE : FALSE);
}

int rawUtf8ToCp932(const std::string& utf8, std::string* cp932)
{
    std::wstring wide;
    return toWide(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, &wide) && fromWide(932, wide, cp932);
}

int rawCp932ToUtf8(const std::string& cp932, std::string* utf8)
{
    std::wstring wide;
    return toWide(932, MB_ERR_INVALID_CHARS, cp932, &wide) && fromWide(CP_UTF8, wide, utf8);
}

std::vector<std::string> commandLineArguments(int, char**)
{
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide)
        return args;
    for (int i = 1; i < count; ++i) {
        std::string utf8;
        fromWide(CP_UTF8, wide[i], &utf8);
        args.push_back(utf8);
    }
    LocalFree(wide);
    return args;
}

void setUpConsole() { SetConsoleOutputCP(CP_UTF8); }

int stderrIsTerminal() { return _isatty(2) ? 1 : 0; }

std::string toolPath()
{
    wchar_t buffer[32768];
    DWORD n = GetModuleFileNameW(nullptr, buffer, 32768);
    if (n == 0 || n >= 32768)
        return std::string();
    std::string utf8;
    fromWide(CP_UTF8, std::wstring(buffer, n), &utf8);
    return utf8;
}

int corePath(const std::string& utf8, std::string* out)
{
    std::wstring wide;
    return toWide(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, &wide) && fromWide(CP_ACP, wide, out);
}

} // namespace tool
