// The front end's fixed strings against their text: each UTF-8 literal below
// (with its U+3000 padding) is converted to code page 932 by the C library's
// iconv, independently of the escapes in ui/texts.cpp, and compared byte for byte.
#include <gtest/gtest.h>

#include <iconv.h>

#include <cstring>
#include <string>

#include "ui/texts.h"

namespace {

std::string toCp932(const std::string& utf8)
{
    iconv_t cd = iconv_open("CP932", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return "<iconv has no CP932>";
    std::string out(utf8.size() * 2 + 16, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* to = &out[0];
    size_t outLeft = out.size();
    size_t r = iconv(cd, &in, &inLeft, &to, &outLeft);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1) || inLeft != 0)
        return "<not convertible>";
    out.resize(out.size() - outLeft);
    return out;
}

std::string ideographicSpaces(int n)
{
    std::string s;
    for (int i = 0; i < n; ++i)
        s += "\u3000";
    return s;
}

struct TextCase {
    const char* name;
    const char* bytes;       // as the program has it
    const char* utf8;        // the text, without padding
    int padding;             // trailing U+3000
    size_t byteLength;       // in code page 932
};

const TextCase kTexts[] = {
    {"caption", kWindowCaption, "「ツクメラ」 修正パッチ ver 1.00", 0, 32},
    {"confirm", kConfirmText, "アップデートを行いますか？", 13, 52},
    {"engine running", kEngineRunningText,
     "ゲーム、ランチャー、アンインストーラーのいずれかが実行中なのでアップデートを行えません", 0, 86},
    {"not installed", kNotInstalledText, "ゲームがインストールされていません", 9, 52},
    {"no dialog", kNoDialogText, "ダイアログの起動に失敗しました。", 10, 52},
    {"complete", kUpdateCompleteText, "アップデートが完了しました", 13, 52},
    {"damaged", kDamagedText, "アップデートプログラムが破損している可能性があります", 0, 52},
    {"cannot update", kCannotUpdateText, "何らかの要因によりアップデートが行えません", 5, 52},
    {"uninstall list", kUninstallListText, "アンインストレーションファイルの更新に失敗しました", 1, 52},
    {"cancel question", kCancelQuestionText, "アップデートを中止しますか？", 12, 52},
    {"title key", kRegistryTitleKey, "ツクメラ", 0, 8},
};

TEST(Texts, EachTextIsItsCodePage932BytesWithItsPadding)
{
    for (const TextCase& t : kTexts) {
        SCOPED_TRACE(t.name);
        std::string expected = toCp932(std::string(t.utf8) + ideographicSpaces(t.padding));
        EXPECT_EQ(t.byteLength, expected.size());
        EXPECT_EQ(t.byteLength, std::strlen(t.bytes));
        EXPECT_EQ(expected, std::string(t.bytes));
    }
}

TEST(Texts, AsciiNames)
{
    EXPECT_STREQ("Updater for Quillbreeze is executing.", kUpdaterMutexName);
    EXPECT_STREQ("Tarsomel for Quillbreeze is executing.", kEngineMutexName);
    EXPECT_STREQ("%s\\%s\\%s", kRegistryKeyFormat);
    EXPECT_STREQ("Software", kRegistrySoftwareKey);
    EXPECT_STREQ("Pellacorn", kRegistryMakerKey);
    EXPECT_STREQ("InstalledFolder", kInstalledFolderValue);
}

} // namespace
