// End-to-end driver: runs the real updater as a player meets it and checks
// what the player sees and what is left in the install folder.
//
//   e2e_driver.exe all [--case NAME] [--shots DIR] [--stub PATH]
//       prepares the registry value and an install folder for each case,
//       builds the updater file with the payload writer (stub: updater.exe
//       beside this program), starts it, reads and answers its windows (or
//       kills it at a chosen moment and runs it again), and checks its exit
//       code and the folder afterwards. Exit status 0 when every case passed.
//   e2e_driver.exe run-updater PATH [--answer yes|no] [--ask-cancel] [--shots DIR]
//       runs an updater that is already built and set up, answers the
//       confirmation, takes the screenshots, dismisses the outcome box and
//       prints the outcome text and the exit code. With --ask-cancel it
//       clicks the cancel button once and answers No, so the run goes on.
//
// Screenshots: with --shots DIR, the program named by E2E_SCREENSHOT_COMMAND
// (default "/usr/bin/import -window root", which Wine starts as a Unix
// program) is run with DIR\NAME.png appended, at the moments that matter.
// Paths may be given as Linux paths; they are reached through \\?\unix\.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include "payload/hash_value_list.h"
#include "payload/payload_archive.h"
#include "payload/payload_writer.h"
#include "resources/resource_ids.h"
#include "ui/texts.h"
#include "update/install_bookkeeping.h"
#include "update/update_result.h"

namespace {

typedef std::vector<uint8_t> Bytes;

const DWORD kExitNotInstalled = 0xFFFFFFFFu;      // -1
const DWORD kExitEngineRunning = 0xFFFFFFFEu;     // -2
const DWORD kExitDeclined = 0xFFFFFFFDu;          // -3
const DWORD kExitAlreadyRunning = 0xFFFFFFFBu;    // -5, another updater held the name

const DWORD kWindowTimeoutMs = 30000;

// ---- output -------------------------------------------------------------------

// Code page 932 text as UTF-8, for a readable log on the Linux side.
std::string utf8(const std::string& ansi)
{
    if (ansi.empty())
        return ansi;
    int n = MultiByteToWideChar(932, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(932, 0, ansi.data(), static_cast<int>(ansi.size()), &wide[0], n);
    int m = WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
    std::string out(m, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, &out[0], m, nullptr, nullptr);
    return out;
}

void say(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string hex(DWORD v)
{
    char b[16];
    std::snprintf(b, sizeof b, "0x%08lX", static_cast<unsigned long>(v));
    return b;
}

// The failures of the running case.
std::vector<std::string> gFailures;

void fail(const char* format, ...)
{
    char buffer[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    gFailures.push_back(buffer);
    say("    FAIL: %s", buffer);
}

#define CHECK(condition, ...) \
    do { \
        if (!(condition)) \
            fail(__VA_ARGS__); \
    } while (0)

// ---- paths and files ----------------------------------------------------------

// A Linux path is reached through Wine's \\?\unix\ namespace: the test
// prefixes have no drive for the Linux root.
std::string windowsPath(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return path;
    std::string out = "\\\\?\\unix";
    for (char c : path)
        out += c == '/' ? '\\' : c;
    return out;
}

std::string ownFolder()
{
    char buffer[MAX_PATH * 2];
    DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    std::string self(buffer, n);
    if (self.compare(0, 5, "unix\\") == 0)
        self = "\\\\?\\" + self;
    return self.substr(0, self.find_last_of('\\') + 1);
}

bool writeBytes(const std::string& path, const Bytes& data)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    DWORD done = 0;
    BOOL ok = data.empty() || WriteFile(f, data.data(), static_cast<DWORD>(data.size()), &done, nullptr);
    CloseHandle(f);
    return ok && done == data.size();
}

bool writeText(const std::string& path, const std::string& text)
{
    return writeBytes(path, Bytes(text.begin(), text.end()));
}

Bytes readBytes(const std::string& path)
{
    Bytes out;
    readWholeFile(path, &out);
    return out;
}

bool exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void removeTree(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = folder + "\\" + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(h, &found));
        FindClose(h);
    }
    RemoveDirectoryA(folder.c_str());
}

// What a folder holds: each file's bytes, attributes and last write time.
struct FileState {
    Bytes bytes;
    DWORD attributes;
    FILETIME written;
    bool operator==(const FileState& o) const
    {
        return bytes == o.bytes && attributes == o.attributes &&
               written.dwLowDateTime == o.written.dwLowDateTime &&
               written.dwHighDateTime == o.written.dwHighDateTime;
    }
};
typedef std::map<std::string, FileState> FolderState;

FolderState snapshot(const std::string& folder)
{
    FolderState out;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return out;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        FileState s;
        s.bytes = readBytes(folder + "\\" + name);
        s.attributes = found.dwFileAttributes;
        s.written = found.ftLastWriteTime;
        out[name] = s;
    } while (FindNextFileA(h, &found));
    FindClose(h);
    return out;
}

void checkUntouched(const FolderState& before, const std::string& folder)
{
    FolderState after = snapshot(folder);
    for (const auto& f : after)
        CHECK(before.count(f.first) == 1, "new file left in the install folder: %s", utf8(f.first).c_str());
    for (const auto& f : before) {
        auto a = after.find(f.first);
        if (a == after.end())
            fail("file gone from the install folder: %s", utf8(f.first).c_str());
        else
            CHECK(a->second == f.second, "file changed (bytes, attributes or time): %s", utf8(f.first).c_str());
    }
}

// Deterministic file contents of a given size.
Bytes pattern(size_t size, uint32_t seed)
{
    Bytes b(size);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        b[i] = static_cast<uint8_t>(x >> 16);
    }
    return b;
}

// ---- the registry value ---------------------------------------------------------

std::string titleKeyPath()
{
    return std::string(kRegistrySoftwareKey) + "\\" + kRegistryMakerKey + "\\" + kRegistryTitleKey;
}

void removeInstallRecord()
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, titleKeyPath().c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(kRegistrySoftwareKey) + "\\" + kRegistryMakerKey).c_str());
}

// Writes the folder as REG_SZ in code page 932 and reads it back.
bool setInstallRecord(const std::string& folder)
{
    removeInstallRecord();
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, titleKeyPath().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        fail("cannot create HKLM\\%s", utf8(titleKeyPath()).c_str());
        return false;
    }
    LONG set = RegSetValueExA(key, kInstalledFolderValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                              static_cast<DWORD>(folder.size() + 1));
    char back[MAX_PATH] = {};
    DWORD type = 0, size = sizeof back;
    LONG got = RegQueryValueExA(key, kInstalledFolderValue, nullptr, &type, reinterpret_cast<BYTE*>(back), &size);
    RegCloseKey(key);
    if (set != ERROR_SUCCESS || got != ERROR_SUCCESS || type != REG_SZ || folder != back) {
        fail("registry value not read back as written: %s", utf8(back).c_str());
        return false;
    }
    return true;
}

// ---- windows of the updater -------------------------------------------------------

std::string classOf(HWND w)
{
    char b[64] = {};
    GetClassNameA(w, b, sizeof b);
    return b;
}

std::string textOf(HWND w)
{
    char b[1024] = {};
    if (w != nullptr)
        GetWindowTextA(w, b, sizeof b);
    return b;
}

bool isMessageBox(HWND w) { return GetDlgItem(w, 0xFFFF) != nullptr; }
bool isProgressDialog(HWND w)
{
    HWND bar = GetDlgItem(w, IDC_FILE_PROGRESS);
    return bar != nullptr && classOf(bar) == "msctls_progress32";
}

struct Windows {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK collect(HWND w, LPARAM data)
{
    Windows* ws = reinterpret_cast<Windows*>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid == ws->pid && classOf(w) == "#32770")
        ws->found.push_back(w);
    return TRUE;
}

std::vector<HWND> dialogsOf(DWORD pid)
{
    Windows ws = {pid, {}};
    EnumWindows(collect, reinterpret_cast<LPARAM>(&ws));
    return ws.found;
}

enum IconKind { ICON_NONE, ICON_INFORMATION, ICON_WARNING, ICON_QUESTION, ICON_OTHER };

const char* iconName(IconKind k)
{
    switch (k) {
    case ICON_INFORMATION: return "information";
    case ICON_WARNING: return "warning";
    case ICON_QUESTION: return "question";
    case ICON_OTHER: return "other";
    default: return "none";
    }
}

BOOL CALLBACK findIcon(HWND child, LPARAM data)
{
    if (classOf(child) == "Static" && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        *reinterpret_cast<HWND*>(data) = child;
        return FALSE;
    }
    return TRUE;
}

std::vector<uint32_t> pixelsOf(HDC dc, HBITMAP bitmap, int w, int h)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<uint32_t> out(static_cast<size_t>(w) * h);
    GetDIBits(dc, bitmap, 0, h, out.data(), &info, DIB_RGB_COLORS);
    for (uint32_t& p : out)
        p &= 0x00FFFFFF;
    return out;
}

