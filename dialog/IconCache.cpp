#include "IconCache.h"

#include <shellapi.h>

#include <algorithm>
#include <iterator>

namespace orvane {

namespace {

// Icons extracted with one call when the list asks for one that is not extracted yet, or
// when the dialog is idle: the file is opened and its resources found once for all.
constexpr int Batch = 8;
// What the image slots may take at most, counted at 4 bytes a pixel: for the usual
// 32-pixel icons 1,024 slots, more than any screen shows at once. Never fewer than 256
// slots, which at 64 pixels (200 % scaling) take the same 4 MiB; past that the bound grows
// with the icon's area, not with the number of icons.
constexpr std::size_t SlotBytes = 4u << 20;
constexpr int MinSlots = 256;

constexpr int NotExtracted = -1;
constexpr int NoImage = -2;

} // namespace

IconCache::IconCache(const wchar_t* file, int count, int size)
    : count_(count), cx_(std::clamp(size, 16, 256)), cy_(cx_)
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

IconCache::~IconCache()
{
    if (dc_ != nullptr)
        DeleteDC(dc_);
    if (bitmap_ != nullptr)
        DeleteObject(bitmap_);
    if (images_ != nullptr && ownsImages_)
        ImageList_Destroy(images_);
}



// Extracts `n` icons from `first` on, and more after them until one of them can be
// extracted, coming round to the start of the file; false when none can.
bool IconCache::ExtractAny(int first, int n)
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
int IconCache::ImageOf(int item)
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
bool IconCache::ExtractAhead(HWND list)
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

// How many icons from `item` on, up to `last` and a batch, are not extracted yet.
int IconCache::RunFrom(int item, int last) const
{
    int n = 0;
    while (n < Batch && item + n <= last && slotOf_[static_cast<std::size_t>(item + n)] == NotExtracted)
        ++n;
    return n;
}

// Extracts icons first .. first + n - 1 and draws each into a slot of its own.
void IconCache::Extract(int first, int n)
{
    for (; n > MaxIconRun; first += MaxIconRun, n -= MaxIconRun)
        Extract(first, MaxIconRun);
    HICON icons[MaxIconRun] = {};
    UINT ids[MaxIconRun] = {};
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
int IconCache::FreeSlot(int item, int runFirst, int runCount)
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
bool IconCache::Draw(HICON icon, int slot)
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
void IconCache::VisibleItems(HWND list)
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

} // namespace orvane
