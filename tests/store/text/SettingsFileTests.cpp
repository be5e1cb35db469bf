#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "JsonText.h"
#include "SettingsFile.h"

using namespace orvane;

namespace {

// A sound icon file: one 16x16 image of 8 bytes right behind the directory.
std::vector<std::uint8_t> SmallIcon()
{
    return {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0, 8, 0, 0, 0, 22, 0, 0, 0,
            0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
}

bool Read(const std::string& text, SettingsDocument& document, std::wstring& reason)
{
    return ReadSettingsText(reinterpret_cast<const unsigned char*>(text.data()), text.size(), document, reason);
}

std::string Wrap(const std::string& settings)
{
    return "{\"format\": \"orvane-settings\", \"version\": 1, \"settings\": [" + settings + "]}";
}

} // namespace

// Every kind, both scopes, made icons and texts that need escapes or lie outside the
// basic plane (a lone surrogate included, as a Windows name may hold one) come back as
// they went out.
TEST(SettingsFile, WrittenDocumentsReadBackTheSame)
{
    SettingsDocument document;
    document.Settings.push_back({SettingKind::Folder, SettingScope::ThisUser, L"C:\\Fo\u00f6 \"q\"\\\U0001F4F7\\\xD800x",
                                 L"", L"%SystemRoot%\\system32\\shell32.dll", -12, false, {}});
    document.Settings.push_back({SettingKind::File, SettingScope::AllUsers, L"D:\\a\tb.txt", L"", L"C:\\i.ico",
                                 2147483647, false, {}});
    document.Settings.push_back({SettingKind::Type, SettingScope::ThisUser, L".log", L"txtfile", L"", 0, true, SmallIcon()});
    document.Settings.push_back({SettingKind::Drive, SettingScope::AllUsers, L"E:\\", L"", L"C:\\d.ico", -2147483647 - 1,
                                 false, {}});
    std::string text;
    ASSERT_TRUE(WriteSettingsText(document, text));
    SettingsDocument again;
    std::wstring reason;
    ASSERT_TRUE(Read(text, again, reason)) << reason;
    ASSERT_EQ(document.Settings.size(), again.Settings.size());
    for (std::size_t i = 0; i < document.Settings.size(); ++i) {
        const ExportedSetting& a = document.Settings[i];
        const ExportedSetting& b = again.Settings[i];
        EXPECT_EQ(a.Kind, b.Kind) << i;
        EXPECT_EQ(a.Scope, b.Scope) << i;
        EXPECT_EQ(a.Target, b.Target) << i;
        EXPECT_EQ(a.TypeClass, b.TypeClass) << i;
        EXPECT_EQ(a.IconPath, b.IconPath) << i;
        EXPECT_EQ(a.Index, b.Index) << i;
        EXPECT_EQ(a.Made, b.Made) << i;
        EXPECT_EQ(a.MadeIcon, b.MadeIcon) << i;
    }
    // The file is UTF-8 as a person's editor reads it: no escape where none is needed.
    EXPECT_NE(std::string::npos, text.find("Fo\xc3\xb6 \\\"q\\\"\\\\\xf0\x9f\x93\xb7\\\\\\ud800x"));
}

TEST(SettingsFile, TextsThatAreNotSettingsFilesAreRefusedWithTheirReason)
{
    const std::string folder =
        "{\"kind\": \"folder\", \"scope\": \"this-user\", \"path\": \"C:\\\\A\", \"icon\": \"C:\\\\i.ico\", \"index\": 1}";
    struct Case {
        std::string Text;
        const wchar_t* Reason;
    };
    const Case cases[] = {
        {"", L"the text ends where a value should be"},
        {Wrap(folder).substr(0, 70), L"cut short"},
        {Wrap(folder) + "x", L"text follows the value"},
        {Wrap(folder + ","), L"is not JSON"},
        {"{\"format\": \"orvane-settings\", \"version\": 2, \"settings\": []}", L"of version 2"},
        {"{\"format\": \"other\", \"version\": 1, \"settings\": []}", L"is not a settings file of Orvane"},
        {"{\"format\": \"orvane-settings\", \"version\": 1, \"settings\": [], \"extra\": 0}", L"does not know"},
        {"{\"format\": \"orvane-settings\", \"format\": \"x\", \"version\": 1, \"settings\": []}", L"names a member twice"},
        {"[]", L"is no JSON object"},
        {std::string(40, '[') + std::string(40, ']'), L"nested too deep"},
        {Wrap(folder.substr(0, folder.size() - 1) + ", \"key\": \"HKLM\\\\Run\"}"), L"does not know"},
        {Wrap("{\"kind\": \"registry\", \"scope\": \"this-user\"}"), L"\"kind\""},
        {Wrap("{\"kind\": \"folder\", \"scope\": \"everyone\", \"path\": \"C:\\\\A\", \"icon\": \"i\", \"index\": 0}"),
         L"\"scope\""},
        {Wrap("{\"kind\": \"folder\", \"scope\": \"this-user\", \"path\": \"C:\\\\A\", \"icon\": \"i\", \"index\": 1.5}"),
         L"whole number"},
        {Wrap("{\"kind\": \"folder\", \"scope\": \"this-user\", \"path\": \"C:\\\\A\", \"icon\": \"i\", \"index\": "
              "4294967296}"),
         L"32 bits"},
        {Wrap("{\"kind\": \"folder\", \"scope\": \"this-user\", \"path\": \"C:\\\\A\", \"made\": \"AAA\"}"), L"base64"},
        {Wrap("{\"kind\": \"folder\", \"scope\": \"this-user\", \"path\": \"C:\\\\A\\u0000B\", \"icon\": \"i\", "
              "\"index\": 0}"),
         L"holding a zero"},
        {Wrap("{\"kind\": \"folder\", \"scope\": \"this-user\", \"path\": \"C:\\\\\xc0\xaf\", \"icon\": \"i\", "
              "\"index\": 0}"),
         L"not UTF-8"},
        {Wrap("{\"kind\": \"folder\", \"scope\": \"this-user\", \"path\": \"C:\\\\\xed\xa0\x80\", \"icon\": \"i\", "
              "\"index\": 0}"),
         L"not UTF-8"},
    };
    for (const Case& c : cases) {
        SettingsDocument document;
        std::wstring reason;
        EXPECT_FALSE(Read(c.Text, document, reason)) << c.Text;
        EXPECT_NE(std::wstring::npos, reason.find(c.Reason)) << c.Text << " gave: " << std::string(reason.begin(), reason.end());
        EXPECT_TRUE(document.Settings.empty()) << c.Text;
    }
}

TEST(SettingsFile, SettingsThatPointOutsideTheirPlaceHaveAProblem)
{
    std::vector<std::uint8_t> farImage = SmallIcon();
    farImage[18] = 0xFF; // the image's offset far beyond the file
    struct Case {
        SettingKind Kind;
        std::wstring Target;
        std::wstring Class;
        std::wstring Icon;
        bool Made;
        std::vector<std::uint8_t> Bytes;
        const wchar_t* Problem; // null: none
    };
    const Case cases[] = {
        {SettingKind::Folder, L"C:\\Photos", L"", L"C:\\i.ico", false, {}, nullptr},
        {SettingKind::Folder, L"C:\\Photos\\..\\Windows", L"", L"C:\\i.ico", false, {}, L"\"..\""},
        {SettingKind::Folder, L"%USERPROFILE%\\Photos", L"", L"C:\\i.ico", false, {}, nullptr},
        {SettingKind::Folder, L"%USERPROFILE%", L"", L"C:\\i.ico", false, {}, nullptr},
        {SettingKind::Folder, L"%USERPROFILE%\\..\\x", L"", L"C:\\i.ico", false, {}, L"\"..\""},
        {SettingKind::Folder, L"%USERPROFILE%x", L"", L"C:\\i.ico", false, {}, L"not a full path"},
        {SettingKind::Folder, L"%USERPROFILE\\x", L"", L"C:\\i.ico", false, {}, L"not a full path"},
        {SettingKind::File, L"%USERPROFILE%\\a.txt:s", L"", L"C:\\i.ico", false, {}, L"colon"},
        {SettingKind::Folder, L"C:\\Photos\\.", L"", L"C:\\i.ico", false, {}, L"\"..\""},
        {SettingKind::Folder, L"\\\\server\\share\\x", L"", L"C:\\i.ico", false, {}, L"UNC"},
        {SettingKind::Folder, L"\\\\.\\PhysicalDrive0", L"", L"C:\\i.ico", false, {}, L"device path"},
        {SettingKind::Folder, L"\\\\?\\C:\\x", L"", L"C:\\i.ico", false, {}, L"device path"},
        {SettingKind::File, L"C:\\x\\NUL.txt", L"", L"C:\\i.ico", false, {}, L"names a device"},
        {SettingKind::File, L"C:\\x\\com1", L"", L"C:\\i.ico", false, {}, L"names a device"},
        {SettingKind::File, L"C:\\x\\a.txt:stream", L"", L"C:\\i.ico", false, {}, L"colon"},
        {SettingKind::File, L"Photos\\a.txt", L"", L"C:\\i.ico", false, {}, L"not a full path"},
        {SettingKind::File, L"", L"", L"C:\\i.ico", false, {}, L"empty"},
        {SettingKind::File, L"C:\\" + std::wstring(300, L'a'), L"", L"C:\\i.ico", false, {}, L"longer"},
        {SettingKind::Folder, L"C:\\Photos", L"", L"C:\\Icons\\..\\..\\x.dll", false, {}, L"\"..\""},
        {SettingKind::Folder, L"C:\\Photos", L"", L"\\\\.\\pipe\\x", false, {}, L"device path"},
        {SettingKind::Folder, L"C:\\Photos", L"", L"\\\\server\\icons\\a.ico", false, {}, nullptr},
        {SettingKind::Folder, L"C:\\Photos", L"", L"", true, SmallIcon(), nullptr},
        {SettingKind::Folder, L"C:\\Photos", L"", L"", true, farImage, L"not a sound icon file"},
        {SettingKind::Folder, L"C:\\Photos", L"", L"", true, {'M', 'Z', 1, 0, 1, 0}, L"not a sound icon file"},
        {SettingKind::Folder, L"C:\\Photos", L"", L"", true, {}, L"not a sound icon file"},
        {SettingKind::Type, L".log", L"txtfile", L"C:\\i.ico", false, {}, nullptr},
        {SettingKind::Type, L".log", L"..\\..\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"C:\\i.ico", false,
         {}, L"outside"},
        {SettingKind::Type, L".log", L"CLSID", L"C:\\i.ico", false, {}, L"shell's own"},
        {SettingKind::Type, L".log", L"*", L"C:\\i.ico", false, {}, L"shell's own"},
        {SettingKind::Type, L".log", L".txt", L"C:\\i.ico", false, {}, L"extension's key"},
        {SettingKind::Type, L".log", L"", L"C:\\i.ico", false, {}, L"no name"},
        {SettingKind::Type, L".lo\\g", L"txtfile", L"C:\\i.ico", false, {}, L"extension holds"},
        {SettingKind::Type, L"log", L"txtfile", L"C:\\i.ico", false, {}, L"not a dot"},
        {SettingKind::Drive, L"D:\\", L"", L"C:\\i.ico", false, {}, nullptr},
        {SettingKind::Drive, L"D:\\x", L"", L"C:\\i.ico", false, {}, L"root"},
        {SettingKind::Drive, L"\\\\server\\", L"", L"C:\\i.ico", false, {}, L"root"},
    };
    for (const Case& c : cases) {
        ExportedSetting setting;
        setting.Kind = c.Kind;
        setting.Target = c.Target;
        setting.TypeClass = c.Class;
        setting.IconPath = c.Icon;
        setting.Made = c.Made;
        setting.MadeIcon = c.Bytes;
        const wchar_t* problem = SettingProblem(setting);
        const std::string shown(c.Target.begin(), c.Target.end());
        if (c.Problem == nullptr) {
            EXPECT_EQ(nullptr, problem) << shown;
        } else {
            ASSERT_NE(nullptr, problem) << shown;
            EXPECT_NE(nullptr, std::wcsstr(problem, c.Problem)) << shown;
        }
    }
}

TEST(Base64, DecodesOnlyItsOwnStrictForm)
{
    struct Case {
        const wchar_t* Text;
        bool Decodes;
        std::vector<std::uint8_t> Bytes;
    };
    const Case cases[] = {
        {L"", true, {}},
        {L"TWFu", true, {'M', 'a', 'n'}},
        {L"TWE=", true, {'M', 'a'}},
        {L"TQ==", true, {'M'}},
        {L"TR==", false, {}},  // unused bits set
        {L"TWF", false, {}},   // not a multiple of four
        {L"TQ==TWFu", false, {}},
        {L"T=Fu", false, {}},
        {L"TW\nu", false, {}},
        {L"+/+/", true, {0xFB, 0xFF, 0xBF}},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> bytes;
        EXPECT_EQ(c.Decodes, DecodeBase64(c.Text, bytes)) << c.Text;
        if (c.Decodes) {
            EXPECT_EQ(c.Bytes, bytes);
            std::string again;
            ASSERT_TRUE(AppendBase64(again, bytes.data(), bytes.size()));
            EXPECT_EQ(std::wstring(c.Text), std::wstring(again.begin(), again.end()));
        }
    }
}
