// The built updater's resources, read from its image as the system reads
// them: the progress dialog template field by field, the manifest's elements,
// the icon group and the version block.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <windows.h>

#include "resources/resource_ids.h"
#include "tests/win32/win32_test_support.h"

namespace {

using win32test::kJapanese;
using win32test::resourceBytes;
using win32test::updaterImage;
typedef std::vector<unsigned char> Bytes;

// Reads little-endian fields front to back; running past the end sets failed.
struct Reader {
    const Bytes& b;
    size_t at = 0;
    bool failed = false;
    explicit Reader(const Bytes& bytes) : b(bytes) {}
    uint32_t take(size_t n)
    {
        if (at + n > b.size()) {
            failed = true;
            at = b.size();
            return 0;
        }
        uint32_t v = 0;
        for (size_t i = 0; i < n; ++i)
            v |= uint32_t(b[at + i]) << (8 * i);
        at += n;
        return v;
    }
    uint16_t word() { return static_cast<uint16_t>(take(2)); }
    uint32_t dword() { return take(4); }
    int16_t shortValue() { return static_cast<int16_t>(take(2)); }
    std::u16string string()
    {
        std::u16string s;
        for (uint16_t c; (c = word()) != 0 && !failed;)
            s += static_cast<char16_t>(c);
        return s;
    }
    // A class or title field: 0xFFFF and an ordinal, or a string.
    std::u16string stringOrOrdinal(uint16_t* ordinal)
    {
        *ordinal = 0;
        if (at + 2 <= b.size() && b[at] == 0xFF && b[at + 1] == 0xFF) {
            word();
            *ordinal = word();
            return u"";
        }
        return string();
    }
    void alignDword() { at = (at + 3) & ~size_t(3); }
};

BOOL CALLBACK noteLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR out)
{
    reinterpret_cast<std::vector<WORD>*>(out)->push_back(language);
    return TRUE;
}

std::vector<WORD> languagesOf(LPCSTR type, LPCSTR name)
{
    std::vector<WORD> found;
    EnumResourceLanguagesA(updaterImage(), type, name, noteLanguage, reinterpret_cast<LONG_PTR>(&found));
    return found;
}

class UpdaterResources : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, updaterImage()) << "cannot load " << win32test::updaterPath()
                                           << " as data, error " << GetLastError();
    }
};

struct ControlRow {
    uint16_t classOrdinal;      // 0 when the class is given by name
    const char16_t* className;
    uint32_t id;
    const char16_t* text;
    uint32_t style, exStyle;
    int16_t x, y, cx, cy;
};

const ControlRow kControls[] = {
    {0x0080, u"", IDC_CANCEL_UPDATE, u"\u4E2D\u6B62", 0x50010000, 0, 110, 88, 51, 14},   // 中止
    {0x0082, u"", IDC_STATUS_TEXT, u"", 0x50020201, 0x00020000, 7, 7, 257, 14},
    {0, u"msctls_progress32", IDC_FILE_PROGRESS, u"", 0x50800001, 0, 7, 33, 257, 16},
    {0, u"msctls_progress32", IDC_TOTAL_PROGRESS, u"", 0x50800001, 0, 7, 59, 257, 16},
};

