// libFuzzer target for the payload readers: the input is everything after
// file offset 0x40000 of an updater (the bytes before it read as zeros). The
// file lives in memory behind the platform seam, so one input costs no disk.
#include <cstdint>
#include <cstring>
#include <vector>

#include "payload/entry_name.h"
#include "payload/hash_value_list.h"
#include "payload/payload_archive.h"

namespace {

const uint8_t* gData = nullptr;
size_t gSize = 0;
uint64_t gPosition = 0;
int gDummy;
os::FileRef const kMemoryFile = &gDummy;

uint64_t fileSize() { return kPayloadOffset + static_cast<uint64_t>(gSize); }

os::FileRef memoryOpen(const char*)
{
    gPosition = 0;
    return kMemoryFile;
}

int memoryRead(os::FileRef, void* buffer, uint32_t count, uint32_t* done)
{
    uint32_t n = 0;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    while (n < count && gPosition < fileSize()) {
        out[n++] = gPosition < kPayloadOffset ? 0 : gData[gPosition - kPayloadOffset];
        ++gPosition;
    }
    *done = n;
    return 1;
}

uint32_t memorySeek(os::FileRef, int32_t distance)
{
    if (distance < 0)
        return os::kInvalidFilePointer;
    gPosition = static_cast<uint32_t>(distance);
    return static_cast<uint32_t>(distance);
}

uint32_t memorySize(os::FileRef) { return static_cast<uint32_t>(fileSize()); }
int memoryClose(os::FileRef) { return 1; }

// The largest block a real run could get; larger counts fail as on a 32-bit
// process instead of exhausting the fuzzer's memory limit.
void* limitedAllocate(size_t bytes)
{
    return bytes > (64u << 20) ? nullptr : os::defaultCalls().allocate(bytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    gData = data;
    gSize = size;
    os::Calls& c = os::calls();
    c.openForRead = memoryOpen;
    c.readFile = memoryRead;
    c.setFilePointer = memorySeek;
    c.getFileSize = memorySize;
    c.closeHandle = memoryClose;
    c.allocate = limitedAllocate;

    FileHandle exe;
    exe.openRead("updater.exe");
    PayloadArchive archive;
    if (archive.load(exe) != UPDATE_OK)
        return 0;
    HashValueList list;
    list.loadFromPayload(archive, exe);
    for (uint32_t i = 0; i < archive.count(); ++i) {
        ArchiveEntry e = archive.entry(i);
        char lowered[kMaxPath];
        std::strcpy(lowered, e.name);
        lowerName(lowered);
        isSafeInstallName(e.name);
        installNameProblem(e.name, nullptr);
        if (i > 0)
            installNameClash(archive.entry(i - 1).name, e.name);
        const HashValueRecord* r = list.findRecord(lowered);
        if (r != nullptr) {
            isSafeInstallName(r->name);
            installNameProblem(r->name, nullptr);
            installNameClash(r->name, e.name);
            fileNamePart(r->name);
        }
        if (archive.seekToEntry(exe, i)) {
            uint8_t chunk[64];
            exe.read(chunk, e.size < sizeof chunk ? e.size : sizeof chunk);
        }
    }
    return 0;
}
