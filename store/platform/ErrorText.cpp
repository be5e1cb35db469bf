#include "ErrorText.h"

#include <iterator>

namespace orvane {

std::wstring SystemErrorText(LONG error)
{
    const std::wstring number = L"error " + std::to_wstring(static_cast<unsigned long>(error));
    wchar_t text[512] = {};
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(error), 0, text, static_cast<DWORD>(std::size(text)), nullptr);
    if (length >= std::size(text))
        length = 0;
    // The system's messages end in a full stop and a line end.
    while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' || text[length - 1] == L' ' ||
                          text[length - 1] == L'.'))
        --length;
    if (length == 0)
        return number;
    return std::wstring(text, length) + L" (" + number + L")";
}

} // namespace orvane