// Which system icon the box shows. Icon handles are not shared between
// processes, so the pixels on screen are compared with each system icon
// drawn here on the same background.
IconKind iconOf(HWND box)
{
    HWND icon = nullptr;
    EnumChildWindows(box, findIcon, reinterpret_cast<LPARAM>(&icon));
    if (icon == nullptr)
        return ICON_NONE;
    RECT r;
    GetWindowRect(icon, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0 || w > 256 || h > 256)
        return ICON_OTHER;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(mem, bitmap);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(mem, old);
    std::vector<uint32_t> shown = pixelsOf(mem, bitmap, w, h);
    COLORREF background = GetPixel(screen, r.left, r.top);
    IconKind kind = ICON_OTHER;
    const struct {
        LPCSTR id;
        IconKind kind;
    } candidates[] = {{IDI_ASTERISK, ICON_INFORMATION}, {IDI_EXCLAMATION, ICON_WARNING}, {IDI_QUESTION, ICON_QUESTION}};
    for (const auto& c : candidates) {
        old = SelectObject(mem, bitmap);
        HBRUSH brush = CreateSolidBrush(background);
        RECT all = {0, 0, w, h};
        FillRect(mem, &all, brush);
        DeleteObject(brush);
        DrawIconEx(mem, 0, 0, LoadIconA(nullptr, c.id), 0, 0, 0, nullptr, DI_NORMAL);
        SelectObject(mem, old);
        if (pixelsOf(mem, bitmap, w, h) == shown)
            kind = c.kind;
    }
    DeleteObject(bitmap);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return kind;
}

struct BoxView {
    HWND window = nullptr;
    HWND owner = nullptr;
    std::string caption, text;
    bool yes = false, no = false, ok = false, cancel = false;
    int defaultButton = 0;
    IconKind icon = ICON_NONE;
    LONG textHeight = 0, lineHeight = 0;    // the text control's, and one line of its font
};

// How many lines a box's text takes: the box sizes its text control to the
// text it laid out, one line of the message font (the box's font, a handle
// of the updater's process that this one cannot select) a line.
void measureLines(HWND control, LONG* height, LONG* lineHeight)
{
    RECT r = {0, 0, 0, 0};
    GetClientRect(control, &r);
    *height = r.bottom - r.top;
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    HFONT font = CreateFontIndirectA(&metrics.lfMessageFont);
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICA tm = {};
    GetTextMetricsA(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    DeleteObject(font);
    *lineHeight = tm.tmHeight;
}

BoxView readBox(HWND box)
{
    BoxView v;
    v.window = box;
    v.owner = GetWindow(box, GW_OWNER);
    v.caption = textOf(box);
    v.text = textOf(GetDlgItem(box, 0xFFFF));
    measureLines(GetDlgItem(box, 0xFFFF), &v.textHeight, &v.lineHeight);
    v.yes = GetDlgItem(box, IDYES) != nullptr;
    v.no = GetDlgItem(box, IDNO) != nullptr;
    v.ok = GetDlgItem(box, IDOK) != nullptr;
    v.cancel = GetDlgItem(box, IDCANCEL) != nullptr;
    for (int id : {IDOK, IDYES, IDNO}) {
        HWND b = GetDlgItem(box, id);
        if (b != nullptr && (GetWindowLongA(b, GWL_STYLE) & 0xF) == BS_DEFPUSHBUTTON)
            v.defaultButton = id;
    }
    // Let the box paint itself before its icon is read off the screen.
    RedrawWindow(box, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(100);
    v.icon = iconOf(box);
    return v;
}

// What the driver saw of the progress dialog while the run went on.
struct DialogView {
    HWND window = nullptr;
    std::string caption;
    bool visible = false;
    RECT rect = {0, 0, 0, 0};
    std::vector<std::string> classes;        // controls 1000..1003
    std::string buttonText;
    std::vector<std::string> statusTexts;    // distinct, in the order seen
    DWORD fileRangeLow = 1, fileRangeHigh = 0, totalRangeLow = 1, totalRangeHigh = 0;
    DWORD maxFilePos = 0, maxTotalPos = 0;
    bool totalPosDecreased = false;
};

DWORD_PTR query(HWND w, UINT message, WPARAM wp)
{
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutA(w, message, wp, 0, SMTO_ABORTIFHUNG, 5000, &r))
        return 0xFFFFFFFFu;
    return r;
}

void firstLook(DialogView& v, HWND dialog)
{
    v.window = dialog;
    v.caption = textOf(dialog);
    v.visible = IsWindowVisible(dialog) != 0;
    GetWindowRect(dialog, &v.rect);
    v.classes.clear();
    for (int id = IDC_CANCEL_UPDATE; id <= IDC_TOTAL_PROGRESS; ++id)
        v.classes.push_back(classOf(GetDlgItem(dialog, id)));
    v.buttonText = textOf(GetDlgItem(dialog, IDC_CANCEL_UPDATE));
}

// One look at the controls; false once the dialog is gone.
bool look(DialogView& v)
{
    if (!IsWindow(v.window))
        return false;
    std::string status = textOf(GetDlgItem(v.window, IDC_STATUS_TEXT));
    if (!status.empty() && (v.statusTexts.empty() || v.statusTexts.back() != status))
        v.statusTexts.push_back(status);
    HWND fileBar = GetDlgItem(v.window, IDC_FILE_PROGRESS);
    HWND totalBar = GetDlgItem(v.window, IDC_TOTAL_PROGRESS);
    if (fileBar == nullptr || totalBar == nullptr)
        return IsWindow(v.window) != 0;
    // PBM_GETRANGE with no structure: TRUE asks for the low limit, FALSE the high.
    DWORD fl = static_cast<DWORD>(query(fileBar, PBM_GETRANGE, TRUE));
    DWORD fh = static_cast<DWORD>(query(fileBar, PBM_GETRANGE, FALSE));
    DWORD tl = static_cast<DWORD>(query(totalBar, PBM_GETRANGE, TRUE));
    DWORD th = static_cast<DWORD>(query(totalBar, PBM_GETRANGE, FALSE));
    DWORD fp = static_cast<DWORD>(query(fileBar, PBM_GETPOS, 0));
    DWORD tp = static_cast<DWORD>(query(totalBar, PBM_GETPOS, 0));
    if (!IsWindow(v.window))
        return false;
    if (fh != 0xFFFFFFFFu && fh != 100) {       // 0..100 is the bar's own default before the run sets it
        v.fileRangeLow = fl;
        v.fileRangeHigh = fh;
    }
    if (th != 0xFFFFFFFFu && th != 100) {
        v.totalRangeLow = tl;
        v.totalRangeHigh = th;
    }
    if (fp != 0xFFFFFFFFu && fp > v.maxFilePos)
        v.maxFilePos = fp;
    if (tp != 0xFFFFFFFFu) {
        if (tp < v.maxTotalPos)
            v.totalPosDecreased = true;
        else
            v.maxTotalPos = tp;
    }
    return true;
}

// ---- screenshots ---------------------------------------------------------------

std::string gShotsFolder;    // as given (a Linux path under Wine)

// The Unix path of a Windows one, through Wine's own export; empty where
// there is no Wine.
std::string unixPath(const std::string& windows)
{
    if (!windows.empty() && windows[0] == '/')
        return windows;
    typedef char*(CDECL * ToUnix)(LPCWSTR);
    FARPROC found = GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
    ToUnix toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(found));
    if (toUnix == nullptr)
        return "";
    std::wstring wide(windows.size() + 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, windows.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
    char* converted = toUnix(wide.c_str());
    if (converted == nullptr)
        return "";
    std::string out = converted;
    HeapFree(GetProcessHeap(), 0, converted);
    return out;
}

// Wine starts a Unix program as a process of its own whose handle does not
// wait for it, so the shell writes the picture under a temporary name and
// renames it when complete, and the driver waits for the final name.
void screenshot(const char* name)
{
    if (gShotsFolder.empty())
        return;
    char command[1024];
    DWORD n = GetEnvironmentVariableA("E2E_SCREENSHOT_COMMAND", command, sizeof command);
    std::string take = n > 0 && n < sizeof command ? std::string(command, n) : "import -window root";
    std::string folder = unixPath(gShotsFolder);
    if (folder.empty()) {
        say("    screenshot %s skipped: no Unix path for %s", name, gShotsFolder.c_str());
        return;
    }
    if (folder.back() == '/')
        folder.pop_back();
    std::string file = folder + "/" + name + ".png";
    std::string part = folder + "/" + name + ".part.png";
    DeleteFileA(windowsPath(file).c_str());
    std::string line = "/bin/sh -c \"" + take + " '" + part + "' && mv '" + part + "' '" + file + "'\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    if (!CreateProcessA(windowsPath("/bin/sh").c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &si, &pi)) {
        say("    screenshot %s skipped: no /bin/sh to run \"%s\" (error %lu)", name, take.c_str(), GetLastError());
        return;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    DWORD until = GetTickCount() + 20000;
    while (!exists(windowsPath(file)) && static_cast<int32_t>(until - GetTickCount()) > 0)
        Sleep(50);
    if (exists(windowsPath(file)))
        say("    screenshot %s", file.c_str());
    else
        fail("screenshot %s was not written", file.c_str());
}

// With no window manager on the display, Wine waits two seconds for every
// window it unmaps, and draws no caption on the windows it leaves to one.
// Unmanaged windows it draws, frame and caption, itself. Set for the
// programs this driver starts; the earlier setting comes back at the end.
class UnmanagedWindows {
public:
    UnmanagedWindows()
    {
        if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") == nullptr)
            return;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr) !=
            ERROR_SUCCESS) {
            key_ = nullptr;
            return;
        }
        DWORD size = sizeof old_ - 1;
        DWORD type = 0;
        had_ = RegQueryValueExA(key_, "Managed", nullptr, &type, reinterpret_cast<BYTE*>(old_), &size) ==
               ERROR_SUCCESS;
        oldSize_ = size;
        RegSetValueExA(key_, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
    }
    ~UnmanagedWindows()
    {
        if (key_ == nullptr)
            return;
        if (had_)
            RegSetValueExA(key_, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(old_), oldSize_);
        else
            RegDeleteValueA(key_, "Managed");
        RegCloseKey(key_);
    }
    UnmanagedWindows(const UnmanagedWindows&) = delete;
    UnmanagedWindows& operator=(const UnmanagedWindows&) = delete;

private:
    static constexpr const char* kKey = "Software\\Wine\\X11 Driver";
    HKEY key_ = nullptr;
    bool had_ = false;
    char old_[64] = {};
    DWORD oldSize_ = 0;
};

