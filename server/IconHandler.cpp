// The icon-handler role: the shell hands over one file's path with IPersistFile::Load and
// asks IExtractIconW::GetIconLocation (or, from an older caller, IExtractIconA's) where
// its icon is. The answer and its rules are the store's (ResolveFileIcon); this object
// keeps the path, asks the class's previous icon handler through COM when the store needs
// its answer, and copies the answer out.
#include <windows.h>
#include <objbase.h>
#include <wrl/client.h>

#include <cstring>
#include <iterator>

#include "ComInitialization.h"
#include "ExtensionIdentity.h"
#include "FileIconResolution.h"
#include "ShellIconExtension.h"

namespace orvane {

namespace {

using Microsoft::WRL::ComPtr;

// The previous handler answers into a buffer of this many characters.
constexpr UINT PreviousAnswerCapacity = 520;

// The previous handler's answer through IExtractIconW.
HRESULT AskWide(IExtractIconW* handler, wchar_t (&answer)[PreviousAnswerCapacity], int* index, UINT* flags)
{
    const HRESULT hr = handler->GetIconLocation(0, answer, PreviousAnswerCapacity, index, flags);
    answer[PreviousAnswerCapacity - 1] = L'\0';
    return hr;
}

// The previous handler's answer through IExtractIconA, for a handler that has no wide
// interface, turned into UTF-16 from the ANSI code page it answers in. An answer that is
// not text of that code page, or that has 260 characters or more, is no answer.
HRESULT AskNarrow(IExtractIconA* handler, wchar_t (&answer)[PreviousAnswerCapacity], int* index, UINT* flags)
{
    char narrow[PreviousAnswerCapacity] = {};
    const HRESULT hr = handler->GetIconLocation(0, narrow, PreviousAnswerCapacity, index, flags);
    narrow[PreviousAnswerCapacity - 1] = '\0';
    if (hr != S_OK)
        return hr;
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, narrow, -1, answer, static_cast<int>(TextCapacity)) == 0)
        return S_FALSE;
    return hr;
}

// The previous icon handler asked as the shell would ask it: created in-process, told the
// file through IPersistFile, asked GetIconLocation through IExtractIconW, or through
// IExtractIconA when it has no wide interface. COM is initialized on the calling thread
// only for the time of the request.
std::optional<IconLocation> AskPreviousIconHandler(const wchar_t* clsidText, const wchar_t* filePath)
{
    ComInitialization com;
    if (!com.Usable())
        return std::nullopt;
    CLSID clsid;
    if (FAILED(CLSIDFromString(clsidText, &clsid)))
        return std::nullopt;
    // A backup naming this extension itself would only lead back here.
    if (IsEqualCLSID(clsid, CLSID_ShellIconExtension))
        return std::nullopt;

    ComPtr<IUnknown> handler;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                reinterpret_cast<void**>(handler.GetAddressOf()))))
        return std::nullopt;
    ComPtr<IExtractIconW> wide;
    ComPtr<IExtractIconA> narrow;
    // MinGW's headers name no __uuidof for the icon interfaces: their identifiers are asked
    // for by name.
    if (FAILED(handler->QueryInterface(IID_IExtractIconW, reinterpret_cast<void**>(wide.GetAddressOf()))) &&
        FAILED(handler->QueryInterface(IID_IExtractIconA, reinterpret_cast<void**>(narrow.GetAddressOf()))))
        return std::nullopt;
    {
        // Icon handlers learn their file through IPersistFile, as the shell would tell them.
        ComPtr<IPersistFile> persist;
        if (SUCCEEDED(handler.As(&persist)) && FAILED(persist->Load(filePath, STGM_READ)))
            return std::nullopt;
    }

    wchar_t answer[PreviousAnswerCapacity] = {};
    int index = -1;
    UINT flags = 0;
    const HRESULT hr = wide ? AskWide(wide.Get(), answer, &index, &flags) : AskNarrow(narrow.Get(), answer, &index, &flags);
    // GIL_NOTFILENAME asks the caller to extract through that handler's Extract, which
    // this object does not forward; such an answer cannot be passed on.
    if (hr != S_OK || (flags & GIL_NOTFILENAME) != 0)
        return std::nullopt;
    IconLocation location;
    if (!location.SetIconPath(answer) || location.IconPath[0] == L'\0')
        return std::nullopt;
    location.SetIndex(index);
    return location;
}

