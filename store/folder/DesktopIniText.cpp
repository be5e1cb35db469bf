#include "DesktopIniText.h"

#include <cwchar>
#include <cwctype>
#include <iterator>
#include <vector>

namespace orvane::desktop_ini {

namespace {

constexpr unsigned char Utf16Mark[] = {0xFF, 0xFE};
constexpr wchar_t LineEnd[] = L"\r\n";

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// A character the profile functions of one Windows version or another may take as
// space or as the end of the file (Ctrl-Z): a text holding one is theirs to read.
bool IsDoubtful(wchar_t c)
{
    if (c == L'\t' || c == L'\r' || c == L'\n')
        return false;
    return c < 0x20 || c == 0x7F || (c != L' ' && std::iswspace(c)) || c == 0xFEFF;
}

std::wstring_view Trimmed(std::wstring_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool SameName(std::wstring_view a, std::wstring_view b)
{
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

// One line of the text: where it starts, its length without its end, and its end's length.
struct Line {
    std::size_t Start = 0;
    std::size_t Length = 0;
    std::size_t EndLength = 0;
};

std::vector<Line> LinesOf(const std::wstring& text)
{
    std::vector<Line> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t newline = text.find(L'\n', at);
        Line line;
        line.Start = at;
        if (newline == std::wstring::npos) {
            line.Length = text.size() - at;
            at = text.size();
        } else {
            const bool carriage = newline > at && text[newline - 1] == L'\r';
            line.Length = newline - at - (carriage ? 1 : 0);
            line.EndLength = carriage ? 2 : 1;
            at = newline + 1;
        }
        lines.push_back(line);
    }
    return lines;
}

// The entry a line of the section holds: its name (empty for a line without "=").
struct KeyLine {
    std::wstring_view Name;
    std::wstring_view Value;
    bool HasValue = false;
};

KeyLine KeyOf(std::wstring_view line)
{
    KeyLine key;
    const std::size_t equals = line.find(L'=');
    if (equals == std::wstring_view::npos) {
        key.Name = Trimmed(line);
        return key;
    }
    key.Name = Trimmed(line.substr(0, equals));
    key.Value = Trimmed(line.substr(equals + 1));
    key.HasValue = true;
    return key;
}

// Where ".ShellClassInfo" and its entries stand among the lines.
struct SectionPlace {
    bool Found = false;
    std::size_t Header = 0;         // the section's line
    std::size_t End = 0;            // the line behind its last
    std::size_t LastFilled = 0;     // its last line that is not blank (the header if none)
    std::size_t Entry[3] = {};      // each of EntryNames' line, where Present
    bool Present[3] = {};
};

// False where the profile functions' reading is not certain: a header without its "]",
// or with text behind it; the section twice; one of its names twice, or without "=".
bool FindSection(const std::wstring& text, const std::vector<Line>& lines, SectionPlace& place)
{
    bool inside = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::wstring_view line = Trimmed(std::wstring_view(text).substr(lines[i].Start, lines[i].Length));
        if (!line.empty() && line.front() == L'[') {
            const std::size_t close = line.find(L']');
            if (close == std::wstring_view::npos || close + 1 != line.size())
                return false;
            const bool ours = SameName(Trimmed(line.substr(1, close - 1)), ShellClassInfo);
            if (ours && place.Found)
                return false;
            if (inside)
                place.End = i;
            inside = ours;
            if (ours) {
                place.Found = true;
                place.Header = i;
                place.LastFilled = i;
                place.End = lines.size();
            }
            continue;
        }
        if (!inside || line.empty())
            continue;
        place.LastFilled = i;
        const KeyLine key = KeyOf(line);
        for (std::size_t n = 0; n < std::size(EntryNames); ++n) {
            if (!SameName(key.Name, EntryNames[n]))
                continue;
            if (place.Present[n] || !key.HasValue)
                return false;
            place.Present[n] = true;
            place.Entry[n] = i;
        }
    }
    return true;
}

// The text in the ANSI code page; false when a character has no form there.
bool Narrowed(const std::wstring& text, std::string& out)
{
    out.clear();
    if (text.empty())
        return true;
    const UINT codePage = GetACP();
    // The UTF-8 code page takes neither the flag nor the report.
    const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* report = codePage == CP_UTF8 ? nullptr : &usedDefault;
    const int length = WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, report);
    if (length <= 0 || usedDefault)
        return false;
    out.resize(static_cast<std::size_t>(length));
    return WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()), out.data(), length,
                               nullptr, report) == length &&
           !usedDefault;
}

void AsUnicode(const std::wstring& text, std::string& bytes)
{
    bytes.assign(reinterpret_cast<const char*>(Utf16Mark), sizeof Utf16Mark);
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

bool HoldsLineBreak(const wchar_t* text) { return text != nullptr && std::wcspbrk(text, L"\r\n") != nullptr; }

// The entries in the order they are added: IconFile, IconIndex, IconResource, the order
// Windows before Vista and Wine expect to find the first two in.
constexpr std::size_t AddOrder[] = {1, 2, 0};

} // namespace

