// FileHandle on Windows itself: what the share modes, CREATE_ALWAYS and
// SetFilePointer really do, checked against the system (run under Wine).
#include <gtest/gtest.h>

#include <string>

#include <windows.h>
#include <winternl.h>

#include "payload/file_handle.h"
#include "tests/support/test_support.h"

namespace {

class Win32FileHandleTest : public testsupport::TempDirTest {};

// The handle FileHandle got from the seam, caught on its way out.
os::FileRef gLastOpened = nullptr;
os::FileRef catchOpenForRead(const char* path)
{
    return gLastOpened = os::defaultCalls().openForRead(path);
}
os::FileRef catchCreateForWrite(const char* path)
{
    return gLastOpened = os::defaultCalls().createForWrite(path);
}

typedef NTSTATUS(NTAPI* QueryInformationFile)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
typedef NTSTATUS(NTAPI* QueryObject)(HANDLE, ULONG, PVOID, ULONG, PULONG);
const ULONG kFileModeInformation = 16;
const ULONG kSequentialOnly = 0x4;   // FILE_SEQUENTIAL_ONLY

ULONG fileMode(HANDLE h)
{
    auto query = reinterpret_cast<QueryInformationFile>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationFile")));
    IO_STATUS_BLOCK io;
    ULONG mode = 0;
    if (query == nullptr || query(h, &io, &mode, sizeof mode, kFileModeInformation) != 0)
        return 0xFFFFFFFFu;
    return mode;
}

ACCESS_MASK grantedAccess(HANDLE h)
{
    auto query = reinterpret_cast<QueryObject>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject")));
    PUBLIC_OBJECT_BASIC_INFORMATION info = {};
    if (query == nullptr || query(h, 0 /* ObjectBasicInformation */, &info, sizeof info, nullptr) != 0)
        return 0;
    return info.GrantedAccess;
}

TEST_F(Win32FileHandleTest, HandlesCarryTheSequentialHintAndOneDirection)
{
    writeFile("in.bin", "in");
    os::calls().openForRead = catchOpenForRead;
    os::calls().createForWrite = catchCreateForWrite;

    FileHandle reader;
    ASSERT_EQ(1, reader.openRead(path("in.bin").c_str()));
    HANDLE r = static_cast<HANDLE>(gLastOpened);
    EXPECT_EQ(kSequentialOnly, fileMode(r) & kSequentialOnly) << std::hex << fileMode(r);
    ACCESS_MASK ra = grantedAccess(r);
    EXPECT_TRUE(ra & FILE_READ_DATA) << std::hex << ra;
    EXPECT_FALSE(ra & (FILE_WRITE_DATA | FILE_APPEND_DATA)) << std::hex << ra;

    FileHandle writer;
    ASSERT_EQ(1, writer.openWrite(path("out.bin").c_str()));
    expectFile("out.bin");
    HANDLE w = static_cast<HANDLE>(gLastOpened);
    EXPECT_EQ(kSequentialOnly, fileMode(w) & kSequentialOnly) << std::hex << fileMode(w);
    ACCESS_MASK wa = grantedAccess(w);
    EXPECT_TRUE(wa & FILE_WRITE_DATA) << std::hex << wa;
    EXPECT_FALSE(wa & FILE_READ_DATA) << std::hex << wa;
}

TEST_F(Win32FileHandleTest, AFileOpenForWritingCannotBeOpenedAgain)
{
    FileHandle writer;
    ASSERT_EQ(1, writer.openWrite(path("locked.bin").c_str()));
    expectFile("locked.bin");
    ASSERT_EQ(4u, writer.write("data", 4));

    FileHandle reader, writer2;
    EXPECT_EQ(0, reader.openRead(path("locked.bin").c_str()));
    EXPECT_EQ(0, writer2.openWrite(path("locked.bin").c_str()));

    // Whatever sharing another program offers, share mode 0 keeps it out.
    struct Attempt {
        const char* what;
        DWORD access, share;
    } attempts[] = {
        {"read, sharing everything", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE},
        {"write, sharing everything", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE},
        {"attributes only, with delete access", DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE},
    };
    for (const Attempt& a : attempts) {
        HANDLE h = CreateFileA(path("locked.bin").c_str(), a.access, a.share, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD error = GetLastError();
        EXPECT_EQ(INVALID_HANDLE_VALUE, h) << a.what;
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
        else
            EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), error) << a.what;
    }
    writer.close();
    EXPECT_EQ("data", readText("locked.bin"));
    EXPECT_EQ(1, reader.openRead(path("locked.bin").c_str()));
}

