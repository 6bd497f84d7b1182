// The steps of the process entry that the Windows-side tests call on their
// own: the safe loading of the common controls, the registry lookup and the
// message boxes.
#include "ui/process_steps.h"

#include <cstdio>
#include <cstring>

#include <commctrl.h>

#include "payload/file_handle.h"
#include "ui/texts.h"

namespace {

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFn)(DWORD);
typedef BOOL(WINAPI* InitCommonControlsExFn)(const INITCOMMONCONTROLSEX*);

template <typename Fn>
Fn procedure(HMODULE module, const char* name)
{
    FARPROC found = module != nullptr ? GetProcAddress(module, name) : nullptr;
    // Through void(*)(): the one function-pointer type a cast may pass through.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(found));
}

} // namespace

// The updater runs elevated, often from a Downloads folder: no DLL may be
// taken from beside it. Every later load searches the system folder only,
// and comctl32 (not a KnownDLL) is loaded from there by hand instead of
// through an import. Windows without SetDefaultDllDirectories (Vista, an
// un-updated 7) gets comctl32 by its full path.
void loadCommonControlsSafely()
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    SetDefaultDllDirectoriesFn setDirectories =
        procedure<SetDefaultDllDirectoriesFn>(kernel, "SetDefaultDllDirectories");
    HMODULE comctl = nullptr;
    if (setDirectories != nullptr && setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        comctl = LoadLibraryExA("comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    } else {
        char path[MAX_PATH];
        UINT length = GetSystemDirectoryA(path, MAX_PATH);
        const char kName[] = "\\comctl32.dll";
        if (length > 0 && length + sizeof(kName) <= MAX_PATH) {
            std::memcpy(path + length, kName, sizeof(kName));
            comctl = LoadLibraryA(path);
        }
    }
    // Never freed: the progress class must stay registered for the dialog.
    InitCommonControlsExFn init = procedure<InitCommonControlsExFn>(comctl, "InitCommonControlsEx");
    if (init != nullptr) {
        INITCOMMONCONTROLSEX classes = {sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
        init(&classes);
    }
    // Without the class the dialog cannot be created, and the user is told so.
}

void showInfo(const char* text)
{
    MessageBoxA(nullptr, text, kWindowCaption, MB_OK | MB_ICONINFORMATION);
}

void showWarning(const char* text)
{
    MessageBoxA(nullptr, text, kWindowCaption, MB_OK | MB_ICONWARNING);
}

// The folder from HKLM\Software\<maker>\<title>, value "InstalledFolder"
// (REG_SZ). A value that fills all 260 bytes without a NUL, or holds no
// characters at all, counts as missing: an empty folder would put the files
// at the root of the current drive.
int readInstallFolder(char* folder, const char* makerKey, const char* titleKey)
{
    if (makerKey == nullptr || titleKey == nullptr)
        return 0;
    char keyPath[4096];
    int written = std::snprintf(keyPath, sizeof keyPath, kRegistryKeyFormat, kRegistrySoftwareKey,
                                makerKey, titleKey);
    if (written < 0 || static_cast<size_t>(written) >= sizeof keyPath)
        return 0;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD type = 0;
    DWORD size = kMaxPath;
    LONG status = RegQueryValueExA(key, kInstalledFolderValue, nullptr, &type,
                                   reinterpret_cast<BYTE*>(folder), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ)
        return 0;
    // The system stores what was written: a value need not end in a NUL.
    if (size == 0 || size > kMaxPath)
        return 0;
    if (folder[size - 1] != '\0') {
        if (size == kMaxPath)
            return 0;
        folder[size] = '\0';
    }
    if (folder[0] == '\0')
        return 0;
    return 1;
}

void showOutcome(UpdateResult result)
{
    switch (result) {
    case UPDATE_OK:
        showInfo(kUpdateCompleteText);
        break;
    case UPDATE_E_PAYLOAD:
    case UPDATE_E_TOO_MANY_ENTRIES:
        showWarning(kDamagedText);
        break;
    case UPDATE_E_FILE_IO:
        showWarning(kCannotUpdateText);
        break;
    case UPDATE_E_UNINSTALL_LIST:
        showWarning(kUninstallListText);
        break;
    default:
        // Cancelled or closed: the user already knows.
        break;
    }
}