// Waits until a window of the updater is destroyed or hidden.
void waitGone(HWND w)
{
    DWORD until = GetTickCount() + kWindowTimeoutMs;
    while (IsWindow(w) && IsWindowVisible(w) && static_cast<int32_t>(until - GetTickCount()) > 0)
        Sleep(2);
    if (IsWindow(w) && IsWindowVisible(w))
        fail("a window of the updater did not go away");
}

// ---- one updater process ---------------------------------------------------------

class Updater {
public:
    Updater() = default;
    Updater(const Updater&) = delete;
    Updater& operator=(const Updater&) = delete;
    ~Updater()
    {
        if (pi_.hProcess != nullptr) {
            if (!exited())
                TerminateProcess(pi_.hProcess, 0xDEAD);
            CloseHandle(pi_.hThread);
            CloseHandle(pi_.hProcess);
        }
    }

    bool start(const std::string& exe, const std::string& workFolder = "")
    {
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        // Started in its own folder, as from a file manager; never in the
        // driver's, which Wine cannot enter.
        std::string folder = workFolder.empty() ? exe.substr(0, exe.find_last_of('\\') + 1) : workFolder;
        std::string line = "\"" + exe + "\"";
        std::vector<char> buffer(line.begin(), line.end());
        buffer.push_back('\0');
        // Under load Wine now and then refuses to map a file written a moment
        // ago by a Unix program (ERROR_INTERNAL_ERROR); a later try works.
        BOOL ok = FALSE;
        DWORD error = 0;
        for (int attempt = 0; attempt < 5 && !ok; ++attempt) {
            if (attempt > 0)
                Sleep(1000);
            ok = CreateProcessA(exe.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                folder.empty() ? nullptr : folder.c_str(), &si, &pi_);
            error = ok ? 0 : GetLastError();
            if (!ok && error != ERROR_INTERNAL_ERROR)
                break;
        }
        if (!ok) {
            fail("cannot start %s: error %lu", utf8(exe).c_str(), error);
            pi_ = PROCESS_INFORMATION();
            return false;
        }
        return true;
    }
    bool started() const { return pi_.hProcess != nullptr; }
    DWORD pid() const { return pi_.dwProcessId; }
    DWORD threadId() const { return pi_.dwThreadId; }
    HANDLE thread() const { return pi_.hThread; }
    HANDLE process() const { return pi_.hProcess; }
    bool exited() const { return WaitForSingleObject(pi_.hProcess, 0) == WAIT_OBJECT_0; }

    // The full 32-bit exit code once the process ended; false on time-out.
    bool waitExit(DWORD* code, DWORD ms = kWindowTimeoutMs)
    {
        if (WaitForSingleObject(pi_.hProcess, ms) != WAIT_OBJECT_0) {
            fail("the updater did not end within %lu ms", ms);
            return false;
        }
        GetExitCodeProcess(pi_.hProcess, code);
        return true;
    }

    // Waits for a visible message box (optionally owned by `owner`) or the end
    // of the process. Notes every progress dialog it sees on the way.
    HWND waitBox(DWORD ms = kWindowTimeoutMs)
    {
        DWORD until = GetTickCount() + ms;
        while (static_cast<int32_t>(until - GetTickCount()) > 0) {
            bool gone = exited();
            for (HWND w : dialogsOf(pid())) {
                if (isProgressDialog(w))
                    sawDialog = true;
                else if (IsWindowVisible(w) && isMessageBox(w))
                    return w;
            }
            if (gone)
                return nullptr;
            Sleep(5);
        }
        return nullptr;
    }

    HWND waitDialog(DWORD ms = kWindowTimeoutMs)
    {
        DWORD until = GetTickCount() + ms;
        while (static_cast<int32_t>(until - GetTickCount()) > 0) {
            for (HWND w : dialogsOf(pid()))
                if (isProgressDialog(w) && IsWindowVisible(w)) {
                    sawDialog = true;
                    return w;
                }
            if (exited())
                return nullptr;
            Sleep(1);
        }
        return nullptr;
    }

    bool sawDialog = false;

private:
    PROCESS_INFORMATION pi_ = {};
};

// The path from which a process loaded the module named `name`; empty when
// it has none of that name.
std::string loadedModule(HANDLE process, const char* name)
{
    HMODULE modules[512];
    DWORD bytes = 0;
    if (!K32EnumProcessModules(process, modules, sizeof modules, &bytes))
        return "";
    for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < 512; ++i) {
        char path[MAX_PATH * 2] = {};
        K32GetModuleFileNameExA(process, modules[i], path, sizeof path);
        std::string p = path;
        std::string base = p.substr(p.find_last_of('\\') + 1);
        if (lstrcmpiA(base.c_str(), name) == 0)
            return p;
    }
    return "";
}

// Answers a message box by its button, as a click would, and waits until
// the box is gone so that the next look does not find it again.
void answer(HWND box, int id)
{
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
    waitGone(box);
}

void checkBox(const BoxView& box, const char* text, IconKind icon, bool question, HWND owner, const char* what)
{
    CHECK(box.caption == kWindowCaption, "%s: caption \"%s\"", what, utf8(box.caption).c_str());
    CHECK(box.text == text, "%s: text \"%s\", expected \"%s\"", what, utf8(box.text).c_str(), utf8(text).c_str());
    CHECK(box.owner == owner, "%s: owner %p, expected %p", what, static_cast<void*>(box.owner),
          static_cast<void*>(owner));
    CHECK(box.icon == icon, "%s: icon %s, expected %s", what, iconName(box.icon), iconName(icon));
    // A padded text (26 double-byte characters at most) fits on one line on
    // a Japanese Windows; a second line means the prefix lacks its fonts.
    if (std::strlen(text) <= 52)
        CHECK(box.lineHeight > 0 && box.textHeight < 2 * box.lineHeight,
              "%s: the text takes %ld px, %ld px a line: it wraps (see wine_env_fonts)", what, box.textHeight,
              box.lineHeight);
    if (question) {
        CHECK(box.yes && box.no && !box.ok && !box.cancel, "%s: buttons are not Yes and No", what);
        CHECK(box.defaultButton == IDNO, "%s: default button %d, not No", what, box.defaultButton);
    } else {
        CHECK(box.ok && !box.yes && !box.no && !box.cancel, "%s: buttons are not OK alone", what);
    }
}

// ---- the install folder and the payload ----------------------------------------------

const char kCasesRoot[] = "C:\\e2e";

struct GameFiles {
    std::string updaterPath;      // the built updater file
    std::string folder;           // the install folder
    std::vector<PackEntry> payload;
    Bytes payloadList;            // the KVX.hvl inside the payload
    Bytes installedListAfter;     // expected KVX.hvl after a complete update
    std::string uninstBefore, uninstAfter;
    std::map<std::string, Bytes> payloadFiles;   // name -> bytes, except KVX.hvl
};

std::string gStub;

// The install folder name ends in the game's title, in code page 932.
std::string caseFolder(const char* name) { return std::string(kCasesRoot) + "\\" + name; }