bool ParseDesktopIniBytes(const std::string& bytes, DesktopIniText& out)
{
    out = DesktopIniText();
    const auto* head = reinterpret_cast<const unsigned char*>(bytes.data());
    if (bytes.size() >= 2 && head[0] == 0xFF && head[1] == 0xFE) {
        if (bytes.size() % 2 != 0)
            return false;
        out.Unicode = true;
        out.Text.resize((bytes.size() - 2) / sizeof(wchar_t));
        std::copy(bytes.begin() + 2, bytes.end(), reinterpret_cast<char*>(out.Text.data()));
    } else {
        if ((bytes.size() >= 2 && head[0] == 0xFE && head[1] == 0xFF) ||
            (bytes.size() >= 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF))
            return false;
        if (!bytes.empty()) {
            const int units =
                MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
            if (units <= 0)
                return false;
            out.Text.resize(static_cast<std::size_t>(units));
            if (MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), out.Text.data(), units) !=
                units)
                return false;
            // Written back, every untouched line must be the bytes it was.
            std::string back;
            if (!Narrowed(out.Text, back) || back != bytes)
                return false;
        }
    }
    for (std::size_t i = 0; i < out.Text.size(); ++i) {
        const wchar_t c = out.Text[i];
        if (IsDoubtful(c) || (c == L'\r' && (i + 1 == out.Text.size() || out.Text[i + 1] != L'\n')))
            return false;
    }
    SectionPlace place;
    return FindSection(out.Text, LinesOf(out.Text), place);
}

IconEntries EntriesOfText(const DesktopIniText& text)
{
    IconEntries entries;
    const std::vector<Line> lines = LinesOf(text.Text);
    SectionPlace place;
    if (!FindSection(text.Text, lines, place))
        return entries;
    for (std::size_t n = 0; n < std::size(EntryNames); ++n) {
        if (!place.Present[n])
            continue;
        const Line& line = lines[place.Entry[n]];
        std::wstring_view value = KeyOf(std::wstring_view(text.Text).substr(line.Start, line.Length)).Value;
        if (value.size() > 1 && (value.front() == L'"' || value.front() == L'\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        DesktopIniEntry& entry = entries.Items[n];
        entry.Present = true;
        // The profile functions fill a buffer of EntryCapacity: a text that fills it is cut.
        if (value.size() >= EntryCapacity - 1) {
            entry.Cut = true;
            continue;
        }
        value.copy(entry.Text, value.size());
        entry.Text[value.size()] = L'\0';
    }
    return entries;
}

bool EditedDesktopIniBytes(const DesktopIniText& text, const ListedEntries& listed, bool preferAnsi, std::string& bytes,
                           bool& unicode)
{
    for (const wchar_t* written : listed.Texts)
        if (HoldsLineBreak(written))
            return false;
    const std::vector<Line> lines = LinesOf(text.Text);
    SectionPlace place;
    if (!FindSection(text.Text, lines, place))
        return false;
    const std::wstring_view whole(text.Text);
    // What each line becomes: its own text, another, or nothing; and what follows it.
    std::vector<std::wstring> replaced(lines.size());
    std::vector<bool> isReplaced(lines.size(), false);
    std::wstring added;
    for (const std::size_t n : AddOrder) {
        const wchar_t* written = listed.Texts[n];
        if (place.Present[n]) {
            const Line& line = lines[place.Entry[n]];
            isReplaced[place.Entry[n]] = true;
            if (written != nullptr)
                replaced[place.Entry[n]] =
                    std::wstring(KeyOf(whole.substr(line.Start, line.Length)).Name) + L"=" + written;
            continue;
        }
        if (written != nullptr)
            added += std::wstring(EntryNames[n]) + L"=" + written + LineEnd;
    }
    std::wstring result;
    result.reserve(text.Text.size() + added.size() + 32);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        if (!isReplaced[i]) {
            result.append(whole.substr(line.Start, line.Length + line.EndLength));
        } else if (!replaced[i].empty()) {
            result += replaced[i];
            result.append(line.EndLength != 0 ? whole.substr(line.Start + line.Length, line.EndLength)
                                              : std::wstring_view(LineEnd));
        }
        if (place.Found && i == place.LastFilled && !added.empty()) {
            if (line.EndLength == 0 && !isReplaced[i])
                result += LineEnd;
            result += added;
            added.clear();
        }
    }
    if (!added.empty()) {
        if (!result.empty() && result.back() != L'\n')
            result += LineEnd;
        result += L"[";
        result += ShellClassInfo;
        result += L"]";
        result += LineEnd;
        result += added;
    }
    std::string ansi;
    unicode = !((!text.Unicode || (preferAnsi && GetACP() != CP_UTF8)) && Narrowed(result, ansi));
    if (unicode)
        AsUnicode(result, bytes);
    else
        bytes = std::move(ansi);
    return true;
}

bool NewDesktopIniBytes(const ListedEntries& listed, std::string& bytes)
{
    std::wstring text = std::wstring(L"[") + ShellClassInfo + L"]" + LineEnd;
    for (const std::size_t n : AddOrder) {
        if (listed.Texts[n] == nullptr)
            continue;
        if (HoldsLineBreak(listed.Texts[n]))
            return false;
        text += std::wstring(EntryNames[n]) + L"=" + listed.Texts[n] + LineEnd;
    }
    AsUnicode(text, bytes);
    return true;
}

} // namespace orvane::desktop_ini
