// The update run end to end on real folders: updater files built by the
// writer, the module path pointed at them, faults injected through the seam,
// and every dialog call and pump drain recorded in order.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "payload/entry_name.h"
#include "tests/support/update_fixture.h"

using namespace updatetest;
using testsupport::Bytes;
using testsupport::bytesOf;
using testsupport::Faults;

namespace {

const size_t kMiB = 0x100000;

std::string withNul(const std::string& text) { return text + std::string(1, '\0'); }

// Offsets in a long-layout updater file.
size_t entryAt(uint32_t i) { return kPayloadOffset + kArchiveHeaderSize + i * kLongEntrySize; }
size_t entryOffsetField(uint32_t i) { return entryAt(i) + kLongNameSize; }
size_t entrySizeField(uint32_t i) { return entryAt(i) + kLongNameSize + 4; }

// Reads asking for exactly `size` bytes get half of them, as from a file
// that ends early.
struct ShortReadOfSize {
    static uint32_t& size()
    {
        static uint32_t s = 0;
        return s;
    }
    static os::Calls& inner()
    {
        static os::Calls c;
        return c;
    }
    static int read(os::FileRef f, void* buffer, uint32_t count, uint32_t* done)
    {
        if (count == size())
            count /= 2;
        return inner().readFile(f, buffer, count, done);
    }
    static void arm(uint32_t bytes)
    {
        size() = bytes;
        inner() = os::calls();
        os::calls().readFile = read;
    }
};

// Allocations of exactly `size` bytes fail.
struct FailAllocOfSize {
    static size_t& size()
    {
        static size_t s = 0;
        return s;
    }
    static os::Calls& inner()
    {
        static os::Calls c;
        return c;
    }
    static void* allocate(size_t bytes) { return bytes == size() ? nullptr : inner().allocate(bytes); }
    static void arm(size_t bytes)
    {
        size() = bytes;
        inner() = os::calls();
        os::calls().allocate = allocate;
    }
};

class UpdateRunTest : public UpdateTest {
public:
    const Bytes newData = pattern(3000, 1);
    const Bytes newSystem = pattern(70000, 2);
    const Bytes oldData = pattern(2000, 3);
    const Bytes oldSystem = pattern(5000, 4);
    const Bytes gameExe = pattern(100, 5);
    const Bytes checker = pattern(50, 6);
    const std::string uninstText = withNul("KVX.hvl\ndata01000.arc\ntsukumera.exe\n");
    Bytes payloadList;
    Bytes oldList;

    // The payload of a typical patch: its hash value list first (records for
    // a whole installation, more than the payload carries), then two files.
    void standardPayload(const Bytes& systemAsListed)
    {
        payloadList = buildHashValueList({record("data01000.arc", newData), record("system.arc", systemAsListed),
                                          record("tsukumera.exe", gameExe), record("checker.exe", checker)},
                                         0x11223344);
        buildUpdater({entry("KVX.hvl", payloadList), entry("data01000.arc", newData), entry("system.arc", newSystem)});
    }
    void standardPayload() { standardPayload(newSystem); }

    // An installation with the old files; system.arc is read-only, so an
    // attribute change shows.
    void standardInstall()
    {
        oldList = buildHashValueList({record("data01000.arc", oldData), record("system.arc", oldSystem)});
        install("KVX.hvl", oldList);
        install("data01000.arc", oldData);
        install("system.arc", oldSystem);
        install("tsukumera.exe", gameExe);
        install("uninst.lst", uninstText);
        setAttributes("system.arc", os::kAttributeReadOnly);
    }

