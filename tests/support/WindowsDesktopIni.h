// Desktop.ini files as Windows itself writes them, byte for byte, for the tests of every
// part that reads or writes a folder's icon. Explorer writes ".ShellClassInfo" in UTF-16 LE
// with a byte order mark for the folders Windows sets up, and in the ANSI code page
// from its Customize tab and in Windows XP.
#pragma once

#include <string>
#include <vector>

namespace orvane::test {

struct WindowsDesktopIni {
    const char* Name;
    std::string Text;  // the lines, in ASCII
    bool Utf16;        // written as UTF-16 LE with a byte order mark
    // What Windows shows as the folder's icon: the text of the location, "path,index".
    std::string Icon;
};

// A Documents folder of Windows 10: IconResource with an environment reference and a
// resource id, IconFile/IconIndex for older readers, and its localized name.
inline const WindowsDesktopIni DocumentsIni{
    "documents",
    "\r\n[.ShellClassInfo]\r\n"
    "LocalizedResourceName=@%SystemRoot%\\system32\\shell32.dll,-21770\r\n"
    "IconResource=%SystemRoot%\\system32\\imageres.dll,-112\r\n"
    "IconFile=%SystemRoot%\\system32\\shell32.dll\r\n"
    "IconIndex=-235\r\n",
    true, "%SystemRoot%\\system32\\imageres.dll,-112"};

// The Customize tab of Windows 10 after "Change Icon...": IconResource only, with the
// view state it writes beside it.
inline const WindowsDesktopIni CustomizeTabIni{
    "customized",
    "[.ShellClassInfo]\r\n"
    "IconResource=C:\\WINDOWS\\System32\\SHELL32.dll,3\r\n"
    "[ViewState]\r\nMode=\r\nVid=\r\nFolderType=Generic\r\n",
    false, "C:\\WINDOWS\\System32\\SHELL32.dll,3"};

// The Customize tab of Windows XP: IconFile/IconIndex only, beside a tooltip entry and a
// section of its own.
inline const WindowsDesktopIni WindowsXpIni{
    "xp",
    "[.ShellClassInfo]\r\n"
    "IconFile=%SystemRoot%\\system32\\SHELL32.dll\r\n"
    "IconIndex=41\r\n"
    "InfoTip=Letters and invoices\r\n"
    "[DeleteOnCopy]\r\nOwner=Alice\r\nPersonalized=5\r\nPersonalizedName=Letters\r\n",
    false, "%SystemRoot%\\system32\\SHELL32.dll,41"};

// An IconResource without an index, which names no location: IconFile/IconIndex stand.
inline const WindowsDesktopIni UnparsedResourceIni{
    "unparsed",
    "[.ShellClassInfo]\r\n"
    "IconResource=%SystemRoot%\\system32\\imageres.dll\r\n"
    "IconFile=%SystemRoot%\\system32\\shell32.dll\r\n"
    "IconIndex=4\r\n",
    false, "%SystemRoot%\\system32\\shell32.dll,4"};

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

} // namespace orvane::test
