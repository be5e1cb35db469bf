#include "RecentList.h"

#include <cstring>
#include <cwchar>
#include <iterator>

#include "IconList.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "resource.h"

namespace orvane {

namespace {

// The recent icon sources of this user, under HKEY_CURRENT_USER.
constexpr wchar_t RecentListKey[] = L"Software\\Brindlewick Software\\Orvane\\LRU";

// Registry data is not trusted to be terminated, nor to hold whole UTF-16 units: the
// text ends at the first zero within the data, or at its last whole unit. A text of 260
// characters is no path this list can hold.
bool EntryText(const wchar_t* data, DWORD size, wchar_t (&out)[TextCapacity])
{
    const std::size_t count = size / sizeof(wchar_t);
    const wchar_t* zero = std::wmemchr(data, L'\0', count);
    const std::size_t length = zero ? static_cast<std::size_t>(zero - data) : count;
    if (length >= TextCapacity)
        return false;
    std::wmemcpy(out, data, length);
    out[length] = L'\0';
    return true;
}

// Entry i of the combo box; false when there is none or it does not fit.
bool EntryAt(HWND combo, LRESULT i, wchar_t (&out)[TextCapacity])
{
    const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, i, 0);
    if (length == CB_ERR || length >= static_cast<LRESULT>(TextCapacity))
        return false;
    wchar_t text[TextCapacity] = {};
    SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
    text[TextCapacity - 1] = L'\0';
    std::wmemcpy(out, text, std::size(text));
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
        wchar_t name[256];
        DWORD nameLength = static_cast<DWORD>(std::size(name));
        // Room for the longest entry the list holds, 259 characters and the terminator: a
        // value with more data ends the loading.
        wchar_t data[TextCapacity];
        DWORD size = sizeof data;
        DWORD type = REG_NONE;
        if (RegEnumValueW(key.get(), index, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data),
                          &size) != ERROR_SUCCESS)
            break;
        if (size > sizeof data)
            break;
        if (type == REG_SZ) {
            wchar_t text[TextCapacity];
            // Another program may have filled the key: the list never holds more than
            // its capacity.
            const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
            if (count != CB_ERR && count < RecentListCapacity && EntryText(data, size, text))
                SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
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
        const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
        SendMessageW(combo, CB_SETCURSEL, selection >= 0 && selection < count ? selection : -1, 0);
    }
}

LONG SaveRecentList(HWND combo)
{
    {
        RegKey product;
        if (product.Open(HKEY_CURRENT_USER, ProductKey, KEY_ALL_ACCESS) == ERROR_SUCCESS)
            RegDeleteTreeW(product.get(), L"LRU");
    }
    const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    if (count == CB_ERR || count == 0)
        return ERROR_SUCCESS;

    RegKey key;
    const LONG status = key.Create(HKEY_CURRENT_USER, RecentListKey);
    if (status != ERROR_SUCCESS)
        return status;
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t text[TextCapacity];
        if (!EntryAt(combo, i, text))
            continue;
        wchar_t name[16];
        std::swprintf(name, std::size(name), L"%d", static_cast<int>(i));
        WriteTextValue(key.get(), name, text);
    }
    const DWORD selection = static_cast<DWORD>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
    RegSetValueExW(key.get(), RecentSelectionValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&selection),
                   sizeof selection);
    return ERROR_SUCCESS;
}

void AddRecentEntry(HWND combo, const wchar_t* path)
{
    if (path == nullptr)
        return;
    const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = count - 1; i >= 0; --i) {
        wchar_t text[TextCapacity];
        if (EntryAt(combo, i, text) && std::wcscmp(text, path) == 0) {
            SendMessageW(combo, CB_SETCURSEL, i, 0);
            return;
        }
    }
    for (LRESULT n = count; n >= RecentListCapacity; --n)
        SendMessageW(combo, CB_DELETESTRING, n - 1, 0);
    const LRESULT inserted = SendMessageW(combo, CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(path));
    if (inserted >= 0)
        SendMessageW(combo, CB_SETCURSEL, inserted, 0);
}

bool SelectedRecentEntry(HWND combo, wchar_t (&buffer)[TextCapacity])
{
    const LRESULT selection = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    return selection != CB_ERR && EntryAt(combo, selection, buffer);
}

} // namespace orvane
