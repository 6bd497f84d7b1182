// The shared name rules on code page 932 byte strings. Double-byte
// characters are written as escaped bytes with the character in a comment.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "payload/entry_name.h"
#include "payload/file_handle.h"

namespace {

std::string lowered(std::string s)
{
    lowerName(&s[0]);
    return s;
}

struct Pair {
    const char* what;
    std::string in, out;
};

TEST(EntryName, LeadBytesOfCodePage932)
{
    for (int c = 0; c < 256; ++c) {
        bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
        EXPECT_EQ(lead ? 1 : 0, isLeadByte(static_cast<unsigned char>(c))) << c;
    }
}

TEST(EntryName, LowerName)
{
    const Pair cases[] = {
        {"ASCII", "KVX.HVL", "kvx.hvl"},
        {"mixed", "Data01000.Arc", "data01000.arc"},
        {"neighbours of A-Z stay", "@[`{Az", "@[`{az"},
        {"full-width A", "\x82\x60", "\x82\x81"},                  // Ａ -> ａ
        {"full-width Z", "\x82\x79", "\x82\x9A"},                  // Ｚ -> ｚ
        {"full-width small stays", "\x82\x81\x82\x9A", "\x82\x81\x82\x9A"},
        {"after full-width Z", "\x82\x7A", "\x82\x7A"},
        {"before full-width A", "\x82\x5F", "\x82\x5F"},
        {"Greek Alpha", "\x83\x9F", "\x83\xBF"},                   // Α -> α
        {"Greek Omega", "\x83\xB6", "\x83\xD6"},                   // Ω -> ω
        {"after Omega", "\x83\xB7", "\x83\xB7"},
        {"Cyrillic A", "\x84\x40", "\x84\x70"},                    // А -> а
        {"Cyrillic En, before the gap", "\x84\x4E", "\x84\x7E"},   // Н -> н
        {"Cyrillic O, after the gap", "\x84\x4F", "\x84\x80"},     // О -> о
        {"Cyrillic Ya", "\x84\x60", "\x84\x91"},                   // Я -> я
        {"after Ya", "\x84\x61", "\x84\x61"},
        {"katakana A: its trail 0x41 stays", "\x83\x41", "\x83\x41"},        // ア
        {"katakana then ASCII", "\x83\x41" "A", "\x83\x41" "a"},
        {"kanji with trail 0x5C", "\x95\x5C" "A", "\x95\x5C" "a"},          // 表
        {"trail 0x5A of a high lead", "\xE0\x5A\xFC\x41", "\xE0\x5A\xFC\x41"},
        {"pairs are taken in order", "\x82\x82\x60", "\x82\x82\x60"},      // ば`
        {"half-width katakana is one byte", "\xB1" "A", "\xB1" "a"},        // ｱA
        {"0x80, 0xA0, 0xFD are no lead bytes", "\x80" "A\xA0" "B\xFD" "C", "\x80" "a\xA0" "b\xFD" "c"},
        {"lone lead byte at the end", "A\x82", "a\x82"},
        {"lead byte before a non-trail byte", "\x82" "." "A", "\x82" ".a"},
        {"empty", "", ""},
    };
    for (const Pair& c : cases)
        EXPECT_EQ(c.out, lowered(c.in)) << c.what;
}

TEST(EntryName, SameName)
{
    EXPECT_EQ(1, sameName("KVX.hvl", "kvx.HVL"));
    EXPECT_EQ(1, sameName("\x82\x60.TXT", "\x82\x81.txt"));   // Ａ.TXT, ａ.txt
    EXPECT_EQ(0, sameName("\x83\x41", "\x83\x40"));           // ア, ァ
    EXPECT_EQ(0, sameName("\x83\x41", "\x83\x61"));           // the trail byte is no letter
    EXPECT_EQ(0, sameName("a", "a "));
    std::string longest(kMaxPath - 1, 'x');
    EXPECT_EQ(1, sameName(longest.c_str(), std::string(kMaxPath - 1, 'X').c_str()));
    std::string tooLong(kMaxPath, 'x');
    EXPECT_EQ(0, sameName(tooLong.c_str(), tooLong.c_str()));
}

TEST(EntryName, FileNamePart)
{
    const Pair cases[] = {
        {"bare name", "data.arc", "data.arc"},
        {"backslash", "sub\\data.arc", "data.arc"},
        {"last of mixed separators", "a/b\\c.txt", "c.txt"},
        {"drive without separator", "C:data.arc", "data.arc"},
        {"drive and folders", "C:\\x\\y.bin", "y.bin"},
        {"no drive: second byte is not ':'", "ab:c", "ab:c"},
        {"trail 0x5C is no separator", "\x95\x5C.arc", "\x95\x5C.arc"},             // 表.arc
        {"trail 0x5C before a real one", "\x83\x5C\\x.arc", "x.arc"},               // ソ\x.arc
        {"folder ending in trail 0x5C", "dir\\\x95\x5C", "\x95\x5C"},               // dir\表
        {"lead byte before a real separator", "\x82/x", "x"},
        {"trailing separator", "dir\\", ""},
        {"empty", "", ""},
    };
    for (const Pair& c : cases)
        EXPECT_EQ(c.out, std::string(fileNamePart(c.in.c_str()))) << c.what;
    const char* name = "x\\y";
    EXPECT_EQ(name + 2, fileNamePart(name));   // a pointer into the name itself
}

TEST(EntryName, SafeInstallNames)
{
    struct Case {
        const char* what;
        std::string name;
        int safe;
    } cases[] = {
        {"bare name", "data01000.arc", 1},
        {"relative folder", "sub\\data.arc", 1},
        {"forward slash folder", "sub/deeper/data.arc", 1},
        {"dot folder", ".\\a.txt", 1},
        {"two dots starting a name", "..foo.txt", 1},
        {"two dots inside", "a..b", 1},
        {"dots ending a name", "foo..", 1},
        {"kanji with trail 0x5C then dots", "\x95\x5C..", 1},                   // 表..
        {"katakana with trail 0x5C then dots, folder", "\x83\x5C..\\x.bin", 1},   // ソ..\x.bin
        {"folder after trail 0x5C", "\x95\x5C\\a.txt", 1},
        {"empty", "", 0},
        {"leading backslash", "\\a.txt", 0},
        {"leading slash", "/etc/passwd", 0},
        {"UNC", "\\\\server\\share\\a.txt", 0},
        {"device prefix", "\\\\?\\C:\\a.txt", 0},
        {"device prefix with slashes", "//?/C:/a.txt", 0},
        {"drive", "C:a.txt", 0},
        {"drive root", "C:\\a.txt", 0},
        {"drive with slash", "c:/a", 0},
        {"stream", "a.txt:hidden", 0},
        {"only ..", "..", 0},
        {"leading ..", "..\\a.txt", 0},
        {"leading .. with slash", "../a.txt", 0},
        {".. in the middle", "a\\..\\..\\b.txt", 0},
        {".. at the end", "sub/..", 0},
        {"three dots", "...\\a", 0},
        {"dots and a space", "a\\.. \\b", 0},
        {"trailing separator", "sub\\", 0},
        {"lone lead byte at the end", "a\x82", 0},
        {"lead byte hiding a separator", "\x82/..\\..\\x", 0},
        {".. after a kanji folder", "\x95\x5C\\..\\..\\x", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.safe, isSafeInstallName(c.name.c_str())) << c.what;
    EXPECT_EQ(0, isSafeInstallName(nullptr));
}

TEST(EntryName, InstallNameRule)
{
    struct Case {
        std::string name;
        NameProblem problem;
        size_t at;      // where *at points for a refused name
    } const cases[] = {
        {"data01000.arc", NAME_OK, 0},
        {"sub\\data.arc", NAME_OK, 0},
        {"sub/deeper/data.arc", NAME_OK, 0},
        {"..foo.txt", NAME_OK, 0},
        {"a..b", NAME_OK, 0},
        {"\x95\x5C..txt", NAME_OK, 0},                 // 表..txt
        {"\x83\x5C\\x.dat", NAME_OK, 0},               // ソ\x.dat
        {"console.dat", NAME_OK, 0},
        {"com10.dat", NAME_OK, 0},
        {"com.dat", NAME_OK, 0},
        {"nul_.txt", NAME_OK, 0},
        {"conin.txt", NAME_OK, 0},
        {"\x82\x6D\x82\x74\x82\x6B", NAME_OK, 0},      // ＮＵＬ: full-width letters are no device
        // What isSafeInstallName refuses stays refused.
        {"", NAME_LEAVES_FOLDER, 0},
        {"..\\evil", NAME_LEAVES_FOLDER, 0},
        {"C:x", NAME_LEAVES_FOLDER, 0},
        {"sub\\", NAME_LEAVES_FOLDER, 0},
        {"x\x83", NAME_LEAVES_FOLDER, 0},
        // A last part that names no file: the folder itself, or nothing.
        {".", NAME_DOTS_AND_SPACES, 0},
        {" ", NAME_DOTS_AND_SPACES, 0},
        {" . ", NAME_DOTS_AND_SPACES, 0},
        {". .", NAME_LEAVES_FOLDER, 0},                  // two dots: taken for ".."
        {"sub\\.", NAME_DOTS_AND_SPACES, 4},
        {"sub/ ", NAME_DOTS_AND_SPACES, 4},
        {".\\a.txt", NAME_DOTS_AND_SPACES, 0},
        {"a\\ \\b", NAME_DOTS_AND_SPACES, 2},
        {"a\\\\b", NAME_EMPTY_PART, 2},
        {"a//b", NAME_EMPTY_PART, 2},
        // Names Windows would store under another name.
        {"a.bin.", NAME_TRAILING_DOT_OR_SPACE, 0},
        {"a.bin ", NAME_TRAILING_DOT_OR_SPACE, 0},
        {"sub.\\a", NAME_TRAILING_DOT_OR_SPACE, 0},
        {"foo..", NAME_TRAILING_DOT_OR_SPACE, 0},
        {"\x95\x5C.", NAME_TRAILING_DOT_OR_SPACE, 0},    // 表.
        // Characters no Windows file name holds.
        {"a?b", NAME_BAD_CHARACTER, 1},
        {"sub\\a*", NAME_BAD_CHARACTER, 5},
        {"a<b", NAME_BAD_CHARACTER, 1},
        {"a>b", NAME_BAD_CHARACTER, 1},
        {"a|b", NAME_BAD_CHARACTER, 1},
        {"a\"b", NAME_BAD_CHARACTER, 1},
        {"tab\there", NAME_BAD_CHARACTER, 3},
        {"del\x7F", NAME_BAD_CHARACTER, 3},
        {"\x83\x7C" "a", NAME_OK, 0},                    // ポ: its trail byte is no "|"
        // Devices, in any part, any letter case, with any extension.
        {"CON", NAME_DEVICE, 0},
        {"con.arc", NAME_DEVICE, 0},
        {"sub\\nul.txt", NAME_DEVICE, 4},
        {"nul .txt", NAME_DEVICE, 0},
        {"COM1.tar.gz", NAME_DEVICE, 0},
        {"Aux", NAME_DEVICE, 0},
        {"prn.x", NAME_DEVICE, 0},
        {"com9", NAME_DEVICE, 0},
        {"LPT1.dat", NAME_DEVICE, 0},
        {"lpt0", NAME_DEVICE, 0},
        {"CONIN$", NAME_DEVICE, 0},
        {"conout$.log", NAME_DEVICE, 0},
        {"nul\\a.txt", NAME_DEVICE, 0},
        {"a\\Com3\\b", NAME_DEVICE, 2},
    };
    for (const Case& c : cases) {
        const char* at = nullptr;
        EXPECT_EQ(c.problem, installNameProblem(c.name.c_str(), &at)) << c.name;
        EXPECT_EQ(c.at, static_cast<size_t>(at - c.name.c_str())) << c.name;
        EXPECT_EQ(c.problem, installNameProblem(c.name.c_str(), nullptr)) << c.name;
    }
}

TEST(EntryName, NameClashes)
{
    struct Case {
        const char *a, *b;
        NameClash ab, ba;
    } const cases[] = {
        {"a.dat", "b.dat", NAMES_APART, NAMES_APART},
        {"Sub\\DATA.arc", "sub/data.ARC", NAMES_SAME_FILE, NAMES_SAME_FILE},
        {"\x82\x60.dat", "\x82\x81.dat", NAMES_SAME_FILE, NAMES_SAME_FILE},   // Ａ and ａ
        {"a.txt", "a.txt.", NAMES_SAME_FILE, NAMES_SAME_FILE},
        {"sub\\a.txt", ".\\sub\\\\.\\a.txt ", NAMES_SAME_FILE, NAMES_SAME_FILE},
        {"a.dat", "A.DAT.tmp", NAMES_TEMPORARY, NAMES_APART},
        {"a", "a\\b", NAMES_FOLDER, NAMES_APART},
        {"A", "a/b/c", NAMES_FOLDER, NAMES_APART},
        {"a.", "a\\b", NAMES_FOLDER, NAMES_APART},
        {"a", "a.tmp\\b", NAMES_FOLDER, NAMES_APART},
        {"a", "ab\\c", NAMES_APART, NAMES_APART},
        {"a\\b", "a\\bc", NAMES_APART, NAMES_APART},
        // ソ ends in 0x5C: "ソ" is no folder of "ソ\x", and "\x83" no folder of "ソ".
        {"\x83\x5C", "\x83\x5C\\x", NAMES_FOLDER, NAMES_APART},
        {"\x83\x5C" "a", "\x83\x5C\\a", NAMES_APART, NAMES_APART},
        {"\x83\x5C/x", "\x83\x5C\\x", NAMES_SAME_FILE, NAMES_SAME_FILE},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.ab, installNameClash(c.a, c.b)) << c.a << " / " << c.b;
        EXPECT_EQ(c.ba, installNameClash(c.b, c.a)) << c.b << " / " << c.a;
    }
}

} // namespace
