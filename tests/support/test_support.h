// Shared by every test binary (host and Windows side): a fresh temporary
// folder per test that fails the test when unexpected files are left in it,
// small file helpers, and fault injection through the platform seam.
//
//   class MyTest : public testsupport::TempDirTest {};
//   TEST_F(MyTest, Something) {
//       writeFile("in.bin", "abc");              // expected at the end, unless removed
//       testsupport::Faults faults;
//       faults.shortenWrite(3, testsupport::kHalf); // the 3rd WriteFile writes half
//       ... run the code under test on path("in.bin") ...
//       expectFinalFiles({"in.bin", "out.bin"});  // exactly these, nothing else
//   }
//
// By default the files written through writeFile() (and any added with
// expectFile()) may stay and nothing else may; expectFinalFiles() replaces
// that with an exact set, missing files included. Folders show up as
// "name/" only when they are empty. The seam's table is restored after
// every test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/os.h"

namespace testsupport {

typedef std::vector<uint8_t> Bytes;

inline Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

// ---- plain files (standard streams, not the seam: faults never reach these) ----

inline bool writeFileAt(const std::string& path, const void* data, size_t length)
{
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(length));
    return static_cast<bool>(out);
}
inline bool writeFileAt(const std::string& path, const Bytes& data)
{
    return writeFileAt(path, data.data(), data.size());
}
inline bool writeFileAt(const std::string& path, const std::string& data)
{
    return writeFileAt(path, data.data(), data.size());
}

inline Bytes readFileAt(const std::string& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool fileExistsAt(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::path(path), ec);
}

// Little-endian field helpers for hand-built fixtures.
inline void putLe32(Bytes& b, size_t at, uint32_t v)
{
    if (b.size() < at + 4)
        b.resize(at + 4, 0);
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void putBytes(Bytes& b, size_t at, const void* data, size_t length)
{
    if (b.size() < at + length)
        b.resize(at + length, 0);
    std::memcpy(b.data() + at, data, length);
}

// ---- the temporary folder ----------------------------------------------------

class TempDir {
public:
    TempDir() = default;
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() { remove(); }

    // Creates a new, empty folder named after the running test.
    void create()
    {
        namespace fs = std::filesystem;
        static std::atomic<unsigned> serial{0};
        std::string label = "test";
        if (const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info())
            label = std::string(info->test_suite_name()) + "." + info->name();
        for (char& c : label)
            if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-'))
                c = '_';
        fs::path base = fs::temp_directory_path() / "updater-tests";
        std::error_code ec;
        fs::create_directories(base, ec);
        static bool swept = false;
        if (!swept) {
            swept = true;
            sweepDeadProcesses(base);
        }
        for (int attempt = 0; attempt < 1000; ++attempt) {
            fs::path candidate = base / (label + "-" + std::to_string(processId()) + "-" +
                                         std::to_string(serial++));
            if (fs::create_directory(candidate, ec)) {
                root_ = candidate;
                return;
            }
        }
        ADD_FAILURE() << "cannot create a temporary folder under " << base.string();
    }

    const std::filesystem::path& root() const { return root_; }
    std::string dir() const { return root_.string(); }
    std::string path(const std::string& name) const { return (root_ / name).string(); }

    void noteWritten(const std::string& name) { written_.insert(normal(name)); }
    void expectFile(const std::string& name) { written_.insert(normal(name)); }
    void expectFinalFiles(std::initializer_list<std::string> names)
    {
        exact_ = true;
        expected_.clear();
        for (const std::string& n : names)
            expected_.insert(normal(n));
    }
    void expectFinalFiles(const std::vector<std::string>& names)
    {
        exact_ = true;
        expected_.clear();
        for (const std::string& n : names)
            expected_.insert(normal(n));
    }

    // What the folder holds now: files, and empty folders as "name/".
    std::set<std::string> listing() const
    {
        namespace fs = std::filesystem;
        std::set<std::string> found;
        std::error_code ec;
        if (root_.empty() || !fs::exists(root_, ec))
            return found;
        for (fs::recursive_directory_iterator it(root_, ec), end; !ec && it != end; it.increment(ec)) {
            std::string rel = fs::relative(it->path(), root_, ec).generic_string();
            if (it->is_directory(ec)) {
                if (fs::is_empty(it->path(), ec))
                    found.insert(rel + "/");
            } else {
                found.insert(rel);
            }
        }
        return found;
    }

    // Fails the running test when the folder does not hold what was declared.
    void check() const
    {
        std::set<std::string> found = listing();
        std::vector<std::string> unexpected, missing;
        const std::set<std::string>& allowed = exact_ ? expected_ : written_;
        for (const std::string& f : found)
            if (!allowed.count(f))
                unexpected.push_back(f);
        if (exact_)
            for (const std::string& e : expected_)
                if (!found.count(e))
                    missing.push_back(e);
        for (const std::string& f : unexpected)
            ADD_FAILURE() << "file left behind in the test folder: " << f;
        for (const std::string& f : missing)
            ADD_FAILURE() << "expected file missing from the test folder: " << f;
    }

    void remove()
    {
        if (root_.empty())
            return;
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
        root_.clear();
    }

private:
    static std::string normal(std::string name)
    {
        std::replace(name.begin(), name.end(), '\\', '/');
        return name;
    }
    static long processId();
    static bool processIsGone(long pid);

    // Folders of test processes that died before their teardown (a crash, a
    // kill) would pile up; those of running processes are left alone.
    static void sweepDeadProcesses(const std::filesystem::path& base)
    {
        namespace fs = std::filesystem;
        std::error_code ec;
        for (fs::directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
            std::string name = it->path().filename().string();
            size_t last = name.rfind('-');
            if (last == std::string::npos || last == 0)
                continue;
            size_t before = name.rfind('-', last - 1);
            if (before == std::string::npos)
                continue;
            std::string digits = name.substr(before + 1, last - before - 1);
            if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
                continue;
            long pid = std::stol(digits);
            if (pid != processId() && processIsGone(pid))
                fs::remove_all(it->path(), ec);
        }
    }

    std::filesystem::path root_;
    std::set<std::string> written_;
    std::set<std::string> expected_;
    bool exact_ = false;
};

} // namespace testsupport

