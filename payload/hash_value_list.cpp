#include "payload/hash_value_list.h"

#include <cstring>

#include "payload/entry_name.h"
#include "payload/payload_archive.h"

const char kHashListMagic[8] = {'D', 'Q', 'M', '_', '_', '_', '_', '_'};
const char kHashListName[] = "kvx.hvl";

namespace {

uint32_t readLe32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Index of the first entry whose lowered name is "kvx.hvl", or count when
// there is none.
uint32_t findListEntry(const PayloadArchive& archive)
{
    for (uint32_t i = 0; i < archive.count(); ++i) {
        const char* name = archive.entry(i).name;
        size_t length = std::strlen(name);
        if (length >= kMaxPath)
            continue;
        char lowered[kMaxPath];
        std::memcpy(lowered, name, length + 1);
        lowerName(lowered);
        if (std::strcmp(lowered, kHashListName) == 0)
            return i;
    }
    return archive.count();
}

} // namespace

int HashValueList::loadFromPayload(const PayloadArchive& archive, FileHandle& exe)
{
    release();

    uint32_t index = findListEntry(archive);
    if (index == archive.count())
        return 0;
    if (!archive.seekToEntry(exe, index))
        return 0;
    unsigned char header[kHashListHeaderSize];
    if (exe.read(header, kHashListHeaderSize) != kHashListHeaderSize)
        return 0;
    if (std::memcmp(header, kHashListMagic, sizeof kHashListMagic) != 0)
        return 0;

    uint32_t count = readLe32(header + 12);
    uint64_t bytes = static_cast<uint64_t>(count) * kHashRecordSize;
    if (bytes > 0xFFFFFFFFu)
        return 0;
    // Records the file cannot hold would only come back as a short read; this
    // spares the attempt to allocate them. (The seek above succeeded, so the
    // position is below 2 GiB.)
    uint64_t recordsAt = static_cast<uint64_t>(archive.dataStart()) + archive.entry(index).offset +
                         kHashListHeaderSize;
    uint32_t fileSize = exe.size();
    if (fileSize == os::kInvalidFileSize || recordsAt + bytes > fileSize)
        return 0;

    HashValueRecord* records = nullptr;
    if (bytes > 0) {
        records = static_cast<HashValueRecord*>(os::calls().allocate(static_cast<size_t>(bytes)));
        if (records == nullptr)
            return 0;
        if (exe.read(records, static_cast<uint32_t>(bytes)) != bytes) {
            os::calls().release(records);
            return 0;
        }
    }

    std::memcpy(header_, header, kHashListHeaderSize);
    count_ = count;
    records_ = records;
    return 1;
}

const HashValueRecord* HashValueList::findRecord(const char* lowerEntryName) const
{
    for (uint32_t i = 0; i < count_; ++i) {
        const HashValueRecord& record = records_[i];
        // A name that fills its field has no end to copy up to.
        const void* nul = std::memchr(record.name, 0, kHashRecordNameSize);
        if (nul == nullptr)
            continue;
        char part[kHashRecordNameSize];
        std::strcpy(part, fileNamePart(record.name));
        lowerName(part);
        if (std::strcmp(part, lowerEntryName) == 0)
            return &record;
    }
    return nullptr;
}

void HashValueList::release()
{
    if (records_ != nullptr)
        os::calls().release(records_);
    records_ = nullptr;
    count_ = 0;
    std::memset(header_, 0, sizeof header_);
}
