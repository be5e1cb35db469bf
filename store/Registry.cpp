#include "Registry.h"

#include <cstdio>
#include <cstring>

namespace orvane {

LONG RegKey::Open(HKEY root, const char* path, REGSAM access)
{
    reset();
    HKEY key = nullptr;
    const LONG status = RegOpenKeyExA(root, path, 0, access, &key);
    if (status == ERROR_SUCCESS)
        key_ = key;
    return status;
}

LONG RegKey::Create(HKEY root, const char* path)
{
    reset();
    HKEY key = nullptr;
    char emptyClass[] = "";
    const LONG status = RegCreateKeyExA(root, path, 0, emptyClass, REG_OPTION_NON_VOLATILE,
                                        KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS)
        key_ = key;
    return status;
}

LONG QueryTextValue(HKEY key, const char* valueName, char* out, std::size_t outSize, DWORD* type)
{
    if (key == nullptr)
        return ERROR_INVALID_HANDLE;
    if (out == nullptr || outSize == 0)
        return ERROR_INVALID_PARAMETER;
    // One spare byte so that data of exactly outSize bytes without a terminator can be
    // told apart from data that ends in one.
    char data[RegistryTextLimit + 1];
    if (outSize > RegistryTextLimit)
        outSize = RegistryTextLimit;
    DWORD size = static_cast<DWORD>(outSize);
    DWORD valueType = REG_NONE;
    const LONG status = RegQueryValueExA(key, valueName, nullptr, &valueType, reinterpret_cast<BYTE*>(data), &size);
    if (status != ERROR_SUCCESS)
        return status;
    if (size > outSize)
        return ERROR_MORE_DATA;
    data[size] = '\0';
    const std::size_t length = strnlen(data, size + 1);
    if (length >= outSize)
        return ERROR_MORE_DATA;
    std::memcpy(out, data, length + 1);
    if (type != nullptr)
        *type = valueType;
    return ERROR_SUCCESS;
}

bool ReadTextValue(HKEY key, const char* valueName, char* out, std::size_t outSize)
{
    return QueryTextValue(key, valueName, out, outSize) == ERROR_SUCCESS;
}

LONG WriteTextValue(HKEY key, const char* valueName, const char* text, DWORD type)
{
    const DWORD size = static_cast<DWORD>(std::strlen(text) + 1);
    return RegSetValueExA(key, valueName, 0, type == REG_EXPAND_SZ ? REG_EXPAND_SZ : REG_SZ,
                          reinterpret_cast<const BYTE*>(text), size);
}

LONG WriteIconLocationValue(HKEY key, const IconLocation& location, const char* valueName, bool withTypeKey)
{
    char text[TextCapacity];
    if (!FormatIconLocation(location, withTypeKey, text, sizeof text))
        return ERROR_FILENAME_EXCED_RANGE;
    return WriteTextValue(key, valueName, text);
}

bool FormatKeyPath(char* out, std::size_t outSize, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int written = std::vsnprintf(out, outSize, format, args);
    va_end(args);
    if (written < 0 || static_cast<std::size_t>(written) >= outSize) {
        if (outSize > 0)
            out[0] = '\0';
        return false;
    }
    return true;
}

bool SameKeyName(const char* a, const char* b)
{
    if (a == nullptr || b == nullptr)
        return false;
    WCHAR wideA[RegistryTextLimit];
    WCHAR wideB[RegistryTextLimit];
    const int lengthA = MultiByteToWideChar(CP_ACP, 0, a, -1, wideA, RegistryTextLimit);
    const int lengthB = MultiByteToWideChar(CP_ACP, 0, b, -1, wideB, RegistryTextLimit);
    return lengthA > 0 && lengthB > 0 && CompareStringOrdinal(wideA, lengthA - 1, wideB, lengthB - 1, TRUE) == CSTR_EQUAL;
}

} // namespace orvane