    // Nothing installed was written, moved or had its attributes changed,
    // and no temporary file is left (the folder check at the end of the
    // test catches any other file).
    void expectUntouched(const FolderState& before)
    {
        EXPECT_EQ(before, folderState());
        for (const std::string& e : events()) {
            bool onTemp = e.size() > 4 && e.compare(e.size() - 4, 4, ".tmp") == 0;
            if (e.compare(0, 5, "move ") == 0 ||
                ((e.compare(0, 7, "create ") == 0 || e.compare(0, 6, "attrs ") == 0) && !onTemp &&
                 e.find(".tmp ") == std::string::npos))
                ADD_FAILURE() << "an installed file was touched: " << e;
        }
    }
};

// ---- a complete run --------------------------------------------------------------

TEST_F(UpdateRunTest, CommitsEveryFileThenTrimsTheListAndAppendsToTheUninstallList)
{
    standardPayload();
    standardInstall();

    EXPECT_EQ(UPDATE_OK, run());

    EXPECT_EQ(newData, installed("data01000.arc"));
    EXPECT_EQ(newSystem, installed("system.arc"));
    EXPECT_EQ(kNormal, attributesOf("system.arc")) << "the read-only file was replaced";
    EXPECT_EQ(gameExe, installed("tsukumera.exe"));
    // The payload's list, trimmed to the files that are present: checker.exe
    // is gone, the order and the header's reserved field stay.
    EXPECT_EQ(buildHashValueList({record("data01000.arc", newData), record("system.arc", newSystem),
                                  record("tsukumera.exe", gameExe)},
                                 0x11223344),
              installed("KVX.hvl"));
    EXPECT_EQ(withNul("KVX.hvl\ndata01000.arc\ntsukumera.exe\nsystem.arc\n"), readText("game/uninst.lst"));
    expectFinalFiles({"setup.exe", "game/KVX.hvl", "game/data01000.arc", "game/system.arc", "game/tsukumera.exe",
                      "game/uninst.lst"});
}

TEST_F(UpdateRunTest, DialogCallsPumpsAndFileCallsComeInTheirOrder)
{
    buildUpdater({entry("a.bin", pattern(10, 7)), entry("b.bin", Bytes())});
    install("uninst.lst", withNul(""));
    withDialog();

    EXPECT_EQ(UPDATE_OK, run());

    const std::vector<std::string> expected = {
        "item 1001", "item 1002", "item 1003",
        "range 1002 65535", "pos 1002 0", "range 1003 2", "pos 1003 0", "pump",
        statusLine("a.bin"), "pos 1002 0", "pump",
        "create a.bin.tmp", "pos 1002 65535", "pump",
        "pos 1003 1", "pump",
        statusLine("b.bin"), "pos 1002 0", "pump",
        "create b.bin.tmp",     // empty: no chunk, the bar stays at 0
        "pos 1003 2", "pump",
        // The commit neither pumps nor touches the dialog.
        // Neither file is installed yet: nothing to reset before its move.
        "move a.bin.tmp -> a.bin", "move b.bin.tmp -> b.bin",
        "create uninst.new", "move uninst.new -> uninst.lst",
        // Both temporary names are gone already: the clean-up has nothing to delete.
    };
    EXPECT_EQ(expected, only({"item", "range", "pos", "text", "pump", "attrs", "create", "move", "delete"}));
    EXPECT_EQ(withNul("a.bin\nb.bin\n"), readText("game/uninst.lst"));
    expectFile("game/a.bin");
    expectFile("game/b.bin");
}

TEST_F(UpdateRunTest, StatusTextIsTheStagedNameFollowedByInstallingInCodePage932)
{
    // "ツクメラ.exe" as the record's name, substituted for the entry's.
    const std::string name = "\x83\x63\x83\x4E\x83\x81\x83\x89.exe";
    Bytes data = pattern(20, 8);
    buildUpdater({entry("KVX.hvl", buildHashValueList({record(name, data)})), entry(name, data)});
    install("uninst.lst", withNul(""));
    withDialog();

    EXPECT_EQ(UPDATE_OK, run());

    std::vector<std::string> texts = only({"text"});
    ASSERT_EQ(2u, texts.size());
    EXPECT_EQ("text 1001 " + name + "\x82\xF0\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5B\x83\x8B\x92\x86", texts[1]);
    expectFile("game/KVX.hvl");
    expectFile("game/" + name);
}

TEST_F(UpdateRunTest, WithoutADialogNoControlIsWrittenAndTheRunStillCompletes)
{
    standardPayload();
    standardInstall();

    EXPECT_EQ(UPDATE_OK, run());

    EXPECT_EQ(std::vector<std::string>({"item 1001", "item 1002", "item 1003"}), only({"item", "text", "range", "pos"}));
}

TEST_F(UpdateRunTest, AMissingControlIsSkippedAndTheOthersAreStillWritten)
{
    buildUpdater({entry("a.bin", pattern(10, 7))});
    install("uninst.lst", withNul(""));
    withDialog();
    withoutControl(IDC_FILE_PROGRESS);

    EXPECT_EQ(UPDATE_OK, run());

    EXPECT_EQ(std::vector<std::string>({"range 1003 1", "pos 1003 0", statusLine("a.bin"), "pos 1003 1"}),
              only({"text", "range", "pos"}));
    expectFile("game/a.bin");
}

TEST_F(UpdateRunTest, ARecordNameReplacesTheEntryNameWithItsCaseAndDirectory)
{
    Bytes data = pattern(500, 9);
    buildUpdater({entry("KVX.hvl", buildHashValueList({record("sub\\Data01000.ARC", data)})),
                  entry("data01000.arc", data)});
    install("sub/Data01000.ARC", pattern(10, 10));
    install("uninst.lst", withNul(""));
    withDialog();

    EXPECT_EQ(UPDATE_OK, run());

    EXPECT_EQ(data, installed("sub/Data01000.ARC"));
    EXPECT_FALSE(isInstalled("data01000.arc"));
    EXPECT_EQ(withNul("KVX.hvl\nsub\\Data01000.ARC\n"), readText("game/uninst.lst"));
    EXPECT_EQ(statusLine("sub\\Data01000.ARC"), only({"text"}).at(1));
    expectFile("game/KVX.hvl");
}

TEST_F(UpdateRunTest, WithoutAUsableListEveryFileIsInstalledUnverified)
{
    // The list's magic is off by its last byte; its record for a.bin would
    // not match the data.
    Bytes list = buildHashValueList({record("a.bin", pattern(10, 11))});
    list[7] = '-';
    buildUpdater({entry("KVX.hvl", list), entry("a.bin", pattern(10, 12))});
    install("uninst.lst", withNul(""));

    EXPECT_EQ(UPDATE_OK, run());

    EXPECT_EQ(pattern(10, 12), installed("a.bin"));
    EXPECT_EQ(list, installed("KVX.hvl"));
    expectFile("game/a.bin");
    expectFile("game/KVX.hvl");
}

TEST_F(UpdateRunTest, AnEmptyEntryIsVerifiedAgainstTheChecksumOfNoBytes)
{
    buildUpdater({entry("KVX.hvl", buildHashValueList({record("empty.bin", Bytes())})), entry("empty.bin", Bytes())});
    install("uninst.lst", withNul(""));

    EXPECT_EQ(UPDATE_OK, run());
    EXPECT_EQ(Bytes(), installed("empty.bin"));
    EXPECT_TRUE(isInstalled("empty.bin"));
    expectFile("game/empty.bin");
    expectFile("game/KVX.hvl");
}

TEST_F(UpdateRunTest, AnEmptyEntryListedWithTheChecksumOfSomeBytesFails)
{
    buildUpdater({entry("KVX.hvl", buildHashValueList({record("empty.bin", bytesOf("x"))})), entry("empty.bin", Bytes())});
    install("uninst.lst", withNul(""));
    FolderState before = folderState();

    EXPECT_EQ(UPDATE_E_PAYLOAD, run());
    expectUntouched(before);
}

// ---- chunks, bars and the one copy buffer -------------------------------------------

struct ChunkCase {
    const char* label;
    size_t size;
    std::vector<std::string> writes;    // WriteFile calls on the temporary file
    std::vector<std::string> bar;       // per-file bar positions after the initial 0s
};

class ChunkTest : public UpdateRunTest, public ::testing::WithParamInterface<ChunkCase> {};

TEST_P(ChunkTest, FilesAreCopiedInChunksOfAtMostOneMebibyteAndTheBarEndsAt65535)
{
    const ChunkCase& c = GetParam();
    Bytes data = pattern(c.size, 13);
    buildUpdater({entry("KVX.hvl", buildHashValueList({record("big.bin", data)})), entry("big.bin", data)});
    install("uninst.lst", withNul(""));
    withDialog();

    EXPECT_EQ(UPDATE_OK, run());
    EXPECT_EQ(data, installed("big.bin"));

    // Between the creation of big.bin.tmp and the overall bar's step: one
    // write, one bar position and one pump per chunk.
    std::vector<std::string> all = only({"create", "write", "pos 1002", "pos 1003", "pump"});
    auto begin = std::find(all.begin(), all.end(), "create big.bin.tmp");
    auto end = std::find(begin, all.end(), "pos 1003 2");
    ASSERT_NE(all.end(), end);
    std::vector<std::string> expected;
    for (size_t i = 0; i < c.writes.size(); ++i) {
        expected.push_back(c.writes[i]);
        expected.push_back(c.bar[i]);
        expected.push_back("pump");
    }
    EXPECT_EQ(expected, std::vector<std::string>(begin + 1, end));
    expectFile("game/big.bin");
    expectFile("game/KVX.hvl");
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ChunkTest,
    ::testing::Values(
        ChunkCase{"OneByte", 1, {"write 1"}, {"pos 1002 65535"}},
        ChunkCase{"ExactlyOneMebibyte", kMiB, {"write 1048576"}, {"pos 1002 65535"}},
        ChunkCase{"OneMebibyteAndOneByte", kMiB + 1, {"write 1048576", "write 1"}, {"pos 1002 65534", "pos 1002 65535"}},
        ChunkCase{"TwoAndAHalfMebibytes", kMiB * 5 / 2, {"write 1048576", "write 1048576", "write 524288"},
                  {"pos 1002 26214", "pos 1002 52428", "pos 1002 65535"}}),
    [](const ::testing::TestParamInfo<ChunkCase>& info) { return std::string(info.param.label); });

TEST_F(UpdateRunTest, OneCopyBufferServesEveryFile)
{
    buildUpdater({entry("a.bin", pattern(kMiB + 10, 14)), entry("b.bin", pattern(kMiB * 2, 15))});
    install("uninst.lst", withNul(""));

    EXPECT_EQ(UPDATE_OK, run());

    // One allocation of the chunk size before the first file; the next one
    // is the uninstall list's buffer, after the moves.
    EXPECT_EQ(std::vector<std::string>({"alloc 1048576", "create a.bin.tmp", "create b.bin.tmp",
                                        "move a.bin.tmp -> a.bin", "move b.bin.tmp -> b.bin", "alloc 1048576",
                                        "create uninst.new", "move uninst.new -> uninst.lst"}),
              only({"alloc 1048576", "create", "move"}));
    expectFile("game/a.bin");
    expectFile("game/b.bin");
}

TEST_F(UpdateRunTest, AnEmptyPayloadTrimsTheListAndRewritesTheUninstallListUnchanged)
{
    buildUpdater({});
    install("KVX.hvl", buildHashValueList({record("gone.bin", bytesOf("x")), record("uninst.lst", bytesOf("y"))}));
    install("uninst.lst", uninstText);
    withDialog();

    EXPECT_EQ(UPDATE_OK, run());

    EXPECT_EQ(buildHashValueList({record("uninst.lst", bytesOf("y"))}), installed("KVX.hvl"));
    EXPECT_EQ(uninstText, readText("game/uninst.lst"));
    EXPECT_EQ(std::vector<std::string>({"range 1002 65535", "pos 1002 0", "range 1003 0", "pos 1003 0", "pump"}),
              only({"range", "pos", "pump", "text"}));
}

TEST_F(UpdateRunTest, AnEmptyPayloadWithoutAnUninstallListReportsIt)
{
    buildUpdater({});
    EXPECT_EQ(UPDATE_E_UNINSTALL_LIST, run());
    EXPECT_TRUE(folderState().empty()) << "the uninstall list is never created";
}

// ---- the failure table: every stop before the commit leaves the folder untouched ----

struct StopCase {
    const char* label;
    std::function<void(UpdateRunTest&, Faults&)> arrange;
    UpdateResult expected;
};

class StopTest : public UpdateRunTest, public ::testing::WithParamInterface<StopCase> {};

// Drains in the standard payload (three entries): 1 after the bars are set
// up; for entry i (from 0) 2 + 3i before it, 3 + 3i after its one chunk, 4 + 3i
// after it is staged.
const int kBeforeEntry2 = 8, kAfterChunkOfEntry1 = 6, kAfterLastEntry = 10;

TEST_P(StopTest, ReturnsItsResultAndLeavesTheFolderUntouched)
{
    const StopCase& c = GetParam();
    standardPayload();
    standardInstall();
    install("data01000.arc.tmp", bytesOf("leftover of an earlier run"));
    Faults faults;
    c.arrange(*this, faults);
    FolderState before = folderState();
    // A leftover temporary file is ours to delete once its entry is reached.
    bool leftoverDeleted = false;

    UpdateResult result = run();

    EXPECT_EQ(c.expected, result) << updateResultName(result);
    for (const std::string& e : events())
        if (e == "delete data01000.arc.tmp")
            leftoverDeleted = true;
    if (leftoverDeleted) {
        EXPECT_FALSE(isInstalled("data01000.arc.tmp"));
        before.erase("data01000.arc.tmp");
    }
    expectUntouched(before);
    if (!leftoverDeleted)
        expectFile("game/data01000.arc.tmp");
}

INSTANTIATE_TEST_SUITE_P(
    FailureTable, StopTest,
    ::testing::Values(
        StopCase{"ExecutableShorterThanThePayloadOffset",
                 [](UpdateRunTest& t, Faults&) { t.truncateUpdater(0x3FFFF); }, UPDATE_E_PAYLOAD},
        StopCase{"ExecutableEndingAtThePayloadOffset",
                 [](UpdateRunTest& t, Faults&) { t.truncateUpdater(kPayloadOffset); }, UPDATE_E_PAYLOAD},
        StopCase{"HeaderCutShort", [](UpdateRunTest& t, Faults&) { t.truncateUpdater(kPayloadOffset + 10); },
                 UPDATE_E_PAYLOAD},
        StopCase{"TableCutShort", [](UpdateRunTest& t, Faults&) { t.truncateUpdater(entryAt(2) + 5); }, UPDATE_E_PAYLOAD},
        StopCase{"ExecutableThatCannotBeOpened", [](UpdateRunTest&, Faults& f) { f.failOpenRead(1, "setup.exe"); },
                 UPDATE_E_PAYLOAD},
        StopCase{"MoreThan32Entries", [](UpdateRunTest& t, Faults&) { t.patchUpdaterLe32(kPayloadOffset + 12, 33); },
                 UPDATE_E_TOO_MANY_ENTRIES},
        StopCase{"SeekToTheSecondEntryFails",
                 [](UpdateRunTest& t, Faults&) { t.patchUpdaterLe32(entryOffsetField(1), 0x7FFFFFF0u); }, UPDATE_E_PAYLOAD},
        StopCase{"TemporaryFileCannotBeCreated", [](UpdateRunTest&, Faults& f) { f.failCreate(1, "system.arc.tmp"); },
                 UPDATE_E_FILE_IO},
        // Both short reads hit files without a record, so no checksum would
        // notice the missing bytes.
        StopCase{"PayloadDataEndsEarly",
                 [](UpdateRunTest& t, Faults&) {
                     t.buildUpdater({entry("KVX.hvl", t.payloadList), entry("data01000.arc", t.newData),
                                     entry("system.arc", t.newSystem), entry("extra.bin", pattern(500, 40))});
                     t.patchUpdaterLe32(entrySizeField(3), 500 + 100);
                 },
                 UPDATE_E_PAYLOAD},
        StopCase{"ReadOfEntryDataComesUpShort",
                 [](UpdateRunTest& t, Faults&) { ShortReadOfSize::arm(static_cast<uint32_t>(t.payloadList.size())); },
                 UPDATE_E_PAYLOAD},
        StopCase{"WriteComesUpShortOnAFullDisk", [](UpdateRunTest&, Faults& f) { f.shortenWrite(3, testsupport::kHalf); },
                 UPDATE_E_FILE_IO},
        StopCase{"WriteFails", [](UpdateRunTest&, Faults& f) { f.failWrite(2); }, UPDATE_E_FILE_IO},
        StopCase{"ChecksumMismatchOfTheLastFile",
                 [](UpdateRunTest& t, Faults&) {
                     Bytes other = t.newSystem;
                     other[12345] ^= 1;
                     t.standardPayload(other);
                 },
                 UPDATE_E_PAYLOAD},
        StopCase{"CancelConfirmedDuringTheSecondFile",
                 [](UpdateRunTest& t, Faults&) { t.script(kAfterChunkOfEntry1, PUMP_CANCEL); }, UPDATE_E_CANCELLED},
        StopCase{"DialogClosedDuringTheSecondFile",
                 [](UpdateRunTest& t, Faults&) { t.script(kAfterChunkOfEntry1, PUMP_CLOSE); }, UPDATE_E_CLOSED},
        StopCase{"QuitDuringTheSecondFile", [](UpdateRunTest& t, Faults&) { t.script(kAfterChunkOfEntry1, PUMP_QUIT); },
                 UPDATE_E_CLOSED},
        StopCase{"QuitAtTheFirstPump", [](UpdateRunTest& t, Faults&) { t.script(1, PUMP_QUIT); }, UPDATE_E_CLOSED},
        StopCase{"OtherExceptionInAMessageHandler",
                 [](UpdateRunTest& t, Faults&) { t.script(3, PUMP_THROW_OTHER); }, UPDATE_E_CLOSED},
        StopCase{"CancelBeforeTheLastFile", [](UpdateRunTest& t, Faults&) { t.script(kBeforeEntry2, PUMP_CANCEL); },
                 UPDATE_E_CANCELLED},
        StopCase{"CancelAfterTheLastFileIsStaged",
                 [](UpdateRunTest& t, Faults&) { t.script(kAfterLastEntry, PUMP_CANCEL); }, UPDATE_E_CANCELLED},
        StopCase{"QuitAfterTheLastFileIsStaged", [](UpdateRunTest& t, Faults&) { t.script(kAfterLastEntry, PUMP_QUIT); },
                 UPDATE_E_CLOSED},
        StopCase{"StagedFileListCannotBeAllocated",
                 [](UpdateRunTest&, Faults&) { FailAllocOfSize::arm(4 * sizeof(const char*)); }, UPDATE_E_PAYLOAD},
        StopCase{"CopyBufferCannotBeAllocated", [](UpdateRunTest&, Faults&) { FailAllocOfSize::arm(kCopyChunkSize); },
                 UPDATE_E_PAYLOAD}),
    [](const ::testing::TestParamInfo<StopCase>& info) { return std::string(info.param.label); });

// ---- what each stop leaves behind, in detail -----------------------------------------

TEST_F(UpdateRunTest, WithoutMemoryForTheCopyBufferNoFileIsCreatedAndTheTableIsReleased)
{
    standardPayload();
    standardInstall();
    FailAllocOfSize::arm(kCopyChunkSize);

    EXPECT_EQ(UPDATE_E_PAYLOAD, run());

    EXPECT_TRUE(only({"create", "move", "delete"}).empty());
    // The bars were set up and the first pump ran before the buffer was asked for.
    EXPECT_EQ(1, drains());
}

TEST_F(UpdateRunTest, WithoutMemoryForTheStagedFileListNothingElseHappens)
{
    standardPayload();
    standardInstall();
    withDialog();
    FailAllocOfSize::arm(4 * sizeof(const char*));

    EXPECT_EQ(UPDATE_E_PAYLOAD, run());

    EXPECT_EQ(std::vector<std::string>({"item 1001", "item 1002", "item 1003"}),
              only({"item", "range", "pos", "text", "pump", "create", "move", "delete"}));
}

TEST_F(UpdateRunTest, CancelDuringTheSecondFileDeletesTheFirstAndSecondTemporaryFiles)
{
    standardPayload();
    standardInstall();
    script(kAfterChunkOfEntry1, PUMP_CANCEL);

    EXPECT_EQ(UPDATE_E_CANCELLED, run());

    EXPECT_EQ(std::vector<std::string>({"create KVX.hvl.tmp", "create data01000.arc.tmp", "delete KVX.hvl.tmp",
                                        "delete data01000.arc.tmp"}),
              only({"create", "delete", "move"}));
    EXPECT_EQ(kAfterChunkOfEntry1, drains()) << "the run stops at its next check";
}

TEST_F(UpdateRunTest, ACancelInsideThePumpBeforeAFileStillCreatesItEmptyThenDeletesIt)
{
    standardPayload();
    standardInstall();
    script(kBeforeEntry2, PUMP_CANCEL);

    EXPECT_EQ(UPDATE_E_CANCELLED, run());

    std::vector<std::string> tail = only({"create system.arc.tmp", "write", "delete system.arc.tmp", "pump"});
    EXPECT_EQ(std::vector<std::string>({"create system.arc.tmp", "delete system.arc.tmp"}),
              std::vector<std::string>(tail.end() - 2, tail.end()))
        << "created after the pump, nothing written, deleted in the clean-up";
}

TEST_F(UpdateRunTest, AQuitInsideThePumpBeforeAFileStopsBeforeItIsCreated)
{
    standardPayload();
    standardInstall();
    install("system.arc.tmp", bytesOf("leftover"));
    script(kBeforeEntry2, PUMP_QUIT);

    EXPECT_EQ(UPDATE_E_CLOSED, run());

    std::vector<std::string> calls = only({"create", "delete"});
    EXPECT_EQ(std::vector<std::string>({"create KVX.hvl.tmp", "create data01000.arc.tmp", "delete KVX.hvl.tmp",
                                        "delete data01000.arc.tmp", "delete system.arc.tmp"}),
              calls)
        << "the entry was reached, so its leftover goes although it was not recreated";
    EXPECT_FALSE(isInstalled("system.arc.tmp"));
}

TEST_F(UpdateRunTest, ALeftoverOfAnEntryThatIsNeverReachedStays)
{
    // data01000.arc, the second entry, fails its checksum.
    payloadList = buildHashValueList({record("data01000.arc", pattern(3000, 99)), record("system.arc", newSystem)});
    buildUpdater({entry("KVX.hvl", payloadList), entry("data01000.arc", newData), entry("system.arc", newSystem)});
    standardInstall();
    install("data01000.arc.tmp", bytesOf("left over"));
    install("system.arc.tmp", bytesOf("left over"));
    FolderState before = folderState();
    before.erase("data01000.arc.tmp");

    EXPECT_EQ(UPDATE_E_PAYLOAD, run());

    expectUntouched(before);
    EXPECT_EQ(bytesOf("left over"), installed("system.arc.tmp"));
    EXPECT_FALSE(isInstalled("data01000.arc.tmp"));
    expectFinalFiles({"setup.exe", "game/KVX.hvl", "game/data01000.arc", "game/system.arc", "game/tsukumera.exe",
                      "game/uninst.lst", "game/system.arc.tmp"});
}

TEST_F(UpdateRunTest, ATemporaryFileThatCannotBeCreatedStillHasItsLeftoverDeleted)
{
    // The entry's name is entered before its file is created.
    standardPayload();
    standardInstall();
    install("system.arc.tmp", bytesOf("left over, locked"));
    Faults faults;
    faults.failCreate(2, "system.arc.tmp");     // the first finds the leftover in the way

    EXPECT_EQ(UPDATE_E_FILE_IO, run());
    EXPECT_FALSE(isInstalled("system.arc.tmp"));
}

TEST_F(UpdateRunTest, LeftoverTemporaryFilesAreOverwrittenAndMovedIn)
{
    standardPayload();
    standardInstall();
    install("system.arc.tmp", pattern(90000, 16));
    setAttributes("system.arc.tmp", os::kAttributeReadOnly);

    EXPECT_EQ(UPDATE_OK, run());

    EXPECT_EQ(newSystem, installed("system.arc"));
    EXPECT_FALSE(isInstalled("system.arc.tmp"));
    // The exclusive create finds the leftover; it is checked, made writable,
    // deleted through its handle, and the create runs again.
    std::vector<std::string> calls = only({"attrs system.arc.tmp", "create system.arc.tmp", "delete system.arc.tmp"});
    EXPECT_EQ(std::vector<std::string>({"create system.arc.tmp", "attrs system.arc.tmp 128", "delete system.arc.tmp",
                                        "create system.arc.tmp"}),
              calls);
}

TEST_F(UpdateRunTest, AReadOnlyInstalledFileHasItsAttributesResetJustBeforeItsMove)
{
    standardPayload();
    standardInstall();

    EXPECT_EQ(UPDATE_OK, run());

    std::vector<std::string> commit = only({"attrs system.arc", "move system.arc"});
    EXPECT_EQ(std::vector<std::string>({"attrs system.arc 128", "move system.arc.tmp -> system.arc"}),
              commit);
    EXPECT_EQ(kNormal, attributesOf("system.arc"));
}

TEST_F(UpdateRunTest, AFailedMoveStopsTheCommitWithoutBookkeeping)
{
    Bytes a = pattern(100, 20), b = pattern(200, 21), c = pattern(300, 22);
    buildUpdater({entry("a.bin", a), entry("b.bin", b), entry("c.bin", c)});
    install("a.bin", bytesOf("old a"));
    install("b.bin", bytesOf("old b"));
    install("c.bin", bytesOf("old c"));
    install("KVX.hvl", buildHashValueList({record("a.bin", a), record("missing.bin", a)}));
    install("uninst.lst", withNul(""));
    setAttributes("b.bin", os::kAttributeReadOnly);
    setAttributes("c.bin", os::kAttributeReadOnly);
    FolderState before = folderState();
    Faults faults;
    faults.failMove(2);

    EXPECT_EQ(UPDATE_E_FILE_IO, run());

    EXPECT_EQ(a, installed("a.bin")) << "the file before the failing one is replaced";
    EXPECT_EQ(bytesOf("old b"), installed("b.bin")) << "the failing one keeps its content";
    EXPECT_EQ(kNormal, attributesOf("b.bin")) << "but its attributes were reset";
    EXPECT_EQ(before.at("c.bin"), folderState().at("c.bin")) << "the one after it is unchanged";
    EXPECT_EQ(before.at("KVX.hvl"), folderState().at("KVX.hvl")) << "no trimming";
    EXPECT_EQ(before.at("uninst.lst"), folderState().at("uninst.lst")) << "no uninstall list update";
    EXPECT_EQ(std::vector<std::string>({"move a.bin.tmp -> a.bin", "move b.bin.tmp -> b.bin", "delete b.bin.tmp",
                                        "delete c.bin.tmp"}),
              only({"move", "delete"}));
    expectFinalFiles({"setup.exe", "game/a.bin", "game/b.bin", "game/c.bin", "game/KVX.hvl", "game/uninst.lst"});
}

struct UninstallCase {
    const char* label;
    std::function<void(UpdateRunTest&, Faults&)> arrange;
};

class UninstallListFailureTest : public UpdateRunTest, public ::testing::WithParamInterface<UninstallCase> {};

TEST_P(UninstallListFailureTest, EveryFileIsReplacedAndTheListTrimmedButTheResultSaysSo)
{
    standardPayload();
    standardInstall();
    Faults faults;
    GetParam().arrange(*this, faults);
    bool hadList = isInstalled("uninst.lst");

    EXPECT_EQ(UPDATE_E_UNINSTALL_LIST, run());

    EXPECT_EQ(newData, installed("data01000.arc"));
    EXPECT_EQ(newSystem, installed("system.arc"));
    EXPECT_EQ(buildHashValueList({record("data01000.arc", newData), record("system.arc", newSystem),
                                  record("tsukumera.exe", gameExe)},
                                 0x11223344),
              installed("KVX.hvl"));
    if (hadList) {
        EXPECT_EQ(uninstText, readText("game/uninst.lst")) << "the old list stays byte for byte";
    }
    EXPECT_FALSE(isInstalled("uninst.new"));
    EXPECT_FALSE(isInstalled("system.arc.tmp"));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, UninstallListFailureTest,
    ::testing::Values(
        UninstallCase{"Missing", [](UpdateRunTest& t, Faults&) { t.uninstall("uninst.lst"); }},
        UninstallCase{"CannotBeOpened", [](UpdateRunTest&, Faults& f) { f.failOpenRead(1, "uninst.lst"); }},
        UninstallCase{"RewriteCannotBeCreated", [](UpdateRunTest&, Faults& f) { f.failCreate(1, "uninst.new"); }},
        UninstallCase{"RewriteComesUpShort",
                      [](UpdateRunTest&, Faults& f) {
                          // Three temporary files, the trimmed list, then the uninstall list.
                          f.shortenWrite(6, 3);
                      }},
        UninstallCase{"RewriteCannotReplaceTheList", [](UpdateRunTest&, Faults& f) { f.failMove(1, "uninst.new"); }},
        UninstallCase{"BufferCannotBeAllocated",
                      [](UpdateRunTest&, Faults&) {
                          // The copy buffer is the first allocation of 1 MiB, the list's buffer the second.
                          struct Second {
                              static void* allocate(size_t bytes)
                              {
                                  static int seen = 0;
                                  if (bytes == 0x100000 && ++seen == 2) {
                                      seen = 0;
                                      return nullptr;
                                  }
                                  return FailAllocOfSize::inner().allocate(bytes);
                              }
                          };
                          FailAllocOfSize::inner() = os::calls();
                          os::calls().allocate = Second::allocate;
                      }}),
    [](const ::testing::TestParamInfo<UninstallCase>& info) { return std::string(info.param.label); });

TEST_F(UpdateRunTest, AFailedRewriteOfTheHashValueListKeepsItsOldBytesAndTheRunGoesOn)
{
    standardPayload();
    standardInstall();
    Faults faults;
    faults.failMove(1, "KVX.new");

    EXPECT_EQ(UPDATE_OK, run());

    EXPECT_EQ(payloadList, installed("KVX.hvl")) << "the list just moved in, untrimmed";
    EXPECT_FALSE(isInstalled("KVX.new"));
}

// ---- the flags at the end of the run ---------------------------------------------------

struct FlagCase {
    const char* label;
    std::function<void(UpdateRunTest&, Faults&)> arrange;
    UpdateResult expected;
};

class FlagTest : public UpdateRunTest, public ::testing::WithParamInterface<FlagCase> {};

TEST_P(FlagTest, ACancelOutranksACloseAndBothOutrankEveryOtherOutcome)
{
    standardPayload();
    standardInstall();
    Faults faults;
    GetParam().arrange(*this, faults);
    FolderState before = folderState();
    int cancelBefore = cancelRequested, closeBefore = closeRequested;

    UpdateResult result = run();

    EXPECT_EQ(GetParam().expected, result) << updateResultName(result);
    EXPECT_EQ(before, folderState());
    EXPECT_GE(cancelRequested, cancelBefore) << "the run never clears a flag";
    EXPECT_GE(closeRequested, closeBefore);
}

INSTANTIATE_TEST_SUITE_P(
    StepG, FlagTest,
    ::testing::Values(
        FlagCase{"CancelSetBeforeALoadFailure",
                 [](UpdateRunTest& t, Faults&) {
                     t.truncateUpdater(100);
                     cancelRequested = 1;
                 },
                 UPDATE_E_CANCELLED},
        FlagCase{"CloseSetBeforeTooManyEntries",
                 [](UpdateRunTest& t, Faults&) {
                     t.patchUpdaterLe32(kPayloadOffset + 12, 40);
                     closeRequested = 1;
                 },
                 UPDATE_E_CLOSED},
        FlagCase{"BothSetBeforeTheRun",
                 [](UpdateRunTest&, Faults&) {
                     cancelRequested = 1;
                     closeRequested = 1;
                 },
                 UPDATE_E_CANCELLED},
        FlagCase{"CancelAndCloseInOneDrain",
                 [](UpdateRunTest& t, Faults&) { t.script(kAfterChunkOfEntry1, PUMP_CANCEL_AND_CLOSE); },
                 UPDATE_E_CANCELLED},
        FlagCase{"CancelInThePumpThenTheTemporaryFileFails",
                 [](UpdateRunTest& t, Faults& f) {
                     t.script(kBeforeEntry2, PUMP_CANCEL);
                     f.failCreate(1, "system.arc.tmp");
                 },
                 UPDATE_E_CANCELLED},
        FlagCase{"CloseInThePumpThenTheTemporaryFileFails",
                 [](UpdateRunTest& t, Faults& f) {
                     t.script(kBeforeEntry2, PUMP_CLOSE);
                     f.failCreate(1, "system.arc.tmp");
                 },
                 UPDATE_E_CLOSED},
        FlagCase{"CancelThenAQuitIsNeverSeen",
                 [](UpdateRunTest& t, Faults&) {
                     t.script(kBeforeEntry2, PUMP_CANCEL);
                     t.script(kBeforeEntry2 + 1, PUMP_QUIT);
                 },
                 UPDATE_E_CANCELLED}),
    [](const ::testing::TestParamInfo<FlagCase>& info) { return std::string(info.param.label); });

TEST_F(UpdateRunTest, AQuitAtTheFirstPumpClosesEvenAnEmptyPayload)
{
    buildUpdater({});
    install("uninst.lst", uninstText);
    script(1, PUMP_QUIT);

    EXPECT_EQ(UPDATE_E_CLOSED, run());
    EXPECT_EQ(1, closeRequested);
    EXPECT_EQ(uninstText, readText("game/uninst.lst")) << "no commit, no bookkeeping";
}

// ---- payloads refused before anything is written ---------------------------------------

struct NameCase {
    const char* label;
    std::vector<PackEntry> entries;
};

class RefusedPayloadTest : public UpdateRunTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(RefusedPayloadTest, NothingIsCreatedAnywhere)
{
    std::error_code ec;
    std::filesystem::create_directory(path("game/sub"), ec);
    expectFile("game/sub/");
    install("uninst.lst", withNul(""));
    buildUpdater(GetParam().entries);
    FolderState before = folderState();
    withDialog();