TEST_F(UpdaterResources, DialogTemplateIsTheExtendedTemplateOfTheTable)
{
    EXPECT_EQ(std::vector<WORD>{kJapanese}, languagesOf(RT_DIALOG, MAKEINTRESOURCEA(IDD_PROGRESS)));
    Bytes t = resourceBytes(updaterImage(), RT_DIALOG, MAKEINTRESOURCEA(IDD_PROGRESS), kJapanese);
    ASSERT_EQ(260u, t.size());

    Reader r(t);
    EXPECT_EQ(1, r.word());             // template version
    EXPECT_EQ(0xFFFF, r.word());        // extended template signature
    EXPECT_EQ(0u, r.dword());           // help identifier
    EXPECT_EQ(0u, r.dword());           // extended style
    uint32_t style = r.dword();
    EXPECT_EQ(0x80C000C0u, style);
    EXPECT_EQ(0u, style & (WS_SYSMENU | WS_VISIBLE));
    EXPECT_EQ(4, r.word());             // controls
    EXPECT_EQ(0, r.shortValue());
    EXPECT_EQ(0, r.shortValue());
    EXPECT_EQ(271, r.shortValue());
    EXPECT_EQ(109, r.shortValue());
    EXPECT_EQ(0, r.word());             // no menu
    EXPECT_EQ(0, r.word());             // standard dialog class
    EXPECT_EQ(u"", r.string());         // no title
    EXPECT_EQ(9, r.word());             // points
    EXPECT_EQ(400, r.word());           // weight
    EXPECT_EQ(0u, r.take(1));           // italic
    EXPECT_EQ(128u, r.take(1));         // SHIFTJIS_CHARSET
    EXPECT_EQ(u"MS UI Gothic", r.string());

    for (const ControlRow& c : kControls) {
        SCOPED_TRACE(c.id);
        r.alignDword();
        EXPECT_EQ(0u, r.dword());       // help identifier
        EXPECT_EQ(c.exStyle, r.dword());
        EXPECT_EQ(c.style, r.dword());
        EXPECT_EQ(c.x, r.shortValue());
        EXPECT_EQ(c.y, r.shortValue());
        EXPECT_EQ(c.cx, r.shortValue());
        EXPECT_EQ(c.cy, r.shortValue());
        EXPECT_EQ(c.id, r.dword());
        uint16_t ordinal = 0;
        EXPECT_EQ(std::u16string(c.className), r.stringOrOrdinal(&ordinal));
        EXPECT_EQ(c.classOrdinal, ordinal);
        uint16_t textOrdinal = 0;
        EXPECT_EQ(std::u16string(c.text), r.stringOrOrdinal(&textOrdinal));
        EXPECT_EQ(0, textOrdinal);
        EXPECT_EQ(0, r.word());         // no creation data
    }
    EXPECT_FALSE(r.failed);
    EXPECT_EQ(t.size(), r.at);
}

// Element names in document order with their attributes, from a manifest
// simple enough to scan: no comments, no CDATA, attribute values in quotes.
struct Element {
    std::string name;
    std::map<std::string, std::string> attributes;
};

std::vector<Element> elementsOf(const std::string& xml, std::string* trouble)
{
    std::vector<Element> out;
    size_t at = 0;
    while ((at = xml.find('<', at)) != std::string::npos) {
        size_t end = xml.find('>', at);
        if (end == std::string::npos) {
            *trouble = "unclosed tag";
            break;
        }
        std::string tag = xml.substr(at + 1, end - at - 1);
        at = end + 1;
        if (tag.empty() || tag[0] == '/' || tag[0] == '?')
            continue;
        if (tag[0] == '!') {
            *trouble = "comment or declaration: " + tag;
            continue;
        }
        if (tag.back() == '/')
            tag.pop_back();
        Element e;
        size_t p = tag.find_first_of(" \t\r\n");
        e.name = tag.substr(0, p);
        while (p != std::string::npos) {
            p = tag.find_first_not_of(" \t\r\n", p);
            if (p == std::string::npos)
                break;
            size_t eq = tag.find('=', p);
            size_t q1 = tag.find('"', eq);
            size_t q2 = tag.find('"', q1 + 1);
            if (eq == std::string::npos || q1 == std::string::npos || q2 == std::string::npos) {
                *trouble = "attribute not understood in <" + e.name + ">";
                break;
            }
            e.attributes[tag.substr(p, eq - p)] = tag.substr(q1 + 1, q2 - q1 - 1);
            p = q2 + 1;
        }
        out.push_back(e);
    }
    return out;
}

