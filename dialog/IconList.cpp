#include "IconList.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <memory>
#include <new>
#include <vector>

#include "IconCache.h"
#include "IconSources.h"
#include "Scaling.h"
#include "resource.h"

namespace orvane {

namespace {

constexpr UINT_PTR IdleTimer = 0x1C0B;
constexpr UINT IdleTimerMs = 10;
// How long one idle step extracts before the dialog's own messages come first again.
constexpr LONGLONG IdleStepMicroseconds = 8000;

// What the dialog that owns a list keeps for it: the shown source and its idle work.
struct ListOwner {
    HWND Window = nullptr;
    std::unique_ptr<IconCache> Cache;
    int ImageSize = 0; // the images' size; 0: the large icon size of the screen
    bool Idle = false; // the idle timer runs
    ListOwner* Next = nullptr;
};

// The list owners of this thread. A window's messages come on its own thread, and
// looking an owner up here costs nothing, where a window property costs a round trip to
// Wine's server on every message the dialog gets.
thread_local ListOwner* threadOwners = nullptr;

ListOwner* FindOwner(HWND window)
{
    for (ListOwner* owner = threadOwners; owner != nullptr; owner = owner->Next)
        if (owner->Window == window)
            return owner;
    return nullptr;
}

void ForgetOwner(ListOwner* owner)
{
    for (ListOwner** link = &threadOwners; *link != nullptr; link = &(*link)->Next)
        if (*link == owner) {
            *link = owner->Next;
            return;
        }
}

void StartIdleWork(HWND owner, ListOwner& state)
{
    if (!state.Idle)
        state.Idle = SetTimer(owner, IdleTimer, IdleTimerMs, nullptr) != 0;
}

bool InputWaiting()
{
    return HIWORD(GetQueueStatus(QS_INPUT | QS_PAINT | QS_POSTMESSAGE | QS_SENDMESSAGE)) != 0;
}

// Extracts ahead until the step's time is up or the dialog has something else to do; the
// timer stops when nothing is left.
void IdleStep(HWND owner, ListOwner& state)
{
    HWND list = GetDlgItem(owner, IDC_ICONLIST);
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (;;) {
        if (state.Cache == nullptr || list == nullptr || !state.Cache->ExtractAhead(list)) {
            KillTimer(owner, IdleTimer);
            state.Idle = false;
            return;
        }
        QueryPerformanceCounter(&now);
        if ((now.QuadPart - start.QuadPart) * 1000000 >= IdleStepMicroseconds * frequency.QuadPart || InputWaiting())
            return;
    }
}

// An item's text, which is also what a screen reader says of it: "Icon 12" for icon 12.
constexpr wchar_t ItemPrefix[] = L"Icon ";
constexpr std::size_t ItemPrefixLength = std::size(ItemPrefix) - 1;

void FormatItem(int item, wchar_t (&text)[24]) { std::swprintf(text, std::size(text), L"%ls%d", ItemPrefix, item); }

// The item whose number starts with (or is) the number typed, from `start` on; -1 for
// none. Typing "12" finds icon 12, as does typing its whole text "Icon 12".
int FindItem(const IconCache& cache, const NMLVFINDITEMW& find)
{
    const LVFINDINFOW& info = find.lvfi;
    if (!(info.flags & (LVFI_STRING | LVFI_PARTIAL)) || info.psz == nullptr || info.psz[0] == L'\0')
        return -1;
    const bool whole = _wcsnicmp(info.psz, ItemPrefix, ItemPrefixLength) == 0;
    const wchar_t* typed = whole ? info.psz + ItemPrefixLength : info.psz;
    const std::size_t length = std::wcslen(typed);
    const int count = cache.Count();
    const int start = find.iStart >= 0 && find.iStart < count ? find.iStart : 0;
    const int steps = info.flags & LVFI_WRAP ? count : count - start;
    for (int k = 0; k < steps; ++k) {
        const int item = (start + k) % count;
        wchar_t text[24];
        FormatItem(item, text);
        const wchar_t* number = text + ItemPrefixLength;
        const bool match = info.flags & LVFI_PARTIAL ? std::wcsncmp(number, typed, length) == 0
                                                     : std::wcscmp(number, typed) == 0;
        if (match)
            return item;
    }
    return -1;
}

// The list's requests: an item's text and image, and the item a typed text names.
bool Answer(HWND owner, ListOwner& state, const NMHDR& header, LRESULT* result)
{
    IconCache* cache = state.Cache.get();
    if (cache == nullptr)
        return false;
    if (header.code == LVN_GETDISPINFOW) {
        LVITEMW& item = reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(&header))->item;
        if (item.iItem < 0 || item.iItem >= cache->Count())
            return false;
        if ((item.mask & LVIF_TEXT) && item.pszText != nullptr && item.cchTextMax > 0) {
            wchar_t text[24];
            FormatItem(item.iItem, text);
            lstrcpynW(item.pszText, text, item.cchTextMax);
        }
        if (item.mask & LVIF_IMAGE) {
            item.iImage = cache->ImageOf(item.iItem);
            // The list draws (or asks for) something: look ahead of it once idle.
            StartIdleWork(owner, state);
        }
        *result = 0;
        return true;
    }
    if (header.code == LVN_ODFINDITEMW) {
        *result = FindItem(*cache, *reinterpret_cast<const NMLVFINDITEMW*>(&header));
        return true;
    }
    return false;
}

// The owner's state, made on the first call; null when that fails.
ListOwner* OwnerOf(HWND owner)
{
    if (ListOwner* state = FindOwner(owner))
        return state;
    auto* state = new (std::nothrow) ListOwner;
    if (state == nullptr)
        return nullptr;
    state->Window = owner;
    state->Next = threadOwners;
    threadOwners = state;
    return state;
}

// The items of the list's first screen once it shows the item `item`, estimated from
// the size of the list and of its grid before it holds them: `count` items from `first`.
// A view that has no image list yet reports a grid for smaller icons than it will get;
// the large icons take at least the system's icon spacing at the list's DPI, and their
// own size.
void FirstScreen(HWND list, int imageSize, int item, int* first, int* count)
{
    RECT client{};
    GetClientRect(list, &client);
    const DWORD spacing = static_cast<DWORD>(SendMessageW(list, LVM_GETITEMSPACING, FALSE, 0));
    const UINT dpi = WindowDpi(list);
    const int cellWidth =
        std::max({1, static_cast<int>(LOWORD(spacing)), MetricForDpi(SM_CXICONSPACING, dpi), imageSize});
    const int cellHeight =
        std::max({1, static_cast<int>(HIWORD(spacing)), MetricForDpi(SM_CYICONSPACING, dpi), imageSize});
    const int across = std::max(1, static_cast<int>(client.right) / cellWidth);
    const int down = std::max(1, (static_cast<int>(client.bottom) + cellHeight - 1) / cellHeight);
    // The view scrolls an item below the first screen up to its last row.
    const int row = item / across;
    *first = row < down ? 0 : (row - down + 1) * across;
    *count = std::min(MaxIconRun, across * down);
}

// The icons of the file at `size`, those of the list's first screen once it shows `item`
// extracted; null when the images cannot be made or none of those icons extracted.
std::unique_ptr<IconCache> FirstScreenCache(HWND list, const wchar_t* file, int count, int size, int item)
{
    std::unique_ptr<IconCache> cache;
    try {
        cache.reset(new IconCache(file, count, size));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    int first = 0, shown = 0;
    FirstScreen(list, size, item, &first, &shown);
    if (!cache->Ready() || !cache->ExtractAny(first, shown))
        return nullptr;
    return cache;
}

// Wine's list view works out its items' sizes and its scroll bars at its first paint, and
// redraws its (themed) scroll bar each time it sets them, three times in all. Painted once
// into a memory device context while the dialog is not shown yet, with nothing to draw
// into, the view has done that work, and its first paint on screen draws the scroll bar
// once.
void LayOutHidden(HWND list)
{
    HDC dc = CreateCompatibleDC(nullptr);
    if (dc == nullptr)
        return;
    HBITMAP bitmap = CreateCompatibleBitmap(dc, 1, 1);
    HGDIOBJ previous = bitmap != nullptr ? SelectObject(dc, bitmap) : nullptr;
    if (previous != nullptr) {
        IntersectClipRect(dc, 0, 0, 0, 0);
        SendMessageW(list, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
        SelectObject(dc, previous);
    }
    if (bitmap != nullptr)
        DeleteObject(bitmap);
    DeleteDC(dc);
}

// The new cache takes the old one's place, and its image list the list view's, which the
// view then owns; the old cache goes once the view draws from the new one.
void HandOverCache(HWND list, ListOwner& owner, std::unique_ptr<IconCache> cache)
{
    std::unique_ptr<IconCache> before = std::move(owner.Cache);
    owner.Cache = std::move(cache);
    HIMAGELIST images = owner.Cache->Images();
    HIMAGELIST previous = reinterpret_cast<HIMAGELIST>(
        SendMessageW(list, LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(images)));
    owner.Cache->HandOverImages();
    if (previous != nullptr && previous != images)
        ImageList_Destroy(previous);
}

} // namespace

bool FillIconList(HWND dialog, const wchar_t* path, int preselect)
{
    HWND list = GetDlgItem(dialog, IDC_ICONLIST);
    if (list == nullptr)
        return false;
    // The extraction takes "%SystemRoot%\..." literally: it gets the file itself.
    wchar_t file[TextCapacity];
    if (!ExpandIconPath(path, file))
        return false;
    const int n = static_cast<int>(CountIcons(file));
    if (n == 0)
        return false;
    const bool selects = preselect >= 0 && preselect < n;

    // The icons of the first screen are extracted before the list is touched, so that a
    // file whose icons cannot be extracted leaves the list as it was.
    ListOwner* owner = OwnerOf(dialog);
    if (owner == nullptr)
        return false;
    const int size = owner->ImageSize > 0 ? owner->ImageSize : LargeIconSize(WindowDpi(dialog));
    std::unique_ptr<IconCache> cache = FirstScreenCache(list, file, n, size, selects ? preselect : 0);
    if (cache == nullptr)
        return false;

    // A virtual icon view keeps a position for every item. Wine's list view computes them
    // all at the next paint after the count changes, and invalidates each item as it
    // places it (about 16 us an item): arranged here while the view does not draw, they
    // are placed without that, and the arrangement that comes with drawing again finds
    // them in place.
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    if (SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) != 0)
        SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    HandOverCache(list, *owner, std::move(cache));
    SendMessageW(list, LVM_SETITEMCOUNT, static_cast<WPARAM>(n), 0);
    if (selects) {
        LVITEMW state{};
        state.state = LVIS_SELECTED | LVIS_FOCUSED;
        state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(preselect), reinterpret_cast<LPARAM>(&state));
    }
    SendMessageW(list, LVM_ARRANGE, LVA_DEFAULT, 0);
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(selects ? preselect : 0), FALSE);
    if (!IsWindowVisible(list))
        LayOutHidden(list);
    // The idle work starts with the first paint, when the list asks for what it shows.
    InvalidateRect(list, nullptr, TRUE);
    return true;
}