    EXPECT_EQ(UPDATE_E_PAYLOAD, run());

    expectUntouched(before);
    EXPECT_TRUE(only({"create", "attrs", "delete", "text", "pump"}).empty());
    expectFinalFiles({"setup.exe", "game/sub/", "game/uninst.lst"});
}

Bytes someData() { return pattern(64, 30); }
std::vector<PackEntry> oneEntry(const std::string& name) { return {entry(name, someData())}; }
// An entry whose name is fine, and a record matching it that names a file elsewhere.
std::vector<PackEntry> viaRecord(const std::string& recordName)
{
    return {entry("KVX.hvl", buildHashValueList({record(recordName, someData())})), entry("data.arc", someData())};
}

INSTANTIATE_TEST_SUITE_P(
    UnsafeNames, RefusedPayloadTest,
    ::testing::Values(
        NameCase{"ParentFolder", oneEntry("..\\evil.txt")},
        NameCase{"ParentFolderWithSlash", oneEntry("../evil.txt")},
        NameCase{"ParentFolderInTheMiddle", oneEntry("sub\\..\\..\\evil.txt")},
        NameCase{"OnlyDotDot", oneEntry("..")},
        NameCase{"LeadingBackslash", oneEntry("\\evil.txt")},
        NameCase{"LeadingSlash", oneEntry("/evil.txt")},
        NameCase{"Drive", oneEntry("C:\\evil.txt")},
        NameCase{"DriveRelative", oneEntry("C:evil.txt")},
        NameCase{"Unc", oneEntry("\\\\server\\share\\evil.txt")},
        NameCase{"DevicePath", oneEntry("\\\\?\\C:\\evil.txt")},
        NameCase{"Empty", oneEntry("")},
        // "ソ" ends in 0x5C; the separator after it is a real one.
        NameCase{"ParentAfterADoubleByteCharacter", oneEntry("\x83\x5C\\..\\..\\evil.txt")},
        NameCase{"RecordWithParentFolder", viaRecord("..\\data.arc")},
        NameCase{"RecordWithDrive", viaRecord("C:\\data.arc")},
        NameCase{"RecordUnc", viaRecord("\\\\server\\share\\data.arc")},
        NameCase{"RecordAbsolute", viaRecord("/tmp/data.arc")},
        NameCase{"RecordParentInTheMiddle", viaRecord("sub\\..\\..\\data.arc")}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.label); });

