#include "SettingsFile.h"

#include <algorithm>
#include <cwctype>
#include <iterator>
#include <new>

#include "IconFileCheck.h"
#include "JsonText.h"

namespace orvane {

namespace {

// Paths and class names hold 259 characters at most, as every place they go into does.
constexpr std::size_t LongestText = 259;

const struct {
    SettingKind Kind;
    const wchar_t* Name;
    const wchar_t* TargetMember;
} KindNames[] = {
    {SettingKind::Folder, L"folder", L"path"},
    {SettingKind::File, L"file", L"path"},
    {SettingKind::Type, L"type", L"extension"},
    {SettingKind::Drive, L"drive", L"drive"},
};

const wchar_t* TargetMemberOf(SettingKind kind)
{
    for (const auto& entry : KindNames) {
        if (entry.Kind == kind)
            return entry.TargetMember;
    }
    return L"path";
}

bool AppendMember(std::string& text, const char* name, std::wstring_view value)
{
    try {
        text += ", \"";
        text += name;
        text += "\": ";
    } catch (const std::bad_alloc&) {
        return false;
    }
    return AppendJsonString(text, value);
}

bool AppendSetting(std::string& text, const ExportedSetting& setting)
{
    text += "    {\"kind\": ";
    if (!AppendJsonString(text, SettingKindName(setting.Kind)))
        return false;
    if (!AppendMember(text, "scope", SettingScopeName(setting.Scope)))
        return false;
    std::string targetName;
    for (const wchar_t* c = TargetMemberOf(setting.Kind); *c != L'\0'; ++c)
        targetName += static_cast<char>(*c);
    if (!AppendMember(text, targetName.c_str(), setting.Target))
        return false;
    if (setting.Kind == SettingKind::Type && !AppendMember(text, "class", setting.TypeClass))
        return false;
    if (setting.Made) {
        text += ", \"made\": \"";
        if (!AppendBase64(text, setting.MadeIcon.data(), setting.MadeIcon.size()))
            return false;
        text += "\"}";
        return true;
    }
    if (!AppendMember(text, "icon", setting.IconPath))
        return false;
    text += ", \"index\": " + std::to_string(setting.Index) + "}";
    return true;
}

// A setting's member as text, with the reason when it is missing or of another type.
bool TextMember(const JsonValue& object, const wchar_t* name, std::wstring& out, std::wstring& reason)
{
    const JsonValue* member = object.Member(name);
    if (member == nullptr || member->Type != JsonType::String) {
        reason = std::wstring(L"has no \"") + name + L"\" text";
        return false;
    }
    if (member->Text.size() > LongestText || member->Text.find(L'\0') != std::wstring::npos) {
        reason = std::wstring(L"has a \"") + name + L"\" longer than 259 characters or holding a zero";
        return false;
    }
    out = member->Text;
    return true;
}

bool ReadSetting(const JsonValue& item, ExportedSetting& setting, std::wstring& reason)
{
    if (item.Type != JsonType::Object) {
        reason = L"is not an object";
        return false;
    }
    std::wstring word;
    if (!TextMember(item, L"kind", word, reason))
        return false;
    const auto kind = std::find_if(std::begin(KindNames), std::end(KindNames),
                                   [&word](const auto& entry) { return word == entry.Name; });
    if (kind == std::end(KindNames)) {
        reason = L"has a \"kind\" that is none of folder, file, type and drive";
        return false;
    }
    setting.Kind = kind->Kind;
    if (!TextMember(item, L"scope", word, reason))
        return false;
    if (word != SettingScopeName(SettingScope::ThisUser) && word != SettingScopeName(SettingScope::AllUsers)) {
        reason = L"has a \"scope\" that is neither this-user nor all-users";
        return false;
    }
    setting.Scope = word == SettingScopeName(SettingScope::ThisUser) ? SettingScope::ThisUser : SettingScope::AllUsers;
    if (!TextMember(item, kind->TargetMember, setting.Target, reason))
        return false;
    std::size_t known = 3;
    if (setting.Kind == SettingKind::Type) {
        if (!TextMember(item, L"class", setting.TypeClass, reason))
            return false;
        ++known;
    }
    if (const JsonValue* made = item.Member(L"made")) {
        if (made->Type != JsonType::String || !DecodeBase64(made->Text, setting.MadeIcon)) {
            reason = L"has a \"made\" icon that is not base64 text";
            return false;
        }
        setting.Made = true;
        ++known;
    } else {
        if (!TextMember(item, L"icon", setting.IconPath, reason))
            return false;
        const JsonValue* index = item.Member(L"index");
        if (index == nullptr || index->Type != JsonType::Number || index->Number < INT32_MIN ||
            index->Number > INT32_MAX) {
            reason = L"has no whole \"index\" of 32 bits";
            return false;
        }
        setting.Index = static_cast<std::int32_t>(index->Number);
        known += 2;
    }
    if (item.Members.size() != known) {
        reason = L"has a member this format does not know (or one beside \"made\" that a made icon does not take)";
        return false;
    }
    return true;
}

bool ReadDocument(const JsonValue& root, SettingsDocument& document, std::wstring& reason)
{
    if (root.Type != JsonType::Object) {
        reason = L"is not a settings file (its text is no JSON object)";
        return false;
    }
    const JsonValue* format = root.Member(L"format");
    std::wstring formatName;
    for (const char* c = SettingsFormatName; *c != '\0'; ++c)
        formatName += static_cast<wchar_t>(*c);
    if (format == nullptr || format->Type != JsonType::String || format->Text != formatName) {
        reason = L"is not a settings file of Orvane (its \"format\" is not \"" + formatName + L"\")";
        return false;
    }
    const JsonValue* version = root.Member(L"version");
    if (version == nullptr || version->Type != JsonType::Number) {
        reason = L"has no \"version\" number";
        return false;
    }
    if (version->Number != SettingsFormatVersion) {
        reason = L"is of version " + std::to_wstring(version->Number) + L", which this Orvane does not read (it reads " +
                 std::to_wstring(SettingsFormatVersion) + L")";
        return false;
    }
    const JsonValue* settings = root.Member(L"settings");
    if (settings == nullptr || settings->Type != JsonType::Array) {
        reason = L"has no \"settings\" list";
        return false;
    }
    if (root.Members.size() != 3) {
        reason = L"has a member this format does not know";
        return false;
    }
    document.Settings.resize(settings->Items.size());
    for (std::size_t i = 0; i < settings->Items.size(); ++i) {
        std::wstring problem;
        if (!ReadSetting(settings->Items[i], document.Settings[i], problem)) {
            reason = L"has a setting (number " + std::to_wstring(i + 1) + L") that " + problem;
            return false;
        }
    }
    return true;
}

bool IsPathSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool HoldsForbiddenCharacter(std::wstring_view text, std::wstring_view forbidden)
{
    for (const wchar_t c : text) {
        if (c < 0x20 || forbidden.find(c) != std::wstring_view::npos)
            return true;
    }
    return false;
}

bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::towupper(a[i]) != std::towupper(b[i]))
            return false;
    }
    return true;
}