// A payload like the shipped one: four long-layout entries, the hash value
// list first; the list describes a whole installation (files the payload
// does not carry, one of them not installed), with a reserved word that a
// rewrite must carry over. bigSize is the size of the second data file.
bool prepareGame(const char* name, GameFiles* g, size_t bigSize, bool corruptChecksum = false)
{
    std::string root = caseFolder(name);
    removeTree(root);
    CreateDirectoryA(kCasesRoot, nullptr);
    if (!CreateDirectoryA(root.c_str(), nullptr)) {
        fail("cannot create %s", root.c_str());
        return false;
    }
    g->folder = root + "\\" + kRegistryTitleKey;
    g->updaterPath = root + "\\setup.exe";
    if (!CreateDirectoryA(g->folder.c_str(), nullptr)) {
        fail("cannot create the install folder");
        return false;
    }

    Bytes oldData = pattern(3 * 1024 * 1024 + 17, 1);
    Bytes oldSystem = pattern(4096, 2);
    Bytes exe = pattern(70000, 3);
    Bytes data0 = pattern(2 * 1024 * 1024 + 5, 4);     // more than one chunk
    Bytes data1 = pattern(bigSize, 5);
    Bytes system = pattern(1024 * 1024, 6);             // exactly one chunk
    g->payloadFiles = {{"data01000.arc", data0}, {"data01001.arc", data1}, {"system.arc", system}};

    std::vector<HashValueRecord> records = {
        makeHashRecord("Tsukumera.exe", exe.data(), exe.size()),
        makeHashRecord("data01000.arc", data0.data(), data0.size()),
        makeHashRecord("data01001.arc", data1.data(), data1.size()),
        makeHashRecord("data09999.arc", "x", 1),        // not installed: trimmed away
        makeHashRecord("system.arc", system.data(), system.size()),
    };
    if (corruptChecksum)
        records[2].checksum[5] ^= 0x01;
    const uint32_t reserved = 0x00C0FFEE;
    g->payloadList = buildHashValueList(records, reserved);
    g->installedListAfter = buildHashValueList({records[0], records[1], records[2], records[4]}, reserved);

    // Installed before: an older list, older archives (system.arc read-only),
    // the game itself and the uninstall list with its final NUL.
    Bytes oldList = buildHashValueList({makeHashRecord("Tsukumera.exe", exe.data(), exe.size()),
                                        makeHashRecord("data01000.arc", oldData.data(), oldData.size())});
    g->uninstBefore = std::string("Tsukumera.exe\nKVX.hvl\ndata01000.arc\n") + '\0';
    g->uninstAfter = std::string("Tsukumera.exe\nKVX.hvl\ndata01000.arc\ndata01001.arc\nsystem.arc\n") + '\0';
    bool ok = writeBytes(g->folder + "\\Tsukumera.exe", exe) && writeBytes(g->folder + "\\KVX.hvl", oldList) &&
              writeBytes(g->folder + "\\data01000.arc", oldData) &&
              writeBytes(g->folder + "\\system.arc", oldSystem) && writeText(g->folder + "\\uninst.lst", g->uninstBefore);
    SetFileAttributesA((g->folder + "\\system.arc").c_str(), FILE_ATTRIBUTE_READONLY);
    if (!ok) {
        fail("cannot write the install folder");
        return false;
    }

    auto entry = [](const std::string& n, const Bytes& d) {
        PackEntry e;
        e.name = n;
        e.data = d;
        return e;
    };
    g->payload = {entry("KVX.hvl", g->payloadList), entry("data01000.arc", data0), entry("data01001.arc", data1),
                  entry("system.arc", system)};
    return true;
}

bool buildUpdater(const std::string& path, const std::vector<PackEntry>& entries,
                  ArchiveLayout layout = ARCHIVE_LAYOUT_LONG)
{
    PackOptions options;
    options.layout = layout;
    if (!readWholeFile(gStub, &options.stub)) {
        fail("cannot read the stub %s", gStub.c_str());
        return false;
    }
    std::string error;
    if (!writeUpdater(path, entries, options, &error)) {
        fail("cannot build the updater: %s", error.c_str());
        return false;
    }
    return true;
}

void checkCompleted(const GameFiles& g)
{
    FolderState after = snapshot(g.folder);
    std::set<std::string> names;
    for (const auto& f : after)
        names.insert(f.first);
    std::set<std::string> expected = {"KVX.hvl", "Tsukumera.exe", "data01000.arc", "data01001.arc", "system.arc",
                                      "uninst.lst"};
    CHECK(names == expected, "install folder holds %zu files, not exactly the six expected (a .tmp left?)",
          names.size());
    for (const auto& f : g.payloadFiles) {
        auto a = after.find(f.first);
        CHECK(a != after.end() && a->second.bytes == f.second, "%s is not the payload's copy", f.first.c_str());
    }
    auto list = after.find("KVX.hvl");
    CHECK(list != after.end() && list->second.bytes == g.installedListAfter,
          "KVX.hvl is not the payload's list trimmed to the installed files");
    auto uninst = after.find("uninst.lst");
    CHECK(uninst != after.end() && std::string(uninst->second.bytes.begin(), uninst->second.bytes.end()) ==
                                       g.uninstAfter,
          "uninst.lst does not hold the old lines plus data01001.arc and system.arc");
}

std::string installing(const std::string& name)
{
    return name + "\x82\xF0\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5B\x83\x8B\x92\x86";   // をインストール中
}

// The confirmation: checked, optionally photographed, answered.
bool confirm(Updater& u, int id, const char* shot = nullptr)
{
    HWND box = u.waitBox();
    if (box == nullptr) {
        fail("no confirmation box");
        return false;
    }
    BoxView v = readBox(box);
    checkBox(v, kConfirmText, ICON_QUESTION, true, nullptr, "confirmation");
    CHECK(!u.sawDialog, "the progress dialog exists before the confirmation");
    if (shot != nullptr)
        screenshot(shot);
    answer(box, id);
    return true;
}

void checkDialogLayout(const DialogView& v)
{
    CHECK(v.visible, "progress dialog not visible");
    CHECK(v.caption == kWindowCaption, "dialog caption \"%s\"", utf8(v.caption).c_str());
    const std::vector<std::string> classes = {"Button", "Static", "msctls_progress32", "msctls_progress32"};
    CHECK(v.classes == classes, "dialog controls 1000..1003 are not button, static, two progress bars");
    CHECK(v.buttonText == "\x92\x86\x8E\x7E", "cancel button text \"%s\"", utf8(v.buttonText).c_str());   // 中止
    // Centred by the first monitor's size, measured from the origin.
    MONITORINFO mi = {};
    mi.cbSize = sizeof mi;
    POINT origin = {0, 0};
    GetMonitorInfoA(MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY), &mi);
    LONG w = v.rect.right - v.rect.left, h = v.rect.bottom - v.rect.top;
    LONG x = ((mi.rcMonitor.right - mi.rcMonitor.left) - w) / 2;
    LONG y = ((mi.rcMonitor.bottom - mi.rcMonitor.top) - h) / 2;
    CHECK(v.rect.left == x && v.rect.top == y, "dialog at (%ld, %ld), centred would be (%ld, %ld)", v.rect.left,
          v.rect.top, x, y);
}

// Waits until the status text names `name`; the view records what it saw.
bool waitForStatus(DialogView& v, const std::string& name)
{
    DWORD until = GetTickCount() + kWindowTimeoutMs;
    while (static_cast<int32_t>(until - GetTickCount()) > 0) {
        if (!look(v))
            return false;
        if (!v.statusTexts.empty() && v.statusTexts.back() == installing(name))
            return true;
    }
    return false;
}

// Watches the dialog until it is gone (or a box appears), recording.
void watchDialog(Updater& u, DialogView& v)
{
    while (look(v)) {
        bool box = false;
        for (HWND w : dialogsOf(u.pid()))
            box = box || (IsWindowVisible(w) && isMessageBox(w));
        if (box || u.exited())
            break;
    }
}

void checkNoBoxUntilExit(Updater& u, const char* what)
{
    HWND box = u.waitBox();
    if (box != nullptr) {
        BoxView v = readBox(box);
        fail("%s: unexpected box \"%s\"", what, utf8(v.text).c_str());
        answer(box, IDOK);
    }
}

void checkExit(Updater& u, DWORD expected)
{
    DWORD code = 0;
    if (u.waitExit(&code))
        CHECK(code == expected, "exit code %s, expected %s", hex(code).c_str(), hex(expected).c_str());
}

void checkMutexFree(const char* name)
{
    SetLastError(0);
    HANDLE m = CreateMutexA(nullptr, TRUE, name);
    DWORD error = GetLastError();
    CHECK(m != nullptr && error == 0, "mutex \"%s\" still taken (error %lu)", name, error);
    if (m != nullptr)
        CloseHandle(m);
}

// ---- the cases -----------------------------------------------------------------------

const size_t kBig = 48 * 1024 * 1024;    // keeps the dialog up long enough to act on it

void caseComplete()
{
    GameFiles g;
    if (!prepareGame("complete", &g, kBig) || !buildUpdater(g.updaterPath, g.payload) || !setInstallRecord(g.folder))
        return;
    Updater u;
    if (!u.start(g.updaterPath, ""))
        return;
    if (!confirm(u, IDYES, "confirmation"))
        return;
    HWND dialog = u.waitDialog();
    if (dialog == nullptr) {
        fail("no progress dialog");
        return;
    }
    DialogView v;
    firstLook(v, dialog);
    checkDialogLayout(v);
    if (waitForStatus(v, "data01001.arc")) {
        // Hold the run still while the screen is photographed.
        DWORD until = GetTickCount() + 5000;
        while (look(v) && v.maxFilePos == 0 && static_cast<int32_t>(until - GetTickCount()) > 0) {
        }
        SuspendThread(u.thread());
        Sleep(300);
        screenshot("progress");
        ResumeThread(u.thread());
    } else {
        fail("the status text never named data01001.arc");
    }
    watchDialog(u, v);
    CHECK(v.fileRangeLow == 0 && v.fileRangeHigh == 0xFFFF, "file bar range %lu..%lu", v.fileRangeLow,
          v.fileRangeHigh);
    CHECK(v.totalRangeLow == 0 && v.totalRangeHigh == 4, "total bar range %lu..%lu", v.totalRangeLow,
          v.totalRangeHigh);
    CHECK(v.maxFilePos > 0 && v.maxFilePos <= 0xFFFF, "file bar position %lu", v.maxFilePos);
    CHECK(v.maxTotalPos >= 1 && v.maxTotalPos <= 4 && !v.totalPosDecreased, "total bar position %lu",
          v.maxTotalPos);
    const std::vector<std::string> order = {installing("KVX.hvl"), installing("data01000.arc"),
                                            installing("data01001.arc"), installing("system.arc")};
    size_t k = 0;
    for (const std::string& s : v.statusTexts) {
        while (k < order.size() && order[k] != s)
            ++k;
        CHECK(k < order.size(), "status text \"%s\" out of order or unknown", utf8(s).c_str());
    }

    HWND box = u.waitBox();
    if (box == nullptr) {
        fail("no outcome box");
        return;
    }
    CHECK(!IsWindow(dialog), "the dialog still exists while the outcome box is shown");
    BoxView outcome = readBox(box);
    checkBox(outcome, kUpdateCompleteText, ICON_INFORMATION, false, nullptr, "outcome");
    screenshot("outcome");
    // The exit code comes only after the box is dismissed.
    Sleep(200);
    CHECK(!u.exited(), "the updater ended while its outcome box was up");
    answer(box, IDOK);
    checkExit(u, UPDATE_OK);
    checkCompleted(g);
    checkMutexFree(kUpdaterMutexName);
    checkMutexFree(kEngineMutexName);
}

