// The context-menu role: one entry, "&Change Icon...", for a single selected folder,
// file or drive, which runs the Change Icon dialog for it.
#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <new>

#include "ChangeIconDialog.h"
#include "ModuleInstance.h"
#include "ShellIconExtension.h"

namespace orvane {

namespace {

constexpr char MenuText[] = "&Change Icon...";
constexpr char HelpText[] = "Change Icon of selected folder";

// Menus built for default-verb lookups, verb-only lookups and menus without verbs get
// no entry.
constexpr UINT SkippedMenuFlags = CMF_DEFAULTONLY | CMF_VERBSONLY | CMF_NOVERBS;

// Owns what IDataObject::GetData handed out.
class StorageMedium {
public:
    StorageMedium() = default;
    ~StorageMedium()
    {
        if (held_)
            ReleaseStgMedium(&medium_);
    }
    StorageMedium(const StorageMedium&) = delete;
    StorageMedium& operator=(const StorageMedium&) = delete;

    HRESULT Get(IDataObject* dataObject, FORMATETC& format)
    {
        const HRESULT hr = dataObject->GetData(&format, &medium_);
        held_ = SUCCEEDED(hr);
        return hr;
    }
    const STGMEDIUM& get() const { return medium_; }

private:
    STGMEDIUM medium_ = {};
    bool held_ = false;
};

// Copies text into a buffer of cchMax characters, cut to fit and always terminated.
template <class Char>
void CopyTextCut(Char* out, UINT cchMax, const Char* text, std::size_t length)
{
    const std::size_t count = length < cchMax - 1 ? length : cchMax - 1;
    std::memcpy(out, text, count * sizeof(Char));
    out[count] = Char(0);
}

} // namespace

void ShellIconExtension::ReadSelectedPath()
{
    // A stale path from an earlier selection must never stand for this one.
    itemPath_[0] = '\0';
    if (dataObject_ == nullptr)
        return;

    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    StorageMedium medium;
    if (FAILED(medium.Get(dataObject_, format)))
        return;
    if (medium.get().tymed != TYMED_HGLOBAL || medium.get().hGlobal == nullptr)
        return;

    auto drop = static_cast<HDROP>(medium.get().hGlobal);
    if (DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0) != 1)
        return;
    // A path that does not fit is left out rather than cut into the name of another item.
    const UINT length = DragQueryFileA(drop, 0, nullptr, 0);
    if (length == 0 || length >= sizeof itemPath_)
        return;
    if (DragQueryFileA(drop, 0, itemPath_, sizeof itemPath_) != length)
        itemPath_[0] = '\0';
    itemPath_[sizeof itemPath_ - 1] = '\0';
}

IFACEMETHODIMP ShellIconExtension::QueryContextMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst, UINT, UINT flags)
{
    return GuardedCall([&]() -> HRESULT {
        if ((flags & SkippedMenuFlags) != 0)
            return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
        ReadSelectedPath();
        if (itemPath_[0] == '\0')
            return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);

        InsertMenuA(menu, indexMenu, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
        InsertMenuA(menu, indexMenu + 1, MF_BYPOSITION | MF_STRING, idCmdFirst, MenuText);
        InsertMenuA(menu, indexMenu + 2, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
        // One command id used: offset 0 from idCmdFirst.
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1);
    });
}

IFACEMETHODIMP ShellIconExtension::InvokeCommand(CMINVOKECOMMANDINFO* info)
{
    if (info == nullptr)
        return E_INVALIDARG;
    // Only command offset 0 is ours; verb strings (a pointer in lpVerb) are not offered.
    const auto verb = reinterpret_cast<UINT_PTR>(info->lpVerb);
    if (HIWORD(verb) != 0 || LOWORD(verb) != 0)
        return E_INVALIDARG;
    // Without a selection read by QueryContextMenu there is nothing to change.
    if (itemPath_[0] == '\0')
        return E_FAIL;

    return GuardedCall([&]() -> HRESULT {
        auto* record = new (std::nothrow) ChangeIconDialog();
        if (record == nullptr)
            return E_OUTOFMEMORY;
        CopyText(record->TargetPath, sizeof record->TargetPath, itemPath_);
        // Modal, without an owner window: the call returns when the dialog closes.
        RunChangeIconDialog(ModuleInstance(), *record);
        delete record;
        return S_OK;
    });
}

// Help requests get "Change Icon of selected folder" in the form asked for (8-bit text
// into cchMax bytes, UTF-16 into cchMax characters), cut to fit and terminated. The entry
// has no language-independent verb, since InvokeCommand takes it by offset only, so verb
// requests answer E_NOTIMPL; validation answers S_OK for offset 0. Other offsets are not
// ours: E_INVALIDARG.
IFACEMETHODIMP ShellIconExtension::GetCommandString(UINT_PTR idCmd, UINT type, UINT*, CHAR* name, UINT cchMax)
{
    if (idCmd != 0)
        return E_INVALIDARG;
    switch (type) {
    case GCS_VALIDATEA:
    case GCS_VALIDATEW:
        return S_OK;
    case GCS_VERBA:
    case GCS_VERBW:
        return E_NOTIMPL;
    case GCS_HELPTEXTA:
        if (name == nullptr || cchMax == 0)
            return E_INVALIDARG;
        CopyTextCut(name, cchMax, HelpText, sizeof HelpText - 1);
        return S_OK;
    case GCS_HELPTEXTW: {
        if (name == nullptr || cchMax == 0)
            return E_INVALIDARG;
        wchar_t wide[sizeof HelpText];
        const int converted = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, HelpText, -1, wide, sizeof HelpText);
        const std::size_t length = converted > 0 ? static_cast<std::size_t>(converted - 1) : 0;
        CopyTextCut(reinterpret_cast<wchar_t*>(name), cchMax, wide, length);
        return S_OK;
    }
    default:
        return E_NOTIMPL;
    }
}

} // namespace orvane
