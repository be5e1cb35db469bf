#include "IconList.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <memory>
#include <new>
#include <vector>

#include "IconResources.h"
#include "IconSource.h"
#include "resource.h"

namespace orvane {

namespace {

// Icons extracted with one call when the list asks for one that is not extracted yet, or
// when the dialog is idle: the file is opened and its resources found once for all.
constexpr int Batch = 8;
// The most extracted with one call (the first screen when the list is filled).
constexpr int MaxRun = 64;
// What the image slots may take at most, counted at 4 bytes a pixel: for the usual
// 32-pixel icons 1,024 slots, more than any screen shows at once.
constexpr std::size_t SlotBytes = 4u << 20;
constexpr int MinSlots = 256;

constexpr UINT_PTR IdleTimer = 0x1C0B;
constexpr UINT IdleTimerMs = 10;
// How long one idle step extracts before the dialog's own messages come first again.
constexpr LONGLONG IdleStepMicroseconds = 8000;

constexpr int NotExtracted = -1;
constexpr int NoImage = -2;

// The icons of one source as far as they have been extracted: each in an image slot of
// the list's image list, each slot reused for another icon once the view has moved on.
class IconCache {
public:
    // The icons of the file (already expanded); Ready() is false when the image list or
    // the drawing surface cannot be made.
    IconCache(const wchar_t* file, int count)
        : count_(count), cx_(GetSystemMetrics(SM_CXICON)), cy_(GetSystemMetrics(SM_CYICON))
    {
        CopyText(file_, std::size(file_), file);
        const std::size_t perSlot = static_cast<std::size_t>(std::max(cx_, 1)) * std::max(cy_, 1) * 4;
        slots_ = std::min(count_, std::max(MinSlots, static_cast<int>(SlotBytes / perSlot)));
        slotOf_.assign(static_cast<std::size_t>(count_), NotExtracted);
        itemOf_.assign(static_cast<std::size_t>(slots_), NotExtracted);
        lastUse_.assign(static_cast<std::size_t>(slots_), 0);

        images_ = ImageList_Create(cx_, cy_, ILC_COLOR24, slots_, 0);
        if (images_ == nullptr || !ImageList_SetImageCount(images_, static_cast<UINT>(slots_)))
            return;
        // No mask: each icon is drawn opaque on the window colour.
        ImageList_SetBkColor(images_, GetSysColor(COLOR_WINDOW));
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = cx_;
        info.bmiHeader.biHeight = cy_;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        ready_ = dc_ != nullptr && bitmap_ != nullptr;
    }

    ~IconCache()
    {
        if (dc_ != nullptr)
            DeleteDC(dc_);
        if (bitmap_ != nullptr)
            DeleteObject(bitmap_);
        if (images_ != nullptr && ownsImages_)
            ImageList_Destroy(images_);
    }

    IconCache(const IconCache&) = delete;
    IconCache& operator=(const IconCache&) = delete;

    bool Ready() const { return ready_; }
    int Count() const { return count_; }
    HIMAGELIST Images() const { return images_; }
    // The list has taken the image list and destroys it with itself.
    void HandOverImages() { ownsImages_ = false; }

    // Extracts `n` icons from `first` on, and more after them until one of them can be
    // extracted, coming round to the start of the file; false when none can.
    bool ExtractAny(int first, int n)
    {
        for (int tried = 0; tried < count_;) {
            const int start = (first + tried) % count_;
            const int run = std::min({n, count_ - start, count_ - tried});
            Extract(start, run);
            for (int i = start; i < start + run; ++i)
                if (slotOf_[static_cast<std::size_t>(i)] >= 0)
                    return true;
            tried += run;
        }
        return false;
    }

    // The image slot of item `item`, its icon (and the icons after it that are not
    // extracted yet, up to a batch) extracted first; I_IMAGENONE for an icon that cannot
    // be extracted.
    int ImageOf(int item)
    {
        if (slotOf_[static_cast<std::size_t>(item)] == NotExtracted)
            Extract(item, RunFrom(item, count_ - 1));
        const int slot = slotOf_[static_cast<std::size_t>(item)];
        if (slot < 0)
            return I_IMAGENONE;
        lastUse_[static_cast<std::size_t>(slot)] = ++clock_;
        return slot;
    }

