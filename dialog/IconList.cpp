#include "IconList.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cwchar>
#include <iterator>
#include <memory>
#include <new>

#include "IconResources.h"
#include "IconSource.h"
#include "resource.h"

namespace orvane {

namespace {

struct IconArray {
    std::unique_ptr<HICON[]> Icons;
    UINT Count = 0;
    ~IconArray()
    {
        for (UINT i = 0; i < Count; ++i)
            if (Icons[i] != nullptr)
                DestroyIcon(Icons[i]);
    }
};

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
    path = file;
    const UINT n = CountIcons(path);
    if (n == 0)
        return false;

    // All icons in one call; only then is the list touched, so a file whose icons cannot
    // be extracted leaves the list as it was.
    IconArray extracted;
    extracted.Icons.reset(new (std::nothrow) HICON[n]());
    if (!extracted.Icons)
        return false;
    extracted.Count = n;
    if (ExtractIconExW(path, 0, extracted.Icons.get(), nullptr, n) == 0)
        return false;
    // Wine's ExtractIconEx counts all the icons asked for at once but hands out only the
    // first; the missing ones are taken one at a time.
    bool any = false;
    for (UINT i = 0; i < n; ++i) {
        if (extracted.Icons[i] == nullptr)
            ExtractIconExW(path, static_cast<int>(i), &extracted.Icons[i], nullptr, 1);
        any = any || extracted.Icons[i] != nullptr;
    }
    if (!any)
        return false;

    HIMAGELIST images = ImageList_Create(GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), ILC_COLOR24,
                                         static_cast<int>(n), 20);
    if (images == nullptr)
        return false;
    // No mask: each icon is drawn opaque on the window colour.
    ImageList_SetBkColor(images, GetSysColor(COLOR_WINDOW));

    // Inserting into an auto-arranged view re-arranges it after each item (in Wine's list
    // view even while it does not redraw): the style is off while the items go in, and
    // the items are arranged once at the end.
    const LONG style = GetWindowLongW(list, GWL_STYLE);
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    SetWindowLongW(list, GWL_STYLE, style & ~LVS_AUTOARRANGE);
    if (SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) != 0)
        SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    for (UINT i = 0; i < n; ++i) {
        // An icon that could not be extracted gets no image, so the item numbers stay the
        // file's icon indexes.
        const int image = extracted.Icons[i] ? ImageList_ReplaceIcon(images, -1, extracted.Icons[i]) : -1;
        wchar_t text[16];
        std::swprintf(text, std::size(text), L"%u", i);
        LVITEMW item{};
        item.mask = LVIF_TEXT | LVIF_IMAGE;
        item.iItem = static_cast<int>(i);
        item.pszText = text;
        item.iImage = image >= 0 ? image : I_IMAGENONE;
        if (preselect >= 0 && static_cast<UINT>(preselect) == i) {
            item.mask |= LVIF_STATE;
            item.state = LVIS_SELECTED | LVIS_FOCUSED;
            item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        }
        SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    HIMAGELIST previous = reinterpret_cast<HIMAGELIST>(
        SendMessageW(list, LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(images)));
    if (previous != nullptr && previous != images)
        ImageList_Destroy(previous);
    SetWindowLongW(list, GWL_STYLE, style);
    SendMessageW(list, LVM_ARRANGE, LVA_ALIGNLEFT, 0);
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    return true;
}

} // namespace orvane