void caseDeclined(bool byEnter)
{
    const char* name = byEnter ? "declined-enter" : "declined";
    GameFiles g;
    if (!prepareGame(name, &g, 1000) || !buildUpdater(g.updaterPath, g.payload) || !setInstallRecord(g.folder))
        return;
    FolderState before = snapshot(g.folder);
    Updater u;
    if (!u.start(g.updaterPath, ""))
        return;
    HWND box = u.waitBox();
    if (box == nullptr) {
        fail("no confirmation box");
        return;
    }
    checkBox(readBox(box), kConfirmText, ICON_QUESTION, true, nullptr, "confirmation");
    if (byEnter) {
        // Enter goes to the focused button, which is the default one: No.
        GUITHREADINFO gui = {};
        gui.cbSize = sizeof gui;
        GetGUIThreadInfo(u.threadId(), &gui);
        HWND target = gui.hwndFocus != nullptr ? gui.hwndFocus : box;
        CHECK(GetDlgCtrlID(target) == IDNO, "focus is on control %d, not No", GetDlgCtrlID(target));
        PostMessageA(target, WM_KEYDOWN, VK_RETURN, 0x001C0001);
        PostMessageA(target, WM_KEYUP, VK_RETURN, 0xC01C0001);
        waitGone(box);
    } else {
        answer(box, IDNO);
    }
    checkNoBoxUntilExit(u, "after No");
    CHECK(!u.sawDialog, "a progress dialog was created after No");
    checkExit(u, kExitDeclined);
    checkUntouched(before, g.folder);
}

void caseNotInstalled()
{
    GameFiles g;
    if (!prepareGame("not-installed", &g, 1000) || !buildUpdater(g.updaterPath, g.payload))
        return;
    removeInstallRecord();
    FolderState before = snapshot(g.folder);
    Updater u;
    if (!u.start(g.updaterPath, ""))
        return;
    HWND box = u.waitBox();
    if (box == nullptr) {
        fail("no warning");
        return;
    }
    checkBox(readBox(box), kNotInstalledText, ICON_WARNING, false, nullptr, "not installed");
    answer(box, IDOK);
    checkNoBoxUntilExit(u, "after the warning");
    checkExit(u, kExitNotInstalled);
    CHECK(!u.sawDialog, "a progress dialog was created");
    checkUntouched(before, g.folder);
}

void caseEngineRunning()
{
    GameFiles g;
    if (!prepareGame("engine-running", &g, 1000) || !buildUpdater(g.updaterPath, g.payload) ||
        !setInstallRecord(g.folder))
        return;
    FolderState before = snapshot(g.folder);
    HANDLE engine = CreateMutexA(nullptr, TRUE, kEngineMutexName);
    {
        Updater u;
        if (u.start(g.updaterPath, "")) {
            HWND box = u.waitBox();
            if (box == nullptr) {
                fail("no warning");
            } else {
                checkBox(readBox(box), kEngineRunningText, ICON_WARNING, false, nullptr, "engine running");
                answer(box, IDOK);
                checkNoBoxUntilExit(u, "after the warning");
                checkExit(u, kExitEngineRunning);
            }
        }
    }
    CloseHandle(engine);
    // The updater's own name is free again: a later start gets as far as the question.
    checkMutexFree(kUpdaterMutexName);
    Updater again;
    if (again.start(g.updaterPath, "") && confirm(again, IDNO))
        checkExit(again, kExitDeclined);
    checkUntouched(before, g.folder);
}

void caseSecondUpdater()
{
    GameFiles g;
    if (!prepareGame("second-updater", &g, 1000) || !buildUpdater(g.updaterPath, g.payload) ||
        !setInstallRecord(g.folder))
        return;
    FolderState before = snapshot(g.folder);

    // The name held by this driver: the updater ends at once, showing nothing.
    {
        HANDLE held = CreateMutexA(nullptr, TRUE, kUpdaterMutexName);
        Updater u;
        if (u.start(g.updaterPath, "")) {
            checkNoBoxUntilExit(u, "updater name held");
            CHECK(!u.sawDialog, "a dialog was created while the updater name was held");
            checkExit(u, kExitAlreadyRunning);
        }
        CloseHandle(held);
    }

    // Two updaters: the second one ends silently, the first one goes on.
    Updater first;
    if (!first.start(g.updaterPath, ""))
        return;
    HWND box = first.waitBox();
    if (box == nullptr) {
        fail("first updater shows no confirmation");
        return;
    }
    {
        Updater second;
        if (second.start(g.updaterPath, "")) {
            checkNoBoxUntilExit(second, "second updater");
            CHECK(!second.sawDialog, "the second updater created a dialog");
            checkExit(second, kExitAlreadyRunning);
        }
    }
    CHECK(IsWindow(box) && IsWindowVisible(box) && !first.exited(), "the first updater's question is gone");
    checkBox(readBox(box), kConfirmText, ICON_QUESTION, true, nullptr, "first updater's confirmation");
    answer(box, IDNO);
    checkExit(first, kExitDeclined);
    checkUntouched(before, g.folder);
}

// Starts an updater of a big payload, answers Yes and waits until the
// dialog names the second data file. The dialog, or null after a failure.
HWND runToSecondFile(const char* name, GameFiles* g, FolderState* before, Updater* u, DialogView* v)
{
    if (!prepareGame(name, g, kBig) || !buildUpdater(g->updaterPath, g->payload) || !setInstallRecord(g->folder))
        return nullptr;
    *before = snapshot(g->folder);
    if (!u->start(g->updaterPath, "") || !confirm(*u, IDYES))
        return nullptr;
    HWND dialog = u->waitDialog();
    if (dialog == nullptr) {
        fail("no progress dialog");
        return nullptr;
    }
    firstLook(*v, dialog);
    if (!waitForStatus(*v, "data01001.arc")) {
        fail("the status text never named data01001.arc");
        return nullptr;
    }
    return dialog;
}

// Cancel clicked while the second data file is being staged.
void caseCancel(bool confirmed)
{
    const char* name = confirmed ? "cancel-yes" : "cancel-no";
    GameFiles g;
    FolderState before;
    Updater u;
    DialogView v;
    HWND dialog = runToSecondFile(name, &g, &before, &u, &v);
    if (dialog == nullptr)
        return;
    HWND button = GetDlgItem(dialog, IDC_CANCEL_UPDATE);
    PostMessageA(button, BM_CLICK, 0, 0);
    HWND question = u.waitBox();
    if (question == nullptr) {
        fail("no cancel question");
        return;
    }
    BoxView q = readBox(question);
    checkBox(q, kCancelQuestionText, ICON_QUESTION, true, dialog, "cancel question");
    // The run waits while the question is open.
    std::string status = textOf(GetDlgItem(dialog, IDC_STATUS_TEXT));
    DWORD pos = static_cast<DWORD>(query(GetDlgItem(dialog, IDC_FILE_PROGRESS), PBM_GETPOS, 0));
    Sleep(300);
    CHECK(textOf(GetDlgItem(dialog, IDC_STATUS_TEXT)) == status &&
              static_cast<DWORD>(query(GetDlgItem(dialog, IDC_FILE_PROGRESS), PBM_GETPOS, 0)) == pos,
          "the run went on while the cancel question was open");
    if (confirmed)
        screenshot("cancel-question");
    answer(question, confirmed ? IDYES : IDNO);

    if (confirmed) {
        checkNoBoxUntilExit(u, "after a confirmed cancel");
        checkExit(u, UPDATE_E_CANCELLED);
        checkUntouched(before, g.folder);
        return;
    }
    // Answered No: the button stays enabled and the update completes.
    Sleep(50);
    CHECK(!IsWindow(button) || IsWindowEnabled(button), "the cancel button was disabled after No");
    HWND box = u.waitBox();
    if (box == nullptr) {
        fail("no outcome box");
        return;
    }
    checkBox(readBox(box), kUpdateCompleteText, ICON_INFORMATION, false, nullptr, "outcome");
    answer(box, IDOK);
    checkExit(u, UPDATE_OK);
    checkCompleted(g);
}

// The dialog closed by another program (WM_CLOSE), or a quit message for the thread.
void caseClosed(bool quit)
{
    const char* name = quit ? "quit-message" : "dialog-closed";
    GameFiles g;
    FolderState before;
    Updater u;
    DialogView v;
    HWND dialog = runToSecondFile(name, &g, &before, &u, &v);
    if (dialog == nullptr)
        return;
    if (quit)
        PostThreadMessageA(u.threadId(), WM_QUIT, 0, 0);
    else
        PostMessageA(dialog, WM_CLOSE, 0, 0);
    checkNoBoxUntilExit(u, quit ? "after the quit message" : "after WM_CLOSE");
    checkExit(u, UPDATE_E_CLOSED);
    CHECK(!IsWindow(dialog), "the dialog outlived the updater");
    checkUntouched(before, g.folder);
}

