#include "patchtool/updater_report.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "patchtool/pe_image.h"
#include "patchtool/progress.h"
#include "patchtool/text_codec.h"
#include "patchtool/tool_platform.h"
#include "payload/entry_name.h"
#include "payload/hash_value_list.h"
#include "update/update_run.h"

namespace tool {

const char* entryStateName(EntryState state)
{
    switch (state) {
    case ENTRY_NOT_READ: return "not read";
    case ENTRY_VERIFIED: return "verified";
    case ENTRY_UNVERIFIED: return "unverified";
    case ENTRY_MISMATCH: return "mismatch";
    case ENTRY_SHORT: return "short";
    case ENTRY_UNREACHABLE: return "unreachable";
    }
    return "unknown";
}

int readUpdaterReport(const std::string& path, bool readData, UpdaterReport* report)
{
    *report = UpdaterReport();
    std::string native;
    FileHandle exe;
    if (!corePath(path, &native) || !exe.openRead(native.c_str()))
        return 0;
    report->fileSize = exe.size();
    PayloadArchive archive;
    report->loadResult = archive.load(exe);
    if (report->loadResult != UPDATE_OK)
        return 1;
    report->layout = archive.layout();
    report->count = archive.count();
    report->dataStart = archive.dataStart();
    std::vector<uint8_t> head(4096);
    if (exe.seek(0))
        head.resize(exe.read(head.data(), static_cast<uint32_t>(head.size())));
    CertificateTable certificates = certificateTable(head);
    report->isProgram = certificates.isProgram;
    report->certificateOffset = certificates.offset;
    report->certificateSize = certificates.size;
    char magic[12] = {};
    if (exe.seek(kPayloadOffset) && exe.read(magic, sizeof magic) == sizeof magic)
        report->magic.assign(magic, sizeof magic);

    for (uint32_t i = 0; i < archive.count(); ++i)
        if (sameName(archive.entry(i).name, kHashListName))
            report->listEntry = true;
    HashValueList list;
    report->listLoaded = list.loadFromPayload(archive, exe) != 0;
    report->listRecords = list.count();

    uint64_t total = 0;
    for (uint32_t i = 0; i < archive.count(); ++i)
        total += archive.entry(i).size;
    Progress progress(readData ? "reading" : "", readData ? total : 0);
    std::vector<uint8_t> buffer(readData ? kCopyChunkSize : 0);
    for (uint32_t i = 0; i < archive.count(); ++i) {
        ArchiveEntry e = archive.entry(i);
        EntryReport r;
        r.name = e.name;
        r.offset = e.offset;
        r.size = e.size;
        r.installedName = r.name;
        // The lookup as the run makes it: a lowered copy, and only with a
        // list that holds records.
        char lowered[kMaxPath] = {};
        if (std::strlen(e.name) < kMaxPath) {
            std::strcpy(lowered, e.name);
            lowerName(lowered);
        }
        const HashValueRecord* record = list.count() ? list.findRecord(lowered) : nullptr;
        if (record) {
            r.hasRecord = true;
            r.installedName = std::string(record->name, strnlen(record->name, kHashRecordNameSize));
            std::memcpy(r.expected, record->checksum, 8);
        }
        if (readData) {
            progress.setItem(showName(r.name));
            if (!archive.seekToEntry(exe, i)) {
                r.state = ENTRY_UNREACHABLE;
            } else {
                FileChecksum sum;
                uint32_t left = e.size;
                while (left > 0) {
                    uint32_t chunk = left < buffer.size() ? left : static_cast<uint32_t>(buffer.size());
                    uint32_t got = exe.read(buffer.data(), chunk);
                    sum.update(buffer.data(), got);
                    r.bytesRead += got;
                    left -= got;
                    progress.advance(got);
                    if (got != chunk)
                        break;
                }
                sum.store(r.actual);
                if (r.bytesRead != e.size)
                    r.state = ENTRY_SHORT;
                else if (!r.hasRecord)
                    r.state = ENTRY_UNVERIFIED;
                else
                    r.state = sum.equals(r.expected) ? ENTRY_VERIFIED : ENTRY_MISMATCH;
            }
        }
        uint64_t end = static_cast<uint64_t>(report->dataStart) + r.offset + r.size;
        if (end > report->payloadEnd)
            report->payloadEnd = end;
        report->entries.push_back(r);
    }
    if (report->payloadEnd < report->dataStart)
        report->payloadEnd = report->dataStart;
    return 1;
}

std::string signatureLine(const UpdaterReport& r)
{
    std::string line;
    char text[200];
    if (r.certificateSize) {
        bool covers = r.certificateOffset >= r.payloadEnd;
        std::snprintf(text, sizeof text, "signature: a certificate table of %u bytes at 0x%x, %s", r.certificateSize,
                      r.certificateOffset,
                      covers ? "after the payload (signed after packing: the signature covers it)"
                             : "not after the payload: made before the payload was added, it no longer holds");
        line = text;
    } else if (r.fileSize > r.payloadEnd) {
        std::snprintf(text, sizeof text, "after the payload: %llu bytes the updater does not read",
                      static_cast<unsigned long long>(r.fileSize - r.payloadEnd));
        line = text;
    }
    return line;
}

} // namespace tool