INSTANTIATE_TEST_SUITE_P(
    CollidingNames, RefusedPayloadTest,
    ::testing::Values(
        NameCase{"SameNameInAnotherCase", {entry("a.txt", someData()), entry("A.TXT", someData())}},
        NameCase{"SameNameWithTheOtherSeparator", {entry("sub\\a.txt", someData()), entry("sub/A.txt", someData())}},
        NameCase{"FullWidthLettersInAnotherCase",
                 {entry("\x82\x60.txt", someData()), entry("\x82\x81.txt", someData())}},
        NameCase{"RecordNameEqualToAnotherEntry",
                 {entry("KVX.hvl", buildHashValueList({record("sub\\X.arc", someData())})), entry("x.arc", someData()),
                  entry("sub\\x.ARC", someData())}},
        NameCase{"SameNameWithATrailingDot", {entry("a.txt", someData()), entry("a.txt.", someData())}},
        NameCase{"SameNameThroughADotFolderAndADoubleSeparator",
                 {entry("sub\\a.txt", someData()), entry(".\\sub\\\\.\\a.txt ", someData())}},
        NameCase{"AnEntryNamedLikeTheUninstallListsSideFile", {entry("Uninst.New", someData())}},
        NameCase{"AnEntryNamedLikeTheHashValueListsSideFile", {entry("kvx.new", someData())}},
        NameCase{"AnEntryNamedLikeAnothersTemporaryFile", {entry("a", someData()), entry("A.tmp", someData())}},
        NameCase{"TemporaryNameOfALaterEntry", {entry("b.tmp", someData()), entry("b", someData())}}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.label); });

