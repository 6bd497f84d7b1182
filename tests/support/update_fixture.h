// Runs the whole update engine against a real folder, host and Windows side
// alike:
//
//   <temp>/setup.exe   an updater file built by writeUpdater; the seam's
//                      module path points at it
//   <temp>/game/       the install folder
//
// While run() executes, every dialog call, every pump drain and the path
// calls of the engine are recorded in order as short lines:
//
//   "item 1001"          GetDlgItem
//   "text <bytes>"       SetWindowTextA on the status text
//   "range 1002 65535"   PBM_SETRANGE32      "pos 1003 2"   PBM_SETPOS
//   "pump"               one pumpMessages drain began
//   "create a.tmp"  "attrs a.tmp 128"  "move a.tmp -> a"  "delete a.tmp"
//                        (by path or through a handle opened by that name)
//   "write 1048576"      one WriteFile call, followed by "wrote only 512" or
//                        "write failed" when it did not write everything
//   "alloc 1048576"      one allocation
//
// (paths relative to the install folder). A drain can be scripted to deliver
// a confirmed cancel, a close (which also clears dialogHandle, as the dialog
// does), a quit, or another exception.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "payload/payload_writer.h"
#include "tests/support/test_support.h"
#include "ui/run_control.h"
#include "update/update_run.h"

