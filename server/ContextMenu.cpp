// The context-menu role: one entry, "&Change Icon...", for a selected folder, file or
// drive, or a selection of up to SelectionLimit of them, which runs the Change Icon
// dialog for it.
#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <iterator>
#include <new>

#include "ChangeIconDialog.h"
#include "ManyTargets.h"
#include "MenuText.h"
#include "ModuleInstance.h"
#include "PathText.h"
#include "ShellIconExtension.h"

namespace orvane {

namespace {

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
void CopyTextCut(wchar_t* out, UINT cchMax, const wchar_t* text, std::size_t length)
{
    const std::size_t count = UnitsThatFit(std::wstring_view(text, length), cchMax - 1);
    std::memcpy(out, text, count * sizeof(wchar_t));
    out[count] = L'\0';
}

// The 8-bit form of a text: converted exactly into the ANSI code page, then cut to fit
// cchMax bytes, always at the end of a character, and terminated. False, nothing written,
// when the code page cannot hold the text.
bool CopyAnsiTextCut(char* out, UINT cchMax, const wchar_t* text, std::size_t length)
{
    if (length >= TextCapacity)
        return false;
    char converted[AnsiTextCapacity];
    // The whole text first, then ever shorter pieces that end at a character of it; the
    // first that fits is copied. What the whole text converts, each piece converts.
    for (std::size_t count = length; count > 0; count = UnitsThatFit(std::wstring_view(text, length), count - 1)) {
        const int size = ConvertToExactAnsi(text, static_cast<int>(count), converted, std::size(converted));
        if (size == 0)
            return false;
        if (static_cast<UINT>(size) < cchMax) {
            std::memcpy(out, converted, static_cast<std::size_t>(size));
            out[size] = '\0';
            return true;
        }
    }
    out[0] = '\0';
    return true;
}

// Item i of the drop list; false when it does not fit (it is left out rather than cut
// into the name of another item). The lengths are in UTF-16 units, whichever form the drop
// list holds its paths in.
bool DroppedPath(HDROP drop, UINT i, wchar_t (&path)[TextCapacity])
{
    path[0] = L'\0';
    const UINT length = DragQueryFileW(drop, i, nullptr, 0);
    if (length == 0 || length >= std::size(path))
        return false;
    if (DragQueryFileW(drop, i, path, static_cast<UINT>(std::size(path))) != length) {
        path[0] = L'\0';
        return false;
    }
    path[std::size(path) - 1] = L'\0';
    return true;
}

// "C:\..." or "\\server\...": what Explorer's drop lists name.
bool IsFullPath(const wchar_t* path)
{
    const bool drive = path[0] != L'\0' && path[1] == L':' && path[2] == L'\\';
    return drive || (path[0] == L'\\' && path[1] == L'\\');
}

} // namespace

void ShellIconExtension::ReadSelectedPath()
{
    // A stale path from an earlier selection must never stand for this one.
    itemPath_[0] = L'\0';
    selection_.clear();
    if (dataObject_ == nullptr)
        return;

    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    StorageMedium medium;
    if (FAILED(medium.Get(dataObject_.Get(), format)))
        return;
    if (medium.get().tymed != TYMED_HGLOBAL || medium.get().hGlobal == nullptr)
        return;

    auto drop = static_cast<HDROP>(medium.get().hGlobal);
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    if (count == 0 || count > SelectionLimit)
        return;
    if (count == 1) {
        DroppedPath(drop, 0, itemPath_);
        return;
    }
    selection_.reserve(count);
    for (UINT i = 0; i < count; ++i) {
        // A drop list never names an empty item: a list that does is malformed (Wine
        // counts an empty list as two items and reads past its end), and none of it counts.
        if (DragQueryFileW(drop, i, nullptr, 0) == 0) {
            selection_.clear();
            return;
        }
        wchar_t path[TextCapacity];
        if (DroppedPath(drop, i, path) && IsFullPath(path))
            selection_.emplace_back(path);
    }
    if (!selection_.empty())
        CopyText(itemPath_, std::size(itemPath_), selection_.front().c_str());
    // One item of several that fits is that item alone.
    if (selection_.size() == 1)
        selection_.clear();
}

IFACEMETHODIMP ShellIconExtension::QueryContextMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                                                    UINT flags)
{
    return GuardedCall([&]() -> HRESULT {
        if ((flags & SkippedMenuFlags) != 0)
            return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
        // The shell gives the ids from idCmdFirst to idCmdLast; a range without one (a
        // menu that has run out of ids) leaves no id for the entry.
        if (idCmdFirst > idCmdLast)
            return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
        ReadSelectedPath();
        if (itemPath_[0] == L'\0')
            return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);

        InsertMenuW(menu, indexMenu, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
        InsertMenuW(menu, indexMenu + 1, MF_BYPOSITION | MF_STRING, idCmdFirst, MenuText);
        InsertMenuW(menu, indexMenu + 2, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
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
    if (itemPath_[0] == L'\0')
        return E_FAIL;

    return GuardedCall([&]() -> HRESULT {
        auto* record = new (std::nothrow) ChangeIconDialog();
        if (record == nullptr)
            return E_OUTOFMEMORY;
        CopyText(record->TargetPath, std::size(record->TargetPath), itemPath_);
        record->Targets = selection_;
        record->Owner = info->hwnd;
        // Modal, owned by the window Explorer names: the call returns when the dialog closes.
        RunChangeIconDialog(ModuleInstance(), *record);
        delete record;
        return S_OK;
    });
}

// Help requests get "Change Icon of selected folder" in the form asked for (UTF-16 into
// cchMax characters, or converted into the ANSI code page into cchMax bytes; a text that
// code page cannot hold is refused with E_FAIL), cut to fit and terminated. The entry
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
        return CopyAnsiTextCut(name, cchMax, HelpText, std::size(HelpText) - 1) ? S_OK : E_FAIL;
    case GCS_HELPTEXTW:
        if (name == nullptr || cchMax == 0)
            return E_INVALIDARG;
        CopyTextCut(reinterpret_cast<wchar_t*>(name), cchMax, HelpText, std::size(HelpText) - 1);
        return S_OK;
    default:
        return E_NOTIMPL;
    }
}

} // namespace orvane