// Names the updater accepted before it shared the patch tool's rule: each
// reached the folder (or the commit) before something failed, or installed
// a file under a name other than the one recorded.
INSTANTIATE_TEST_SUITE_P(
    HostileNames, RefusedPayloadTest,
    ::testing::Values(
        NameCase{"Dot", oneEntry(".")},
        NameCase{"Space", oneEntry(" ")},
        NameCase{"DotInAFolder", oneEntry("sub\\.")},
        NameCase{"SpaceInAFolder", oneEntry("sub\\ ")},
        NameCase{"DotFolder", oneEntry(".\\x.txt")},
        NameCase{"EmptyFolderPart", oneEntry("sub\\\\x.txt")},
        NameCase{"TrailingDot", oneEntry("x.txt.")},
        NameCase{"Device", oneEntry("con.arc")},
        NameCase{"DeviceInAFolder", oneEntry("sub\\nul.txt")},
        NameCase{"DeviceWithASpaceBeforeTheDot", oneEntry("nul .txt")},
        NameCase{"DeviceWithTwoExtensions", oneEntry("COM1.tar.gz")},
        NameCase{"ConsoleInput", oneEntry("CONIN$")},
        NameCase{"DeviceAsAFolder", oneEntry("lpt9\\x.txt")},
        NameCase{"ReservedCharacter", oneEntry("a?.txt")},
        NameCase{"ControlCharacter", oneEntry("a\x01.txt")},
        NameCase{"RecordWithADeviceFolder", viaRecord("Aux\\data.arc")},
        NameCase{"RecordWithATrailingDotFolder", viaRecord("sub.\\data.arc")},
        NameCase{"AFileAndAFolderOfTheSameName", {entry("sub\\x", someData()), entry("sub\\x\\y", someData())}},
        NameCase{"AFolderBeforeItsFile", {entry("sub\\X\\y", someData()), entry("sub\\x.", someData())}},
        NameCase{"AFolderThroughARecord",
                 {entry("KVX.hvl", buildHashValueList({record("sub\\d", someData())})), entry("d", someData()),
                  entry("sub/D/e", someData())}},
        NameCase{"ATemporaryFileAsAFolder", {entry("sub\\x", someData()), entry("sub\\x.tmp\\y", someData())}}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.label); });

