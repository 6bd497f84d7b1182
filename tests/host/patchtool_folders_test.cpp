// patchtool pack --from OLD --to NEW on real folder trees: what is packed
// under which name, every refusal (each leaving nothing behind), the plan,
// and the proof on a scratch copy of OLD that never touches OLD itself.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "patchtool/commands.h"
#include "patchtool/hash_list_file.h"
#include "patchtool/text_codec.h"
#include "patchtool/updater_report.h"
#include "payload/payload_writer.h"
#include "tests/support/test_support.h"

using testsupport::Bytes;

namespace {

Bytes fakeStub()
{
    Bytes b(512, 0);
    b[0] = 'M', b[1] = 'Z';
    b[0x3C] = 0x40;
    std::memcpy(&b[0x40], "PE\0\0", 4);
    b[0x58] = 0x0B, b[0x59] = 0x01;   // PE32
    b[0x58 + 92] = 16;                // data directories, none filled
    return b;
}

std::string cp932(const std::string& utf8)
{
    std::string out;
    EXPECT_EQ(1, tool::toCp932(utf8, &out)) << utf8;
    return out;
}

class PatchtoolFolders : public testsupport::TempDirTest {
public:
    // For the arrangements in tables.
    using TempDirTest::path;
    using TempDirTest::writeFile;

protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        writeFile("stub.exe", fakeStub());
        // Version 1.00, as released: a sub-folder and a Japanese name.
        both("game.exe", "mz 1.00");
        both("data01.arc", std::string(0x100000 + 7, 'd'));
        both("sub/deep.bin", "deep 1.00");
        both("ツクメラ/台詞.dat", "serifu 1.00");
        writeFile("old/uninst.lst", std::string("game.exe\ndata01.arc\n\0", 21));
    }
    // A file that is the same in both versions until a test changes it.
    void both(const std::string& name, const std::string& data)
    {
        writeFile("old/" + name, data);
        writeFile("new/" + name, data);
    }
    int pack(std::vector<std::string> extra, bool withOutput = true)
    {
        std::vector<std::string> args = {"--from", path("old"), "--to", path("new"), "--stub", path("stub.exe")};
        if (withOutput)
            args.insert(args.end(), {"-o", path("up.exe")});
        args.insert(args.end(), extra.begin(), extra.end());
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        int status = tool::runPack(args);
        out = testing::internal::GetCapturedStdout();
        err = testing::internal::GetCapturedStderr();
        return status;
    }
    // The written updater's entries as the updater reads them.
    std::vector<tool::EntryReport> entries()
    {
        tool::UpdaterReport report;
        EXPECT_EQ(1, tool::readUpdaterReport(path("up.exe"), true, &report));
        return report.entries;
    }
    bool mentions(const std::string& text) const
    {
        return out.find(text) != std::string::npos || err.find(text) != std::string::npos;
    }
    std::string out, err;
};

TEST_F(PatchtoolFolders, PacksTheChangedAndAddedFilesUnderVerifiableNames)
{
    writeFile("new/data01.arc", std::string(0x100000 + 7, 'e'));    // same size, other bytes
    writeFile("new/ツクメラ/台詞.dat", "serifu 1.01, longer");
    writeFile("new/ツクメラ/追加.dat", "added in a folder OLD has");
    writeFile("new/新規.arc", "added at the top");
    ASSERT_EQ(tool::kExitOk, pack({})) << err;
    expectFile("up.exe");

    std::vector<tool::EntryReport> e = entries();
    ASSERT_EQ(5u, e.size());
    // The list first, then NEW's order (code page 932 names sorted ignoring case).
    EXPECT_EQ("KVX.hvl", e[0].name);
    const char* const names[] = {"data01.arc", "台詞.dat", "追加.dat", "新規.arc"};
    const char* const installed[] = {"data01.arc", "ツクメラ\\台詞.dat", "ツクメラ\\追加.dat", "新規.arc"};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(cp932(names[i]), e[i + 1].name);
        EXPECT_EQ(cp932(installed[i]), e[i + 1].installedName);
        EXPECT_EQ(tool::ENTRY_VERIFIED, e[i + 1].state);
    }
    // The list made as hvl make does: every file of NEW.
    tool::HashListFile list;
    std::string problem;
    Bytes updater = readFile("up.exe");
    Bytes listBytes(updater.begin() + 0x40010 + 5 * 128, updater.begin() + 0x40010 + 5 * 128 + e[0].size);
    ASSERT_EQ(1, tool::parseHashList(listBytes, &list, &problem)) << problem;
    EXPECT_EQ(6u, list.records.size());

    // The same two folders give the same bytes.
    ASSERT_EQ(0, std::remove(path("up.exe").c_str()));
    ASSERT_EQ(tool::kExitOk, pack({})) << err;
    EXPECT_EQ(updater, readFile("up.exe"));
}