// Whether a path component names a device whatever follows it: "CON", "nul.txt",
// "COM1 ", as the platform reads them.
bool NamesDevice(std::wstring_view component)
{
    const std::size_t dot = component.find(L'.');
    std::wstring_view stem = component.substr(0, dot);
    while (!stem.empty() && stem.back() == L' ')
        stem.remove_suffix(1);
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
        if (EqualsIgnoringCase(stem, device))
            return true;
    }
    if (stem.size() == 4 && (EqualsIgnoringCase(stem.substr(0, 3), L"COM") || EqualsIgnoringCase(stem.substr(0, 3), L"LPT")))
        return stem[3] >= L'0' && stem[3] <= L'9';
    return false;
}

// Whether any component of the path is "." or "..".
bool ClimbsOrStays(std::wstring_view path)
{
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = start;
        while (end < path.size() && !IsPathSeparator(path[end]))
            ++end;
        const std::wstring_view component = path.substr(start, end - start);
        if (component == L"." || component == L"..")
            return true;
        start = end + 1;
    }
    return false;
}

bool IsDevicePath(std::wstring_view path)
{
    return path.size() >= 4 && IsPathSeparator(path[0]) && IsPathSeparator(path[1]) &&
           (path[2] == L'.' || path[2] == L'?') && IsPathSeparator(path[3]);
}

