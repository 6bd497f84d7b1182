// The stopwatch of tools/bench under Wine: starts one program and prints the
// time from CreateProcess to its exit, and its full exit code.
//
//   win_timer run PROGRAM [ARGS...]   any program, left alone
//   win_timer updater PATH            the updater, answered as a player
//                                     would: Yes to the confirmation, OK to
//                                     the outcome
//
// Prints one line "seconds S exit 0xXXXXXXXX". It watches the updater's
// windows by polling them, a few milliseconds apart, so that it takes
// next to nothing from the run it times.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

struct Found {
    DWORD pid;
    int wantId;    // a message box with this button and no control 1000
    HWND box;
};

BOOL CALLBACK findBox(HWND w, LPARAM param)
{
    Found* f = reinterpret_cast<Found*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != f->pid || !IsWindowVisible(w))
        return TRUE;
    char cls[16] = {};
    GetClassNameA(w, cls, sizeof cls);
    if (std::string(cls) != "#32770" || GetDlgItem(w, 1000) != nullptr)
        return TRUE;
    HWND button = GetDlgItem(w, f->wantId);
    if (button == nullptr || !IsWindowVisible(button))
        return TRUE;
    f->box = w;
    return FALSE;
}

// Clicks button `id` of the first box the process shows; 0 when the process
// ended first, or was ended because no such box came within five minutes
// (a box it does not expect, say).
int answerBox(HANDLE process, DWORD pid, int id)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (GetTickCount() - start > 300000) {
            TerminateProcess(process, 0xDEADu);
            return 0;
        }
        Found f = {pid, id, nullptr};
        EnumWindows(findBox, reinterpret_cast<LPARAM>(&f));
        if (f.box != nullptr) {
            // Posted: a sent click would wait behind the modal box.
            PostMessageA(GetDlgItem(f.box, id), BM_CLICK, 0, 0);
            return 1;
        }
        if (WaitForSingleObject(process, 5) == WAIT_OBJECT_0)
            return 0;
    }
}

double ticks(const FILETIME& t)
{
    return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

std::string quoted(const char* arg)
{
    return std::string("\"") + arg + "\"";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3 || (std::string(argv[1]) != "run" && std::string(argv[1]) != "updater")) {
        std::fprintf(stderr, "usage: win_timer run PROGRAM [ARGS...] | win_timer updater PATH\n");
        return 2;
    }
    bool updater = std::string(argv[1]) == "updater";
    std::string command;
    for (int i = 2; i < argc; ++i)
        command += (i > 2 ? " " : "") + quoted(argv[i]);

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        std::fprintf(stderr, "win_timer: cannot start %s (error %lu)\n", command.c_str(), GetLastError());
        return 1;
    }
    if (updater && answerBox(pi.hProcess, pi.dwProcessId, IDYES))
        answerBox(pi.hProcess, pi.dwProcessId, IDOK);
    WaitForSingleObject(pi.hProcess, INFINITE);
    QueryPerformanceCounter(&end);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    FILETIME created, exited, kernel, user;
    double cpu = -1;
    if (GetProcessTimes(pi.hProcess, &created, &exited, &kernel, &user))
        cpu = (ticks(kernel) + ticks(user)) / 1e7;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    std::printf("seconds %.6f cpu %.3f exit 0x%08lX\n",
                static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart), cpu,
                static_cast<unsigned long>(code));
    return 0;
}
