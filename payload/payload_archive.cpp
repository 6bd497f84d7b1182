#include "payload/payload_archive.h"

#include <cstring>

const char kLongLayoutMagic[12] = {'V', 'E', 'L', 'M', 'O', 'R', ' ', 'A', 'R', 'C', '2', '0'};

namespace {

uint32_t readLe32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint32_t entrySize(ArchiveLayout layout)
{
    return layout == ARCHIVE_LAYOUT_LONG ? kLongEntrySize : kShortEntrySize;
}

uint32_t nameSize(ArchiveLayout layout)
{
    return layout == ARCHIVE_LAYOUT_LONG ? kLongNameSize : kShortNameSize;
}

} // namespace

void locateSelf(char* path)
{
    std::memset(path, 0, kMaxPath);
    std::strcpy(path, "setup.exe");
    os::calls().getModuleFileName(path, kMaxPath);
    // A path that fills the buffer is not terminated on every Windows version.
    path[kMaxPath - 1] = '\0';
}

UpdateResult PayloadArchive::load(FileHandle& exe)
{
    release();

    if (exe.size() < kPayloadOffset)
        return UPDATE_E_PAYLOAD;
    // A failed seek shows up as a short read of the header.
    exe.seek(kPayloadOffset);
    unsigned char header[kArchiveHeaderSize];
    if (exe.read(header, kArchiveHeaderSize) != kArchiveHeaderSize)
        return UPDATE_E_PAYLOAD;

    uint32_t count = readLe32(header + 12);
    if (count > kMaxEntries)
        return UPDATE_E_TOO_MANY_ENTRIES;
    ArchiveLayout layout = std::memcmp(header, kLongLayoutMagic, sizeof kLongLayoutMagic) == 0
                               ? ARCHIVE_LAYOUT_LONG
                               : ARCHIVE_LAYOUT_SHORT;

    // count <= 32, so the table is at most 4 KiB.
    uint32_t tableSize = count * entrySize(layout);
    unsigned char* table = nullptr;
    if (tableSize > 0) {
        table = static_cast<unsigned char*>(os::calls().allocate(tableSize));
        if (table == nullptr)
            return UPDATE_E_PAYLOAD;
        if (exe.read(table, tableSize) != tableSize) {
            os::calls().release(table);
            return UPDATE_E_PAYLOAD;
        }
        // Names are copied up to their NUL later on, so each must end inside
        // its own field.
        for (uint32_t i = 0; i < count; ++i) {
            const unsigned char* name = table + i * entrySize(layout);
            if (std::memchr(name, 0, nameSize(layout)) == nullptr) {
                os::calls().release(table);
                return UPDATE_E_PAYLOAD;
            }
        }
    }

    table_ = table;
    count_ = count;
    layout_ = layout;
    return UPDATE_OK;
}

ArchiveEntry PayloadArchive::entry(uint32_t index) const
{
    if (index >= count_)
        return ArchiveEntry{"", 0, 0};
    const unsigned char* e = table_ + index * entrySize(layout_);
    uint32_t field = nameSize(layout_);
    return ArchiveEntry{reinterpret_cast<const char*>(e), readLe32(e + field), readLe32(e + field + 4)};
}

uint32_t PayloadArchive::dataStart() const
{
    return kPayloadOffset + kArchiveHeaderSize + count_ * entrySize(layout_);
}

int PayloadArchive::seekToEntry(FileHandle& exe, uint32_t index) const
{
    if (index >= count_)
        return 0;
    // An offset that would carry past 32 bits must not wrap around into the
    // executable's own image.
    uint64_t position = static_cast<uint64_t>(dataStart()) + entry(index).offset;
    if (position > 0xFFFFFFFFu)
        return 0;
    return exe.seek(static_cast<uint32_t>(position));
}

void PayloadArchive::release()
{
    if (table_ != nullptr)
        os::calls().release(table_);
    table_ = nullptr;
    count_ = 0;
    layout_ = ARCHIVE_LAYOUT_SHORT;
}