bool IsDriveRoot(std::wstring_view text)
{
    return text.size() == 3 && std::iswalpha(text[0]) && text[0] < 0x80 && text[1] == L':' && text[2] == L'\\';
}

// A path that starts with an environment reference ("%USERPROFILE%\\Photos"): what
// follows the reference, as far as it can be checked before the reference is expanded
// for the importing user (the expanded path is checked again).
const wchar_t* ReferencedPathProblem(std::wstring_view path)
{
    const std::size_t end = path.find(L'%', 1);
    if (end == std::wstring_view::npos || end == 1 || path.size() > LongestText)
        return L"its path is not a full path on a drive letter";
    const std::wstring_view rest = path.substr(end + 1);
    if (!rest.empty() && !IsPathSeparator(rest[0]))
        return L"its path is not a full path on a drive letter";
    if (HoldsForbiddenCharacter(rest, L":*?\"<>|"))
        return L"its path holds a colon (a stream) or a character no path may hold";
    if (ClimbsOrStays(rest))
        return L"its path holds \".\" or \"..\"";
    return nullptr;
}

const wchar_t* ExtensionProblem(std::wstring_view extension)
{
    if (extension.size() < 2 || extension[0] != L'.')
        return L"its extension is not a dot and a name";
    if (HoldsForbiddenCharacter(extension.substr(1), L"\\/:*?\"<>|. "))
        return L"its extension holds a character no extension may hold";
    return nullptr;
}

// The shell's and COM's own keys in the classes, which no type's icon is.
const wchar_t* const ShellClassKeys[] = {
    L"*",          L"CLSID",   L"Interface",           L"TypeLib",   L"AppID",
    L"Directory",  L"Drive",   L"Folder",              L"AllFilesystemObjects",
    L"Applications", L"SystemFileAssociations", L"Installer", L"Wow6432Node", L"Unknown",
    L"DesktopBackground", L"Network", L"NetShare", L"NetServer", L"Printers", L"MIME",
};

const wchar_t* ClassProblem(std::wstring_view typeClass)
{
    if (typeClass.empty())
        return L"its class has no name";
    if (typeClass.size() > 255)
        return L"its class name is longer than a registry key's";
    if (typeClass.find(L'\\') != std::wstring_view::npos || typeClass.find(L'/') != std::wstring_view::npos)
        return L"its class names a registry place outside a file type's class";
    if (HoldsForbiddenCharacter(typeClass, L""))
        return L"its class name holds a control character";
    if (typeClass[0] == L'.')
        return L"its class is an extension's key, not a file type's class";
    for (const wchar_t* key : ShellClassKeys) {
        if (EqualsIgnoringCase(typeClass, key))
            return L"its class is one of the shell's own keys, not a file type's";
    }
    return nullptr;
}

const wchar_t* MadeIconProblem(const std::vector<std::uint8_t>& bytes)
{
    if (!ReadsAsIconFile(bytes.data(), bytes.size()) || !IconDirectoryFits(bytes.data(), bytes.size(), bytes.size()))
        return L"its made icon is not a sound icon file";
    return nullptr;
}

} // namespace

const wchar_t* SettingKindName(SettingKind kind)
{
    for (const auto& entry : KindNames) {
        if (entry.Kind == kind)
            return entry.Name;
    }
    return L"folder";
}

const wchar_t* SettingScopeName(SettingScope scope) { return scope == SettingScope::ThisUser ? L"this-user" : L"all-users"; }