// ---- killed runs ---------------------------------------------------------------------

// The process may be killed or the power cut at any moment. The updater is
// killed from here (TerminateProcess) at a chosen moment, the folder is read
// as the kill left it, and the same updater is run again to completion.

const DWORD kKilledExitCode = 0xC0DE0009u;     // more than 8 bits: read whole with GetExitCodeProcess
const size_t kKillBig = 6 * 1024 * 1024 + 3;  // the second data file: six full chunks and a short one

// Where a run stands, judged from the install folder alone, in run order.
enum RunStage {
    STAGE_NOT_BEGUN,
    STAGE_INSIDE_FILE,      // a temporary file partly written (or created, still empty)
    STAGE_BETWEEN_FILES,    // a file staged in full, the next one not created yet
    STAGE_ALL_STAGED,       // every file staged, none moved
    STAGE_COMMITTING,       // some staged files moved over the installed ones
    STAGE_BOOKKEEPING,      // every file moved, KVX.hvl or uninst.lst not final yet
    STAGE_DONE,
};

struct Moment {
    RunStage stage;
    std::string file;       // the file inside or after which the run stands
    std::string text;
};

// The payload's bytes a temporary file "NAME.tmp" is written with; null for
// any other name.
const Bytes* stagedBytes(const GameFiles& g, const std::string& tempName)
{
    const std::string suffix = ".tmp";
    if (tempName.size() <= suffix.size() ||
        tempName.compare(tempName.size() - suffix.size(), suffix.size(), suffix) != 0)
        return nullptr;
    std::string name = tempName.substr(0, tempName.size() - suffix.size());
    for (const PackEntry& e : g.payload)
        if (e.name == name)
            return &e.data;
    return nullptr;
}

// An installed file holding what the run puts there: KVX.hvl either as the
// payload carries it (moved in, not trimmed yet) or trimmed.
bool holdsNewBytes(const GameFiles& g, const std::string& name, const Bytes& bytes)
{
    if (name == "KVX.hvl")
        return bytes == g.payloadList || bytes == g.installedListAfter;
    if (name == "uninst.lst")
        return bytes == Bytes(g.uninstAfter.begin(), g.uninstAfter.end());
    auto f = g.payloadFiles.find(name);
    return f != g.payloadFiles.end() && f->second == bytes;
}

// True when `bytes` is how a file being written with `full` can look when
// the writer dies: the start of `full`, where the rest may still be zeros.
bool isStartOf(const Bytes& bytes, const Bytes& full)
{
    if (bytes.size() > full.size())
        return false;
    size_t same = 0;
    while (same < bytes.size() && bytes[same] == full[same])
        ++same;
    for (size_t i = same; i < bytes.size(); ++i)
        if (bytes[i] != 0)
            return false;
    return true;
}

Moment momentOf(const GameFiles& g, const FolderState& s)
{
    auto bytesOf = [&s](const std::string& name) -> const Bytes* {
        auto f = s.find(name);
        return f == s.end() ? nullptr : &f->second.bytes;
    };
    size_t count = g.payload.size(), moved = 0;
    int lastTemp = -1;
    std::string lastMoved;
    for (size_t i = 0; i < count; ++i) {
        const std::string& name = g.payload[i].name;
        const Bytes* installed = bytesOf(name);
        if (bytesOf(name + ".tmp") != nullptr) {
            lastTemp = static_cast<int>(i);
        } else if (installed != nullptr && holdsNewBytes(g, name, *installed)) {
            ++moved;
            lastMoved = name;
        }
    }
    char line[256];
    if (moved == count) {
        const Bytes* list = bytesOf("KVX.hvl");
        const Bytes* uninst = bytesOf("uninst.lst");
        bool trimmed = list != nullptr && *list == g.installedListAfter;
        bool listed = uninst != nullptr && holdsNewBytes(g, "uninst.lst", *uninst);
        std::string sides;
        for (const char* side : {kHashListSideName, kUninstallSideName}) {
            if (const Bytes* bytes = bytesOf(side))
                sides += ", " + std::string(side) + " of " + std::to_string(bytes->size()) + " bytes";
        }
        if (trimmed && listed && sides.empty())
            return {STAGE_DONE, "", "every file moved, the bookkeeping done"};
        std::snprintf(line, sizeof line, "every file moved; KVX.hvl %s, uninst.lst %s%s",
                      trimmed ? "trimmed" : "not trimmed yet", listed ? "updated" : "not updated yet",
                      sides.c_str());
        return {STAGE_BOOKKEEPING, "", line};
    }
    if (moved > 0) {
        std::snprintf(line, sizeof line, "committing: %zu of %zu files moved, the last %s", moved, count,
                      lastMoved.c_str());
        return {STAGE_COMMITTING, lastMoved, line};
    }
    if (lastTemp < 0)
        return {STAGE_NOT_BEGUN, "", "no file staged yet"};
    const std::string& name = g.payload[lastTemp].name;
    const Bytes& temp = *bytesOf(name + ".tmp");
    const Bytes& full = g.payload[lastTemp].data;
    if (temp != full) {
        std::snprintf(line, sizeof line, "inside %s: %zu of %zu bytes staged", name.c_str(), temp.size(),
                      full.size());
        return {STAGE_INSIDE_FILE, name, line};
    }
    if (static_cast<size_t>(lastTemp) + 1 == count)
        return {STAGE_ALL_STAGED, name, "every file staged, none moved"};
    std::snprintf(line, sizeof line, "between files: %s staged, %s not begun", name.c_str(),
                  g.payload[lastTemp + 1].name.c_str());
    return {STAGE_BETWEEN_FILES, name, line};
}

// Right after a kill: every installed file holds its old bytes or its new
// ones, a temporary or side file the start of what it is written with, and
// nothing else is in the folder.
void checkOldOrNew(const GameFiles& g, const FolderState& before, const FolderState& now)
{
    const Bytes uninstAfter(g.uninstAfter.begin(), g.uninstAfter.end());
    for (const auto& f : before)
        CHECK(now.count(f.first) == 1, "after the kill: %s is gone", utf8(f.first).c_str());
    for (const auto& f : now) {
        const std::string& name = f.first;
        const Bytes& bytes = f.second.bytes;
        auto old = before.find(name);
        const Bytes* staged = stagedBytes(g, name);
        bool ok = (old != before.end() && bytes == old->second.bytes) || holdsNewBytes(g, name, bytes) ||
                  (staged != nullptr && isStartOf(bytes, *staged)) ||
                  (name == kHashListSideName && isStartOf(bytes, g.installedListAfter)) ||
                  (name == kUninstallSideName && isStartOf(bytes, uninstAfter));
        CHECK(ok, "after the kill: %s (%zu bytes) holds neither its old nor its new bytes", utf8(name).c_str(),
              bytes.size());
    }
}

// Until the updater's dialog names a file, then until a file in the install
// folder is there, has data, is complete (a temporary copy as long as the
// payload's file), or is gone (moved).
enum KillWhen { KILL_WHEN_PRESENT, KILL_WHEN_HAS_DATA, KILL_WHEN_FULL, KILL_WHEN_GONE };

struct KillPoint {
    const char* caseName;
    const char* what;
    const char* named;          // the dialog's status text names this file first,
    const char* watched;        // then this file in the install folder is watched
    KillWhen when;
    unsigned wanted;            // bit (1 << RunStage) for each stage that counts as the moment
};

// KVX.hvl is the first entry and fits one chunk; data01000.arc, the second,
// is the first file written over several chunks.
const KillPoint kKillPoints[] = {
    {"killed-inside-file", "inside the first data file", "data01000.arc", "data01000.arc.tmp", KILL_WHEN_HAS_DATA,
     1u << STAGE_INSIDE_FILE},
    {"killed-between-files", "between two files", "data01000.arc", "data01000.arc.tmp", KILL_WHEN_FULL,
     1u << STAGE_BETWEEN_FILES},
    {"killed-last-staged", "once the last file is staged", "system.arc", "system.arc.tmp", KILL_WHEN_FULL,
     (1u << STAGE_ALL_STAGED) | (1u << STAGE_COMMITTING) | (1u << STAGE_BOOKKEEPING)},
    {"killed-in-commit", "in the commit", "system.arc", "data01000.arc.tmp", KILL_WHEN_GONE,
     (1u << STAGE_COMMITTING) | (1u << STAGE_BOOKKEEPING)},
    {"killed-trimming", "while KVX.hvl is trimmed", "system.arc", kHashListSideName, KILL_WHEN_PRESENT,
     1u << STAGE_BOOKKEEPING},
    {"killed-listing", "while uninst.lst is rewritten", "system.arc", kUninstallSideName, KILL_WHEN_PRESENT,
     1u << STAGE_BOOKKEEPING},
};

// The size of a file, -1 when there is none.
int64_t sizeOf(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &d))
        return -1;
    return (static_cast<int64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
}

