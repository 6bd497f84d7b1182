// The update run. Two phases: every payload file is first copied beside its
// target as "<name>.tmp" and verified; only when all of them are staged, with
// no failure, cancel or close, are the staged files moved over the installed
// ones. Temporary files of every entry the run reached are deleted at the end,
// whatever happened.
#include "update/update_run.h"

#include <cstdio>
#include <cstring>

#include "payload/entry_name.h"
#include "payload/file_handle.h"
#include "payload/hash_value_list.h"
#include "payload/payload_archive.h"
#include "platform/os.h"
#include "ui/run_control.h"
#include "update/install_bookkeeping.h"
#include "update/own_file.h"

namespace {

const uint32_t kFileBarRange = 0xFFFF;
// "をインストール中" ("installing ..."), code page 932.
const char kInstallingSuffix[] = "\x82\xF0\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5B\x83\x8B\x92\x86";

struct Controls {
    os::WindowRef statusText;
    os::WindowRef fileBar;
    os::WindowRef totalBar;
};

// A control that is not there (no dialog) is skipped.
void showText(os::WindowRef control, const char* text)
{
    if (control != nullptr)
        os::calls().setWindowText(control, text);
}

void setBarRange(os::WindowRef bar, uint32_t high)
{
    if (bar != nullptr)
        os::calls().setProgressRange(bar, high);
}

void setBarPos(os::WindowRef bar, uint32_t position)
{
    if (bar != nullptr)
        os::calls().setProgressPos(bar, position);
}

// Each format fills a kMaxPath buffer and reports 0 when the result would not
// fit: a truncated path could name a different file.
int fits(int written) { return written >= 0 && static_cast<uint32_t>(written) < kMaxPath; }

int formatTempPath(char* out, const char* folder, const char* name)
{
    return fits(std::snprintf(out, kMaxPath, "%s\\%s.tmp", folder, name));
}

int formatInstalledPath(char* out, const char* folder, const char* name)
{
    return fits(std::snprintf(out, kMaxPath, "%s\\%s", folder, name));
}

int formatStatusText(char* out, const char* name)
{
    return fits(std::snprintf(out, kMaxPath, "%s%s", name, kInstallingSuffix));
}

// The name payload entry i is staged and installed under: the name of the
// record that matches it in the payload's list, else its own. *expected is
// that record's checksum, or null when the file goes unverified.
const char* stagedNameOf(const PayloadArchive& archive, const HashValueList& list, uint32_t i,
                         const uint8_t** expected)
{
    ArchiveEntry entry = archive.entry(i);
    *expected = nullptr;
    if (list.count() == 0)
        return entry.name;
    char lowered[kMaxPath];
    size_t length = std::strlen(entry.name);
    if (length >= kMaxPath)
        return entry.name;      // cannot match: record names are shorter
    std::memcpy(lowered, entry.name, length + 1);
    lowerName(lowered);
    const HashValueRecord* record = list.findRecord(lowered);
    if (record == nullptr)
        return entry.name;
    *expected = record->checksum;
    return record->name;
}

// Refuses, before anything is written, a payload that names a file the
// rule of installNameProblem refuses (outside the install folder, a device,
// a name Windows would change), or names that get in each other's way: two
// entries installed under one name, one installed under another's
// temporary name (the clean-up would then delete the freshly installed
// file) or inside it as a folder ("a" with "a\b": the commit of "a" would
// act on the folder), or one installed under the name of a bookkeeping side
// file. Entry names are checked as well as the names they are staged under.
int payloadNamesAreSound(const PayloadArchive& archive, const HashValueList& list)
{
    const char* names[kMaxEntries];
    uint32_t count = archive.count();
    if (count > kMaxEntries)
        return 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* expected;
        names[i] = stagedNameOf(archive, list, i, &expected);
        if (installNameProblem(archive.entry(i).name, nullptr) != NAME_OK ||
            installNameProblem(names[i], nullptr) != NAME_OK)
            return 0;
        // The bookkeeping would write over such a file right after installing it.
        if (installNameClash(names[i], kHashListSideName) != NAMES_APART ||
            installNameClash(names[i], kUninstallSideName) != NAMES_APART)
            return 0;
    }
    for (uint32_t i = 0; i < count; ++i)
        for (uint32_t j = 0; j < count; ++j)
            if (j != i && installNameClash(names[i], names[j]) != NAMES_APART)
                return 0;
    return 1;
}