namespace updatetest {

using testsupport::Bytes;

const uint32_t kNormal = 0x80;                      // FILE_ATTRIBUTE_NORMAL
// "をインストール中", code page 932: the status text after the file name.
const char kInstalling[] = "\x82\xF0\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5B\x83\x8B\x92\x86";

// Bytes that differ from file to file and from position to position.
inline Bytes pattern(size_t length, uint32_t seed)
{
    Bytes b(length);
    uint32_t x = seed * 2654435761u + 12345u;
    for (size_t i = 0; i < length; ++i) {
        x = x * 1103515245u + 12345u;
        b[i] = static_cast<uint8_t>(x >> 16);
    }
    return b;
}

inline Bytes checksumOf(const Bytes& data)
{
    FileChecksum sum;
    sum.update(data.data(), data.size());
    Bytes out(8);
    sum.store(out.data());
    return out;
}

inline HashValueRecord record(const std::string& name, const Bytes& data)
{
    return makeHashRecord(name, data.data(), data.size());
}

inline PackEntry entry(const std::string& name, const Bytes& data)
{
    PackEntry e;
    e.name = name;
    e.data = data;
    return e;
}

enum PumpAction { PUMP_CANCEL, PUMP_CLOSE, PUMP_CANCEL_AND_CLOSE, PUMP_QUIT, PUMP_THROW_OTHER };

// What the recorder wrappers share; one run at a time.
struct Recording {
    os::Calls inner{};              // the calls the recorder passes on to
    std::string folderPrefix;       // "<install folder>\" as the engine forms it
    std::string selfPath;
    std::vector<std::string> events;
    std::map<int, PumpAction> script;   // drain number (from 1) -> what it delivers
    std::vector<int> missingControls;
    int drains = 0;
    bool inDrain = false;
    std::vector<os::WindowRef> pumpDialogs;   // the dialog each drain was handed
};

inline Recording& recording()
{
    static Recording r;
    return r;
}

inline std::string relative(const char* path)
{
    std::string p(path);
    const std::string& prefix = recording().folderPrefix;
    if (p.compare(0, prefix.size(), prefix) == 0)
        return p.substr(prefix.size());
    return p;
}

inline os::WindowRef controlOf(int id) { return reinterpret_cast<os::WindowRef>(static_cast<intptr_t>(id)); }
inline int idOf(os::WindowRef control) { return static_cast<int>(reinterpret_cast<intptr_t>(control)); }

namespace rec {

inline void note(const std::string& line) { recording().events.push_back(line); }

inline uint32_t getModuleFileName(char* buffer, uint32_t size)
{
    const std::string& p = recording().selfPath;
    if (size == 0)
        return 0;
    size_t n = p.size() < size - 1 ? p.size() : size - 1;
    std::memcpy(buffer, p.data(), n);
    buffer[n] = 0;
    return static_cast<uint32_t>(n);
}
inline os::WindowRef getDlgItem(os::WindowRef dialog, int id)
{
    note("item " + std::to_string(id));
    if (dialog == nullptr)
        return nullptr;
    for (int missing : recording().missingControls)
        if (missing == id)
            return nullptr;
    return controlOf(id);
}
inline int setWindowText(os::WindowRef window, const char* text)
{
    note("text " + std::to_string(idOf(window)) + " " + text);
    return 1;
}
inline void setProgressRange(os::WindowRef bar, uint32_t high)
{
    note("range " + std::to_string(idOf(bar)) + " " + std::to_string(high));
}
inline void setProgressPos(os::WindowRef bar, uint32_t position)
{
    note("pos " + std::to_string(idOf(bar)) + " " + std::to_string(position));
}
inline int pumpOneMessage(os::WindowRef dialog)
{
    Recording& r = recording();
    if (r.inDrain) {
        r.inDrain = false;
        return 0;
    }
    ++r.drains;
    note("pump");
    r.pumpDialogs.push_back(dialog);
    auto it = r.script.find(r.drains);
    if (it == r.script.end())
        return 0;
    switch (it->second) {
    case PUMP_CANCEL:
        cancelRequested = 1;
        break;
    case PUMP_CLOSE:
        closeRequested = 1;
        dialogHandle = nullptr;
        break;
    case PUMP_CANCEL_AND_CLOSE:
        cancelRequested = 1;
        closeRequested = 1;
        dialogHandle = nullptr;
        break;
    case PUMP_QUIT:
        throw 0;
    case PUMP_THROW_OTHER:
        throw std::runtime_error("a message handler failed");
    }
    // The message that carried the action was taken; the queue is empty next.
    r.inDrain = true;
    return 1;
}
inline os::FileRef createForWrite(const char* path)
{
    note("create " + relative(path));
    return recording().inner.createForWrite(path);
}
inline int setFileAttributes(const char* path, uint32_t attributes)
{
    note("attrs " + relative(path) + " " + std::to_string(attributes));
    return recording().inner.setFileAttributes(path, attributes);
}
inline int moveFileReplace(const char* from, const char* to)
{
    note("move " + relative(from) + " -> " + relative(to));
    return recording().inner.moveFileReplace(from, to);
}
inline int deleteFile(const char* path)
{
    note("delete " + relative(path));
    return recording().inner.deleteFile(path);
}
// The run changes existing names through handles; the name each handle was
// opened by, so that its attribute reset reads "attrs <name> 128".
inline std::map<os::FileRef, std::string>& openNames()
{
    static std::map<os::FileRef, std::string> names;
    return names;
}
inline os::FileRef createNewFile(const char* path)
{
    note("create " + relative(path));
    os::FileRef f = recording().inner.createNewFile(path);
    if (f != os::noFile())
        openNames()[f] = relative(path);
    return f;
}
inline os::FileRef openExistingName(const char* path, int forChange)
{
    os::FileRef f = recording().inner.openExistingName(path, forChange);
    if (f != os::noFile())
        openNames()[f] = relative(path);
    return f;
}
inline int closeHandle(os::FileRef f)
{
    openNames().erase(f);
    return recording().inner.closeHandle(f);
}
inline int setAttributesOf(os::FileRef f, uint32_t attributes)
{
    note("attrs " + openNames()[f] + " " + std::to_string(attributes));
    return recording().inner.setAttributesOf(f, attributes);
}
inline int deleteOpenFile(os::FileRef f, const char* path)
{
    note("delete " + relative(path));
    return recording().inner.deleteOpenFile(f, path);
}
inline int moveOpenFile(os::FileRef f, const char* from, const char* to)
{
    note("move " + relative(from) + " -> " + relative(to));
    return recording().inner.moveOpenFile(f, from, to);
}
inline int writeFile(os::FileRef f, const void* buffer, uint32_t count, uint32_t* done)
{
    note("write " + std::to_string(count));
    int ok = recording().inner.writeFile(f, buffer, count, done);
    if (!ok)
        note("write failed");
    else if (*done != count)
        note("wrote only " + std::to_string(*done));
    return ok;
}
inline void* allocate(size_t bytes)
{
    note("alloc " + std::to_string(bytes));
    return recording().inner.allocate(bytes);
}

} // namespace rec

// Attributes and content of every file under a folder, by relative name.
struct FileState {
    Bytes content;
    uint32_t attributes;
    bool operator==(const FileState& o) const { return content == o.content && attributes == o.attributes; }
};
typedef std::map<std::string, FileState> FolderState;

inline std::ostream& operator<<(std::ostream& out, const FileState& s)
{
    return out << "{" << s.content.size() << " bytes, attributes 0x" << std::hex << s.attributes << std::dec << "}";
}

class UpdateTest : public testsupport::TempDirTest {
public:
    // Public, so that tables of cases can arrange a test through them.
    using testsupport::TempDirTest::expectFile;
    using testsupport::TempDirTest::path;
    using testsupport::TempDirTest::readFile;

protected:
    void SetUp() override
    {
        testsupport::TempDirTest::SetUp();
        cancelRequested = 0;
        closeRequested = 0;
        dialogHandle = nullptr;
        Recording& r = recording();
        r = Recording();
        std::error_code ec;
        std::filesystem::create_directory(path("game"), ec);
        expectFile("game/");
        expectFile("setup.exe");
        r.selfPath = path("setup.exe");
    }
    void TearDown() override
    {
        // A read-only file left by a test must not keep the folder from
        // being removed (Windows refuses to delete it).
        for (const auto& f : folderState())
            os::defaultCalls().setFileAttributes(gamePath(f.first).c_str(), kNormal);
        cancelRequested = 0;
        closeRequested = 0;
        dialogHandle = nullptr;
        testsupport::TempDirTest::TearDown();
    }

public:
    // The install folder as the engine gets it.
    std::string game() const { return path("game"); }
    std::string gamePath(const std::string& name) const { return path("game/" + name); }

