#include "MadeSource.h"

#include <commctrl.h>

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <string>

#include "ComInitialization.h"
#include "FolderColourIcon.h"
#include "FolderIcons.h"
#include "IconGroupFile.h"
#include "MadeIconSweep.h"
#include "IconList.h"
#include "MadeIconChanges.h"
#include "MadeIconFile.h"
#include "MadeIconPlaces.h"
#include "PathText.h"
#include "PictureIcon.h"
#include "resource.h"

namespace orvane {

namespace {

constexpr const wchar_t PictureFailedCaption[] = L"Orvane - Picture not used";
constexpr const wchar_t ColourFailedCaption[] = L"Orvane - Colour not used";

void DeletePreview(const std::wstring& preview)
{
    if (preview.empty())
        return;
    SetFileAttributesW(preview.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(preview.c_str());
}

// The made bytes as a file of the temporary folder, for the list; empty when it cannot
// be written.
std::wstring WritePreview(const std::vector<std::uint8_t>& bytes)
{
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(static_cast<DWORD>(std::size(folder)), folder);
    std::wstring name;
    if (length == 0 || length >= std::size(folder) || !WriteMadeIcon(folder, bytes, &name))
        return {};
    return InFolder(folder, name);
}

void TellPictureProblem(HWND dialog, const wchar_t* picture, const wchar_t* problem)
{
    std::wstring text = std::wstring(picture) + L"\n\n" + problem;
    MessageBoxW(dialog, text.c_str(), PictureFailedCaption, MB_OK | MB_ICONERROR);
}

// Shows the made bytes in the list, preselected, and keeps them for OK; `source` becomes
// the current source (the preview itself when none is given).
bool ShowMadeIcon(HWND dialog, ChangeIconDialog& record, std::vector<std::uint8_t> bytes, const wchar_t* source)
{
    const std::wstring preview = WritePreview(bytes);
    if (preview.empty() || !FillIconList(dialog, preview.c_str(), 0) ||
        !record.Target.SetCurrentIconPath(source != nullptr ? source : preview.c_str())) {
        DeletePreview(preview);
        return false;
    }
    // The same icon made again gives the same file, which stays.
    if (record.MadePreview != preview)
        DeletePreview(record.MadePreview);
    record.MadePreview = preview;
    record.MadeBytes = std::move(bytes);
    return true;
}

} // namespace

bool ShowPicture(HWND dialog, ChangeIconDialog& record, const wchar_t* picture)
{
    std::vector<std::uint8_t> bytes;
    PictureProblem problem = PictureProblem::NoImaging;
    {
        // The imaging component is reached through COM: Explorer's thread has it, the
        // dialog's own program too; this is for any other caller.
        const ComInitialization com;
        if (com.Usable())
            problem = MakeIconBytesFromPicture(picture, bytes);
    }
    if (problem != PictureProblem::None) {
        TellPictureProblem(dialog, picture, PictureProblemText(problem));
        return false;
    }
    if (!ShowMadeIcon(dialog, record, std::move(bytes), picture)) {
        TellPictureProblem(dialog, picture, L"The icon made from the picture cannot be shown.");
        return false;
    }
    return true;
}

bool ShowColour(HWND dialog, ChangeIconDialog& record, FolderColour colour)
{
    std::vector<std::uint8_t> bytes;
    try {
        bytes = FolderColourIconBytes(colour);
    } catch (...) {
        bytes.clear();
    }
    if (bytes.empty() || !ShowMadeIcon(dialog, record, std::move(bytes), nullptr)) {
        MessageBoxW(dialog, L"The folder icon in that colour cannot be made.", ColourFailedCaption,
                    MB_OK | MB_ICONERROR);
        return false;
    }
    // No recent source is shown now: the list holds the coloured folder alone.
    HWND combo = GetDlgItem(dialog, IDC_SOURCES);
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    record.ShownSource = -1;
    UpdateKeepCopy(dialog, record);
    return true;
}

void ForgetMadeIcon(ChangeIconDialog& record)
{
    DeletePreview(record.MadePreview);
    record.MadePreview.clear();
    record.MadeBytes.clear();
}

bool HasMadeIcon(const ChangeIconDialog& record)
{
    return !record.MadeBytes.empty() && record.Target.CurrentIndex() == 0;
}

ChangeResult ApplyMadeChoice(ChangeIconDialog& record) { return ApplyMadeBytes(record.Target, record.MadeBytes); }

void UpdateKeepCopy(HWND dialog, const ChangeIconDialog& record)
{
    HWND box = GetDlgItem(dialog, IDC_KEEPCOPY);
    if (record.Target.Kind() != TargetKind::Folder || box == nullptr)
        return;
    // A made icon, and the folder's own made icon chosen again, are inside the folder
    // already.
    const wchar_t* source = record.Target.CurrentIconPath();
    const bool copyable = record.MadeBytes.empty() && source != nullptr && source[0] != L'\0' &&
                          !IsMadeIconName(std::wcsrchr(source, L'\\') ? std::wcsrchr(source, L'\\') + 1 : source);
    EnableWindow(box, copyable);
    SendMessageW(box, BM_SETCHECK, copyable && CopyWithFolderByDefault(source) ? BST_CHECKED : BST_UNCHECKED, 0);
}

ChangeResult ApplyChosenIcon(HWND dialog, ChangeIconDialog& record)
{
    if (HasMadeIcon(record))
        return ApplyMadeChoice(record);
    KeepFolderIconRelative(record);
    if (record.Target.Kind() == TargetKind::Folder && IsWindowEnabled(GetDlgItem(dialog, IDC_KEEPCOPY)) &&
        SendDlgItemMessageW(dialog, IDC_KEEPCOPY, BM_GETCHECK, 0, 0) == BST_CHECKED)
        return KeepCopyWithFolder(record.Target, record.Target.CurrentIconPath(), record.Target.CurrentIndex());
    return record.Target.ApplyIcon();
}

void ShowFolderIconResolved(ChangeIconDialog& record)
{
    wchar_t resolved[TextCapacity];
    if (record.Target.Kind() == TargetKind::Folder && record.Target.Current &&
        ResolveFolderIconPath(record.Target.Path(), record.Target.Current->IconPath, resolved))
        record.Target.SetCurrentIconPath(resolved);
}

void KeepFolderIconRelative(ChangeIconDialog& record)
{
    if (record.Target.Kind() != TargetKind::Folder || !record.Target.Current)
        return;
    const std::optional<std::wstring> name = MadeIconNameInFolder(record.Target.Path(), record.Target.Current->IconPath);
    if (name)
        record.Target.SetCurrentIconPath(name->c_str());
}

} // namespace orvane