bool WriteSettingsText(const SettingsDocument& document, std::string& text) noexcept
{
    try {
        text = "{\n  \"format\": \"";
        text += SettingsFormatName;
        text += "\",\n  \"version\": " + std::to_string(SettingsFormatVersion) + ",\n  \"settings\": [";
        for (std::size_t i = 0; i < document.Settings.size(); ++i) {
            text += i == 0 ? "\n" : ",\n";
            if (!AppendSetting(text, document.Settings[i]))
                return false;
        }
        text += document.Settings.empty() ? "]\n}\n" : "\n  ]\n}\n";
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool ReadSettingsText(const unsigned char* data, std::size_t size, SettingsDocument& document,
                      std::wstring& reason) noexcept
{
    try {
        document.Settings.clear();
        if (size > SettingsFileLimit) {
            reason = L"is larger than 64 MiB, more than a settings file holds";
            return false;
        }
        JsonValue root;
        std::wstring problem;
        std::size_t offset = 0;
        if (!ParseJson(data, size, root, problem, offset)) {
            reason = L"is not JSON text: " + problem + L" (at byte " + std::to_wstring(offset) + L")";
            return false;
        }
        if (!ReadDocument(root, document, reason)) {
            document.Settings.clear();
            return false;
        }
        return true;
    } catch (const std::bad_alloc&) {
        document.Settings.clear();
        reason = L"could not be read: memory ran out";
        return false;
    }
}

const wchar_t* TargetPathProblem(std::wstring_view path)
{
    if (path.empty())
        return L"its path is empty";
    if (path.size() > LongestText)
        return L"its path is longer than 259 characters";
    if (IsDevicePath(path))
        return L"its path is a device path (\\\\.\\ or \\\\?\\)";
    if (IsPathSeparator(path[0]) && path.size() > 1 && IsPathSeparator(path[1]))
        return L"its path is a network (UNC) path, not one on a drive";
    if (path.size() < 3 || !std::iswalpha(path[0]) || path[0] >= 0x80 || path[1] != L':' || !IsPathSeparator(path[2]))
        return L"its path is not a full path on a drive letter";
    if (HoldsForbiddenCharacter(path.substr(2), L":*?\"<>|"))
        return L"its path holds a colon (a stream) or a character no path may hold";
    if (ClimbsOrStays(path))
        return L"its path holds \".\" or \"..\"";
    std::size_t start = 3;
    while (start < path.size()) {
        std::size_t end = start;
        while (end < path.size() && !IsPathSeparator(path[end]))
            ++end;
        if (NamesDevice(path.substr(start, end - start)))
            return L"its path names a device (CON, NUL, COM1...)";
        start = end + 1;
    }
    return nullptr;
}

const wchar_t* SourcePathProblem(std::wstring_view path)
{
    if (path.empty())
        return L"its icon source is empty";
    if (path.size() > LongestText)
        return L"its icon source is longer than 259 characters";
    if (IsDevicePath(path))
        return L"its icon source is a device path (\\\\.\\ or \\\\?\\)";
    if (HoldsForbiddenCharacter(path, L"*?\"<>|"))
        return L"its icon source holds a character no path may hold";
    if (ClimbsOrStays(path))
        return L"its icon source holds \".\" or \"..\"";
    return nullptr;
}

const wchar_t* SettingProblem(const ExportedSetting& setting)
{
    const wchar_t* problem = nullptr;
    switch (setting.Kind) {
    case SettingKind::Folder:
    case SettingKind::File:
        problem = setting.Target.size() > 2 && setting.Target[0] == L'%' ? ReferencedPathProblem(setting.Target)
                                                                          : TargetPathProblem(setting.Target);
        break;
    case SettingKind::Type:
        problem = ExtensionProblem(setting.Target);
        if (problem == nullptr)
            problem = ClassProblem(setting.TypeClass);
        break;
    case SettingKind::Drive:
        if (!IsDriveRoot(setting.Target))
            problem = L"its drive is not a letter's root (\"D:\\\")";
        break;
    }
    if (problem != nullptr)
        return problem;
    return setting.Made ? MadeIconProblem(setting.MadeIcon) : SourcePathProblem(setting.IconPath);
}

} // namespace orvane
