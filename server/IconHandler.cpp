// The icon-handler role: the shell hands over one file's path with IPersistFile::Load and
// asks IExtractIconA::GetIconLocation where its icon is. The answer and its rules are the
// store's (ResolveFileIcon); this object keeps the path, asks the class's previous icon
// handler through COM when the store needs its answer, and copies the answer out.
#include <windows.h>
#include <objbase.h>
#include <wrl/client.h>

#include <cstring>

#include "ComInitialization.h"
#include "ExtensionIdentity.h"
#include "FileIconResolution.h"
#include "ShellIconExtension.h"

namespace orvane {

namespace {

using Microsoft::WRL::ComPtr;

// The previous handler answers into a buffer of this many characters.
constexpr UINT PreviousAnswerCapacity = 520;

// The previous icon handler asked as the shell would ask it: created in-process, told the
// file through IPersistFile, asked GetIconLocation. COM is initialized on the calling
// thread only for the time of the request.
std::optional<IconLocation> AskPreviousIconHandler(const char* clsidText, const char* filePath)
{
    ComInitialization com;
    if (!com.Usable())
        return std::nullopt;
    wchar_t wideClsid[TextCapacity];
    if (MultiByteToWideChar(CP_ACP, 0, clsidText, -1, wideClsid, TextCapacity) == 0)
        return std::nullopt;
    CLSID clsid;
    if (FAILED(CLSIDFromString(wideClsid, &clsid)))
        return std::nullopt;
    // A backup naming this extension itself would only lead back here.
    if (IsEqualCLSID(clsid, CLSID_ShellIconExtension))
        return std::nullopt;

    ComPtr<IExtractIconA> handler;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IExtractIconA,
                                reinterpret_cast<void**>(handler.GetAddressOf()))))
        return std::nullopt;
    {
        // Icon handlers learn their file through IPersistFile, as the shell would tell them.
        ComPtr<IPersistFile> persist;
        if (SUCCEEDED(handler->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(persist.GetAddressOf())))) {
            wchar_t widePath[TextCapacity];
            if (MultiByteToWideChar(CP_ACP, 0, filePath, -1, widePath, TextCapacity) == 0)
                return std::nullopt;
            if (FAILED(persist->Load(widePath, STGM_READ)))
                return std::nullopt;
        }
    }

    char answer[PreviousAnswerCapacity] = {};
    int index = -1;
    UINT flags = 0;
    const HRESULT hr = handler->GetIconLocation(0, answer, PreviousAnswerCapacity, &index, &flags);
    answer[PreviousAnswerCapacity - 1] = '\0';
    // GIL_NOTFILENAME asks the caller to extract through that handler's Extract, which
    // this object does not forward; such an answer cannot be passed on.
    if (hr != S_OK || (flags & GIL_NOTFILENAME) != 0)
        return std::nullopt;
    IconLocation location;
    if (!location.SetIconPath(answer) || location.IconPath[0] == '\0')
        return std::nullopt;
    location.SetIndex(index);
    return location;
}

} // namespace

IFACEMETHODIMP ShellIconExtension::GetIconLocation(UINT, LPSTR iconFile, UINT cchMax, int* index, UINT*)
{
    if (iconFile == nullptr || cchMax == 0)
        return E_INVALIDARG;
    if (index == nullptr)
        return E_POINTER;

    return GuardedCall([&]() -> HRESULT {
        const FileIconAnswer answer = ResolveFileIcon(itemPath_, &AskPreviousIconHandler);
        if (answer.Rule == FileIconRule::NotAFile)
            return S_FALSE;
        // A path cut to fit would name another file; without room the shell keeps its own icon.
        const std::size_t length = std::strlen(answer.IconPath);
        if (length >= cchMax)
            return S_FALSE;
        std::memcpy(iconFile, answer.IconPath, length + 1);
        *index = answer.Index;
        return S_OK;
    });
}

// The shell extracts the icon from the location itself.
IFACEMETHODIMP ShellIconExtension::Extract(LPCSTR, UINT, HICON*, HICON*, UINT) { return S_FALSE; }

IFACEMETHODIMP ShellIconExtension::GetClassID(CLSID*) { return E_FAIL; }

IFACEMETHODIMP ShellIconExtension::IsDirty() { return S_FALSE; }

// Keeps the path for GetIconLocation. A path that does not convert exactly into at most
// 259 ANSI characters (too long, or with characters the code page lacks, which a best-fit
// conversion would turn into another file's name) is kept as the empty path, which
// GetIconLocation answers with S_FALSE.
IFACEMETHODIMP ShellIconExtension::Load(LPCOLESTR fileName, DWORD)
{
    itemPath_[0] = '\0';
    if (fileName == nullptr)
        return E_INVALIDARG;

    char converted[TextCapacity];
    BOOL usedDefault = FALSE;
    // The UTF-8 code page converts every character and takes neither flags nor the
    // default-character report.
    const bool utf8 = GetACP() == CP_UTF8;
    const int written = WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, fileName, -1, converted,
                                            sizeof converted, nullptr, utf8 ? nullptr : &usedDefault);
    if (written <= 0 || usedDefault || converted[written - 1] != '\0')
        return S_OK;
    std::memcpy(itemPath_, converted, static_cast<std::size_t>(written));
    return S_OK;
}

IFACEMETHODIMP ShellIconExtension::Save(LPCOLESTR, BOOL) { return E_FAIL; }

IFACEMETHODIMP ShellIconExtension::SaveCompleted(LPCOLESTR) { return E_FAIL; }

IFACEMETHODIMP ShellIconExtension::GetCurFile(LPOLESTR*) { return E_FAIL; }

} // namespace orvane
