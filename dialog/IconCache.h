// The icons of one source as far as they have been extracted for the icon list: each in
// an image slot of the list's image list, each slot reused for another icon once the view
// has moved on, so that a library of any size keeps a few megabytes of images.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <vector>

#include "IconLocation.h"

namespace orvane {

// The most icons extracted with one call (the first screen when the list is filled).
constexpr int MaxIconRun = 64;

class IconCache {
public:
    // The icons of the file (already expanded) at `size` pixels square (the large icon
    // size of the list's DPI); Ready() is false when the image list or the drawing
    // surface cannot be made.
    IconCache(const wchar_t* file, int count, int size);
    ~IconCache();
    IconCache(const IconCache&) = delete;
    IconCache& operator=(const IconCache&) = delete;

    bool Ready() const { return ready_; }
    int Count() const { return count_; }
    int Size() const { return cx_; }
    const wchar_t* File() const { return file_; }
    HIMAGELIST Images() const { return images_; }
    // The list has taken the image list and destroys it with itself.
    void HandOverImages() { ownsImages_ = false; }

    // Extracts `n` icons from `first` on, and more after them until one of them can be
    // extracted, coming round to the start of the file; false when none can.
    bool ExtractAny(int first, int n);
    // The image slot of item `item`, its icon (and the icons after it that are not
    // extracted yet, up to a batch) extracted first; I_IMAGENONE for an icon that cannot
    // be extracted.
    int ImageOf(int item);
    // One batch of the icons around what the list shows that are not extracted yet:
    // first what it shows, then ahead of it, then behind it; every icon when all fit into
    // the slots. False when there are none left.
    bool ExtractAhead(HWND list);

private:
    int RunFrom(int item, int last) const;
    void Extract(int first, int n);
    int FreeSlot(int item, int runFirst, int runCount);
    bool Draw(HICON icon, int slot);
    void VisibleItems(HWND list);

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

} // namespace orvane