// The output flags of an answer. Every answer is a file and index that ExtractIconEx
// takes, so GIL_NOTFILENAME is never set; the shell may cache it (no GIL_DONTCACHE), as
// the shell notifications tell it when a location changes. GIL_PERINSTANCE ("each object
// of this class has its own icon") marks an answer that belongs to this one file: its own
// entry in the table, or the file itself as its icon. The type's icon gets no flag: the
// shell keeps a per-class icon through DefaultIcon, not through GIL_PERCLASS.
UINT AnswerFlags(const FileIconAnswer& answer, const wchar_t* itemPath)
{
    if (answer.Rule == FileIconRule::TableEntry ||
        CompareStringOrdinal(answer.IconPath, -1, itemPath, -1, TRUE) == CSTR_EQUAL)
        return GIL_PERINSTANCE;
    return 0;
}

// Both interfaces' answer: the store's location for the loaded file, handed to `copy`,
// which puts the path into the caller's buffer or refuses (false) a path that would not
// arrive whole; the shell then keeps its own icon. The output flags are written on every
// answer, refusals included, so that nothing the caller preset stays behind; a caller may
// pass none.
template <class Copy>
HRESULT AnswerIconLocation(const wchar_t* itemPath, const void* iconFile, UINT cchMax, int* index, UINT* flags,
                           Copy copy)
{
    if (flags != nullptr)
        *flags = 0;
    if (iconFile == nullptr || cchMax == 0)
        return E_INVALIDARG;
    if (index == nullptr)
        return E_POINTER;

    return GuardedCall([&]() -> HRESULT {
        const FileIconAnswer answer = ResolveFileIcon(itemPath, &AskPreviousIconHandler);
        if (answer.Rule == FileIconRule::NotAFile || !copy(answer.IconPath))
            return S_FALSE;
        *index = answer.Index;
        if (flags != nullptr)
            *flags = AnswerFlags(answer, itemPath);
        return S_OK;
    });
}

} // namespace

IFACEMETHODIMP ShellIconExtension::GetIconLocation(UINT, LPWSTR iconFile, UINT cchMax, int* index, UINT* flags)
{
    return AnswerIconLocation(itemPath_, iconFile, cchMax, index, flags, [&](const wchar_t (&path)[TextCapacity]) {
        // A path cut to fit would name another file.
        const std::size_t length = wcsnlen(path, std::size(path));
        if (length >= std::size(path) || length >= cchMax)
            return false;
        std::memcpy(iconFile, path, (length + 1) * sizeof(wchar_t));
        return true;
    });
}

// The 8-bit interface answers only a location that the ANSI code page holds exactly: a
// best-fit or "?" form of the path would name another file, or none. Other locations
// (a file named in characters that code page lacks, for one) are refused as a location
// that does not fit, and the shell keeps its own icon.
IFACEMETHODIMP ShellIconExtension::GetIconLocation(UINT, LPSTR iconFile, UINT cchMax, int* index, UINT* flags)
{
    return AnswerIconLocation(itemPath_, iconFile, cchMax, index, flags, [&](const wchar_t (&path)[TextCapacity]) {
        char converted[AnsiTextCapacity];
        const int written = ConvertToExactAnsi(path, -1, converted, std::size(converted));
        // written counts the terminating zero.
        if (written <= 0 || static_cast<UINT>(written) > cchMax)
            return false;
        std::memcpy(iconFile, converted, static_cast<std::size_t>(written));
        return true;
    });
}

// The shell extracts the icon from the location itself.
IFACEMETHODIMP ShellIconExtension::Extract(LPCWSTR, UINT, HICON*, HICON*, UINT) { return S_FALSE; }

IFACEMETHODIMP ShellIconExtension::Extract(LPCSTR, UINT, HICON*, HICON*, UINT) { return S_FALSE; }

IFACEMETHODIMP ShellIconExtension::GetClassID(CLSID*) { return E_FAIL; }

IFACEMETHODIMP ShellIconExtension::IsDirty() { return S_FALSE; }

// Keeps the path for GetIconLocation, as the shell gave it. A path of 260 characters or
// more would be cut into the name of another file; it is kept as the empty path, which
// GetIconLocation answers with S_FALSE.
IFACEMETHODIMP ShellIconExtension::Load(LPCOLESTR fileName, DWORD)
{
    itemPath_[0] = L'\0';
    if (fileName == nullptr)
        return E_INVALIDARG;
    CopyText(itemPath_, std::size(itemPath_), fileName);
    return S_OK;
}

IFACEMETHODIMP ShellIconExtension::Save(LPCOLESTR, BOOL) { return E_FAIL; }

IFACEMETHODIMP ShellIconExtension::SaveCompleted(LPCOLESTR) { return E_FAIL; }

IFACEMETHODIMP ShellIconExtension::GetCurFile(LPOLESTR*) { return E_FAIL; }

} // namespace orvane