#ifdef _WIN32
#include <process.h>
inline long testsupport::TempDir::processId() { return static_cast<long>(_getpid()); }
inline bool testsupport::TempDir::processIsGone(long) { return false; }
#else
#include <cerrno>
#include <csignal>
#include <unistd.h>
inline long testsupport::TempDir::processId() { return static_cast<long>(getpid()); }
inline bool testsupport::TempDir::processIsGone(long pid)
{
    return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}
#endif

namespace testsupport {

// ---- fault injection over os::calls() ---------------------------------------

const uint32_t kFail = 0xFFFFFFFFu;   // the call fails outright
const uint32_t kHalf = 0xFFFFFFFEu;   // the transfer moves half the requested bytes

// One rule: the nth matching call (1-based, counted from when the rule was
// set), or every call from the nth on, fails or transfers at most `keep`
// bytes. Path rules may be limited to paths containing a substring.
struct FaultRule {
    int nth = 0;                 // 0: inactive
    bool andAfter = false;
    uint32_t keep = kFail;
    std::string pathContains;
    int seen = 0;

    bool hits()
    {
        if (nth == 0)
            return false;
        ++seen;
        return andAfter ? seen >= nth : seen == nth;
    }
    bool matches(const char* path) const
    {
        return pathContains.empty() || (path != nullptr && std::strstr(path, pathContains.c_str()));
    }
};

struct FaultState {
    os::Calls base{};            // the calls in place when the injector was armed
    FaultRule read, write, move, create, openRead, deleteFile, alloc;
    size_t allocLimit = SIZE_MAX;   // allocate() returns null above this size
    int readCalls = 0, writeCalls = 0, allocCalls = 0;
    bool logging = false;
    std::vector<std::string> log;   // "create <path>", "move <from> -> <to>", ...
};

inline FaultState& faultState()
{
    static FaultState state;
    return state;
}

// Arms fault injection for its lifetime: the constructor puts wrappers in
// the seam's table, the destructor (and TempDirTest's teardown) restores it.
// One at a time.
class Faults {
public:
    Faults()
    {
        FaultState& s = faultState();
        s = FaultState();
        s.base = os::calls();
        os::Calls& c = os::calls();
        c.readFile = &Faults::readFile;
        c.writeFile = &Faults::writeFile;
        c.moveFileReplace = &Faults::moveFileReplace;
        c.createForWrite = &Faults::createForWrite;
        c.openForRead = &Faults::openForRead;
        c.deleteFile = &Faults::deleteFile;
        c.setFileAttributes = &Faults::setFileAttributes;
        c.allocate = &Faults::allocate;
        c.createNewFile = &Faults::createNewFile;
        c.deleteOpenFile = &Faults::deleteOpenFile;
        c.moveOpenFile = &Faults::moveOpenFile;
    }
    ~Faults() { os::restoreCalls(); }
    Faults(const Faults&) = delete;
    Faults& operator=(const Faults&) = delete;

