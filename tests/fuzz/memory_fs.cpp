// The in-memory install folder behind the seam. It follows what Windows does
// where the run could depend on it: CREATE_ALWAYS and DeleteFileA fail on a
// read-only file, CREATE_ALWAYS also on a hidden or system one, MoveFileExA
// refuses a read-only target, and a file that is open cannot be opened for
// writing, moved or deleted (the run shares nothing). The name calls act
// through a handle, as their Windows counterparts do: a file marked for
// deletion goes when its handle is closed, a move by handle refuses a
// read-only target. The folder has no links, so every file has one link and
// its final path is its own key.
#include "tests/fuzz/memory_fs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <set>

#include "platform/os.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#include <sanitizer/lsan_interface.h>
#define MEMFS_KEEP(p) __lsan_ignore_object(p)
#define MEMFS_POISON(p, n) __asan_poison_memory_region((p), (n))
#define MEMFS_UNPOISON(p, n) __asan_unpoison_memory_region((p), (n))
#endif
#endif
#ifndef MEMFS_POISON
#define MEMFS_POISON(p, n) ((void)(p), (void)(n))
#define MEMFS_UNPOISON(p, n) ((void)(p), (void)(n))
#define MEMFS_KEEP(p) ((void)(p))
#endif

namespace memfs {
namespace {

const uint32_t kReadOnly = 0x1, kHidden = 0x2, kSystem = 0x4, kDirectory = 0x10, kArchive = 0x20;
const uint64_t kMaxFileSize = 64u << 20;    // a fuller disk than that is a full disk

struct Handle {
    std::string key;
    uint64_t position = 0;
    bool writable = false;
    bool open = false;
    bool exclusive = false;     // opened with no sharing
    bool folder = false;
    bool deleteOnClose = false;
};

std::map<std::string, File> gFiles;
std::set<std::string> gFolders;
std::vector<Handle> gHandles;
std::string gInstallKey;        // canonical install folder
std::string gExecutablePath;
Stats gStats;
uint32_t gFailOp = OP_COUNT, gFailAt = 0;
size_t gAllocationLimit = 64u << 20;

bool isLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// 1 when this call of kind op is the one chosen to fail.
bool failsNow(Op op)
{
    ++gStats.calls[op];
    return op == gFailOp && gStats.calls[op] == gFailAt;
}

std::string parentOf(const std::string& key)
{
    size_t slash = key.rfind('\\');
    return slash == std::string::npos ? std::string() : key.substr(0, slash);
}

// A component Windows would not take as a plain file name in a folder.
bool isStream(const std::string& component) { return component.find(':') != std::string::npos; }

bool isDeviceName(const std::string& component)
{
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    static const char* const kDevices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (const char* d : kDevices)
        if (base == d)
            return true;
    if (base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
        base[3] >= '0' && base[3] <= '9')
        return true;
    return false;
}

bool hasInvalidCharacter(const std::string& key)
{
    for (size_t i = 0; i < key.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(key[i]);
        if (isLeadByte(c) && i + 1 < key.size()) {
            ++i;
            continue;
        }
        if (c < 0x20 || std::strchr("<>\"|?*", c) != nullptr)
            return true;
    }
    return false;
}

// Every call that changes the file system passes here first: the target must
// lie inside the install folder and be a plain name.
std::string mutationKey(const char* path, const char* what)
{
    std::string key = canonical(path);
    if (key.size() < gInstallKey.size() || key.compare(0, gInstallKey.size(), gInstallKey) != 0 ||
        (key.size() > gInstallKey.size() && key[gInstallKey.size()] != '\\'))
        violation(what, std::string("outside the install folder: ") + path);
    // A name of dots and spaces that resolves to the folder itself.
    if (key.size() == gInstallKey.size())
        violation(what, std::string("the install folder itself: ") + path);
    size_t start = gInstallKey.size() + 1;
    while (start <= key.size()) {
        size_t end = key.find('\\', start);
        if (end == std::string::npos)
            end = key.size();
        std::string component = key.substr(start, end - start);
        if (isStream(component) || (isDeviceName(component)))
            violation(what, std::string("a device or stream name: ") + path);
        start = end + 1;
    }
    return key;
}

os::FileRef refOf(size_t index) { return reinterpret_cast<os::FileRef>(static_cast<uintptr_t>(0x1000 + index)); }

Handle* handleOf(os::FileRef file)
{
    uintptr_t v = reinterpret_cast<uintptr_t>(file);
    if (v < 0x1000 || v - 0x1000 >= gHandles.size())
        return nullptr;
    Handle* h = &gHandles[v - 0x1000];
    return h->open ? h : nullptr;
}

os::FileRef openHandle(const std::string& key, bool writable, bool exclusive = false)
{
    Handle h;
    h.key = key;
    h.writable = writable;
    h.exclusive = exclusive || writable;
    h.open = true;
    gHandles.push_back(h);
    ++gFiles[key].openHandles;
    return refOf(gHandles.size() - 1);
}

// 1 when a handle that shares nothing holds key.
bool heldExclusively(const std::string& key)
{
    for (const Handle& h : gHandles)
        if (h.open && !h.folder && h.exclusive && h.key == key)
            return true;
    return false;
}

os::FileRef memOpenForRead(const char* path)
{
    std::string key = canonical(path);
    auto it = gFiles.find(key);
    if (it == gFiles.end())
        return os::noFile();
    for (const Handle& h : gHandles)
        if (h.open && h.writable && h.key == key)
            return os::noFile();    // open for writing, shared with nobody
    return openHandle(key, false);
}

os::FileRef memCreateForWrite(const char* path)
{
    std::string key = mutationKey(path, "create");
    if (failsNow(OP_CREATE) || hasInvalidCharacter(key) || gFolders.count(key) != 0 ||
        gFolders.count(parentOf(key)) == 0)
        return os::noFile();
    auto it = gFiles.find(key);
    if (it != gFiles.end()) {
        File& f = it->second;
        if (f.openHandles != 0 || (f.attributes & (kReadOnly | kHidden | kSystem)) != 0)
            return os::noFile();
        f.bytes.clear();
        f.zeroHead = 0;
    }
    File& f = gFiles[key];
    f.attributes = kArchive;
    f.createdByRun = true;
    return openHandle(key, true);
}

int memReadFile(os::FileRef file, void* buffer, uint32_t count, uint32_t* done)
{
    *done = 0;
    Handle* h = handleOf(file);
    if (h == nullptr)
        return 0;
    const File& f = gFiles[h->key];
    uint64_t size = f.size();
    uint64_t n = h->position >= size ? 0 : size - h->position;
    if (n > count)
        n = count;
    if (failsNow(OP_READ))
        n /= 2;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    for (uint64_t i = 0; i < n; ++i) {
        uint64_t at = h->position + i;
        out[i] = at < f.zeroHead ? 0 : f.bytes[at - f.zeroHead];
    }
    h->position += n;
    *done = static_cast<uint32_t>(n);
    return 1;
}

int memWriteFile(os::FileRef file, const void* buffer, uint32_t count, uint32_t* done)
{
    *done = 0;
    Handle* h = handleOf(file);
    if (h == nullptr || !h->writable)
        return 0;
    File& f = gFiles[h->key];
    uint64_t n = count;
    if (failsNow(OP_WRITE))
        n /= 2;
    if (h->position + n > kMaxFileSize)
        n = h->position >= kMaxFileSize ? 0 : kMaxFileSize - h->position;
    uint64_t end = h->position + n;
    if (end > f.bytes.size())
        f.bytes.resize(end);
    if (n != 0)
        std::memcpy(f.bytes.data() + h->position, buffer, n);
    h->position = end;
    *done = static_cast<uint32_t>(n);
    return 1;
}

uint32_t memSetFilePointer(os::FileRef file, int32_t distance)
{
    Handle* h = handleOf(file);
    if (h == nullptr || distance < 0)
        return os::kInvalidFilePointer;
    h->position = static_cast<uint64_t>(distance);
    return static_cast<uint32_t>(distance);
}

uint32_t memGetFileSize(os::FileRef file)
{
    Handle* h = handleOf(file);
    return h == nullptr ? os::kInvalidFileSize : static_cast<uint32_t>(gFiles[h->key].size());
}

int memCloseHandle(os::FileRef file)
{
    Handle* h = handleOf(file);
    if (h == nullptr)
        return 0;
    h->open = false;
    if (h->folder)
        return 1;
    auto it = gFiles.find(h->key);
    if (it == gFiles.end())
        return 1;
    --it->second.openHandles;
    if (h->deleteOnClose && it->second.openHandles == 0)
        gFiles.erase(it);
    return 1;
}

int memFlushFileBuffers(os::FileRef file)
{
    Handle* h = handleOf(file);
    return h != nullptr && h->writable && !failsNow(OP_FLUSH) ? 1 : 0;
}

int memSetFileAttributes(const char* path, uint32_t attributes)
{
    std::string key = mutationKey(path, "set attributes of");
    if (failsNow(OP_SET_ATTRIBUTES))
        return 0;
    if (gFolders.count(key) != 0)
        return 1;
    auto it = gFiles.find(key);
    if (it == gFiles.end())
        return 0;
    it->second.attributes = attributes & ~kDirectory;
    return 1;
}

uint32_t memGetFileAttributes(const char* path)
{
    std::string key = canonical(path);
    if (key.empty())
        return os::kInvalidAttributes;
    if (gFolders.count(key) != 0)
        return kDirectory;
    auto it = gFiles.find(key);
    return it == gFiles.end() ? os::kInvalidAttributes : it->second.attributes;
}

// The move itself, once the source is known to be free to go: a read-only
// or open target refuses it.
int moveKey(const std::string& source, const std::string& target)
{
    if (source == target)
        return 1;
    auto t = gFiles.find(target);
    if (t != gFiles.end()) {
        if (t->second.openHandles != 0 || (t->second.attributes & kReadOnly) != 0)
            return 0;
        gFiles.erase(t);
    }
    gStats.moves.emplace_back(source, target);
    File moved = gFiles[source];
    gFiles.erase(source);
    moved.createdByRun = false;     // in place now: no longer a leftover
    gFiles[target] = moved;
    ++gStats.movesDone;
    return 1;
}

int memMoveFileReplace(const char* from, const char* to)
{
    std::string source = mutationKey(from, "move from");
    std::string target = mutationKey(to, "move to");
    ++gStats.movesAttempted;
    if (failsNow(OP_MOVE))
        return 0;
    auto s = gFiles.find(source);
    if (s == gFiles.end() || s->second.openHandles != 0 || hasInvalidCharacter(target) ||
        gFolders.count(target) != 0 || gFolders.count(parentOf(target)) == 0)
        return 0;
    return moveKey(source, target);
}

int memDeleteFile(const char* path)
{
    std::string key = mutationKey(path, "delete");
    if (failsNow(OP_DELETE))
        return 0;
    auto it = gFiles.find(key);
    if (it == gFiles.end() || it->second.openHandles != 0 || (it->second.attributes & kReadOnly) != 0)
        return 0;
    gFiles.erase(it);
    return 1;
}

// ---- names handled through a handle -----------------------------------------

os::FileRef memCreateNewFile(const char* path)
{
    std::string key = mutationKey(path, "create");
    if (failsNow(OP_CREATE) || hasInvalidCharacter(key) || gFolders.count(key) != 0 ||
        gFolders.count(parentOf(key)) == 0 || gFiles.count(key) != 0)
        return os::noFile();
    File& f = gFiles[key];
    f.attributes = kArchive;
    f.createdByRun = true;
    return openHandle(key, true);
}

os::FileRef memOpenExistingName(const char* path, int forChange)
{
    std::string key = canonical(path);
    auto it = gFiles.find(key);
    if (key.empty() || it == gFiles.end() || heldExclusively(key) || (forChange && it->second.openHandles != 0))
        return os::noFile();
    return openHandle(key, false, forChange != 0);
}

os::FileRef memOpenFolder(const char* path)
{
    std::string key = canonical(path);
    if (gFolders.count(key) == 0)
        return os::noFile();
    Handle h;
    h.key = key;
    h.open = true;
    h.folder = true;
    gHandles.push_back(h);
    return refOf(gHandles.size() - 1);
}

int memGetFileInfo(os::FileRef file, uint32_t* attributes, uint32_t* links)
{
    Handle* h = handleOf(file);
    if (h == nullptr)
        return 0;
    *attributes = h->folder ? kDirectory : gFiles[h->key].attributes;
    *links = 1;
    return 1;
}

uint32_t memGetFinalPath(os::FileRef file, char* buffer, uint32_t size)
{
    Handle* h = handleOf(file);
    if (h == nullptr)
        return 0;
    uint32_t n = static_cast<uint32_t>(h->key.size());
    if (n >= size)
        return n + 1;
    std::memcpy(buffer, h->key.c_str(), n + 1);
    return n;
}

int memSetAttributesOf(os::FileRef file, uint32_t attributes)
{
    Handle* h = handleOf(file);
    if (h == nullptr)
        return 0;
    mutationKey(h->key.c_str(), "set attributes of");
    if (failsNow(OP_SET_ATTRIBUTES))
        return 0;
    if (!h->folder)
        gFiles[h->key].attributes = attributes & ~kDirectory;
    return 1;
}

int memDeleteOpenFile(os::FileRef file, const char* path)
{
    Handle* h = handleOf(file);
    std::string key = mutationKey(path, "delete");
    if (failsNow(OP_DELETE) || h == nullptr || h->folder || h->key != key)
        return 0;
    if ((gFiles[key].attributes & kReadOnly) != 0)
        return 0;
    h->deleteOnClose = true;
    return 1;
}

int memMoveOpenFile(os::FileRef file, const char* from, const char* to)
{
    Handle* h = handleOf(file);
    std::string source = mutationKey(from, "move from");
    std::string target = mutationKey(to, "move to");
    ++gStats.movesAttempted;
    if (failsNow(OP_MOVE) || h == nullptr || h->folder || h->key != source)
        return 0;
    auto s = gFiles.find(source);
    if (s == gFiles.end() || s->second.openHandles != 1 || hasInvalidCharacter(target) ||
        gFolders.count(target) != 0 || gFolders.count(parentOf(target)) == 0)
        return 0;
    if (!moveKey(source, target))
        return 0;
    h->key = target;
    return 1;
}

uint32_t memGetModuleFileName(char* buffer, uint32_t size)
{
    if (size == 0)
        return 0;
    size_t n = gExecutablePath.size() < size - 1 ? gExecutablePath.size() : size - 1;
    std::memcpy(buffer, gExecutablePath.data(), n);
    buffer[n] = 0;
    return static_cast<uint32_t>(n);
}

// Large blocks (the run's two 1 MiB buffers) come from a pool: a fresh
// mapping per run would cost more than the run itself. Each block is poisoned
// beyond the bytes asked for and whole while it is free, so AddressSanitizer
// still sees an overrun or a use after release.
const size_t kPooledMin = 64u << 10, kPooledMax = 4u << 20;
std::multimap<size_t, void*> gFreeBlocks;      // by capacity
std::map<void*, size_t> gPooled;               // every pooled block, by address

void* memAllocate(size_t bytes)
{
    if (failsNow(OP_ALLOCATE) || bytes > gAllocationLimit)
        return nullptr;
    if (bytes < kPooledMin || bytes > kPooledMax)
        return ::operator new(bytes, std::nothrow);
    size_t capacity = kPooledMin;
    while (capacity < bytes)
        capacity *= 2;
    void* block;
    auto it = gFreeBlocks.find(capacity);
    if (it != gFreeBlocks.end()) {
        block = it->second;
        gFreeBlocks.erase(it);
    } else {
        block = ::operator new(capacity);
        MEMFS_KEEP(block);      // the pool keeps it for the next run
        gPooled[block] = capacity;
    }
    MEMFS_UNPOISON(block, bytes);
    MEMFS_POISON(static_cast<char*>(block) + bytes, capacity - bytes);
    return block;
}

void memRelease(void* block)
{
    auto it = gPooled.find(block);
    if (it == gPooled.end()) {
        ::operator delete(block);
        return;
    }
    MEMFS_POISON(block, it->second);
    gFreeBlocks.emplace(it->second, block);
}

// No dialog: the run skips every control. The fuzz target puts its own
// window entries in when it wants to watch them.
os::WindowRef noDlgItem(os::WindowRef, int) { return nullptr; }
int noWindowText(os::WindowRef, const char*) { return 0; }
void noProgress(os::WindowRef, uint32_t) {}
int noMessage(os::WindowRef) { return 0; }

// A new entry of os::Calls has to be modelled here before this compiles again
// (until then, give it a version that fails the way the system refuses).
static_assert(sizeof(os::Calls) == 28 * sizeof(void (*)()), "os::Calls changed: add the entry to install()");

} // namespace

std::string canonical(const std::string& path)
{
    std::vector<std::string> parts;
    std::string component;
    auto finish = [&]() {
        if (component == "..") {
            if (parts.size() > 1)
                parts.pop_back();   // never above the drive
        } else {
            while (!component.empty() && (component.back() == '.' || component.back() == ' '))
                component.pop_back();
            if (!component.empty())
                parts.push_back(component);
        }
        component.clear();
    };
    for (size_t i = 0; i < path.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        if (isLeadByte(c) && i + 1 < path.size()) {
            component += path[i];
            component += path[++i];
        } else if (c == '\\' || c == '/') {
            finish();
        } else {
            component += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        }
    }
    finish();
    if (parts.empty() || parts[0].size() != 2 || parts[0][1] != ':')
        return std::string();   // only drive-absolute paths name a file here
    std::string key = parts[0];
    for (size_t i = 1; i < parts.size(); ++i)
        key += "\\" + parts[i];
    return key;
}

void reset(const std::string& installFolder, const std::string& executablePath)
{
    gFiles.clear();
    gFolders.clear();
    gHandles.clear();
    gStats = Stats();
    gFailOp = OP_COUNT;
    gFailAt = 0;
    gAllocationLimit = 64u << 20;
    gInstallKey = canonical(installFolder);
    gExecutablePath = executablePath;
    std::string k = gInstallKey;
    while (!k.empty()) {
        gFolders.insert(k);
        k = parentOf(k);
    }
    gFolders.insert(gInstallKey + "\\sub");
    addFolder(parentOf(canonical(executablePath)));
}

void addFolder(const std::string& path)
{
    std::string k = canonical(path);
    while (!k.empty()) {
        gFolders.insert(k);
        k = parentOf(k);
    }
}

void addFile(const std::string& path, const std::vector<uint8_t>& bytes, uint32_t attributes)
{
    File& f = gFiles[canonical(path)];
    f.bytes = bytes;
    f.attributes = attributes;
}

void setExecutable(const uint8_t* payload, size_t size)
{
    File& f = gFiles[canonical(gExecutablePath)];
    f.zeroHead = 0x40000;
    f.bytes.assign(payload, payload + size);
    f.attributes = kArchive | kReadOnly;
}

void failCall(Op op, uint32_t n)
{
    gFailOp = op;
    gFailAt = n;
}

void setAllocationLimit(size_t bytes) { gAllocationLimit = bytes; }

void install()
{
    os::Calls& c = os::calls();
    c.openForRead = memOpenForRead;
    c.createForWrite = memCreateForWrite;
    c.readFile = memReadFile;
    c.writeFile = memWriteFile;
    c.setFilePointer = memSetFilePointer;
    c.getFileSize = memGetFileSize;
    c.closeHandle = memCloseHandle;
    c.flushFileBuffers = memFlushFileBuffers;
    c.setFileAttributes = memSetFileAttributes;
    c.getFileAttributes = memGetFileAttributes;
    c.moveFileReplace = memMoveFileReplace;
    c.deleteFile = memDeleteFile;
    c.getModuleFileName = memGetModuleFileName;
    c.allocate = memAllocate;
    c.release = memRelease;
    c.getDlgItem = noDlgItem;
    c.setWindowText = noWindowText;
    c.setProgressRange = noProgress;
    c.setProgressPos = noProgress;
    c.pumpOneMessage = noMessage;
    c.createNewFile = memCreateNewFile;
    c.openExistingName = memOpenExistingName;
    c.openFolder = memOpenFolder;
    c.getFileInfo = memGetFileInfo;
    c.getFinalPath = memGetFinalPath;
    c.setAttributesOf = memSetAttributesOf;
    c.deleteOpenFile = memDeleteOpenFile;
    c.moveOpenFile = memMoveOpenFile;
}

const File* find(const std::string& path)
{
    auto it = gFiles.find(canonical(path));
    return it == gFiles.end() ? nullptr : &it->second;
}

const std::vector<std::pair<std::string, const File*>> files()
{
    std::vector<std::pair<std::string, const File*>> all;
    for (const auto& f : gFiles)
        all.emplace_back(f.first, &f.second);
    return all;
}

int openHandleCount()
{
    int n = 0;
    for (const Handle& h : gHandles)
        n += h.open ? 1 : 0;
    return n;
}

const Stats& stats() { return gStats; }

void violation(const char* what, const std::string& detail)
{
    std::fprintf(stderr, "memfs: the run broke a promise: %s %s\n", what, detail.c_str());
    std::abort();
}

} // namespace memfs
