// The payload formats on Windows: the writer's output read back through the
// real file calls, and the module path of the running program.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <windows.h>

#include "payload/hash_value_list.h"
#include "payload/payload_archive.h"
#include "payload/payload_writer.h"
#include "tests/support/test_support.h"

namespace {

class Win32PayloadTest : public testsupport::TempDirTest {};

TEST_F(Win32PayloadTest, LocateSelfNamesTheRunningProgram)
{
    char path[kMaxPath];
    locateSelf(path);
    char direct[kMaxPath] = {};
    GetModuleFileNameA(nullptr, direct, kMaxPath);
    EXPECT_STREQ(direct, path);
    std::string p(path);
    ASSERT_GE(p.size(), 15u);
    EXPECT_EQ("win32_tests.exe", p.substr(p.size() - 15)) << p;
    // Started from outside every drive (Wine without z:), the path is one of
    // the "\\?\unix" namespace that cannot be opened; from a drive it can,
    // while the program runs.
    if (p.size() > 2 && p[1] == ':') {
        FileHandle self;
        EXPECT_EQ(1, self.openRead(path)) << path << " error " << GetLastError();
        EXPECT_NE(0xFFFFFFFFu, self.size());
    }
}

TEST_F(Win32PayloadTest, AWrittenUpdaterReadsBack)
{
    writeFile("big.src", std::string(0x100000 + 5, 'b'));
    HashValueRecord r = makeHashRecord("Sub\\Data.ARC", "data", 4);
    PackEntry list, data, big;
    list.name = "KVX.hvl";
    list.data = buildHashValueList({r});
    data.name = "data.arc";
    data.data = testsupport::bytesOf("data");
    big.name = "big.arc";
    big.sourcePath = path("big.src");
    PackOptions options;
    options.stub = testsupport::bytesOf("MZ");
    std::string error;
    ASSERT_EQ(1, writeUpdater(path("upd.exe"), {list, data, big}, options, &error)) << error;
    expectFile("upd.exe");

    FileHandle exe;
    ASSERT_EQ(1, exe.openRead(path("upd.exe").c_str()));
    PayloadArchive archive;
    ASSERT_EQ(UPDATE_OK, archive.load(exe));
    EXPECT_EQ(0x40010u + 3 * 128, archive.dataStart());
    HashValueList hvl;
    ASSERT_EQ(1, hvl.loadFromPayload(archive, exe));
    const HashValueRecord* found = hvl.findRecord("data.arc");
    ASSERT_NE(nullptr, found);
    EXPECT_STREQ("Sub\\Data.ARC", found->name);
    ASSERT_EQ(1, archive.seekToEntry(exe, 1));
    char four[4];
    ASSERT_EQ(4u, exe.read(four, 4));
    EXPECT_EQ(1, [&] { FileChecksum s; s.update(four, 4); return s.equals(found->checksum); }());
    EXPECT_EQ(0x100005u, archive.entry(2).size);
}

} // namespace