int pumpAndNoteQuit()
{
    if (pumpMessages() == 1) {
        closeRequested = 1;
        return 1;
    }
    return 0;
}

struct Run {
    const char* installFolder;
    FileHandle* exe;
    const PayloadArchive* archive;
    const HashValueList* list;
    StagedFileList staged;
    unsigned char* buffer;      // kCopyChunkSize bytes
    Controls controls;
    UpdateResult result;
};

int stopRequested() { return cancelRequested != 0 || closeRequested != 0; }

// Copies entry data from the executable into temp in chunks, feeding sum.
// 1 when the whole entry was copied; 0 on a short read (result unchanged), a
// short write (UPDATE_E_FILE_IO), or a flag seen.
int copyEntry(Run& run, uint32_t size, FileHandle& temp, FileChecksum& sum)
{
    uint32_t copied = 0;
    uint32_t chunk = kCopyChunkSize;
    while (copied < size && !stopRequested()) {
        if (chunk > size - copied)
            chunk = size - copied;
        if (run.exe->read(run.buffer, chunk) != chunk)
            return 0;
        sum.update(run.buffer, chunk);
        if (temp.write(run.buffer, chunk) != chunk) {
            run.result = UPDATE_E_FILE_IO;
            return 0;
        }
        copied += chunk;
        setBarPos(run.controls.fileBar, static_cast<uint32_t>(static_cast<uint64_t>(copied) * kFileBarRange / size));
        if (pumpAndNoteQuit())
            return 0;
    }
    return copied == size ? 1 : 0;
}

// Stages every entry in table order. 1 when all of them were staged and
// verified; 0 when staging stopped (run.result says why, where it changes).
int stageAll(Run& run)
{
    uint32_t count = run.archive->count();
    for (uint32_t i = 0; i < count; ++i) {
        if (stopRequested())
            return 0;
        if (!run.archive->seekToEntry(*run.exe, i))
            return 0;
        const uint8_t* expected = nullptr;
        const char* name = stagedNameOf(*run.archive, *run.list, i, &expected);
        // From here on the entry counts as reached: its temporary file,
        // left over or our own, goes in the clean-up.
        run.staged[i] = name;

        char text[kMaxPath];
        if (!formatStatusText(text, name)) {
            run.result = UPDATE_E_FILE_IO;
            return 0;
        }
        showText(run.controls.statusText, text);
        setBarPos(run.controls.fileBar, 0);
        if (pumpAndNoteQuit())
            return 0;

        char tempPath[kMaxPath];
        if (!formatTempPath(tempPath, run.installFolder, name)) {
            run.result = UPDATE_E_FILE_IO;
            return 0;
        }
        // A leftover of an earlier run goes first, whatever its attributes;
        // a name that is not a plain file of its own stops the run untouched.
        FileHandle temp;
        if (!createOwnFile(temp, run.installFolder, tempPath)) {
            run.result = UPDATE_E_FILE_IO;
            return 0;
        }
        FileChecksum sum;
        int copied = copyEntry(run, run.archive->entry(i).size, temp, sum);
        temp.close();
        if (stopRequested() || !copied)
            return 0;
        if (expected != nullptr && !sum.equals(expected))
            return 0;   // result stays UPDATE_E_PAYLOAD

        setBarPos(run.controls.totalBar, i + 1);
        if (pumpAndNoteQuit())
            return 0;
    }
    return 1;
}