// One attempt: the updater killed at the point, the folder checked, the
// updater run again. True when the kill landed at the moment wanted.
bool killOnce(const KillPoint& point)
{
    const char* name = point.caseName;
    GameFiles g;
    if (!prepareGame(name, &g, kKillBig) || !buildUpdater(g.updaterPath, g.payload) || !setInstallRecord(g.folder))
        return false;
    FolderState before = snapshot(g.folder);
    Updater u;
    if (!u.start(g.updaterPath) || !confirm(u, IDYES))
        return false;
    HWND dialog = u.waitDialog();
    if (dialog == nullptr) {
        fail("no progress dialog");
        return false;
    }
    // The dialog shows the run reaching the file (the status text is set just
    // before its temporary file is created); from there the folder is
    // watched. Only the status text is read: a window's text comes without a
    // message, while a bar's position waits for the run's next pump, a chunk
    // later, or for the whole commit, which pumps none.
    HWND status = GetDlgItem(dialog, IDC_STATUS_TEXT);
    const std::string watched = g.folder + "\\" + point.watched;
    const Bytes* staged = stagedBytes(g, point.watched);
    const int64_t full = staged != nullptr ? static_cast<int64_t>(staged->size()) : -1;
    auto watchedReached = [&]() {
        int64_t n = sizeOf(watched);
        switch (point.when) {
        case KILL_WHEN_PRESENT: return n >= 0;
        case KILL_WHEN_HAS_DATA: return n > 0;
        case KILL_WHEN_FULL: return n == full;
        default: return n < 0;
        }
    };
    std::string seen;
    bool named = false, reached = false;
    DWORD until = GetTickCount() + kWindowTimeoutMs;
    while (!reached && IsWindow(dialog) && static_cast<int32_t>(until - GetTickCount()) > 0) {
        if (!named) {
            std::string text = textOf(status);
            if (!text.empty())
                seen = text;
            named = text == installing(point.named);
        }
        reached = named && watchedReached();
    }
    if (!TerminateProcess(u.process(), kKilledExitCode))
        fail("TerminateProcess failed: error %lu", GetLastError());
    checkExit(u, kKilledExitCode);
    FolderState killed = snapshot(g.folder);
    Moment m = momentOf(g, killed);
    // Inside or after a file: that file must be the one watched.
    bool atFile = m.stage == STAGE_INSIDE_FILE || m.stage == STAGE_BETWEEN_FILES;
    bool hit = (point.wanted & (1u << m.stage)) != 0 && (!atFile || m.file + ".tmp" == point.watched);
    say("    the dialog last showed \"%s\"%s", utf8(seen).c_str(),
        !named ? " (never the file waited for)" : !reached ? ", the folder never the state waited for" : "");
    say("    killed: %s (%s)", m.text.c_str(), hit ? "the moment wanted" : "not the moment wanted");
    checkOldOrNew(g, before, killed);

    Updater again;
    if (!again.start(g.updaterPath) || !confirm(again, IDYES))
        return hit;
    HWND box = again.waitBox();
    if (box == nullptr) {
        fail("no outcome box after the re-run");
        return hit;
    }
    checkBox(readBox(box), kUpdateCompleteText, ICON_INFORMATION, false, nullptr, "outcome of the re-run");
    answer(box, IDOK);
    checkExit(again, UPDATE_OK);
    checkCompleted(g);
    return hit;
}

// A kill that lands a little late still proves convergence, but not at the
// moment this case is for: it is tried again, a few times at most.
void caseKilled(const KillPoint& point)
{
    say("  - killed %s", point.what);
    const int kAttempts = 4;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        size_t failures = gFailures.size();
        bool hit = killOnce(point);
        if (gFailures.size() != failures || hit)
            return;
        if (attempt < kAttempts)
            say("    trying again");
    }
    fail("the kill never landed %s in %d attempts", point.what, kAttempts);
}

void caseChecksumMismatch()
{
    GameFiles g;
    if (!prepareGame("checksum-mismatch", &g, 3 * 1024 * 1024, true) || !buildUpdater(g.updaterPath, g.payload) ||
        !setInstallRecord(g.folder))
        return;
    FolderState before = snapshot(g.folder);
    Updater u;
    if (!u.start(g.updaterPath, "") || !confirm(u, IDYES))
        return;
    HWND box = u.waitBox();
    if (box == nullptr) {
        fail("no outcome box");
        return;
    }
    checkBox(readBox(box), kDamagedText, ICON_WARNING, false, nullptr, "outcome");
    answer(box, IDOK);
    checkExit(u, UPDATE_E_PAYLOAD);
    checkUntouched(before, g.folder);
}

void caseMissingFolder()
{
    GameFiles g;
    if (!prepareGame("missing-folder", &g, 1000) || !buildUpdater(g.updaterPath, g.payload))
        return;
    std::string missing = caseFolder("missing-folder") + "\\not-there";
    if (!setInstallRecord(missing))
        return;
    Updater u;
    if (!u.start(g.updaterPath, "") || !confirm(u, IDYES))
        return;
    HWND box = u.waitBox();
    if (box == nullptr) {
        fail("no outcome box");
        return;
    }
    checkBox(readBox(box), kCannotUpdateText, ICON_WARNING, false, nullptr, "outcome");
    answer(box, IDOK);
    checkExit(u, UPDATE_E_FILE_IO);
    CHECK(!exists(missing), "the missing install folder was created");
}

// Damaged updater files: no payload at all, and a table of 33 entries.
void caseDamaged()
{
    GameFiles g;
    if (!prepareGame("damaged", &g, 1000) || !setInstallRecord(g.folder))
        return;
    FolderState before = snapshot(g.folder);
    std::vector<PackEntry> many(33);
    for (size_t i = 0; i < many.size(); ++i) {
        many[i].name = "file" + std::to_string(i) + ".dat";
        many[i].data = Bytes(1, static_cast<uint8_t>(i));
    }
    struct Variant {
        const char* what;
        bool bareStub;
        DWORD code;
    } variants[] = {{"bare stub", true, UPDATE_E_PAYLOAD}, {"33 entries", false, UPDATE_E_TOO_MANY_ENTRIES}};
    for (const Variant& v : variants) {
        say("  - %s", v.what);
        std::string path = caseFolder("damaged") + "\\setup.exe";
        if (v.bareStub) {
            Bytes stub = readBytes(gStub);
            if (stub.empty() || !writeBytes(path, stub)) {
                fail("cannot copy the stub");
                continue;
            }
        } else if (!buildUpdater(path, many)) {
            continue;
        }
        Updater u;
        if (!u.start(path, "") || !confirm(u, IDYES))
            continue;
        HWND box = u.waitBox();
        if (box == nullptr) {
            fail("no outcome box");
            continue;
        }
        checkBox(readBox(box), kDamagedText, ICON_WARNING, false, nullptr, v.what);
        answer(box, IDOK);
        checkExit(u, v.code);
    }
    checkUntouched(before, g.folder);
}

void caseNoUninstallList()
{
    GameFiles g;
    if (!prepareGame("no-uninstall-list", &g, 1000) || !buildUpdater(g.updaterPath, g.payload) ||
        !setInstallRecord(g.folder))
        return;
    DeleteFileA((g.folder + "\\uninst.lst").c_str());
    Updater u;
    if (!u.start(g.updaterPath, "") || !confirm(u, IDYES))
        return;
    HWND box = u.waitBox();
    if (box == nullptr) {
        fail("no outcome box");
        return;
    }
    checkBox(readBox(box), kUninstallListText, ICON_WARNING, false, nullptr, "outcome");
    answer(box, IDOK);
    checkExit(u, UPDATE_E_UNINSTALL_LIST);
    for (const auto& f : g.payloadFiles)
        CHECK(readBytes(g.folder + "\\" + f.first) == f.second, "%s not replaced", f.first.c_str());
    CHECK(!exists(g.folder + "\\uninst.lst"), "an uninstall list was created");
}

// A comctl32.dll planted beside the updater (say, in a Downloads folder) is
// never loaded: the marker it would write stays absent, and the dialog still
// gets its progress bars from the system's copy.
void casePlantedDll()
{
    const char* name = "planted-dll";
    GameFiles g;
    if (!prepareGame(name, &g, 1000) || !buildUpdater(g.updaterPath, g.payload) || !setInstallRecord(g.folder))
        return;
    std::string planted = ownFolder() + "planted\\comctl32.dll";
    std::string beside = caseFolder(name) + "\\comctl32.dll";
    if (!CopyFileA(planted.c_str(), beside.c_str(), FALSE)) {
        fail("cannot plant %s", planted.c_str());
        return;
    }
    // Wine takes its own comctl32 wherever the search finds the name, unless
    // told to prefer a native one; this program name is told so (Windows
    // always would), and the search must still not find the planted copy.
    std::string exe = caseFolder(name) + "\\update.exe";
    MoveFileA(g.updaterPath.c_str(), exe.c_str());
    const char kAppKey[] = "Software\\Wine\\AppDefaults\\update.exe\\DllOverrides";
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kAppKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
        ERROR_SUCCESS) {
        const char kOrder[] = "native,builtin";
        RegSetValueExA(key, "comctl32", 0, REG_SZ, reinterpret_cast<const BYTE*>(kOrder), sizeof kOrder);
        RegCloseKey(key);
    }
    Updater u;
    bool started = u.start(exe);
    if (!started || !confirm(u, IDYES)) {
        RegDeleteKeyA(HKEY_CURRENT_USER, kAppKey);
        return;
    }
    HWND box = u.waitBox();
    CHECK(u.sawDialog, "no progress dialog was created");
    if (box == nullptr) {
        fail("no outcome box");
        return;
    }
    std::string loaded = loadedModule(u.process(), "comctl32.dll");
    CHECK(!loaded.empty() && loaded.find(caseFolder(name)) == std::string::npos,
          "comctl32 loaded from \"%s\"", loaded.c_str());
    checkBox(readBox(box), kUpdateCompleteText, ICON_INFORMATION, false, nullptr, "outcome");
    answer(box, IDOK);
    checkExit(u, UPDATE_OK);
    RegDeleteKeyA(HKEY_CURRENT_USER, kAppKey);
    CHECK(!exists(caseFolder(name) + "\\planted-dll-loaded"), "the updater ran the planted comctl32.dll");
}