    // One batch of the icons around what the list shows that are not extracted yet:
    // first what it shows, then ahead of it, then behind it; every icon when all fit into
    // the slots. False when there are none left.
    bool ExtractAhead(HWND list)
    {
        VisibleItems(list);
        const bool all = slots_ == count_;
        const int ahead = all ? count_ : slots_ / 4;
        const int behind = all ? count_ : slots_ / 8;
        const int end = static_cast<int>(std::min<long long>(count_ - 1, static_cast<long long>(last_) + ahead));
        for (int i = first_; i <= end; ++i)
            if (slotOf_[static_cast<std::size_t>(i)] == NotExtracted) {
                Extract(i, RunFrom(i, end));
                return true;
            }
        const int start = std::max(0, first_ - behind);
        for (int i = first_ - 1; i >= start; --i)
            if (slotOf_[static_cast<std::size_t>(i)] == NotExtracted) {
                int from = i;
                while (from > start && i - from + 1 < Batch &&
                       slotOf_[static_cast<std::size_t>(from - 1)] == NotExtracted)
                    --from;
                Extract(from, i - from + 1);
                return true;
            }
        return false;
    }

private:
    // How many icons from `item` on, up to `last` and a batch, are not extracted yet.
    int RunFrom(int item, int last) const
    {
        int n = 0;
        while (n < Batch && item + n <= last && slotOf_[static_cast<std::size_t>(item + n)] == NotExtracted)
            ++n;
        return n;
    }

    // Extracts icons first .. first + n - 1 and draws each into a slot of its own.
    void Extract(int first, int n)
    {
        for (; n > MaxRun; first += MaxRun, n -= MaxRun)
            Extract(first, MaxRun);
        HICON icons[MaxRun] = {};
        UINT ids[MaxRun] = {};
        // One call for the whole run; where it leaves an icon out, the icon is asked for
        // on its own the way the shell's ExtractIconEx asks for it.
        PrivateExtractIconsW(file_, first, cx_, cy_, icons, ids, static_cast<UINT>(n), LR_DEFAULTCOLOR);
        for (int k = 0; k < n; ++k) {
            if (icons[k] == nullptr)
                ExtractIconExW(file_, first + k, &icons[k], nullptr, 1);
            const std::size_t item = static_cast<std::size_t>(first + k);
            if (icons[k] == nullptr) {
                // Left without an image, so that the item numbers stay the file's icon
                // indexes.
                slotOf_[item] = NoImage;
                continue;
            }
            const int slot = FreeSlot(static_cast<int>(item), first, n);
            if (Draw(icons[k], slot)) {
                const int previous = itemOf_[static_cast<std::size_t>(slot)];
                if (previous >= 0)
                    slotOf_[static_cast<std::size_t>(previous)] = NotExtracted;
                itemOf_[static_cast<std::size_t>(slot)] = static_cast<int>(item);
                lastUse_[static_cast<std::size_t>(slot)] = ++clock_;
                slotOf_[item] = slot;
            } else {
                slotOf_[item] = NoImage;
            }
            DestroyIcon(icons[k]);
        }
    }

    // A slot for the item's image: its own when every icon has one, else one not used
    // yet, else the one used longest ago by an item that is neither shown nor in the run
    // being extracted.
    int FreeSlot(int item, int runFirst, int runCount)
    {
        if (slots_ == count_)
            return item;
        if (used_ < slots_)
            return used_++;
        int best = -1;
        for (int slot = 0; slot < slots_; ++slot) {
            const int owner = itemOf_[static_cast<std::size_t>(slot)];
            const bool shown = owner >= first_ && owner <= last_;
            const bool inRun = owner >= runFirst && owner < runFirst + runCount;
            if (shown || inRun)
                continue;
            if (best < 0 || lastUse_[static_cast<std::size_t>(slot)] < lastUse_[static_cast<std::size_t>(best)])
                best = slot;
        }
        if (best >= 0)
            return best;
        // More items on screen than slots: the oldest goes all the same.
        best = 0;
        for (int slot = 1; slot < slots_; ++slot)
            if (lastUse_[static_cast<std::size_t>(slot)] < lastUse_[static_cast<std::size_t>(best)])
                best = slot;
        return best;
    }