TEST_F(PatchtoolFolders, NewFolderListIsCarriedAndChecked)
{
    writeFile("new/data01.arc", "1.01");
    // NEW's own list, made from NEW, with its records in an order of its own.
    std::vector<HashValueRecord> records = {
        makeHashRecord(cp932("ツクメラ\\台詞.dat"), "serifu 1.00", 11),
        makeHashRecord("sub\\deep.bin", "deep 1.00", 9),
        makeHashRecord("data01.arc", "1.01", 4),
        makeHashRecord("game.exe", "mz 1.00", 7),
    };
    Bytes own = buildHashValueList(records);
    writeFile("new/KVX.hvl", own);
    ASSERT_EQ(tool::kExitOk, pack({})) << err;
    expectFile("up.exe");
    std::vector<tool::EntryReport> e = entries();
    ASSERT_EQ(2u, e.size());
    Bytes updater = readFile("up.exe");
    EXPECT_EQ(own, Bytes(updater.begin() + 0x40010 + 2 * 128, updater.begin() + 0x40010 + 2 * 128 + own.size()));
    EXPECT_EQ(tool::ENTRY_VERIFIED, e[1].state);
    ASSERT_EQ(0, std::remove(path("up.exe").c_str()));

    // A list that disagrees with NEW: a stale checksum, a file it lacks,
    // a record of a file NEW does not have. Every difference is named.
    records[2] = makeHashRecord("data01.arc", "1.00", 4);
    records.erase(records.begin() + 3);
    records.push_back(makeHashRecord("gone.arc", "x", 1));
    writeFile("new/KVX.hvl", buildHashValueList(records));
    EXPECT_EQ(tool::kExitFailed, pack({}));
    EXPECT_TRUE(mentions("data01.arc: the record says")) << err;
    EXPECT_TRUE(mentions("lists gone.arc, which the new folder does not have")) << err;
    EXPECT_FALSE(exists("up.exe"));
}

TEST_F(PatchtoolFolders, RecordLookupDecidesTheEntryName)
{
    // Two files named x.dat: the list made from NEW holds "sub\x.dat"
    // before "zz\x.dat", so only the first can be found by its bare name.
    both("sub/x.dat", "sub 1.00");
    both("zz/x.dat", "zz 1.00");
    writeFile("new/sub/x.dat", "sub 1.01");
    writeFile("new/zz/x.dat", "zz 1.01");
    ASSERT_EQ(tool::kExitOk, pack({})) << err;
    expectFile("up.exe");
    std::vector<tool::EntryReport> e = entries();
    ASSERT_EQ(3u, e.size());
    EXPECT_EQ("x.dat", e[1].name);
    EXPECT_EQ("sub\\x.dat", e[1].installedName);
    EXPECT_EQ(tool::ENTRY_VERIFIED, e[1].state);
    EXPECT_EQ("zz\\x.dat", e[2].name);
    EXPECT_EQ(tool::ENTRY_UNVERIFIED, e[2].state);
    EXPECT_NE(std::string::npos, err.find("note: zz\\x.dat: the record sub\\x.dat comes first")) << err;
    ASSERT_EQ(0, std::remove(path("up.exe").c_str()));
    // Both install where they belong: the proof holds.
    ASSERT_EQ(tool::kExitOk, pack({"--prove"})) << err;
    EXPECT_NE(std::string::npos, out.find("proof: ok")) << out;
}

