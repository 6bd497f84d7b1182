// The Windows baseline for tools/bench: a plain console program, sharing no
// code with the updater, that copies SIZE bytes from OFFSET of SOURCE into a
// new file DEST with 1 MiB ReadFile/WriteFile calls and nothing else (no
// checksum, no window, no rename). With no arguments it exits at once, which
// times Wine's own start-up.
//
//   win_copy SOURCE OFFSET SIZE DEST
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc == 1)
        return 0;
    if (argc != 5) {
        std::fprintf(stderr, "usage: win_copy SOURCE OFFSET SIZE DEST\n");
        return 2;
    }
    unsigned long long offset = std::strtoull(argv[2], nullptr, 10);
    unsigned long long size = std::strtoull(argv[3], nullptr, 10);
    HANDLE in = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (in == INVALID_HANDLE_VALUE)
        return 1;
    HANDLE out = CreateFileA(argv[4], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (out == INVALID_HANDLE_VALUE)
        return 1;
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(in, at, nullptr, FILE_BEGIN))
        return 1;
    const DWORD chunk = 1 << 20;
    char* buffer = static_cast<char*>(VirtualAlloc(nullptr, chunk, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (buffer == nullptr)
        return 1;
    while (size > 0) {
        DWORD want = size < chunk ? static_cast<DWORD>(size) : chunk;
        DWORD got = 0, put = 0;
        if (!ReadFile(in, buffer, want, &got, nullptr) || got != want)
            return 1;
        if (!WriteFile(out, buffer, want, &put, nullptr) || put != want)
            return 1;
        size -= want;
    }
    CloseHandle(out);
    CloseHandle(in);
    return 0;
}