    // The icon drawn on the window colour at the large-icon size into the slot.
    bool Draw(HICON icon, int slot)
    {
        HGDIOBJ previous = SelectObject(dc_, bitmap_);
        RECT all{0, 0, cx_, cy_};
        FillRect(dc_, &all, GetSysColorBrush(COLOR_WINDOW));
        const BOOL drawn = DrawIconEx(dc_, 0, 0, icon, cx_, cy_, 0, nullptr, DI_NORMAL);
        // The image list copies from a bitmap that no other device context holds.
        SelectObject(dc_, previous);
        return drawn && ImageList_Replace(images_, slot, bitmap_, nullptr);
    }

    // The items the list shows, first_ .. last_ (none when last_ < first_). The
    // auto-arranged view lays its items out in rows in index order, so both ends are
    // found by halving.
    void VisibleItems(HWND list)
    {
        RECT client{};
        GetClientRect(list, &client);
        auto iconRect = [list](int item) {
            RECT r{};
            r.left = LVIR_ICON;
            SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&r));
            return r;
        };
        int low = 0, high = count_;
        while (low < high) {
            const int middle = low + (high - low) / 2;
            if (iconRect(middle).bottom > client.top)
                high = middle;
            else
                low = middle + 1;
        }
        first_ = std::min(low, count_ - 1);
        high = count_;
        while (low < high) {
            const int middle = low + (high - low) / 2;
            if (iconRect(middle).top >= client.bottom)
                high = middle;
            else
                low = middle + 1;
        }
        last_ = low - 1;
    }

    wchar_t file_[TextCapacity] = {};
    int count_ = 0;
    int cx_ = 0;
    int cy_ = 0;
    int slots_ = 0;
    int used_ = 0;
    HIMAGELIST images_ = nullptr;
    bool ownsImages_ = true;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    bool ready_ = false;
    std::vector<int> slotOf_;   // per item: its slot, NotExtracted or NoImage
    std::vector<int> itemOf_;   // per slot: its item or NotExtracted
    std::vector<unsigned long long> lastUse_;
    unsigned long long clock_ = 0;
    int first_ = 0;
    int last_ = -1;
};

// What the subclassed owner of the list keeps: its own procedure and the shown source.
struct ListOwner {
    HWND Window = nullptr;
    WNDPROC Previous = nullptr;
    std::unique_ptr<IconCache> Cache;
    bool Idle = false; // the idle timer runs
    ListOwner* Next = nullptr;
};

// The subclassed owners of this thread. A window's messages come on its own thread, and
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

void FormatItem(int item, wchar_t (&text)[16]) { std::swprintf(text, std::size(text), L"%d", item); }

