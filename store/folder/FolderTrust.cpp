#include "FolderTrust.h"

#include <cwchar>
#include <iterator>
#include <string>
#include <string_view>

#include "DesktopIni.h"
#include "FolderIcons.h"
#include "IconLocation.h"
#include "PathText.h"
#include "DesktopIniEncoding.h"
#include "ShellPath.h"
#include "WholeFile.h"

namespace orvane {

namespace {

constexpr wchar_t ZoneStream[] = L":Zone.Identifier";
// Windows writes a few lines ("[ZoneTransfer]", "ZoneId=3", the addresses it came from);
// what lies beyond this many bytes is not read.
constexpr DWORD ZoneStreamReadLimit = 4096;
// URLZONE_INTERNET: the first zone that marks a file as from the web.
constexpr DWORD InternetZone = 3;

// The stream's path. Its name makes a full path of 259 characters longer than the
// platform's limit; such a path goes through the "\\?\" namespace, which has none.
std::wstring StreamPath(const wchar_t* path)
{
    std::wstring stream = std::wstring(path) + ZoneStream;
    if (stream.size() < MAX_PATH)
        return stream;
    if (path[0] == L'\\' && path[1] == L'\\')
        return L"\\\\?\\UNC\\" + stream.substr(2);
    return L"\\\\?\\" + stream;
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

bool SameLetters(std::string_view text, std::string_view lowercase)
{
    if (text.size() != lowercase.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
        if (c != lowercase[i])
            return false;
    }
    return true;
}

// "ZoneId" of the "[ZoneTransfer]" section, read as the profile functions read it: names
// in any case, blanks around them. Text in UTF-16 (with its byte-order mark) is read
// through its low bytes, which hold every character the section and number use.
std::optional<DWORD> ParseZoneId(const char* bytes, DWORD count)
{
    std::string text;
    if (count >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
        for (DWORD i = 2; i + 1 < count; i += 2)
            text.push_back(bytes[i + 1] == 0 ? bytes[i] : '?');
    } else {
        text.assign(bytes, count);
    }
    bool inSection = false;
    std::string_view rest = text;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = Trimmed(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (!line.empty() && line.front() == '[') {
            inSection = line.back() == ']' && SameLetters(Trimmed(line.substr(1, line.size() - 2)), "zonetransfer");
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inSection || equals == std::string_view::npos || !SameLetters(Trimmed(line.substr(0, equals)), "zoneid"))
            continue;
        const std::string_view number = Trimmed(line.substr(equals + 1));
        if (number.empty() || number.size() > 9)
            return std::nullopt;
        DWORD zone = 0;
        for (char c : number) {
            if (c < '0' || c > '9')
                return std::nullopt;
            zone = zone * 10 + static_cast<DWORD>(c - '0');
        }
        return zone;
    }
    return std::nullopt;
}

// A full path of a drive or a share; a bare name or a relative path is none.
bool IsFullPath(const wchar_t* path)
{
    return (path[0] == L'\\' && path[1] == L'\\') ||
           (((path[0] | 0x20) >= L'a' && (path[0] | 0x20) <= L'z') && path[1] == L':' && path[2] == L'\\');
}

} // namespace

const wchar_t* TrustFindingText(TrustFinding finding)
{
    switch (finding) {
    case TrustFinding::DesktopIniMarked:
        return L"its Desktop.ini carries the mark of the web (it came from a download or a downloaded archive), "
               L"and Windows does not show a folder icon from such a Desktop.ini";
    case TrustFinding::FolderOnNetwork: return L"it is on a network share, where Windows may ignore Desktop.ini";
    case TrustFinding::FolderOnRemovable: return L"it is on a removable drive, where Windows may ignore Desktop.ini";
    case TrustFinding::SourceMarked:
        return L"the icon source carries the mark of the web (it came from a download), and Windows may refuse "
               L"to show icons from it";
    case TrustFinding::SourceOnNetwork:
        return L"the icon source is on a network share: the icon is gone whenever the share cannot be reached";
    }
    return L"";
}

std::optional<DWORD> ReadZoneId(const wchar_t* path)
{
    if (path == nullptr || path[0] == L'\0')
        return std::nullopt;
    FileHandle stream(CreateFileW(StreamPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!stream.Valid())
        return std::nullopt;
    char bytes[ZoneStreamReadLimit];
    DWORD read = 0;
    if (!ReadFile(stream.Value, bytes, sizeof bytes, &read, nullptr))
        return std::nullopt;
    return ParseZoneId(bytes, read);
}

bool CarriesMarkOfTheWeb(const wchar_t* path)
{
    const std::optional<DWORD> zone = ReadZoneId(path);
    return zone && *zone >= InternetZone;
}

TrustFindings CheckFolderIconTrust(const wchar_t* folder, const wchar_t* iconSource)
{
    TrustFindings findings;
    wchar_t desktopIni[TextCapacity];
    if (FormatDesktopIniPath(folder, desktopIni) && CarriesMarkOfTheWeb(desktopIni))
        findings.Add(TrustFinding::DesktopIniMarked);
    const PlaceKind place = PlaceOf(folder);
    if (place == PlaceKind::Network)
        findings.Add(TrustFinding::FolderOnNetwork);
    else if (place == PlaceKind::Removable)
        findings.Add(TrustFinding::FolderOnRemovable);

    wchar_t source[TextCapacity] = {};
    if (iconSource == nullptr || iconSource[0] == L'\0')
        return findings;
    const DWORD expanded = ExpandEnvironmentStringsW(iconSource, source, static_cast<DWORD>(std::size(source)));
    if (expanded == 0 || expanded > std::size(source) || !IsFullPath(source))
        return findings;
    if (CarriesMarkOfTheWeb(source))
        findings.Add(TrustFinding::SourceMarked);
    if (PlaceOf(source) == PlaceKind::Network)
        findings.Add(TrustFinding::SourceOnNetwork);
    return findings;
}

LONG RemoveDesktopIniMark(const wchar_t* folder)
{
    wchar_t desktopIni[TextCapacity];
    if (!FormatDesktopIniPath(folder, desktopIni))
        return desktop_ini::IsEmpty(folder) ? ERROR_INVALID_PARAMETER : ERROR_FILENAME_EXCED_RANGE;
    // Through a link the mark of another file would go.
    const LONG check = desktop_ini::CheckDesktopIni(folder, desktopIni);
    if (check != ERROR_SUCCESS)
        return check;
    const DWORD attributes = GetFileAttributesW(desktopIni);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return LastErrorOr(ERROR_FILE_NOT_FOUND);
    // A read-only file's streams cannot be deleted; the attribute goes back afterwards.
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly && !SetFileAttributesW(desktopIni, attributes & ~FILE_ATTRIBUTE_READONLY))
        return LastErrorOr(ERROR_ACCESS_DENIED);
    LONG status = ERROR_SUCCESS;
    if (!DeleteFileW(StreamPath(desktopIni).c_str())) {
        status = LastErrorOr(ERROR_ACCESS_DENIED);
        if (status == ERROR_FILE_NOT_FOUND)
            status = ERROR_SUCCESS;
    }
    if (readOnly)
        SetFileAttributesW(desktopIni, attributes);
    if (status == ERROR_SUCCESS && ReadZoneId(desktopIni))
        status = ERROR_ACCESS_DENIED;
    return status;
}

} // namespace orvane
