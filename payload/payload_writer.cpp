// Everything goes through FileHandle, so the writer behaves alike on the host
// and in the Windows builds, and tests can inject faults into it.
#include "payload/payload_writer.h"

#include <cstring>

namespace {

const uint32_t kChunkSize = 0x100000;

void putLe32(unsigned char* p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

void setError(std::string* error, const std::string& text)
{
    if (error != nullptr)
        *error = text;
}

// Writes all of data, continuing after short writes; 0 when a write makes no
// progress (a full disk, a failed call).
int writeAll(FileHandle& out, const void* data, size_t length)
{
    const unsigned char* p = static_cast<const unsigned char*>(data);
    while (length > 0) {
        uint32_t step = length > kChunkSize ? kChunkSize : static_cast<uint32_t>(length);
        uint32_t done = out.write(p, step);
        if (done == 0)
            return 0;
        p += done;
        length -= done;
    }
    return 1;
}

// Size of a source file; 0 with *error set when it cannot be opened or is
// too large for a 32-bit size.
int sourceSize(const std::string& path, uint32_t* size, std::string* error)
{
    FileHandle in;
    if (!in.openRead(path.c_str())) {
        setError(error, "cannot open " + path + " for reading");
        return 0;
    }
    uint32_t s = in.size();
    if (s == os::kInvalidFileSize) {
        setError(error, "cannot get the size of " + path + " (or it is 4 GiB or larger)");
        return 0;
    }
    *size = s;
    return 1;
}

// Copies exactly size bytes of path to out, one chunk at a time.
int copySource(FileHandle& out, const std::string& path, uint32_t size,
               std::vector<unsigned char>& buffer, const std::string& outPath, std::string* error)
{
    FileHandle in;
    if (!in.openRead(path.c_str())) {
        setError(error, "cannot open " + path + " for reading");
        return 0;
    }
    uint32_t left = size;
    while (left > 0) {
        uint32_t want = left > kChunkSize ? kChunkSize : left;
        uint32_t got = in.read(buffer.data(), want);
        if (got == 0) {
            setError(error, "cannot read " + path + " (it became shorter while being read)");
            return 0;
        }
        if (!writeAll(out, buffer.data(), got)) {
            setError(error, "cannot write " + outPath + " (disk full?)");
            return 0;
        }
        left -= got;
    }
    // The size is only 32 bits wide: a larger or growing file would be cut.
    unsigned char extra;
    if (in.read(&extra, 1) != 0) {
        setError(error, path + " is larger than its size said (4 GiB or more, or growing)");
        return 0;
    }
    return 1;
}

int writeArchive(FileHandle& out, const std::string& outPath, const std::vector<PackEntry>& entries,
                 const PackOptions& options, std::string* error)
{
    const bool isLong = options.layout == ARCHIVE_LAYOUT_LONG;
    const uint32_t entrySize = isLong ? kLongEntrySize : kShortEntrySize;
    const uint32_t nameField = isLong ? kLongNameSize : kShortNameSize;

    if (options.stub.size() >= kPayloadOffset) {
        setError(error, "the stub is " + std::to_string(options.stub.size()) +
                            " bytes; it must end before the payload at 0x40000");
        return 0;
    }
    if (!options.magicOverride.empty() && options.magicOverride.size() != 12) {
        setError(error, "the magic override must be exactly 12 bytes");
        return 0;
    }
    if (entries.size() > 0xFFFFFFFFu / entrySize) {
        setError(error, "too many entries");
        return 0;
    }

    // Sizes first: the table precedes the data.
    std::vector<uint32_t> sizes(entries.size());
    std::vector<uint32_t> offsets(entries.size());
    uint64_t dataStart = static_cast<uint64_t>(kPayloadOffset) + kArchiveHeaderSize +
                         static_cast<uint64_t>(entries.size()) * entrySize;
    uint64_t offset = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const PackEntry& e = entries[i];
        if (e.name.size() >= nameField) {
            setError(error, "the name \"" + e.name + "\" is " + std::to_string(e.name.size()) +
                                " bytes; the " + (isLong ? "long" : "short") +
                                " layout holds at most " + std::to_string(nameField - 1));
            return 0;
        }
        if (!e.sourcePath.empty()) {
            if (!sourceSize(e.sourcePath, &sizes[i], error))
                return 0;
        } else {
            if (e.data.size() > 0xFFFFFFFFu) {
                setError(error, "the data of \"" + e.name + "\" do not fit a 32-bit size");
                return 0;
            }
            sizes[i] = static_cast<uint32_t>(e.data.size());
        }
        if (dataStart + offset + sizes[i] > 0xFFFFFFFFu) {
            setError(error, "the payload would pass 4 GiB at \"" + e.name + "\"");
            return 0;
        }
        offsets[i] = static_cast<uint32_t>(offset);
        offset += sizes[i];
    }

    std::vector<unsigned char> buffer(kChunkSize, 0);
    if (!writeAll(out, options.stub.data(), options.stub.size())) {
        setError(error, "cannot write " + outPath);
        return 0;
    }
    size_t zeros = kPayloadOffset - options.stub.size();
    if (!writeAll(out, buffer.data(), zeros)) {
        setError(error, "cannot write " + outPath);
        return 0;
    }

    std::vector<unsigned char> head(kArchiveHeaderSize + entries.size() * entrySize, 0);
    if (!options.magicOverride.empty())
        std::memcpy(head.data(), options.magicOverride.data(), 12);
    else if (isLong)
        std::memcpy(head.data(), kLongLayoutMagic, 12);
    putLe32(head.data() + 12, static_cast<uint32_t>(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
        unsigned char* e = head.data() + kArchiveHeaderSize + i * entrySize;
        std::memcpy(e, entries[i].name.data(), entries[i].name.size());
        putLe32(e + nameField, offsets[i]);
        putLe32(e + nameField + 4, sizes[i]);
    }
    if (!writeAll(out, head.data(), head.size())) {
        setError(error, "cannot write " + outPath);
        return 0;
    }

    for (size_t i = 0; i < entries.size(); ++i) {
        const PackEntry& e = entries[i];
        if (!e.sourcePath.empty()) {
            if (!copySource(out, e.sourcePath, sizes[i], buffer, outPath, error))
                return 0;
        } else if (!writeAll(out, e.data.data(), e.data.size())) {
            setError(error, "cannot write " + outPath + " (disk full?)");
            return 0;
        }
    }
    return 1;
}

} // namespace

int writeUpdater(const std::string& outPath, const std::vector<PackEntry>& entries,
                 const PackOptions& options, std::string* error)
{
    FileHandle out;
    if (!out.openWrite(outPath.c_str())) {
        setError(error, "cannot create " + outPath);
        return 0;
    }
    if (!writeArchive(out, outPath, entries, options, error)) {
        // No half-written updater is left behind.
        out.close();
        os::calls().deleteFile(outPath.c_str());
        return 0;
    }
    out.close();
    return 1;
}

std::vector<uint8_t> buildHashValueList(const std::vector<HashValueRecord>& records, uint32_t reserved)
{
    std::vector<uint8_t> bytes(kHashListHeaderSize + records.size() * kHashRecordSize);
    std::memcpy(bytes.data(), kHashListMagic, sizeof kHashListMagic);
    putLe32(bytes.data() + 8, reserved);
    putLe32(bytes.data() + 12, static_cast<uint32_t>(records.size()));
    for (size_t i = 0; i < records.size(); ++i)
        std::memcpy(bytes.data() + kHashListHeaderSize + i * kHashRecordSize, &records[i], kHashRecordSize);
    return bytes;
}

HashValueRecord makeHashRecord(const std::string& name, const void* data, size_t length)
{
    HashValueRecord record;
    std::memset(&record, 0, sizeof record);
    size_t n = name.size() < kHashRecordNameSize ? name.size() : kHashRecordNameSize;
    std::memcpy(record.name, name.data(), n);
    FileChecksum sum;
    sum.update(data, length);
    sum.store(record.checksum);
    return record;
}

int readWholeFile(const std::string& path, std::vector<uint8_t>* out)
{
    FileHandle in;
    if (!in.openRead(path.c_str()))
        return 0;
    uint32_t size = in.size();
    if (size == os::kInvalidFileSize)
        return 0;
    out->assign(size, 0);
    uint32_t at = 0;
    while (at < size) {
        uint32_t want = size - at > kChunkSize ? kChunkSize : size - at;
        uint32_t got = in.read(out->data() + at, want);
        if (got == 0)
            return 0;
        at += got;
    }
    return 1;
}
