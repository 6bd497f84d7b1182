// Steps of the process entry under the real system: the install folder
// lookup against registry values written here, the message boxes and the
// loading of the common controls from the system folder.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>

#include <windows.h>

#include "tests/win32/win32_test_support.h"
#include "ui/process_steps.h"
#include "ui/texts.h"

namespace {

// A maker key of the tests' own, so that the updater's real key is never touched.
const char kTestMaker[] = "PellacornStepsTest";

class InstallFolderLookup : public ::testing::Test {
protected:
    void SetUp() override { deleteTree(); }
    void TearDown() override { deleteTree(); }
    static std::string makerPath() { return std::string("Software\\") + kTestMaker; }
    static void deleteTree()
    {
        std::string title = makerPath() + "\\" + kRegistryTitleKey;
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, title.c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, makerPath().c_str());
    }
    static void createKey()
    {
        std::string title = makerPath() + "\\" + kRegistryTitleKey;
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, title.c_str(), 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &key, nullptr));
        RegCloseKey(key);
    }
    static void setValue(DWORD type, const std::string& data)
    {
        createKey();
        std::string title = makerPath() + "\\" + kRegistryTitleKey;
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, title.c_str(), 0, KEY_SET_VALUE, &key));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExA(key, kInstalledFolderValue, 0, type,
                                 reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size())));
        RegCloseKey(key);
    }
};

TEST_F(InstallFolderLookup, AcceptsOnlyANonEmptyStringThatEndsInsideTheBuffer)
{
    std::string longest = "C:\\" + std::string(256, 'a');          // 259 characters
    struct Case {
        const char* what;
        bool createValue;
        DWORD type;
        std::string data;
        int found;
        std::string folder;
    };
    const Case cases[] = {
        {"a folder", true, REG_SZ, std::string("C:\\Games\\Tsukumera\0", 19), 1, "C:\\Games\\Tsukumera"},
        {"Japanese folder name", true, REG_SZ, std::string("C:\\\x83\x51\x81\x5B\x83\x80\0", 10), 1,
         "C:\\\x83\x51\x81\x5B\x83\x80"},
        {"trailing backslash kept", true, REG_SZ, std::string("D:\\g\\\0", 6), 1, "D:\\g\\"},
        {"259 characters and the NUL: 260 bytes", true, REG_SZ, longest + std::string(1, '\0'), 1, longest},
        {"260 characters and the NUL: too long", true, REG_SZ, longest + "b" + std::string(1, '\0'), 0, ""},
        {"no NUL, shorter than the buffer: terminated", true, REG_SZ, "C:\\Game", 1, "C:\\Game"},
        {"no NUL, filling the buffer", true, REG_SZ, longest + "b", 0, ""},
        {"no data at all", true, REG_SZ, "", 0, ""},
        {"empty string", true, REG_SZ, std::string(1, '\0'), 0, ""},
        {"expandable string", true, REG_EXPAND_SZ, std::string("C:\\Game\0", 8), 0, ""},
        {"binary", true, REG_BINARY, std::string("C:\\Game\0", 8), 0, ""},
        {"key without the value", false, REG_SZ, "", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        deleteTree();
        if (c.createValue)
            setValue(c.type, c.data);
        else
            createKey();
        char folder[260];
        std::memset(folder, 'x', sizeof folder);
        EXPECT_EQ(c.found, readInstallFolder(folder, kTestMaker, kRegistryTitleKey));
        if (c.found) {
            EXPECT_EQ(c.folder, std::string(folder));
        }
    }
}

TEST_F(InstallFolderLookup, MissingKeysAndNullNamesFindNothing)
{
    char folder[260];
    EXPECT_EQ(0, readInstallFolder(folder, kTestMaker, kRegistryTitleKey));     // no key at all
    setValue(REG_SZ, std::string("C:\\Game\0", 8));
    EXPECT_EQ(0, readInstallFolder(folder, kTestMaker, "OtherTitle"));
    EXPECT_EQ(0, readInstallFolder(folder, nullptr, kRegistryTitleKey));
    EXPECT_EQ(0, readInstallFolder(folder, kTestMaker, nullptr));
    EXPECT_EQ(1, readInstallFolder(folder, kTestMaker, kRegistryTitleKey));
}

TEST(MessageBoxes, InformationAndWarningHaveNoOwnerTheCaptionAndOnlyOk)
{
    struct Case {
        void (*show)(const char*);
        const char* text;
    };
    const Case cases[] = {{showInfo, kUpdateCompleteText}, {showWarning, kDamagedText}};
    for (const Case& c : cases) {
        win32test::BoxAnswerer answer(IDOK);
        c.show(c.text);
        ASSERT_EQ(1u, answer.seen().size());
        const win32test::SeenBox& box = answer.seen()[0];
        EXPECT_EQ(nullptr, box.owner);
        EXPECT_EQ(kWindowCaption, box.caption);
        EXPECT_EQ(c.text, box.text);
        EXPECT_TRUE(box.hasOk);
        EXPECT_FALSE(box.hasYes);
        EXPECT_FALSE(box.hasNo);
    }
}

TEST(MessageBoxes, OutcomeTextPerResultAndNoneForCancelOrClose)
{
    struct Case {
        UpdateResult result;
        const char* text;      // null: no box
    };
    const Case cases[] = {
        {UPDATE_OK, kUpdateCompleteText},
        {UPDATE_E_PAYLOAD, kDamagedText},
        {UPDATE_E_TOO_MANY_ENTRIES, kDamagedText},
        {UPDATE_E_FILE_IO, kCannotUpdateText},
        {UPDATE_E_UNINSTALL_LIST, kUninstallListText},
        {UPDATE_E_CANCELLED, nullptr},
        {UPDATE_E_CLOSED, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(updateResultName(c.result));
        win32test::BoxAnswerer answer(IDOK);
        showOutcome(c.result);
        if (c.text == nullptr) {
            EXPECT_TRUE(answer.seen().empty());
        } else {
            ASSERT_EQ(1u, answer.seen().size());
            EXPECT_EQ(c.text, answer.seen()[0].text);
        }
    }
}

std::string lower(std::string s)
{
    for (char& ch : s)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

TEST(CommonControls, ProgressClassComesFromTheSystemFoldersComctl32)
{
    loadCommonControlsSafely();
    WNDCLASSEXA info = {};
    info.cbSize = sizeof info;
    EXPECT_TRUE(GetClassInfoExA(nullptr, "msctls_progress32", &info));

    HMODULE comctl = GetModuleHandleA("comctl32.dll");
    ASSERT_NE(nullptr, comctl);
    char loaded[MAX_PATH] = {}, system[MAX_PATH] = {};
    GetModuleFileNameA(comctl, loaded, MAX_PATH);
    UINT n = GetSystemDirectoryA(system, MAX_PATH);
    EXPECT_EQ(lower(std::string(system, n)) + "\\comctl32.dll", lower(loaded));
}

} // namespace
