#include "ShellIconExtension.h"

#include <climits>

namespace orvane {

ShellIconExtension::~ShellIconExtension() = default;

IFACEMETHODIMP ShellIconExtension::QueryInterface(REFIID riid, void** ppv)
{
    // In the order of the documented roles; IUnknown is answered with the first table.
    static const InterfaceEntry<ShellIconExtension> interfaces[] = {
        Entry<ShellIconExtension, IShellExtInit>(IID_IShellExtInit),
        Entry<ShellIconExtension, IContextMenu>(IID_IContextMenu),
        Entry<ShellIconExtension, IExtractIconW>(IID_IExtractIconW),
        Entry<ShellIconExtension, IExtractIconA>(IID_IExtractIconA),
        Entry<ShellIconExtension, IPersistFile>(IID_IPersistFile),
    };
    return QueryTable(this, interfaces, riid, ppv);
}

// Explorer may call Initialize more than once on the same object; each call replaces the
// selection held before. The selection itself is read only when the menu is built.
IFACEMETHODIMP ShellIconExtension::Initialize(PCIDLIST_ABSOLUTE, IDataObject* dataObject, HKEY)
{
    dataObject_ = dataObject;
    return S_OK;
}

int ConvertToExactAnsi(const wchar_t* text, int count, char* out, std::size_t outSize)
{
    if (text == nullptr || out == nullptr || outSize == 0 || count == 0)
        return 0;
    const int room = outSize < static_cast<std::size_t>(INT_MAX) ? static_cast<int>(outSize) : INT_MAX;
    // The UTF-8 code page has a form for every character and takes neither the best-fit
    // flag nor the default-character report; WC_ERR_INVALID_CHARS makes it refuse a lone
    // surrogate rather than write a replacement character.
    const bool utf8 = GetACP() == CP_UTF8;
    BOOL usedDefault = FALSE;
    const int written = WideCharToMultiByte(CP_ACP, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS, text, count,
                                            out, room, nullptr, utf8 ? nullptr : &usedDefault);
    if (written <= 0 || usedDefault)
        return 0;
    // A terminated text converts with its terminator, or not at all.
    if (count < 0 && out[written - 1] != '\0')
        return 0;
    return written;
}

} // namespace orvane
