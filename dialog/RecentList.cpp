#include "RecentList.h"

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

// Entry i of the combo box; false when there is none or it does not fit.
bool EntryAt(HWND combo, LRESULT i, char (&out)[TextCapacity])
{
    const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, i, 0);
    if (length == CB_ERR || length >= static_cast<LRESULT>(TextCapacity))
        return false;
    char text[TextCapacity] = {};
    SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
    text[TextCapacity - 1] = '\0';
    std::memcpy(out, text, sizeof text);
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
        char text[TextCapacity];
        if (!EntryAt(combo, i, text))
            continue;
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
        char text[TextCapacity];
        if (EntryAt(combo, i, text) && std::strcmp(text, path) == 0) {
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
    return selection != CB_ERR && EntryAt(combo, selection, buffer);
}

} // namespace orvane