    void install(const std::string& name, const Bytes& data) { writeFile("game/" + name, data); }
    void install(const std::string& name, const std::string& data) { writeFile("game/" + name, data); }
    Bytes installed(const std::string& name) const { return readFile("game/" + name); }
    bool isInstalled(const std::string& name) const { return exists("game/" + name); }
    uint32_t attributesOf(const std::string& name) const
    {
        return os::defaultCalls().getFileAttributes(gamePath(name).c_str());
    }
    void setAttributes(const std::string& name, uint32_t attributes)
    {
        ASSERT_TRUE(os::defaultCalls().setFileAttributes(gamePath(name).c_str(), attributes)) << name;
    }

    void buildUpdater(const std::vector<PackEntry>& entries, ArchiveLayout layout = ARCHIVE_LAYOUT_LONG)
    {
        PackOptions options;
        options.layout = layout;
        options.stub = testsupport::bytesOf("MZ stub");
        std::string error;
        ASSERT_EQ(1, writeUpdater(path("setup.exe"), entries, options, &error)) << error;
    }
    // A hand-made change to the built updater file.
    void patchUpdater(size_t at, const Bytes& bytes)
    {
        Bytes b = readFile("setup.exe");
        testsupport::putBytes(b, at, bytes.data(), bytes.size());
        ASSERT_TRUE(testsupport::writeFileAt(path("setup.exe"), b));
    }
    void patchUpdaterLe32(size_t at, uint32_t value)
    {
        Bytes b = readFile("setup.exe");
        testsupport::putLe32(b, at, value);
        ASSERT_TRUE(testsupport::writeFileAt(path("setup.exe"), b));
    }
    void truncateUpdater(size_t size)
    {
        Bytes b = readFile("setup.exe");
        b.resize(size);
        ASSERT_TRUE(testsupport::writeFileAt(path("setup.exe"), b));
    }
    void uninstall(const std::string& name)
    {
        std::error_code ec;
        std::filesystem::remove(gamePath(name), ec);
    }

    FolderState folderState() const { return folderStateOf(game()); }
    static FolderState folderStateOf(const std::string& folder)
    {
        namespace fs = std::filesystem;
        FolderState state;
        std::error_code ec;
        fs::path root(folder);
        for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
            if (it->is_directory(ec))
                continue;
            std::string rel = fs::relative(it->path(), root, ec).generic_string();
            state[rel] = FileState{testsupport::readFileAt(it->path().string()),
                                   os::defaultCalls().getFileAttributes(it->path().string().c_str())};
        }
        return state;
    }

    void script(int drain, PumpAction action) { recording().script[drain] = action; }
    void withDialog() { dialogHandle = reinterpret_cast<os::WindowRef>(static_cast<intptr_t>(0x5000)); }
    void withoutControl(int id) { recording().missingControls.push_back(id); }

    // Runs the engine with the recorder on top of whatever the seam holds
    // now (fault injectors included) and takes it off again afterwards.
    UpdateResult run() { return runIn(game()); }
    UpdateResult runIn(const std::string& folder)
    {
        Recording& r = recording();
        os::Calls saved = os::calls();
        r.inner = saved;
        r.folderPrefix = folder + "\\";
        os::Calls& c = os::calls();
        c.getModuleFileName = rec::getModuleFileName;
        if (!realWindowCalls) {
            c.getDlgItem = rec::getDlgItem;
            c.setWindowText = rec::setWindowText;
            c.setProgressRange = rec::setProgressRange;
            c.setProgressPos = rec::setProgressPos;
            c.pumpOneMessage = rec::pumpOneMessage;
        }
        c.createForWrite = rec::createForWrite;
        c.setFileAttributes = rec::setFileAttributes;
        c.moveFileReplace = rec::moveFileReplace;
        c.deleteFile = rec::deleteFile;
        c.writeFile = rec::writeFile;
        c.allocate = rec::allocate;
        c.createNewFile = rec::createNewFile;
        c.openExistingName = rec::openExistingName;
        c.closeHandle = rec::closeHandle;
        c.setAttributesOf = rec::setAttributesOf;
        c.deleteOpenFile = rec::deleteOpenFile;
        c.moveOpenFile = rec::moveOpenFile;
        UpdateResult result = runUpdate(folder.c_str());
        os::calls() = saved;
        rec::openNames().clear();
        return result;
    }

    const std::vector<std::string>& events() const { return recording().events; }
    // The recorded lines that start with one of the prefixes, in order.
    std::vector<std::string> only(std::initializer_list<const char*> prefixes) const
    {
        std::vector<std::string> out;
        for (const std::string& e : recording().events)
            for (const char* p : prefixes)
                if (e.compare(0, std::strlen(p), p) == 0) {
                    out.push_back(e);
                    break;
                }
        return out;
    }
    int drains() const { return recording().drains; }

    // Leaves the dialog calls and the pump to the seam (the Windows side's
    // real ones); only the file calls are recorded then.
    bool realWindowCalls = false;
};

inline std::string statusLine(const std::string& name) { return "text 1001 " + name + kInstalling; }

} // namespace updatetest
