#include "SourceBrowser.h"

#include <commdlg.h>
#include <shellapi.h>

#include <iterator>
#include <new>
#include <string>

#include "ErrorText.h"
#include "IconList.h"
#include "IconSources.h"
#include "MadeSource.h"
#include "PictureIcon.h"
#include "RecentList.h"
#include "resource.h"

namespace orvane {

namespace {

constexpr const wchar_t UnreadableSourceCaption[] = L"Orvane - Icon source not read";

} // namespace

bool TellIfUnreadable(HWND dialog, const wchar_t* source)
{
    wchar_t file[TextCapacity];
    if (source == nullptr || !ExpandIconPath(source, file) || GetFileAttributesW(file) == INVALID_FILE_ATTRIBUTES)
        return false;
    const LONG status = SourceReadStatus(file);
    if (status == ERROR_SUCCESS)
        return false;
    try {
        const std::wstring text =
            std::wstring(source) + L"\n\nThe file cannot be read: " + SystemErrorText(status) + L".";
        MessageBoxW(dialog, text.c_str(), UnreadableSourceCaption, MB_OK | MB_ICONERROR);
    } catch (const std::bad_alloc&) {
        MessageBoxW(dialog, source, UnreadableSourceCaption, MB_OK | MB_ICONERROR);
    }
    return true;
}

bool UseSourceFile(ChangeIconDialog& record, HWND dialog, const wchar_t* file)
{
    if (TellIfUnreadable(dialog, file))
        return false;
    // A file without icons must not become the source: the list would go on showing the
    // previous file's icons, and OK would apply one of their indexes to this file.
    if (IsPictureFile(file)) {
        if (!ShowPicture(dialog, record, file))
            return false;
    } else {
        if (!FillIconList(dialog, file, -1))
            return false;
        ForgetMadeIcon(record);
        record.Target.SetCurrentIconPath(file);
    }
    UpdateKeepCopy(dialog, record);
    HWND combo = GetDlgItem(dialog, IDC_SOURCES);
    AddRecentEntry(combo, file);
    record.ShownSource = static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
    return true;
}

bool UseDroppedFile(ChangeIconDialog& record, HWND dialog, HDROP drop)
{
    wchar_t file[TextCapacity] = {};
    const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
    const bool fits = length > 0 && length < TextCapacity &&
                      DragQueryFileW(drop, 0, file, static_cast<UINT>(std::size(file))) == length;
    DragFinish(drop);
    // A path that does not fit is not cut into the name of another file.
    return fits && UseSourceFile(record, dialog, file);
}

bool BrowseForIconFile(ChangeIconDialog& record, HWND dialog)
{
    wchar_t file[TextCapacity] = {};
    const wchar_t* initial = record.Target.Current ? record.Target.CurrentIconPath() : record.TargetPath;
    CopyText(file, std::size(file), initial);

    static const wchar_t filter[] = L"Icon Library Files (*.icl)\0*.icl\0"
                                    L"Icon Files (*.ico)\0*.ico\0"
                                    L"Library Files (*.dll)\0*.dll\0"
                                    L"Pictures (*.png;*.jpg;*.jpeg;*.bmp;*.gif;*.tif;*.tiff)\0"
                                    L"*.png;*.jpg;*.jpeg;*.bmp;*.gif;*.tif;*.tiff\0"
                                    L"All Files (*.*)\0*.*\0";
    OPENFILENAMEW ofn{};
    // The older, shorter form of the structure, without its three last fields.
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    ofn.hwndOwner = dialog;
    ofn.hInstance = record.Resources;
    ofn.lpstrFilter = filter;
    ofn.lpstrFile = file;
    ofn.nMaxFile = TextCapacity - 1;
    ofn.lpstrTitle = L"Select Iconfile or Library";
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    ofn.lpstrDefExt = L"ico";
    if (!GetOpenFileNameW(&ofn))
        return false;
    file[TextCapacity - 1] = L'\0';

    return UseSourceFile(record, dialog, file);
}

} // namespace orvane
