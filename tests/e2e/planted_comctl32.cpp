// A stand-in for comctl32.dll that the end-to-end cases put beside the
// updater, where a careless load would find it first. Loading it leaves a
// marker file beside it; the updater must never do that.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH];
        DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
        while (n > 0 && path[n - 1] != '\\')
            --n;
        const char kMarker[] = "planted-dll-loaded";
        if (n + sizeof kMarker <= MAX_PATH) {
            for (size_t i = 0; i < sizeof kMarker; ++i)
                path[n + i] = kMarker[i];
            HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (f != INVALID_HANDLE_VALUE)
                CloseHandle(f);
        }
    }
    return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI InitCommonControlsEx(const void*)
{
    return TRUE;
}
