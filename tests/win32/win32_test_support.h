// Helpers of the Windows-side tests that need the built updater: where it
// is, its resources, and answering message boxes from inside their modal loop.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <windows.h>

namespace win32test {

// The built updater: %UPDATER_EXE% when set, else updater.exe beside the
// running test program (both are built into the same folder).
inline std::string updaterPath()
{
    char buffer[MAX_PATH * 4];
    DWORD n = GetEnvironmentVariableA("UPDATER_EXE", buffer, sizeof buffer);
    if (n > 0 && n < sizeof buffer)
        return buffer;
    n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    std::string self(buffer, n);
    // Wine names a program started from a folder outside every drive (the
    // test prefixes have no z:) "unix\...", which only opens as "\\?\unix\...".
    if (self.compare(0, 5, "unix\\") == 0)
        self = "\\\\?\\" + self;
    size_t slash = self.find_last_of("\\/");
    return (slash == std::string::npos ? std::string() : self.substr(0, slash + 1)) + "updater.exe";
}

// The updater image loaded as data (never run); null when it cannot be.
inline HMODULE updaterImage()
{
    static HMODULE image = LoadLibraryExA(updaterPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    return image;
}

inline std::vector<unsigned char> resourceBytes(HMODULE module, LPCSTR type, LPCSTR name, WORD language)
{
    HRSRC found = FindResourceExA(module, type, name, language);
    if (found == nullptr)
        return {};
    DWORD size = SizeofResource(module, found);
    HGLOBAL loaded = LoadResource(module, found);
    const unsigned char* data = static_cast<const unsigned char*>(LockResource(loaded));
    if (data == nullptr)
        return {};
    return std::vector<unsigned char>(data, data + size);
}

const WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN);   // 0x0411

// What was seen of one message box before it was answered.
struct SeenBox {
    HWND owner;
    std::string caption;
    std::string text;
    int defaultButton;      // the button drawn as the default one
    bool hasYes, hasNo, hasOk;
};

// While alive, answers every message box this thread opens with `answer`
// (IDYES, IDNO, IDOK) from a thread timer, which the box's own modal loop
// dispatches, and records what the box showed.
class BoxAnswerer {
public:
    explicit BoxAnswerer(int answer, HWND ignore = nullptr)
    {
        current() = this;
        answer_ = answer;
        ignore_ = ignore;
        timer_ = SetTimer(nullptr, 0, 30, onTimer);
    }
    ~BoxAnswerer()
    {
        KillTimer(nullptr, timer_);
        current() = nullptr;
    }
    BoxAnswerer(const BoxAnswerer&) = delete;
    BoxAnswerer& operator=(const BoxAnswerer&) = delete;

    const std::vector<SeenBox>& seen() const { return seen_; }

private:
    static BoxAnswerer*& current()
    {
        static BoxAnswerer* instance = nullptr;
        return instance;
    }
    static BOOL CALLBACK findBox(HWND window, LPARAM found)
    {
        char cls[64] = {};
        GetClassNameA(window, cls, sizeof cls);
        if (std::string(cls) == "#32770" && window != current()->ignore_ && IsWindowVisible(window)) {
            *reinterpret_cast<HWND*>(found) = window;
            return FALSE;
        }
        return TRUE;
    }
    static void CALLBACK onTimer(HWND, UINT, UINT_PTR, DWORD)
    {
        BoxAnswerer* self = current();
        if (self == nullptr)
            return;
        HWND box = nullptr;
        EnumThreadWindows(GetCurrentThreadId(), findBox, reinterpret_cast<LPARAM>(&box));
        if (box == nullptr || box == self->answered_)
            return;
        SeenBox s;
        s.owner = GetWindow(box, GW_OWNER);
        char buffer[512] = {};
        GetWindowTextA(box, buffer, sizeof buffer);
        s.caption = buffer;
        buffer[0] = 0;
        GetDlgItemTextA(box, 0xFFFF, buffer, sizeof buffer);   // the message text
        s.text = buffer;
        s.defaultButton = 0;
        for (int id : {IDOK, IDYES, IDNO}) {
            HWND button = GetDlgItem(box, id);
            if (button != nullptr && (GetWindowLongA(button, GWL_STYLE) & 0xF) == BS_DEFPUSHBUTTON)
                s.defaultButton = id;
        }
        s.hasYes = GetDlgItem(box, IDYES) != nullptr;
        s.hasNo = GetDlgItem(box, IDNO) != nullptr;
        s.hasOk = GetDlgItem(box, IDOK) != nullptr;
        self->seen_.push_back(s);
        self->answered_ = box;
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(self->answer_, BN_CLICKED), 0);
    }

    int answer_ = IDNO;
    HWND ignore_ = nullptr;
    HWND answered_ = nullptr;
    UINT_PTR timer_ = 0;
    std::vector<SeenBox> seen_;
};

} // namespace win32test