TEST_F(PatchtoolFolders, RefusalsNameEveryFileAndLeaveNothing)
{
    struct Case {
        const char* what;
        void (*arrange)(PatchtoolFolders&);
        std::vector<std::string> extra;
        std::vector<std::string> messages;
    } const cases[] = {
        {"two identical trees", [](PatchtoolFolders&) {}, {}, {"nothing to patch: the two folders hold the same files"}},
        {"only a removed file", [](PatchtoolFolders& t) { std::remove(t.path("new/game.exe").c_str()); }, {},
         {"nothing to patch: no file is new or changed"}},
        {"a new file in a folder OLD lacks",
         [](PatchtoolFolders& t) { t.writeFile("new/新しい/a.dat", "a"); t.writeFile("new/sub/more/b.dat", "b"); }, {},
         {"新しい\\a.dat: its folder 新しい does not exist in", "sub\\more\\b.dat: its folder sub\\more does not exist",
          "UPDATE_E_FILE_IO"}},
        {"32 new files",
         [](PatchtoolFolders& t) {
             for (int i = 0; i < 32; ++i)
                 t.writeFile("new/f" + std::to_string(100 + i) + ".dat", std::to_string(i));
         },
         {}, {"32 files are new or changed; an updater carries at most 31", "f100.dat, f101.dat", "f131.dat"}},
        {"a removed file, --strict", [](PatchtoolFolders& t) {
             std::remove(t.path("new/game.exe").c_str());
             t.writeFile("new/data01.arc", "1.01");
         }, {"--strict"}, {"game.exe: in ", "players keep it (--strict)"}},
        {"a changed file the list lacks, --strict", [](PatchtoolFolders& t) {
             t.writeFile("new/data01.arc", "1.01");
             t.writeFile("new/KVX.hvl", buildHashValueList({makeHashRecord("game.exe", "mz 1.00", 7)}));
         }, {"--strict"}, {"data01.arc: changed but not in", "installed unverified (--strict)"}},
        {"a top-level file a sub-folder record would take", [](PatchtoolFolders& t) {
             t.writeFile("new/deep.bin", "top");
             t.writeFile("new/KVX.hvl",
                         buildHashValueList({makeHashRecord("sub\\deep.bin", "deep 1.00", 9),
                                             makeHashRecord("deep.bin", "top", 3)}));
         }, {}, {"deep.bin: the record sub\\deep.bin", "comes first for this file name"}},
        {"a name too long for the short layout", [](PatchtoolFolders& t) { t.writeFile("new/sub/seventeen-bytes.a", "x"); },
         {"--layout", "short"}, {"holds at most 15"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.arrange(*this);
        EXPECT_EQ(tool::kExitFailed, pack(c.extra));
        for (const std::string& m : c.messages)
            EXPECT_TRUE(mentions(m)) << m << "\n" << err;
        EXPECT_FALSE(exists("up.exe"));
        EXPECT_FALSE(exists("up.exe.partial"));
        // Back to two identical trees for the next case.
        std::filesystem::remove_all(path("new"));
        std::filesystem::copy(path("old"), path("new"), std::filesystem::copy_options::recursive);
        std::remove(path("new/uninst.lst").c_str());
    }
}

// A version folder need not hold uninst.lst: the proof then gives the
// scratch copy one, as every player's install has.
TEST_F(PatchtoolFolders, RemovedFilesWarnAndStay)
{
    writeFile("new/data01.arc", "1.01");
    std::remove(path("new/game.exe").c_str());
    std::remove(path("old/uninst.lst").c_str());
    ASSERT_EQ(tool::kExitOk, pack({"--prove"})) << err;
    expectFile("up.exe");
    EXPECT_NE(std::string::npos, err.find("warning: game.exe: in ")) << err;
    EXPECT_NE(std::string::npos, out.find("has no uninst.lst; the scratch copy got one")) << out;
    EXPECT_NE(std::string::npos, out.find("proof: ok")) << out;
}

TEST_F(PatchtoolFolders, PlanWritesNothing)
{
    writeFile("new/data01.arc", "1.01");
    writeFile("new/sub/added.bin", "new");
    std::remove(path("new/game.exe").c_str());
    ASSERT_EQ(tool::kExitOk, pack({"--plan"}, false)) << err;
    EXPECT_NE(std::string::npos, out.find("changed  data01.arc, 4 bytes, verified by record data01.arc")) << out;
    EXPECT_NE(std::string::npos, out.find("added    sub\\added.bin (entry added.bin), 3 bytes, verified by record "
                                          "sub\\added.bin")) << out;
    EXPECT_NE(std::string::npos, out.find("removed  game.exe")) << out;
    EXPECT_NE(std::string::npos, out.find("unchanged: 2 files")) << out;
    EXPECT_NE(std::string::npos, out.find("payload: 3 entries")) << out;
    ASSERT_EQ(tool::kExitOk, pack({"--plan", "--json"}, false)) << err;
    EXPECT_NE(std::string::npos, out.find("\"removed\": [\"game.exe\"]")) << out;
    EXPECT_NE(std::string::npos, out.find("\"entry\": \"added.bin\"")) << out;
    EXPECT_NE(std::string::npos, out.find("\"ok\": true")) << out;
}

// The proof applies the updater to a scratch copy of OLD, where unchanged
// files are hard links to OLD's: OLD itself must come out untouched, and
// the scratch copy must be gone.
TEST_F(PatchtoolFolders, ProofLeavesOldUntouched)
{
    writeFile("new/data01.arc", "1.01");
    writeFile("new/sub/added.bin", "new");
    writeFile("old/KVX.hvl", buildHashValueList({makeHashRecord("game.exe", "mz 1.00", 7)}));
    std::vector<std::pair<std::string, Bytes>> before;
    for (const auto& f : std::filesystem::recursive_directory_iterator(path("old")))
        if (f.is_regular_file())
            before.push_back({f.path().string(), testsupport::readFileAt(f.path().string())});
    ASSERT_EQ(tool::kExitOk, pack({"--prove"})) << err;
    expectFile("up.exe");
    EXPECT_NE(std::string::npos, out.find("proof: ok")) << out;
    for (const auto& f : before)
        EXPECT_EQ(f.second, testsupport::readFileAt(f.first)) << f.first;
}

TEST_F(PatchtoolFolders, AFailedProofRemovesTheUpdaterAndNamesTheFile)
{
    // OLD holds a file under the temporary name the updater stages
    // data01.arc as: the run takes it over, so the result lacks it.
    both("data01.arc.tmp", "a file of the game's own");
    writeFile("new/data01.arc", "1.01");
    EXPECT_EQ(tool::kExitFailed, pack({"--prove"}));
    EXPECT_NE(std::string::npos, err.find("the proof failed: data01.arc.tmp")) << err;
    EXPECT_NE(std::string::npos, err.find("up.exe removed")) << err;
    EXPECT_FALSE(exists("up.exe"));
    EXPECT_FALSE(exists("up.exe.proof"));

}

} // namespace
