// libFuzzer target for the whole update run: runUpdate on an install folder
// in memory (memory_fs.h), with fuzzed contents of the installed KVX.hvl and
// uninst.lst, a fuzzed payload (names, records, data), fuzzed leftovers and
// attributes, a cancel, close or quit at a fuzzed pump, and one fuzzed failing
// system call. After every run it checks what the run promises:
//   - nothing outside the install folder, and no device or stream name, is
//     written, created, moved, deleted or has its attributes changed (the
//     file system stops the process at the call);
//   - no file handle is left open, and every file the run created is moved
//     into place or deleted (unless a delete was made to fail);
//   - a run that ends before its first move leaves every file that was there
//     before, leftover temporary files aside, with its bytes and attributes;
//   - a cancel outranks a close, both outrank everything else, and neither
//     lets a move happen;
//   - the uninstall list keeps every byte of its text: afterwards it is either
//     unchanged or the old text, new lines and one NUL;
//   - progress positions stay within their bars' ranges, texts within MAX_PATH.
//
// Input: 8 control bytes, then the installed KVX.hvl, uninst.lst and the
// payload (what follows offset 0x40000 of the updater), separated by "#~#~".
// With two parts there is no uninst.lst, with one part neither list.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/fuzz/memory_fs.h"
#include "platform/os.h"
#include "ui/run_control.h"
#include "update/update_result.h"
#include "update/update_run.h"