TEST_F(Win32FileHandleTest, ReadersShareWithReadersOnly)
{
    writeFile("shared.bin", "shared");
    FileHandle reader;
    ASSERT_EQ(1, reader.openRead(path("shared.bin").c_str()));
    HANDLE other = CreateFileA(path("shared.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, other);
    if (other != INVALID_HANDLE_VALUE)
        CloseHandle(other);
    HANDLE writer = CreateFileA(path("shared.bin").c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, writer);
    if (writer != INVALID_HANDLE_VALUE)
        CloseHandle(writer);
    FileHandle w;
    EXPECT_EQ(0, w.openWrite(path("shared.bin").c_str()));
    EXPECT_EQ("shared", readText("shared.bin"));
}

TEST_F(Win32FileHandleTest, OpenWriteTruncatesAndSetsTheArchiveAttribute)
{
    writeFile("old.bin", std::string(5000, 'o'));
    // Clear the attribute first so that the create is what sets it.
    ASSERT_TRUE(SetFileAttributesA(path("old.bin").c_str(), FILE_ATTRIBUTE_NORMAL));
    FileHandle f;
    ASSERT_EQ(1, f.openWrite(path("old.bin").c_str()));
    EXPECT_EQ(0u, f.size());
    EXPECT_EQ(3u, f.write("new", 3));
    f.close();
    EXPECT_EQ("new", readText("old.bin"));
    // (Wine reports the archive bit for every file; on Windows the create sets it.)
    DWORD attributes = GetFileAttributesA(path("old.bin").c_str());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_ARCHIVE) << std::hex << attributes;

    FileHandle fresh;
    ASSERT_EQ(1, fresh.openWrite(path("fresh.bin").c_str()));
    expectFile("fresh.bin");
    fresh.close();
    attributes = GetFileAttributesA(path("fresh.bin").c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_ARCHIVE))
        << std::hex << attributes;
}

TEST_F(Win32FileHandleTest, SeekPastTheEndSucceedsAndTheReadReturnsNothing)
{
    writeFile("short.bin", "12345");
    FileHandle f;
    ASSERT_EQ(1, f.openRead(path("short.bin").c_str()));
    EXPECT_EQ(1, f.seek(6));
    char buffer[4];
    EXPECT_EQ(0u, f.read(buffer, 4));
    EXPECT_EQ(1, f.seek(0x7FFFFFFF));
    EXPECT_EQ(0u, f.read(buffer, 4));
    EXPECT_EQ(1, f.seek(3));
    EXPECT_EQ(2u, f.read(buffer, 4));
}

TEST_F(Win32FileHandleTest, PositionsOf2GiBAndAboveFailAndDoNotMove)
{
    writeFile("f.bin", "abcdef");
    FileHandle f;
    ASSERT_EQ(1, f.openRead(path("f.bin").c_str()));
    ASSERT_EQ(1, f.seek(2));
    for (uint32_t position : {0x80000000u, 0xFFFFFFFEu, 0xFFFFFFFFu})
        EXPECT_EQ(0, f.seek(position)) << position;
    char c;
    ASSERT_EQ(1u, f.read(&c, 1));
    EXPECT_EQ('c', c);
}

TEST_F(Win32FileHandleTest, SizeIsTheLow32Bits)
{
    struct Case {
        const char* what;
        LONGLONG size;
        uint32_t expected;
    } cases[] = {
        {"small", 5, 5},
        {"above 2 GiB reads unsigned", 0x80000010LL, 0x80000010u},
        {"4 GiB and 3 bytes", 0x100000003LL, 3u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Sparse where the file system allows: only the end is set.
        HANDLE h = CreateFileA(path("big.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        DWORD ignored;
        DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
        LARGE_INTEGER end;
        end.QuadPart = c.size;
        ASSERT_TRUE(SetFilePointerEx(h, end, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(h));
        CloseHandle(h);
        FileHandle f;
        ASSERT_EQ(1, f.openRead(path("big.bin").c_str()));
        EXPECT_EQ(c.expected, f.size());
        f.close();
        ASSERT_TRUE(DeleteFileA(path("big.bin").c_str()));
    }
}

TEST_F(Win32FileHandleTest, OpeningAnOpenObjectFailsAndLeavesTheFirstFile)
{
    writeFile("first.txt", "first");
    writeFile("second.txt", "second");
    FileHandle f;
    ASSERT_EQ(1, f.openRead(path("first.txt").c_str()));
    EXPECT_EQ(0, f.openRead(path("second.txt").c_str()));
    EXPECT_EQ(0, f.openWrite(path("second.txt").c_str()));
    EXPECT_EQ(5u, f.size());
    EXPECT_EQ("second", readText("second.txt"));
    // The second file was never opened: a writer gets it.
    HANDLE h = CreateFileA(path("second.txt").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, h);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
}

TEST_F(Win32FileHandleTest, MissingFilesAndClosedObjects)
{
    FileHandle f;
    EXPECT_EQ(0, f.openRead(path("missing.bin").c_str()));
    EXPECT_FALSE(f.isOpen());
    EXPECT_EQ(0xFFFFFFFFu, f.size());
    char c;
    EXPECT_EQ(0u, f.read(&c, 1));
    EXPECT_EQ(0, f.seek(0));
    f.close();
    f.close();
    EXPECT_EQ(0, f.openWrite(path("no-such-folder\\x.bin").c_str()));
}

TEST_F(Win32FileHandleTest, TheDestructorClosesTheHandle)
{
    {
        FileHandle w;
        ASSERT_EQ(1, w.openWrite(path("d.bin").c_str()));
    }
    expectFile("d.bin");
    HANDLE h = CreateFileA(path("d.bin").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, h);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
}

} // namespace
