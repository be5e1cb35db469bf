#include "LogPixels.h"

#include <utility>

namespace orvane::bench {

namespace {

constexpr wchar_t DesktopKey[] = L"Control Panel\\Desktop";
constexpr wchar_t ValueName[] = L"LogPixels";

// HKCU\Control Panel\Desktop, opened (created when a fresh prefix lacks it) for the value.
class DesktopKeyHandle {
public:
    explicit DesktopKeyHandle(REGSAM access)
    {
        if (RegCreateKeyExW(HKEY_CURRENT_USER, DesktopKey, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                            &key_, nullptr) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~DesktopKeyHandle()
    {
        if (key_ != nullptr)
            RegCloseKey(key_);
    }
    DesktopKeyHandle(const DesktopKeyHandle&) = delete;
    DesktopKeyHandle& operator=(const DesktopKeyHandle&) = delete;
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

} // namespace

bool LogPixels::Save()
{
    saved_ = false;
    DesktopKeyHandle key(KEY_QUERY_VALUE);
    if (key.get() == nullptr)
        return false;
    // The value may change size between the two calls; a few tries settle it.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = REG_NONE;
        DWORD size = 0;
        LSTATUS status = RegQueryValueExW(key.get(), ValueName, nullptr, &type, nullptr, &size);
        if (status == ERROR_FILE_NOT_FOUND) {
            present_ = false;
            data_.clear();
            saved_ = true;
            return true;
        }
        if (status != ERROR_SUCCESS)
            return false;
        std::vector<BYTE> data(size);
        status = RegQueryValueExW(key.get(), ValueName, nullptr, &type, data.empty() ? nullptr : data.data(), &size);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            return false;
        data.resize(size);
        present_ = true;
        type_ = type;
        data_ = std::move(data);
        saved_ = true;
        return true;
    }
    return false;
}

bool LogPixels::Set(DWORD dpi) const
{
    DesktopKeyHandle key(KEY_SET_VALUE);
    return key.get() != nullptr && RegSetValueExW(key.get(), ValueName, 0, REG_DWORD,
                                                  reinterpret_cast<const BYTE*>(&dpi), sizeof dpi) == ERROR_SUCCESS;
}

bool LogPixels::Restore() const
{
    if (!saved_)
        return false;
    DesktopKeyHandle key(KEY_SET_VALUE);
    if (key.get() == nullptr)
        return false;
    if (!present_) {
        const LSTATUS status = RegDeleteValueW(key.get(), ValueName);
        return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
    }
    return RegSetValueExW(key.get(), ValueName, 0, type_, data_.empty() ? nullptr : data_.data(),
                          static_cast<DWORD>(data_.size())) == ERROR_SUCCESS;
}

} // namespace orvane::bench
