// Desktop.ini files as Windows itself writes them, byte for byte, for the tests of every
// part that reads or writes a folder's icon. Explorer writes ".ShellClassInfo" in UTF-16 LE
// with a byte order mark for the folders Windows sets up, and in the ANSI code page
// from its Customize tab and in Windows XP.
#pragma once

#include <windows.h>

#include <iterator>
#include <string>
#include <vector>

namespace orvane::test {

struct WindowsDesktopIni {
    const wchar_t* Name; // also the name of the folder that holds it
    std::string Text;    // the lines, in ASCII
    bool Utf16;          // written as UTF-16 LE with a byte order mark
    // What Windows shows as the folder's icon: the text of the location, "path,index".
    std::wstring Icon;
};

// A Documents folder of Windows 10: IconResource with an environment reference and a
// resource id, IconFile/IconIndex for older readers, and its localized name.
inline const WindowsDesktopIni DocumentsIni{
    L"documents",
    "\r\n[.ShellClassInfo]\r\n"
    "LocalizedResourceName=@%SystemRoot%\\system32\\shell32.dll,-21770\r\n"
    "IconResource=%SystemRoot%\\system32\\imageres.dll,-112\r\n"
    "IconFile=%SystemRoot%\\system32\\shell32.dll\r\n"
    "IconIndex=-235\r\n",
    true, L"%SystemRoot%\\system32\\imageres.dll,-112"};

// The Customize tab of Windows 10 after "Change Icon...": IconResource only, with the
// view state it writes beside it.
inline const WindowsDesktopIni CustomizeTabIni{
    L"customized",
    "[.ShellClassInfo]\r\n"
    "IconResource=C:\\WINDOWS\\System32\\SHELL32.dll,3\r\n"
    "[ViewState]\r\nMode=\r\nVid=\r\nFolderType=Generic\r\n",
    false, L"C:\\WINDOWS\\System32\\SHELL32.dll,3"};

// The Customize tab of Windows XP: IconFile/IconIndex only, beside a tooltip entry and a
// section of its own.
inline const WindowsDesktopIni WindowsXpIni{
    L"xp",
    "[.ShellClassInfo]\r\n"
    "IconFile=%SystemRoot%\\system32\\SHELL32.dll\r\n"
    "IconIndex=41\r\n"
    "InfoTip=Letters and invoices\r\n"
    "[DeleteOnCopy]\r\nOwner=Alice\r\nPersonalized=5\r\nPersonalizedName=Letters\r\n",
    false, L"%SystemRoot%\\system32\\SHELL32.dll,41"};

// An IconResource without an index, which names no location: IconFile/IconIndex stand.
inline const WindowsDesktopIni UnparsedResourceIni{
    L"unparsed",
    "[.ShellClassInfo]\r\n"
    "IconResource=%SystemRoot%\\system32\\imageres.dll\r\n"
    "IconFile=%SystemRoot%\\system32\\shell32.dll\r\n"
    "IconIndex=4\r\n",
    false, L"%SystemRoot%\\system32\\shell32.dll,4"};

inline const WindowsDesktopIni* const WindowsDesktopInis[] = {&DocumentsIni, &CustomizeTabIni, &WindowsXpIni,
                                                               &UnparsedResourceIni};

// The file's bytes: the text as it is, or widened to UTF-16 LE after a byte order mark.
inline std::string DesktopIniBytes(const std::string& text, bool utf16)
{
    if (!utf16)
        return text;
    std::string bytes = "\xFF\xFE";
    for (char c : text) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

// The lines of a file's bytes (UTF-16 LE with a byte order mark narrowed back to ASCII;
// *utf16 tells which it was), without their line ends; a first empty line is kept.
inline std::vector<std::string> DesktopIniLines(const std::string& bytes, bool* utf16 = nullptr)
{
    std::string text;
    const bool wide = bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE';
    if (wide) {
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += bytes[i + 1] == '\0' ? bytes[i] : '?';
    } else {
        text = bytes;
    }
    if (utf16 != nullptr)
        *utf16 = wide;
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

inline bool IsIconEntry(const std::string& line)
{
    for (const char* entry : {"IconFile=", "IconIndex=", "IconResource="})
        if (line.rfind(entry, 0) == 0)
            return true;
    return false;
}

// The sections and entries that are not one of the three icon entries, in their order.
// Empty lines are no entries: Wine's profile writer drops them when it saves the file.
inline std::vector<std::string> OtherEntries(const std::vector<std::string>& lines)
{
    std::vector<std::string> other;
    for (const std::string& line : lines)
        if (!line.empty() && !IsIconEntry(line))
            other.push_back(line);
    return other;
}

// Writes the file into the folder as Windows leaves it: Desktop.ini hidden and system,
// the folder read-only (which Explorer sets to make it read the file).
inline void PlaceDesktopIni(const std::wstring& folder, const WindowsDesktopIni& ini)
{
    const std::wstring desktopIni = folder + L"\\Desktop.ini";
    const std::string bytes = DesktopIniBytes(ini.Text, ini.Utf16);
    HANDLE file = CreateFileW(desktopIni.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }
    SetFileAttributesW(desktopIni.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_READONLY);
}

// IconFile, IconIndex and IconResource of the folder's Desktop.ini as the platform reads
// them, as one text "file|index|resource".
inline std::wstring IconEntries(const std::wstring& folder)
{
    const std::wstring desktopIni = folder + L"\\Desktop.ini";
    std::wstring text;
    const wchar_t* separator = L"";
    for (const wchar_t* entry : {L"IconFile", L"IconIndex", L"IconResource"}) {
        wchar_t value[600] = {};
        GetPrivateProfileStringW(L".ShellClassInfo", entry, L"", value, static_cast<DWORD>(std::size(value)),
                                 desktopIni.c_str());
        text = text + separator + value;
        separator = L"|";
    }
    return text;
}

// What IconEntries gives when all three entries name the location "path,index".
inline std::wstring EntriesNaming(const std::wstring& location)
{
    const std::size_t comma = location.rfind(L',');
    return location.substr(0, comma) + L"|" + location.substr(comma + 1) + L"|" + location;
}

} // namespace orvane::test