namespace {

const char kFolder[] = "C:\\Game";
const char kExecutable[] = "C:\\Temp\\updater.exe";
const char kSeparator[] = "#~#~";

struct Controls {
    uint8_t installed;      // bit i: entry i's file exists; bit 4+i: its ".tmp" is left over
    uint8_t attributes;     // low bits: of installed files; high bits: of leftovers
    uint8_t pumpAt;         // the pump call that brings an event; 0 for none
    uint8_t pumpEvent;      // 0 cancel confirmed, 1 quit, 2 dialog closed, 3 another exception
    uint8_t failAt;         // the call of kind failOp that fails; 0 for none
    uint8_t failOp;
    uint8_t dialog;         // bit 0: the dialog's controls exist
    uint8_t gameFiles;      // bit i: record i of the installed list names an existing file
};

uint32_t gPumps;
Controls gControls;
uint32_t gRange[3];         // by bar: the last range set
const uintptr_t kFirstControl = 1001;

std::vector<std::vector<uint8_t>> split(const uint8_t* data, size_t size)
{
    std::vector<std::vector<uint8_t>> parts(1);
    size_t n = std::strlen(kSeparator);
    for (size_t i = 0; i < size;) {
        if (i + n <= size && std::memcmp(data + i, kSeparator, n) == 0 && parts.size() < 3) {
            parts.emplace_back();
            i += n;
        } else {
            parts.back().push_back(data[i++]);
        }
    }
    return parts;
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at)
{
    if (at + 4 > b.size())
        return 0;
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

// A name read from a fixed field, up to its NUL.
std::string fieldName(const std::vector<uint8_t>& b, size_t at, size_t width)
{
    std::string name;
    for (size_t i = at; i < at + width && i < b.size() && b[i] != 0; ++i)
        name += static_cast<char>(b[i]);
    return name;
}

// Entry names of the payload, read independently of the product's reader.
std::vector<std::string> payloadNames(const std::vector<uint8_t>& payload)
{
    std::vector<std::string> names;
    if (payload.size() < 16)
        return names;
    bool isLong = std::memcmp(payload.data(), "VELMOR ARC20", 12) == 0;
    size_t entrySize = isLong ? 128 : 32, nameSize = isLong ? 96 : 16;
    uint32_t count = le32(payload, 12);
    for (uint32_t i = 0; i < count && i < 4; ++i)
        names.push_back(fieldName(payload, 16 + i * entrySize, nameSize));
    return names;
}

// Adds a file under the install folder, where such a name can be a plain file.
void addInstalled(const std::string& name, const std::vector<uint8_t>& bytes, uint32_t attributes)
{
    std::string key = memfs::canonical(std::string(kFolder) + "\\" + name);
    std::string folder = memfs::canonical(kFolder);
    if (name.empty() || key.size() <= folder.size() + 1 || key.compare(0, folder.size(), folder) != 0 ||
        key.find(':', 2) != std::string::npos || memfs::find(key) != nullptr)
        return;
    std::string parent = key.substr(0, key.rfind('\\'));
    if (parent != folder && parent != folder + "\\sub")
        return;
    memfs::addFile(key, bytes, attributes);
}

std::vector<uint8_t> bytesOf(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

os::WindowRef fakeDlgItem(os::WindowRef dialog, int id)
{
    if (dialog == nullptr || (gControls.dialog & 1) == 0 || id < 1001 || id > 1003)
        return nullptr;
    return reinterpret_cast<os::WindowRef>(static_cast<uintptr_t>(id));
}

int fakeWindowText(os::WindowRef window, const char* text)
{
    if (reinterpret_cast<uintptr_t>(window) != kFirstControl)
        memfs::violation("text for a control that is not the status line", "");
    if (std::strlen(text) >= 260)
        memfs::violation("status text longer than MAX_PATH", text);
    return 1;
}

size_t barIndex(os::WindowRef bar)
{
    uintptr_t id = reinterpret_cast<uintptr_t>(bar);
    if (id != 1002 && id != 1003)
        memfs::violation("progress for a control that is not a bar", "");
    return id - kFirstControl;
}

void fakeRange(os::WindowRef bar, uint32_t high) { gRange[barIndex(bar)] = high; }

void fakePos(os::WindowRef bar, uint32_t position)
{
    if (position > gRange[barIndex(bar)])
        memfs::violation("progress position beyond its bar's range", std::to_string(position));
}

int fakePump(os::WindowRef)
{
    if (++gPumps != gControls.pumpAt)
        return 0;
    switch (gControls.pumpEvent & 3) {
    case 0:
        cancelRequested = 1;    // as the dialog does on a confirmed cancel
        return 1;
    case 1:
        throw 0;                // WM_QUIT
    case 2:
        closeRequested = 1;     // the dialog was closed and destroyed
        dialogHandle = nullptr;
        return 1;
    default:
        throw 'x';
    }
}

bool known(UpdateResult r)
{
    switch (r) {
    case UPDATE_OK: case UPDATE_E_PAYLOAD: case UPDATE_E_TOO_MANY_ENTRIES: case UPDATE_E_FILE_IO:
    case UPDATE_E_UNINSTALL_LIST: case UPDATE_E_CANCELLED: case UPDATE_E_CLOSED:
        return true;
    }
    return false;
}

bool endsWithTmp(const std::string& key) { return key.size() >= 4 && key.compare(key.size() - 4, 4, ".tmp") == 0; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < sizeof(Controls))
        return 0;
    std::memcpy(&gControls, data, sizeof(Controls));
    std::vector<std::vector<uint8_t>> parts = split(data + sizeof(Controls), size - sizeof(Controls));
    const std::vector<uint8_t>& payload = parts.back();

    memfs::reset(kFolder, kExecutable);
    memfs::setExecutable(payload.data(), payload.size());
    memfs::addFile("C:\\outside.dat", bytesOf("not the game's"), 0x20);
    memfs::addFile("C:\\Game\\game.exe", bytesOf("MZ game"), 0x20);
    memfs::addFile("C:\\Game\\Sub\\data.arc", bytesOf("game data"), 0x20);
    if (parts.size() >= 2)
        memfs::addFile("C:\\Game\\KVX.hvl", parts[0], 0x20);
    if (parts.size() >= 3)
        memfs::addFile("C:\\Game\\uninst.lst", parts[1], 0x20);
    // Files named by the installed list's records, present or not.
    if (parts.size() >= 2) {
        uint32_t records = le32(parts[0], 12);
        for (uint32_t i = 0; i < records && i < 8; ++i)
            if (gControls.gameFiles & (1u << i))
                addInstalled(fieldName(parts[0], 16 + i * 64, 56), bytesOf("record file"), 0x20);
    }
    std::vector<std::string> names = payloadNames(payload);
    for (size_t i = 0; i < names.size(); ++i) {
        if (gControls.installed & (1u << i))
            addInstalled(names[i], bytesOf("installed " + names[i]), 0x20 | (gControls.attributes & 7));
        if (gControls.installed & (0x10u << i))
            addInstalled(names[i] + ".tmp", bytesOf("leftover"), 0x20 | ((gControls.attributes >> 4) & 7));
    }
    if (gControls.failAt != 0)
        memfs::failCall(static_cast<memfs::Op>(gControls.failOp % memfs::OP_COUNT), gControls.failAt);

    std::map<std::string, memfs::File> before;
    for (const auto& f : memfs::files())
        if (!endsWithTmp(f.first))
            before[f.first] = *f.second;
    // A file named by a record or an entry may be the list as well.
    const memfs::File* listFile = memfs::find("C:\\Game\\uninst.lst");
    bool hadList = listFile != nullptr;
    std::vector<uint8_t> oldList = listFile ? listFile->bytes : std::vector<uint8_t>();

    memfs::install();
    os::Calls& c = os::calls();
    c.getDlgItem = fakeDlgItem;
    c.setWindowText = fakeWindowText;
    c.setProgressRange = fakeRange;
    c.setProgressPos = fakePos;
    c.pumpOneMessage = fakePump;
    gPumps = 0;
    gRange[0] = gRange[1] = gRange[2] = 0;
    cancelRequested = 0;
    closeRequested = 0;
    dialogHandle = reinterpret_cast<os::WindowRef>(static_cast<uintptr_t>(0x77));

    UpdateResult result = runUpdate(kFolder);
    if (std::getenv("UPDATE_RUN_FUZZ_VERBOSE") != nullptr)
        std::fprintf(stderr, "result 0x%08X, %u pumps, %u moves\n", static_cast<uint32_t>(result), gPumps,
                     static_cast<uint32_t>(memfs::stats().moves.size()));

    const memfs::Stats& stats = memfs::stats();
    if (!known(result))
        memfs::violation("unknown result", std::to_string(static_cast<uint32_t>(result)));
    if (memfs::openHandleCount() != 0)
        memfs::violation("file handles left open", std::to_string(memfs::openHandleCount()));
    if (cancelRequested && result != UPDATE_E_CANCELLED)
        memfs::violation("a confirmed cancel not reported", "");
    if (!cancelRequested && closeRequested && result != UPDATE_E_CLOSED)
        memfs::violation("a close not reported", "");
    if ((cancelRequested || closeRequested) && stats.movesAttempted != 0)
        memfs::violation("a file moved after a cancel or close", "");

    bool beforeCommit = result == UPDATE_E_PAYLOAD || result == UPDATE_E_TOO_MANY_ENTRIES ||
                        result == UPDATE_E_CANCELLED || result == UPDATE_E_CLOSED ||
                        (result == UPDATE_E_FILE_IO && stats.movesAttempted == 0);
    if (beforeCommit) {
        for (const auto& f : before) {
            const memfs::File* now = memfs::find(f.first);
            if (now == nullptr || now->bytes != f.second.bytes || now->attributes != f.second.attributes)
                memfs::violation("a file changed by a run that did not commit:", f.first);
        }
    }

    bool deleteFailed = gControls.failAt != 0 && gControls.failOp % memfs::OP_COUNT == memfs::OP_DELETE &&
                        stats.calls[memfs::OP_DELETE] >= gControls.failAt;
    if (!deleteFailed) {
        for (const auto& f : memfs::files())
            if (f.second->createdByRun)
                memfs::violation("a file the run created was left behind:", f.first);
    }

    // The uninstall list keeps its text, unless the payload itself replaced it.
    std::string listKey = memfs::canonical("C:\\Game\\uninst.lst");
    bool replacedByPayload = false;
    for (const auto& m : stats.moves)
        if (m.second == listKey && m.first != memfs::canonical("C:\\Game\\uninst.new"))
            replacedByPayload = true;
    const memfs::File* now = memfs::find(listKey);
    if (hadList && !replacedByPayload) {
        if (now == nullptr)
            memfs::violation("the uninstall list is gone", "");
        if (now->bytes != oldList) {
            size_t text = oldList.size();
            if (text != 0 && oldList[text - 1] == 0)
                --text;
            if (now->bytes.size() <= text || now->bytes.back() != 0 ||
                (text != 0 && std::memcmp(now->bytes.data(), oldList.data(), text) != 0))
                memfs::violation("the uninstall list lost bytes of its text", "");
        }
    }
    if (result == UPDATE_OK && !hadList && !replacedByPayload)
        memfs::violation("success without an uninstall list", "");

    os::restoreCalls();
    return 0;
}