    // keep: kFail, kHalf, or a byte count the transfer is cut to.
    void failRead(int nth, bool andAfter = false) { set(faultState().read, nth, andAfter, kFail); }
    void shortenRead(int nth, uint32_t keep, bool andAfter = false) { set(faultState().read, nth, andAfter, keep); }
    void failWrite(int nth, bool andAfter = false) { set(faultState().write, nth, andAfter, kFail); }
    void shortenWrite(int nth, uint32_t keep, bool andAfter = false) { set(faultState().write, nth, andAfter, keep); }
    void failMove(int nth, const std::string& pathContains = "") { set(faultState().move, nth, false, kFail, pathContains); }
    void failCreate(int nth, const std::string& pathContains = "") { set(faultState().create, nth, false, kFail, pathContains); }
    void failOpenRead(int nth, const std::string& pathContains = "") { set(faultState().openRead, nth, false, kFail, pathContains); }
    void failDelete(int nth, const std::string& pathContains = "") { set(faultState().deleteFile, nth, false, kFail, pathContains); }
    void failAllocAbove(size_t bytes) { faultState().allocLimit = bytes; }
    void failAllocNth(int nth, bool andAfter = false) { set(faultState().alloc, nth, andAfter, kFail); }

    // Records the path calls in order (see FaultState::log).
    void startLog() { faultState().logging = true; faultState().log.clear(); }
    const std::vector<std::string>& log() const { return faultState().log; }
    int readCalls() const { return faultState().readCalls; }
    int writeCalls() const { return faultState().writeCalls; }
    int allocCalls() const { return faultState().allocCalls; }

private:
    static void set(FaultRule& r, int nth, bool andAfter, uint32_t keep, const std::string& path = "")
    {
        r = FaultRule();
        r.nth = nth;
        r.andAfter = andAfter;
        r.keep = keep;
        r.pathContains = path;
    }
    static void note(const std::string& line)
    {
        if (faultState().logging)
            faultState().log.push_back(line);
    }
    static uint32_t cut(uint32_t count, uint32_t keep)
    {
        if (keep == kHalf)
            return count / 2;
        return keep < count ? keep : count;
    }
    static int readFile(os::FileRef f, void* buffer, uint32_t count, uint32_t* done)
    {
        FaultState& s = faultState();
        ++s.readCalls;
        if (s.read.hits()) {
            if (s.read.keep == kFail) {
                *done = 0;
                return 0;
            }
            return s.base.readFile(f, buffer, cut(count, s.read.keep), done);
        }
        return s.base.readFile(f, buffer, count, done);
    }
    static int writeFile(os::FileRef f, const void* buffer, uint32_t count, uint32_t* done)
    {
        FaultState& s = faultState();
        ++s.writeCalls;
        if (s.write.hits()) {
            if (s.write.keep == kFail) {
                *done = 0;
                return 0;
            }
            return s.base.writeFile(f, buffer, cut(count, s.write.keep), done);
        }
        return s.base.writeFile(f, buffer, count, done);
    }
    static int moveFileReplace(const char* from, const char* to)
    {
        FaultState& s = faultState();
        note(std::string("move ") + from + " -> " + to);
        if (s.move.matches(from) && s.move.hits())
            return 0;
        return s.base.moveFileReplace(from, to);
    }
    static os::FileRef createForWrite(const char* path)
    {
        FaultState& s = faultState();
        note(std::string("create ") + path);
        if (s.create.matches(path) && s.create.hits())
            return os::noFile();
        return s.base.createForWrite(path);
    }
    // The handle calls of the install folder's names count under the same
    // rules as their path forms: a create is a create, a move a move.
    static os::FileRef createNewFile(const char* path)
    {
        FaultState& s = faultState();
        note(std::string("create ") + path);
        if (s.create.matches(path) && s.create.hits())
            return os::noFile();
        return s.base.createNewFile(path);
    }
    static int moveOpenFile(os::FileRef f, const char* from, const char* to)
    {
        FaultState& s = faultState();
        note(std::string("move ") + from + " -> " + to);
        if (s.move.matches(from) && s.move.hits())
            return 0;
        return s.base.moveOpenFile(f, from, to);
    }
    static int deleteOpenFile(os::FileRef f, const char* path)
    {
        FaultState& s = faultState();
        note(std::string("delete ") + path);
        if (s.deleteFile.matches(path) && s.deleteFile.hits())
            return 0;
        return s.base.deleteOpenFile(f, path);
    }
    static os::FileRef openForRead(const char* path)
    {
        FaultState& s = faultState();
        note(std::string("open ") + path);
        if (s.openRead.matches(path) && s.openRead.hits())
            return os::noFile();
        return s.base.openForRead(path);
    }
    static int deleteFile(const char* path)
    {
        FaultState& s = faultState();
        note(std::string("delete ") + path);
        if (s.deleteFile.matches(path) && s.deleteFile.hits())
            return 0;
        return s.base.deleteFile(path);
    }
    static int setFileAttributes(const char* path, uint32_t attributes)
    {
        note(std::string("attributes ") + path + " " + std::to_string(attributes));
        return faultState().base.setFileAttributes(path, attributes);
    }
    static void* allocate(size_t bytes)
    {
        FaultState& s = faultState();
        ++s.allocCalls;
        if (bytes > s.allocLimit || s.alloc.hits())
            return nullptr;
        return s.base.allocate(bytes);
    }
};

// ---- the fixture ---------------------------------------------------------------

class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        os::restoreCalls();
        tmp_.create();
    }
    void TearDown() override
    {
        os::restoreCalls();
        tmp_.check();
        tmp_.remove();
    }

    std::string dir() const { return tmp_.dir(); }
    std::string path(const std::string& name) const { return tmp_.path(name); }

    // Writes a file inside the folder (creating its folders); it may stay.
    void writeFile(const std::string& name, const Bytes& data)
    {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::create_directories(fs::path(path(name)).parent_path(), ec);
        ASSERT_TRUE(writeFileAt(path(name), data)) << "cannot write " << path(name);
        tmp_.noteWritten(name);
    }
    void writeFile(const std::string& name, const std::string& data) { writeFile(name, bytesOf(data)); }
    Bytes readFile(const std::string& name) const { return readFileAt(path(name)); }
    std::string readText(const std::string& name) const
    {
        Bytes b = readFile(name);
        return std::string(b.begin(), b.end());
    }
    bool exists(const std::string& name) const { return fileExistsAt(path(name)); }

    // A file the code under test creates and may leave behind.
    void expectFile(const std::string& name) { tmp_.expectFile(name); }
    // Exactly these files must be there at the end, no more, no fewer.
    void expectFinalFiles(std::initializer_list<std::string> names) { tmp_.expectFinalFiles(names); }
    void expectFinalFiles(const std::vector<std::string>& names) { tmp_.expectFinalFiles(names); }
    std::set<std::string> listing() const { return tmp_.listing(); }

    TempDir tmp_;
};

} // namespace testsupport