// Moves every staged file over its installed one, then the bookkeeping. A
// failed move ends the commit at once; there is no rollback. An installed
// name that is a link (whose attributes cannot be reset without reaching
// the file behind it) refuses the commit before the first move, so the
// folder stays untouched.
UpdateResult commit(const Run& run)
{
    uint32_t count = run.archive->count();
    for (int moving = 0; moving <= 1; ++moving) {
        for (uint32_t j = 0; j < count; ++j) {
            const char* name = run.staged[j];
            if (name == nullptr)
                continue;
            char tempPath[kMaxPath], installedPath[kMaxPath];
            if (!formatTempPath(tempPath, run.installFolder, name) ||
                !formatInstalledPath(installedPath, run.installFolder, name))
                return UPDATE_E_FILE_IO;
            // A read-only, hidden or system installed file would refuse the move.
            if (!isFreeOrOwn(run.installFolder, installedPath, moving))
                return UPDATE_E_FILE_IO;
            if (moving && !moveOwnFile(run.installFolder, tempPath, installedPath))
                return UPDATE_E_FILE_IO;
        }
    }
    pruneHashValueList(run.installFolder);
    return updateUninstallList(run.installFolder, run.staged) ? UPDATE_OK : UPDATE_E_UNINSTALL_LIST;
}

void deleteTemporaryFiles(const Run& run)
{
    uint32_t count = run.archive->count();
    for (uint32_t j = 0; j < count; ++j) {
        char tempPath[kMaxPath];
        if (run.staged[j] != nullptr && formatTempPath(tempPath, run.installFolder, run.staged[j]))
            deleteOwnFile(run.installFolder, tempPath);
    }
}

// Everything after the table was loaded; returns the run's result before
// the flags are applied.
UpdateResult applyPayload(const char* installFolder, FileHandle& exe, const PayloadArchive& archive,
                          const Controls& controls)
{
    uint32_t count = archive.count();
    size_t stagedBytes = (static_cast<size_t>(count) + 1) * sizeof(const char*);
    StagedFileList staged = static_cast<StagedFileList>(os::calls().allocate(stagedBytes));
    if (staged == nullptr)
        return UPDATE_E_PAYLOAD;    // nothing staged, nothing to clean up
    for (uint32_t i = 0; i <= count; ++i)
        staged[i] = nullptr;

    Run run = {installFolder, &exe, &archive, nullptr, staged, nullptr, controls, UPDATE_E_PAYLOAD};
    HashValueList list;
    list.loadFromPayload(archive, exe);
    run.list = &list;

    if (payloadNamesAreSound(archive, list)) {
        setBarRange(controls.fileBar, kFileBarRange);
        setBarPos(controls.fileBar, 0);
        setBarRange(controls.totalBar, count);
        setBarPos(controls.totalBar, 0);
        pumpAndNoteQuit();

        int stagedEverything = 0;
        run.buffer = static_cast<unsigned char*>(os::calls().allocate(kCopyChunkSize));
        if (run.buffer != nullptr) {
            stagedEverything = stageAll(run);
            os::calls().release(run.buffer);
            run.buffer = nullptr;
        }
        // Without a copy buffer nothing is staged and the result stays
        // UPDATE_E_PAYLOAD, even for an empty payload.
        if (stagedEverything && !stopRequested())
            run.result = commit(run);
        deleteTemporaryFiles(run);
    }
    list.release();
    os::calls().release(staged);
    return run.result;
}

} // namespace

UpdateResult runUpdate(const char* installFolder)
{
    Controls controls;
    controls.statusText = os::calls().getDlgItem(dialogHandle, IDC_STATUS_TEXT);
    controls.fileBar = os::calls().getDlgItem(dialogHandle, IDC_FILE_PROGRESS);
    controls.totalBar = os::calls().getDlgItem(dialogHandle, IDC_TOTAL_PROGRESS);

    UpdateResult result = UPDATE_E_PAYLOAD;
    char selfPath[kMaxPath];
    locateSelf(selfPath);
    FileHandle exe;
    // Not consulted: an executable that cannot be opened fails the load.
    exe.openRead(selfPath);
    {
        PayloadArchive archive;
        UpdateResult loaded = archive.load(exe);
        if (loaded != UPDATE_OK)
            result = loaded;
        else
            result = applyPayload(installFolder, exe, archive, controls);
        archive.release();
    }
    exe.close();

    // A confirmed cancel outranks a close, and both outrank whatever else
    // happened, a failure that came first included.
    if (cancelRequested != 0)
        return UPDATE_E_CANCELLED;
    if (closeRequested != 0)
        return UPDATE_E_CLOSED;
    return result;
}