TEST_F(UpdateRunTest, AFileBesideADotIsNotInstalledEither)
{
    // Seen before: "a.bin" was replaced, then the commit reset the folder's
    // own attributes for "." and failed to move a file over it.
    install("a.bin", pattern(10, 40));
    install("uninst.lst", withNul("a.bin\n"));
    buildUpdater({entry("a.bin", pattern(20, 41)), entry(".", pattern(5, 42))});
    FolderState before = folderState();

    EXPECT_EQ(UPDATE_E_PAYLOAD, run());

    expectUntouched(before);
    EXPECT_TRUE(only({"create", "attrs", "move", "delete"}).empty());
    expectFinalFiles({"setup.exe", "game/a.bin", "game/uninst.lst"});
}

struct LegalNameCase {
    const char* label;
    const char* name;
    const char* folder;     // created beforehand, or null
};

class LegalNameTest : public UpdateRunTest, public ::testing::WithParamInterface<LegalNameCase> {};

TEST_P(LegalNameTest, IsInstalledInsideTheFolder)
{
    const LegalNameCase& c = GetParam();
    if (c.folder) {
        std::error_code ec;
        std::filesystem::create_directories(path(std::string("game/") + c.folder), ec);
    }
    install("uninst.lst", withNul(""));
    buildUpdater({entry(c.name, someData())});

    EXPECT_EQ(UPDATE_OK, run());

    std::string native(c.name);
    for (size_t i = 0; i < native.size(); ++i) {
        if (isLeadByte(static_cast<unsigned char>(native[i])))
            ++i;
        else if (native[i] == '\\')
            native[i] = '/';
    }
    EXPECT_EQ(someData(), installed(native));
    // The folder check's name list turns every 0x5C into "/", trail bytes
    // included, so the file is taken away here instead of declared.
    uninstall(native);
    if (c.folder) {
        std::error_code ec;
        std::filesystem::remove_all(gamePath(c.folder), ec);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, LegalNameTest,
    ::testing::Values(LegalNameCase{"DotsInsideAName", "..foo.txt", nullptr},
                      // "表" is 0x95 0x5C: its trail byte is not a separator.
                      LegalNameCase{"TrailByteLikeABackslash", "\x95\x5C.txt", nullptr},
                      LegalNameCase{"TrailByteThenDots", "\x95\x5C..txt", nullptr},
                      LegalNameCase{"InASubfolder", "sub\\x.txt", "sub"},
                      LegalNameCase{"InASubfolderEndingInATrailByte", "\x83\x5C\\x.txt", "\x83\x5C"}),
    [](const ::testing::TestParamInfo<LegalNameCase>& info) { return std::string(info.param.label); });

TEST_F(UpdateRunTest, DoubleByteNamesEndingInA5CTrailByteAreNotTakenForAFolder)
{
    // "表" + "a" and "表\a" would be one name if 0x5C counted as a separator.
    std::error_code ec;
    std::filesystem::create_directory(path("game/\x95\x5C"), ec);
    buildUpdater({entry("\x95\x5C\\a", pattern(5, 33)), entry("\x95\x5C" "a", pattern(6, 34))});
    install("uninst.lst", withNul(""));

    EXPECT_EQ(UPDATE_OK, run());
    EXPECT_EQ(pattern(5, 33), installed("\x95\x5C/a"));
    EXPECT_EQ(pattern(6, 34), installed("\x95\x5C" "a"));
    uninstall("\x95\x5C/a");
    uninstall("\x95\x5C" "a");
    std::filesystem::remove(gamePath("\x95\x5C"), ec);
}

TEST_F(UpdateRunTest, NamesThatDifferOnlyInATrailByteThatLooksLikeALetterAreTwoFiles)
{
    // 0x83 0x41 and 0x83 0x61 are two different katakana; lowering the trail
    // byte as if it were "A" would make them one.
    buildUpdater({entry("\x83\x41.txt", pattern(5, 31)), entry("\x83\x61.txt", pattern(6, 32))});
    install("uninst.lst", withNul(""));

    EXPECT_EQ(UPDATE_OK, run());
    EXPECT_EQ(pattern(5, 31), installed("\x83\x41.txt"));
    EXPECT_EQ(pattern(6, 32), installed("\x83\x61.txt"));
    expectFile("game/\x83\x41.txt");
    expectFile("game/\x83\x61.txt");
}

// ---- paths that do not fit MAX_PATH ------------------------------------------------------

class LongFolderTest : public UpdateRunTest {
protected:
    // A real folder inside game/ whose path is exactly `length` bytes.
    std::string folderOfLength(size_t length)
    {
        std::string folder = game();
        EXPECT_LT(folder.size() + 2, length);
        while (folder.size() < length) {
            size_t room = length - folder.size() - 1;
            size_t part = room > 60 ? 50 : room;
            folder += "/" + std::string(part, 'd');
        }
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        EXPECT_FALSE(ec) << ec.message();
        return folder;
    }
};

TEST_F(LongFolderTest, ATemporaryPathThatWouldNotFitIsRefusedBeforeItsFileIsCreated)
{
    // "<folder>\a.tmp" fits in 259 bytes, "<folder>\bb.arc.tmp" does not.
    std::string folder = folderOfLength(kMaxPath - 1 - 6);
    std::string rel = folder.substr(game().size() + 1);
    testsupport::writeFileAt(folder + "/uninst.lst", withNul(""));
    expectFile("game/" + rel + "/uninst.lst");
    buildUpdater({entry("a", someData()), entry("bb.arc", someData())});

    EXPECT_EQ(UPDATE_E_FILE_IO, runIn(folder));

    EXPECT_EQ(std::vector<std::string>({"create a.tmp", "delete a.tmp"}), only({"create", "move", "delete"}));
}

TEST_F(LongFolderTest, ATemporaryPathOfExactly259BytesIsUsed)
{
    std::string folder = folderOfLength(kMaxPath - 1 - 11);    // "\bb.arc.tmp" is 11 bytes
    std::string rel = folder.substr(game().size() + 1);
    testsupport::writeFileAt(folder + "/uninst.lst", withNul(""));
    expectFile("game/" + rel + "/uninst.lst");
    expectFile("game/" + rel + "/bb.arc");
    buildUpdater({entry("bb.arc", someData())});

    EXPECT_EQ(UPDATE_OK, runIn(folder));
    EXPECT_EQ(someData(), testsupport::readFileAt(folder + "/bb.arc"));
}

} // namespace
