#include "SourceBrowser.h"

#include <commdlg.h>

#include "IconList.h"
#include "RecentList.h"
#include "resource.h"

namespace orvane {

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
