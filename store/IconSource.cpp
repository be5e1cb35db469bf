#include "IconSource.h"

#include <windows.h>
#include <shellapi.h>

namespace orvane {

unsigned CountIcons(const wchar_t* source)
{
    if (source == nullptr || *source == L'\0')
        return 0;
    const UINT count = ExtractIconExW(source, -1, nullptr, nullptr, 0);
    return count == 0xFFFFFFFFu || count > MaxSourceIcons ? 0 : count;
}

} // namespace orvane
