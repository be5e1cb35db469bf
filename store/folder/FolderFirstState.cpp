#include "FolderFirstState.h"

#include <cstring>
#include <cwchar>
#include <iterator>

#include "Registry.h"
#include "RegistryNames.h"
#include "Scope.h"

namespace orvane {

namespace {

// A list larger than this is no state of ours: a Desktop.ini worth keeping whole is small.
constexpr DWORD StateLimitBytes = 256 * 1024;

bool Named(const std::wstring& item, const wchar_t* name)
{
    return item.compare(0, std::wcslen(name), name) == 0;
}

} // namespace

std::optional<std::wstring> FolderState::Text(const wchar_t* name) const
{
    for (const std::wstring& item : Items)
        if (Named(item, name))
            return item.substr(std::wcslen(name));
    return std::nullopt;
}

void FolderState::Set(const wchar_t* name, const std::wstring& text)
{
    for (std::wstring& item : Items) {
        if (Named(item, name)) {
            item = name + text;
            return;
        }
    }
    Items.push_back(name + text);
}

void FolderState::Remove(const wchar_t* name)
{
    for (auto item = Items.begin(); item != Items.end(); ++item) {
        if (Named(*item, name)) {
            Items.erase(item);
            return;
        }
    }
}

LONG ReadFolderState(Scope scope, const wchar_t* folder, FolderState& state)
{
    state.Items.clear();
    if (folder == nullptr || folder[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    RegKey key;
    LONG status = key.Open(ProductKeyRoot(scope), FolderStateKey, KEY_QUERY_VALUE);
    if (status != ERROR_SUCCESS)
        return status;
    DWORD type = REG_NONE;
    DWORD size = 0;
    status = RegQueryValueExW(key.get(), folder, nullptr, &type, nullptr, &size);
    if (status != ERROR_SUCCESS)
        return status;
    if (type != REG_MULTI_SZ || size > StateLimitBytes)
        return ERROR_INVALID_DATA;
    std::vector<wchar_t> units(size / sizeof(wchar_t) + 1, L'\0');
    status = RegQueryValueExW(key.get(), folder, nullptr, &type, reinterpret_cast<BYTE*>(units.data()), &size);
    if (status != ERROR_SUCCESS)
        return status;
    // Whatever the data holds, it ends within the buffer: odd bytes and a missing
    // terminator are cut off.
    const std::size_t count = size / sizeof(wchar_t);
    for (std::size_t at = 0; at < count && units[at] != L'\0';) {
        const std::size_t length = wcsnlen(units.data() + at, count - at);
        state.Items.emplace_back(units.data() + at, length);
        at += length + 1;
    }
    return ERROR_SUCCESS;
}

LONG WriteFolderState(Scope scope, const wchar_t* folder, const FolderState& state)
{
    if (folder == nullptr || folder[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    std::wstring units;
    for (const std::wstring& item : state.Items) {
        units += item;
        units.push_back(L'\0');
    }
    units.push_back(L'\0');
    if (units.size() * sizeof(wchar_t) > StateLimitBytes)
        return ERROR_FILENAME_EXCED_RANGE;
    RegKey key;
    const LONG status = key.Create(ProductKeyRoot(scope), FolderStateKey);
    if (status != ERROR_SUCCESS)
        return status;
    return RegSetValueExW(key.get(), folder, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(units.data()),
                          static_cast<DWORD>(units.size() * sizeof(wchar_t)));
}

LONG DeleteFolderState(Scope scope, const wchar_t* folder)
{
    if (folder == nullptr || folder[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    const LONG status = DeleteKeyValue(ProductKeyRoot(scope), FolderStateKey, folder);
    if (status != ERROR_SUCCESS)
        return status;
    // The key is this product's own in both scopes: once empty it goes, so that what
    // remains is what the backups' key holds.
    if (scope == Scope::AllUsers)
        return RemoveEmptyKeys(HKEY_LOCAL_MACHINE, ProductKey, FolderStateKey + std::wcslen(ProductKey) + 1);
    return RemoveEmptyUserProductKeys(FolderStateKey);
}

namespace {

constexpr char Base64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

} // namespace

std::wstring Base64Of(const std::string& bytes)
{
    std::wstring out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t left = bytes.size() - i;
        std::uint32_t group = static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i])) << 16;
        if (left > 1)
            group |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i + 1])) << 8;
        if (left > 2)
            group |= static_cast<std::uint8_t>(bytes[i + 2]);
        out.push_back(static_cast<wchar_t>(Base64Digits[(group >> 18) & 63]));
        out.push_back(static_cast<wchar_t>(Base64Digits[(group >> 12) & 63]));
        out.push_back(left > 1 ? static_cast<wchar_t>(Base64Digits[(group >> 6) & 63]) : L'=');
        out.push_back(left > 2 ? static_cast<wchar_t>(Base64Digits[group & 63]) : L'=');
    }
    return out;
}

bool BytesOfBase64(const std::wstring& text, std::string& bytes)
{
    bytes.clear();
    if (text.size() % 4 != 0)
        return false;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        std::uint32_t group = 0;
        int pad = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            const wchar_t c = text[i + j];
            // Padding only in the last two places of the last group.
            if (c == L'=' && i + 4 == text.size() && j >= 2) {
                ++pad;
                group <<= 6;
                continue;
            }
            const char* digit = c > 0 && c < 128 ? std::strchr(Base64Digits, static_cast<char>(c)) : nullptr;
            if (digit == nullptr || pad != 0)
                return false;
            group = (group << 6) | static_cast<std::uint32_t>(digit - Base64Digits);
        }
        bytes.push_back(static_cast<char>((group >> 16) & 0xFF));
        if (pad < 2)
            bytes.push_back(static_cast<char>((group >> 8) & 0xFF));
        if (pad < 1)
            bytes.push_back(static_cast<char>(group & 0xFF));
    }
    return true;
}

std::wstring HexOf(std::uint64_t value, int digits)
{
    wchar_t text[24];
    std::swprintf(text, std::size(text), L"%0*llx", digits, static_cast<unsigned long long>(value));
    return text;
}

std::optional<std::uint64_t> ParseHex(const std::wstring& text)
{
    if (text.empty() || text.size() > 16)
        return std::nullopt;
    std::uint64_t value = 0;
    for (const wchar_t c : text) {
        const int digit = c >= L'0' && c <= L'9' ? c - L'0' : c >= L'a' && c <= L'f' ? c - L'a' + 10 : -1;
        if (digit < 0)
            return std::nullopt;
        value = value << 4 | static_cast<std::uint64_t>(digit);
    }
    return value;
}

} // namespace orvane