bool HandleIconListMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    ListOwner* state = FindOwner(dialog);
    if (state == nullptr)
        return false;
    if (message == WM_NOTIFY && lParam != 0) {
        const NMHDR& header = *reinterpret_cast<const NMHDR*>(lParam);
        return header.idFrom == IDC_ICONLIST && header.hwndFrom == GetDlgItem(dialog, IDC_ICONLIST) &&
               Answer(dialog, *state, header, result);
    }
    if (message == WM_TIMER && wParam == IdleTimer) {
        IdleStep(dialog, *state);
        *result = 0;
        return true;
    }
    if (message == WM_NCDESTROY) {
        // The list and its image list are gone by now.
        KillTimer(dialog, IdleTimer);
        ForgetOwner(state);
        delete state;
    }
    return false;
}

void SetIconListImageSize(HWND dialog, int size)
{
    ListOwner* owner = OwnerOf(dialog);
    if (owner == nullptr || size <= 0 || size == owner->ImageSize)
        return;
    owner->ImageSize = size;
    HWND list = GetDlgItem(dialog, IDC_ICONLIST);
    if (owner->Cache == nullptr || list == nullptr)
        return;
    // The same icons again at the new size; the items, their selection and the view's
    // scroll place stay as they are. Kept at the old size when the new images cannot be made.
    const int focused = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
    std::unique_ptr<IconCache> cache =
        FirstScreenCache(list, owner->Cache->File(), owner->Cache->Count(), size, std::max(focused, 0));
    if (cache == nullptr)
        return;
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    HandOverCache(list, *owner, std::move(cache));
    SendMessageW(list, LVM_ARRANGE, LVA_DEFAULT, 0);
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    if (focused >= 0)
        SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(focused), FALSE);
    InvalidateRect(list, nullptr, TRUE);
}

int IconListImageSize(HWND dialog)
{
    const ListOwner* owner = FindOwner(dialog);
    return owner != nullptr && owner->Cache != nullptr ? owner->Cache->Size() : 0;
}

void SuspendIconListDrawing(HWND dialog)
{
    const ListOwner* state = FindOwner(dialog);
    if (state != nullptr && state->Cache != nullptr)
        SendDlgItemMessageW(dialog, IDC_ICONLIST, WM_SETREDRAW, FALSE, 0);
}

void ResumeIconListDrawing(HWND dialog)
{
    const ListOwner* state = FindOwner(dialog);
    if (state == nullptr || state->Cache == nullptr)
        return;
    // The auto-arranged view places every item anew after a resize: done while it does
    // not draw, as when it is filled.
    HWND list = GetDlgItem(dialog, IDC_ICONLIST);
    SendMessageW(list, LVM_ARRANGE, LVA_DEFAULT, 0);
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

} // namespace orvane
