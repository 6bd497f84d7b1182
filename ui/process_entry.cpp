// The process entry: the two mutex guards, the install folder from the
// registry, the confirmation, the progress dialog around the update run, the
// outcome message and the exit code. One straight path; every early stop
// goes to the single release of what was obtained so far.
#include <cstdint>

#include <windows.h>

#include "payload/file_handle.h"
#include "resources/resource_ids.h"
#include "ui/process_steps.h"
#include "ui/progress_dialog.h"
#include "ui/run_control.h"
#include "ui/texts.h"
#include "update/update_run.h"

namespace {

// The last error right after CreateMutexA tells a name that existed already
// (or a failure); it is cleared first so that nothing older is read.
HANDLE takeMutex(const char* name, DWORD* lastError)
{
    SetLastError(0);
    HANDLE mutex = CreateMutexA(nullptr, TRUE, name);
    *lastError = GetLastError();
    return mutex;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showState)
{
    loadCommonControlsSafely();

    DWORD lastError = 0;
    HANDLE updaterMutex = takeMutex(kUpdaterMutexName, &lastError);
    if (lastError != 0) {
        // Another updater is running: it alone talks to the user.
        if (updaterMutex != nullptr)
            CloseHandle(updaterMutex);
        return EXIT_E_ALREADY_RUNNING;
    }

    int32_t result = 0;
    char installFolder[kMaxPath];
    HANDLE engineMutex = takeMutex(kEngineMutexName, &lastError);
    if (lastError != 0) {
        showWarning(kEngineRunningText);
        result = EXIT_E_ENGINE_RUNNING;
    } else if (!readInstallFolder(installFolder, kRegistryMakerKey, kRegistryTitleKey)) {
        showWarning(kNotInstalledText);
        result = EXIT_E_NOT_INSTALLED;
    } else if (MessageBoxA(nullptr, kConfirmText, kWindowCaption,
                           MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES) {
        result = EXIT_E_DECLINED;
    } else {
        dialogHandle = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr,
                                          progressDialogProc, 0);
        if (dialogHandle == nullptr) {
            showWarning(kNoDialogText);
            result = EXIT_E_NO_DIALOG;
        } else {
            HWND dialog = static_cast<HWND>(dialogHandle);
            enumerateMonitors();
            SetWindowTextA(dialog, kWindowCaption);
            centreWindow(dialog);
            ShowWindow(dialog, showState);

            result = static_cast<int32_t>(runUpdate(installFolder));

            // Already gone when the dialog handled a close during the run.
            if (dialogHandle != nullptr) {
                DestroyWindow(static_cast<HWND>(dialogHandle));
                dialogHandle = nullptr;
            }
            showOutcome(static_cast<UpdateResult>(result));
            freeMonitorList();
        }
    }

    if (engineMutex != nullptr)
        CloseHandle(engineMutex);
    if (updaterMutex != nullptr)
        CloseHandle(updaterMutex);
    return result;
}