// The item whose text starts with (or is) the text typed, from `start` on; -1 for none.
int FindItem(const IconCache& cache, const NMLVFINDITEMW& find)
{
    const LVFINDINFOW& info = find.lvfi;
    if (!(info.flags & (LVFI_STRING | LVFI_PARTIAL)) || info.psz == nullptr || info.psz[0] == L'\0')
        return -1;
    const std::size_t length = std::wcslen(info.psz);
    const int count = cache.Count();
    const int start = find.iStart >= 0 && find.iStart < count ? find.iStart : 0;
    const int steps = info.flags & LVFI_WRAP ? count : count - start;
    for (int k = 0; k < steps; ++k) {
        const int item = (start + k) % count;
        wchar_t text[16];
        FormatItem(item, text);
        const bool match = info.flags & LVFI_PARTIAL ? std::wcsncmp(text, info.psz, length) == 0
                                                     : std::wcscmp(text, info.psz) == 0;
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
            wchar_t text[16];
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

LRESULT CALLBACK OwnerProc(HWND owner, UINT message, WPARAM wParam, LPARAM lParam)
{
    ListOwner* state = FindOwner(owner);
    if (state == nullptr)
        return DefWindowProcW(owner, message, wParam, lParam);
    const WNDPROC previous = state->Previous;
    // Nothing may escape into the shell's message loop.
    try {
        if (message == WM_NOTIFY && lParam != 0) {
            const NMHDR& header = *reinterpret_cast<const NMHDR*>(lParam);
            LRESULT result = 0;
            if (header.idFrom == IDC_ICONLIST && header.hwndFrom == GetDlgItem(owner, IDC_ICONLIST) &&
                Answer(owner, *state, header, &result))
                return result;
        } else if (message == WM_TIMER && wParam == IdleTimer) {
            IdleStep(owner, *state);
            return 0;
        } else if (message == WM_SIZE && state->Cache != nullptr) {
            // The dialog resizes the list, and the auto-arranged view places every item
            // anew: done while it does not draw, as when it is filled.
            HWND list = GetDlgItem(owner, IDC_ICONLIST);
            SendMessageW(list, WM_SETREDRAW, FALSE, 0);
            const LRESULT result = CallWindowProcW(previous, owner, message, wParam, lParam);
            SendMessageW(list, LVM_ARRANGE, LVA_DEFAULT, 0);
            SendMessageW(list, WM_SETREDRAW, TRUE, 0);
            InvalidateRect(list, nullptr, TRUE);
            return result;
        } else if (message == WM_NCDESTROY) {
            // The list and its image list are gone by now.
            KillTimer(owner, IdleTimer);
            SetWindowLongPtrW(owner, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
            ForgetOwner(state);
            delete state;
        }
    } catch (...) {
        return 0;
    }
    return CallWindowProcW(previous, owner, message, wParam, lParam);
}

// The owner's state, the owner subclassed on the first call; null when that fails.
ListOwner* OwnerOf(HWND owner)
{
    if (ListOwner* state = FindOwner(owner))
        return state;
    std::unique_ptr<ListOwner> state(new (std::nothrow) ListOwner);
    if (state == nullptr)
        return nullptr;
    state->Window = owner;
    state->Next = threadOwners;
    threadOwners = state.get();
    state->Previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(owner, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(OwnerProc)));
    if (state->Previous == nullptr) {
        ForgetOwner(state.get());
        return nullptr;
    }
    return state.release();
}

// The items of the list's first screen once it shows the item `item`, estimated from
// the size of the list and of its grid before it holds them: `count` items from `first`.
// A view that has no image list yet reports a grid for smaller icons than it will get;
// the large icons take at least the system's icon spacing.
void FirstScreen(HWND list, int item, int* first, int* count)
{
    RECT client{};
    GetClientRect(list, &client);
    const DWORD spacing = static_cast<DWORD>(SendMessageW(list, LVM_GETITEMSPACING, FALSE, 0));
    const int cellWidth = std::max({1, static_cast<int>(LOWORD(spacing)), GetSystemMetrics(SM_CXICONSPACING)});
    const int cellHeight = std::max({1, static_cast<int>(HIWORD(spacing)), GetSystemMetrics(SM_CYICONSPACING)});
    const int across = std::max(1, static_cast<int>(client.right) / cellWidth);
    const int down = std::max(1, (static_cast<int>(client.bottom) + cellHeight - 1) / cellHeight);
    // The view scrolls an item below the first screen up to its last row.
    const int row = item / across;
    *first = row < down ? 0 : (row - down + 1) * across;
    *count = std::min(MaxRun, across * down);
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
    std::unique_ptr<IconCache> cache;
    try {
        cache.reset(new IconCache(file, n));
    } catch (const std::bad_alloc&) {
        return false;
    }
    int first = 0, shown = 0;
    FirstScreen(list, selects ? preselect : 0, &first, &shown);
    if (!cache->Ready() || !cache->ExtractAny(first, shown))
        return false;
    ListOwner* owner = OwnerOf(dialog);
    if (owner == nullptr)
        return false;

    // A virtual icon view keeps a position for every item. Wine's list view computes them
    // all at the next paint after the count changes, and invalidates each item as it
    // places it (about 16 us an item): arranged here while the view does not draw, they
    // are placed without that, and the arrangement that comes with drawing again finds
    // them in place.
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    if (SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) != 0)
        SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    std::unique_ptr<IconCache> before = std::move(owner->Cache);
    owner->Cache = std::move(cache);
    HIMAGELIST images = owner->Cache->Images();
    HIMAGELIST previous = reinterpret_cast<HIMAGELIST>(
        SendMessageW(list, LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(images)));
    owner->Cache->HandOverImages();
    if (previous != nullptr && previous != images)
        ImageList_Destroy(previous);
    before.reset();
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

} // namespace orvane