TEST_F(UpdaterResources, ManifestHoldsExactlyTheIdentityElevationAndSupportedSystems)
{
    Bytes m = resourceBytes(updaterImage(), RT_MANIFEST, MAKEINTRESOURCEA(1), kJapanese);
    ASSERT_FALSE(m.empty());
    // The manifest is the only one: a second would be a linker's default.
    EXPECT_EQ(std::vector<WORD>{kJapanese}, languagesOf(RT_MANIFEST, MAKEINTRESOURCEA(1)));
    std::string trouble;
    std::vector<Element> e = elementsOf(std::string(m.begin(), m.end()), &trouble);
    EXPECT_EQ("", trouble);

    typedef std::map<std::string, std::string> A;
    const std::vector<std::pair<std::string, A>> expected = {
        {"assembly", {{"xmlns", "urn:schemas-microsoft-com:asm.v1"}, {"manifestVersion", "1.0"}}},
        {"assemblyIdentity",
         {{"version", "1.0.0.0"}, {"processorArchitecture", "X86"}, {"name", "Setup"}, {"type", "win32"}}},
        {"trustInfo", {{"xmlns", "urn:schemas-microsoft-com:asm.v3"}}},
        {"security", {}},
        {"requestedPrivileges", {}},
        {"requestedExecutionLevel", {{"level", "requireAdministrator"}}},
        {"compatibility", {{"xmlns", "urn:schemas-microsoft-com:compatibility.v1"}}},
        {"application", {}},
        {"supportedOS", {{"Id", "{e2011457-1546-43c5-a5fe-008deee3d3f0}"}}},   // Vista
        {"supportedOS", {{"Id", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"}}},   // 7
        {"supportedOS", {{"Id", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"}}},   // 8
        {"supportedOS", {{"Id", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}"}}},   // 8.1
    };
    ASSERT_EQ(expected.size(), e.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(expected[i].first, e[i].name) << "element " << i;
        EXPECT_EQ(expected[i].second, e[i].attributes) << "element " << i << " " << e[i].name;
    }
}

TEST_F(UpdaterResources, IconGroupNamesIconsTheSystemCanMake)
{
    Bytes group = resourceBytes(updaterImage(), RT_GROUP_ICON, MAKEINTRESOURCEA(IDI_APPLICATION_ICON), kJapanese);
    ASSERT_GE(group.size(), 6u + 14u);
    Reader r(group);
    EXPECT_EQ(0, r.word());
    EXPECT_EQ(1, r.word());             // icons
    uint16_t count = r.word();
    ASSERT_GE(count, 1);
    ASSERT_EQ(6u + 14u * count, group.size());
    for (uint16_t i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        uint32_t width = r.take(1), height = r.take(1);
        r.take(2);                      // colours, reserved
        r.word();                       // planes
        EXPECT_EQ(32, r.word());        // bits per pixel
        uint32_t bytes = r.dword();
        uint16_t id = r.word();
        Bytes image = resourceBytes(updaterImage(), RT_ICON, MAKEINTRESOURCEA(id), kJapanese);
        ASSERT_EQ(bytes, image.size());
        HICON icon = CreateIconFromResourceEx(image.data(), static_cast<DWORD>(image.size()), TRUE, 0x00030000,
                                              static_cast<int>(width), static_cast<int>(height), 0);
        EXPECT_NE(nullptr, icon);
        if (icon != nullptr)
            DestroyIcon(icon);
    }
}

TEST_F(UpdaterResources, VersionBlockIsJapaneseWithFileVersion1000)
{
    EXPECT_EQ(std::vector<WORD>{kJapanese}, languagesOf(RT_VERSION, MAKEINTRESOURCEA(VS_VERSION_INFO)));
    Bytes v = resourceBytes(updaterImage(), RT_VERSION, MAKEINTRESOURCEA(VS_VERSION_INFO), kJapanese);
    ASSERT_GT(v.size(), 40u + sizeof(VS_FIXEDFILEINFO));
    // VS_VERSIONINFO: length, value length, type, L"VS_VERSION_INFO", padding, the fixed info.
    Reader r(v);
    EXPECT_EQ(v.size(), r.word());
    EXPECT_EQ(sizeof(VS_FIXEDFILEINFO), r.word());
    r.word();
    EXPECT_EQ(u"VS_VERSION_INFO", r.string());
    r.alignDword();
    VS_FIXEDFILEINFO fixed;
    ASSERT_LE(r.at + sizeof fixed, v.size());
    std::memcpy(&fixed, v.data() + r.at, sizeof fixed);
    EXPECT_EQ(0xFEEF04BDu, fixed.dwSignature);
    EXPECT_EQ(0x00010000u, fixed.dwFileVersionMS);   // 1.0
    EXPECT_EQ(0x00000000u, fixed.dwFileVersionLS);   // .0.0

    // The translation: Japanese, code page 932; the string table named for it.
    std::u16string all(v.size() / 2, u'\0');
    std::memcpy(&all[0], v.data(), all.size() * 2);
    EXPECT_NE(std::u16string::npos, all.find(u"041103a4"));
    size_t translation = all.find(u"Translation");
    ASSERT_NE(std::u16string::npos, translation);
    size_t value = (translation * 2 + sizeof(u"Translation") + 3) & ~size_t(3);
    ASSERT_LE(value + 4, v.size());
    EXPECT_EQ(0x0411, v[value] | v[value + 1] << 8);
    EXPECT_EQ(932, v[value + 2] | v[value + 3] << 8);
}

} // namespace
