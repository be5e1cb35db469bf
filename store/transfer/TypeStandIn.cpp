#include "TypeStandIn.h"

#include <windows.h>

#include <iterator>
#include <new>

#include "IconLocation.h"

namespace orvane {

TypeStandIn::TypeStandIn(const wchar_t* extension) noexcept
{
    try {
        wchar_t temporary[MAX_PATH + 1];
        const DWORD length = GetTempPathW(static_cast<DWORD>(std::size(temporary)), temporary);
        if (length == 0 || length >= std::size(temporary))
            return;
        // The process and a count name the folder, so that two imports never share one.
        static volatile LONG count = 0;
        const LONG number = InterlockedIncrement(&count);
        folder_ = std::wstring(temporary, length) + L"orvane-type-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                  std::to_wstring(number);
        path_ = folder_ + L"\\type" + extension;
        if (path_.size() >= TextCapacity || !CreateDirectoryW(folder_.c_str(), nullptr)) {
            folder_.clear();
            return;
        }
        const HANDLE file = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return;
        CloseHandle(file);
        made_ = true;
    } catch (const std::bad_alloc&) {
        made_ = false;
    }
}

TypeStandIn::~TypeStandIn()
{
    if (made_)
        DeleteFileW(path_.c_str());
    if (!folder_.empty())
        RemoveDirectoryW(folder_.c_str());
}

} // namespace orvane
