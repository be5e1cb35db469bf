#include "RecentList.h"

#include <commdlg.h>

#include <cstdio>
#include <cstring>

#include "IconList.h"
#include "Registry.h"
#include "resource.h"

namespace orvane {

namespace {

// The recent icon sources of this user, under HKEY_CURRENT_USER.
constexpr char RecentListKey[] = "Software\\Brindlewick Software\\Orvane\\LRU";
constexpr DWORD EntryDataBytes = 260;

// Registry data is not trusted to be terminated: the text ends at the first zero within
// the data, or at its end. A text of 260 characters is no path this list can hold.
bool EntryText(const BYTE* data, DWORD size, char (&out)[TextCapacity])
{
    const void* zero = std::memchr(data, 0, size);
    const std::size_t length = zero ? static_cast<const BYTE*>(zero) - data : size;
    if (length >= TextCapacity)
        return false;
    std::memcpy(out, data, length);
    out[length] = '\0';
    return true;
}

} // namespace

void LoadRecentList(HWND combo)
{
    RegKey key;
    if (key.Open(HKEY_CURRENT_USER, RecentListKey, KEY_ALL_ACCESS) != ERROR_SUCCESS)
        return;

    int selection = CB_ERR;
    bool haveSelection = false;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameLength = sizeof name;
        BYTE data[EntryDataBytes];
        DWORD size = sizeof data;
        DWORD type = REG_NONE;
        if (RegEnumValueA(key.get(), index, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        if (size > sizeof data)
            break;
        if (type == REG_SZ) {
            char text[TextCapacity];
            // Another program may have filled the key: the list never holds more than
            // its capacity.
            const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
            if (count != CB_ERR && count < RecentListCapacity && EntryText(data, size, text))
                SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
        } else if (type == REG_DWORD && size == sizeof(DWORD)) {
            DWORD value;
            std::memcpy(&value, data, sizeof value);
            selection = static_cast<int>(value);
            haveSelection = true;
        }
    }
    // Selected once all entries are in, so that an index written before the entries
    // still names one of them. An index outside the list selects nothing.
    if (haveSelection) {
        const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
        SendMessageA(combo, CB_SETCURSEL, selection >= 0 && selection < count ? selection : -1, 0);
    }
}

LONG SaveRecentList(HWND combo)
{
    {
        RegKey product;
        if (product.Open(HKEY_CURRENT_USER, ProductKey, KEY_ALL_ACCESS) == ERROR_SUCCESS)
            RegDeleteTreeA(product.get(), "LRU");
    }
    const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
    if (count == CB_ERR || count == 0)
        return ERROR_SUCCESS;

    RegKey key;
    const LONG status = key.Create(HKEY_CURRENT_USER, RecentListKey);
    if (status != ERROR_SUCCESS)
        return status;
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, i, 0);
        if (length == CB_ERR || length >= static_cast<LRESULT>(TextCapacity))
            continue;
        char text[TextCapacity] = {};
        SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        text[TextCapacity - 1] = '\0';
        char name[16];
        std::snprintf(name, sizeof name, "%d", static_cast<int>(i));
        WriteTextValue(key.get(), name, text);
    }
    const DWORD selection = static_cast<DWORD>(SendMessageA(combo, CB_GETCURSEL, 0, 0));
    RegSetValueExA(key.get(), RecentSelectionValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&selection),
                   sizeof selection);
    return ERROR_SUCCESS;
}

void AddRecentEntry(HWND combo, const char* path)
{
    if (path == nullptr)
        return;
    const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = count - 1; i >= 0; --i) {
        const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, i, 0);
        if (length == CB_ERR || length >= static_cast<LRESULT>(TextCapacity))
            continue;
        char text[TextCapacity] = {};
        SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        text[TextCapacity - 1] = '\0';
        if (std::strcmp(text, path) == 0) {
            SendMessageA(combo, CB_SETCURSEL, i, 0);
            return;
        }
    }
    for (LRESULT n = count; n >= RecentListCapacity; --n)
        SendMessageA(combo, CB_DELETESTRING, n - 1, 0);
    const LRESULT inserted = SendMessageA(combo, CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(path));
    if (inserted >= 0)
        SendMessageA(combo, CB_SETCURSEL, inserted, 0);
}

bool SelectedRecentEntry(HWND combo, char (&buffer)[TextCapacity])
{
    const LRESULT selection = SendMessageA(combo, CB_GETCURSEL, 0, 0);
    if (selection == CB_ERR)
        return false;
    const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, selection, 0);
    if (length == CB_ERR || length >= static_cast<LRESULT>(TextCapacity))
        return false;
    char text[TextCapacity] = {};
    SendMessageA(combo, CB_GETLBTEXT, selection, reinterpret_cast<LPARAM>(text));
    text[TextCapacity - 1] = '\0';
    std::memcpy(buffer, text, sizeof text);
    return true;
}

bool BrowseForIconFile(ChangeIconDialog& record, HWND dialog)
{
    char file[TextCapacity] = {};
    const char* initial = record.Current ? record.CurrentIconPath() : record.TargetPath;
    CopyText(file, sizeof file, initial);

    static const char filter[] = "Icon Library Files (*.icl)\0*.icl\0"
                                 "Icon Files (*.ico)\0*.ico\0"
                                 "Library Files (*.dll)\0*.dll\0"
                                 "All Files (*.*)\0*.*\0";
    OPENFILENAMEA ofn{};
    // The older, shorter form of the structure, without its three last fields.
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    ofn.hwndOwner = dialog;
    ofn.hInstance = record.Resources;
    ofn.lpstrFilter = filter;
    ofn.lpstrFile = file;
    ofn.nMaxFile = TextCapacity - 1;
    ofn.lpstrTitle = "Select Iconfile or Library";
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    ofn.lpstrDefExt = "ico";
    if (!GetOpenFileNameA(&ofn))
        return false;
    file[TextCapacity - 1] = '\0';

    // A file without icons must not become the source: the list would go on showing the
    // previous file's icons, and OK would apply one of their indexes to this file.
    if (!FillIconList(dialog, file, -1))
        return false;
    record.SetCurrentIconPath(file);
    HWND combo = GetDlgItem(dialog, IDC_SOURCES);
    AddRecentEntry(combo, file);
    record.ShownSource = static_cast<int>(SendMessageA(combo, CB_GETCURSEL, 0, 0));
    return true;
}

} // namespace orvane