struct Case {
    const char* name;
    void (*run)();
};

// ---- the fonts the windows are drawn with ----------------------------------------------

struct RealFont {
    std::string face;
    bool kana = false;           // has glyphs for the texts' characters
    bool proportional = false;
};

RealFont realise(const char* name, BYTE charset)
{
    LOGFONTA lf = {};
    lf.lfHeight = -12;    // 9 points
    lf.lfCharSet = charset;
    lstrcpynA(lf.lfFaceName, name, LF_FACESIZE);
    HFONT font = CreateFontIndirectA(&lf);
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    RealFont r;
    char face[LF_FACESIZE] = "";
    GetTextFaceA(dc, LF_FACESIZE, face);
    r.face = face;
    const wchar_t sample[] = L"\u30A2\u30C3\u30D7\u5B8C\u4E86\u3057\u3000";    // アップ完了し, U+3000
    WORD glyphs[7];
    r.kana = GetGlyphIndicesW(dc, sample, 7, glyphs, GGI_MARK_NONEXISTING_GLYPHS) == 7;
    for (WORD g : glyphs)
        r.kana = r.kana && g != 0xFFFF;
    TEXTMETRICA tm = {};
    GetTextMetricsA(dc, &tm);
    r.proportional = (tm.tmPitchAndFamily & TMPF_FIXED_PITCH) != 0;    // the bit means variable pitch
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    DeleteObject(font);
    return r;
}

// The boxes take "MS Shell Dlg", which a Japanese system maps to "MS UI
// Gothic", the dialog template's font; both must be a proportional Japanese
// font, or Wine wraps the padded texts. Marlett draws the caption buttons.
void caseFonts()
{
    RealFont marlett = realise("Marlett", SYMBOL_CHARSET);
    CHECK(marlett.face == "Marlett", "Marlett is not installed (\"%s\" instead): caption buttons show letters",
          utf8(marlett.face).c_str());
    for (const char* name : {"MS UI Gothic", "MS Shell Dlg"}) {
        RealFont f = realise(name, DEFAULT_CHARSET);
        CHECK(f.kana, "\"%s\" is \"%s\", which lacks the texts' characters", name, utf8(f.face).c_str());
        CHECK(f.proportional, "\"%s\" is the fixed-pitch \"%s\": the boxes would wrap their texts", name,
              utf8(f.face).c_str());
    }
}

const Case kCases[] = {
    {"fonts", caseFonts},
    {"complete", caseComplete},
    {"declined", [] { caseDeclined(false); }},
    {"declined-enter", [] { caseDeclined(true); }},
    {"not-installed", caseNotInstalled},
    {"engine-running", caseEngineRunning},
    {"second-updater", caseSecondUpdater},
    {"cancel-yes", [] { caseCancel(true); }},
    {"cancel-no", [] { caseCancel(false); }},
    {"dialog-closed", [] { caseClosed(false); }},
    {"quit-message", [] { caseClosed(true); }},
    {kKillPoints[0].caseName, [] { caseKilled(kKillPoints[0]); }},
    {kKillPoints[1].caseName, [] { caseKilled(kKillPoints[1]); }},
    {kKillPoints[2].caseName, [] { caseKilled(kKillPoints[2]); }},
    {kKillPoints[3].caseName, [] { caseKilled(kKillPoints[3]); }},
    {kKillPoints[4].caseName, [] { caseKilled(kKillPoints[4]); }},
    {kKillPoints[5].caseName, [] { caseKilled(kKillPoints[5]); }},
    {"checksum-mismatch", caseChecksumMismatch},
    {"missing-folder", caseMissingFolder},
    {"damaged", caseDamaged},
    {"no-uninstall-list", caseNoUninstallList},
    {"planted-dll", casePlantedDll},
};

int runAll(const std::string& only)
{
    if (GetACP() != 932) {
        say("the ANSI code page is %u, not 932: the texts cannot be compared", GetACP());
        return 2;
    }
    int failed = 0, passed = 0;
    for (const Case& c : kCases) {
        if (!only.empty() && only != c.name)
            continue;
        say("case %s", c.name);
        gFailures.clear();
        DWORD t0 = GetTickCount();
        c.run();
        removeInstallRecord();
        if (gFailures.empty()) {
            ++passed;
            removeTree(caseFolder(c.name));
            say("  ok (%lu ms)", GetTickCount() - t0);
        } else {
            ++failed;
            say("  FAILED (folder kept: %s)", caseFolder(c.name).c_str());
        }
    }
    RemoveDirectoryA(kCasesRoot);
    say("e2e: %d passed, %d failed", passed, failed);
    return failed == 0 && passed > 0 ? 0 : 1;
}

// ---- the demonstration run --------------------------------------------------------------

int runUpdater(const std::string& path, int answerId, bool askCancel)
{
    gFailures.clear();
    Updater u;
    if (!u.start(windowsPath(path), ""))
        return 1;
    HWND box = u.waitBox();
    if (box == nullptr) {
        DWORD code = 0;
        u.waitExit(&code);
        say("no window; exit code %s", hex(code).c_str());
        return 1;
    }
    BoxView first = readBox(box);
    say("box: %s", utf8(first.text).c_str());
    if (first.text != kConfirmText) {
        // A guard stopped it (engine running, not installed).
        screenshot("outcome");
        answer(box, IDOK);
        DWORD code = 0;
        u.waitExit(&code);
        say("outcome: %s", utf8(first.text).c_str());
        say("exit code: %s", hex(code).c_str());
        return 0;
    }
    screenshot("confirmation");
    answer(box, answerId);
    HWND dialog = u.waitDialog(answerId == IDYES ? kWindowTimeoutMs : 2000);
    if (dialog != nullptr) {
        DialogView v;
        firstLook(v, dialog);
        say("dialog: %s at (%ld, %ld)", utf8(v.caption).c_str(), v.rect.left, v.rect.top);
        // Wait for the bar to move, then hold the run still for the picture.
        DWORD until = GetTickCount() + 5000;
        while (look(v) && v.maxFilePos == 0 && static_cast<int32_t>(until - GetTickCount()) > 0) {
        }
        bool asked = false;
        if (IsWindow(dialog)) {
            SuspendThread(u.thread());
            Sleep(300);
            screenshot("progress");
            // Queued while the run stands still, the click reaches the
            // dialog at the run's next pump.
            if (askCancel)
                asked = PostMessageA(GetDlgItem(dialog, IDC_CANCEL_UPDATE), BM_CLICK, 0, 0) != 0;
            ResumeThread(u.thread());
        } else {
            say("the dialog was gone before it could be photographed");
        }
        watchDialog(u, v);
        HWND question = asked ? u.waitBox() : nullptr;
        if (question != nullptr && readBox(question).text == kCancelQuestionText) {
            say("cancel question: %s", utf8(kCancelQuestionText).c_str());
            screenshot("cancel-question");
            answer(question, IDNO);
            watchDialog(u, v);
        } else if (asked) {
            say("no cancel question: the run had passed its last pump");
        }
        for (const std::string& s : v.statusTexts)
            say("status: %s", utf8(s).c_str());
    } else if (answerId == IDYES) {
        say("no progress dialog seen: the run ended before it could be found");
    }
    std::string outcome = "(none)";
    HWND last = u.waitBox();
    if (last != nullptr) {
        outcome = readBox(last).text;
        screenshot("outcome");
        answer(last, IDOK);
    }
    DWORD code = 0;
    if (!u.waitExit(&code))
        return 1;
    say("outcome: %s", utf8(outcome).c_str());
    say("exit code: %s", hex(code).c_str());
    return gFailures.empty() ? 0 : 1;
}

int usage()
{
    say("usage: e2e_driver all [--case NAME] [--shots DIR] [--stub PATH]");
    say("       e2e_driver run-updater PATH [--answer yes|no] [--ask-cancel] [--shots DIR]");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return usage();
    std::string mode = argv[1], only, target;
    int answerId = IDYES;
    bool askCancel = false;
    gStub = ownFolder() + "updater.exe";
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        std::string next = i + 1 < argc ? argv[i + 1] : "";
        if (a == "--case" && i + 1 < argc) {
            only = next;
            ++i;
        } else if (a == "--shots" && i + 1 < argc) {
            gShotsFolder = next;
            ++i;
        } else if (a == "--stub" && i + 1 < argc) {
            gStub = windowsPath(next);
            ++i;
        } else if (a == "--answer" && i + 1 < argc) {
            answerId = next == "no" ? IDNO : IDYES;
            ++i;
        } else if (a == "--ask-cancel") {
            askCancel = true;
        } else if (mode == "run-updater" && target.empty()) {
            target = a;
        } else {
            return usage();
        }
    }
    if (!gShotsFolder.empty())
        CreateDirectoryA(windowsPath(gShotsFolder).c_str(), nullptr);
    UnmanagedWindows unmanaged;
    if (mode == "all")
        return runAll(only);
    if (mode == "run-updater" && !target.empty())
        return runUpdater(target, answerId, askCancel);
    return usage();
}
