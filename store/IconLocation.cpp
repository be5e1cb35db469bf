#include "IconLocation.h"

#include <cstdio>
#include <cstring>

namespace orvane {

bool CopyText(char* dst, std::size_t dstSize, const char* src)
{
    if (dst == nullptr || dstSize == 0)
        return false;
    if (src == nullptr) {
        dst[0] = '\0';
        return true;
    }
    const std::size_t length = strnlen(src, dstSize);
    if (length >= dstSize)
        return false;
    std::memcpy(dst, src, length + 1);
    return true;
}

bool CopyText(char* dst, std::size_t dstSize, std::string_view src)
{
    if (dst == nullptr || dstSize == 0 || src.size() >= dstSize)
        return false;
    std::memcpy(dst, src.data(), src.size());
    dst[src.size()] = '\0';
    return true;
}

IconLocation::IconLocation(const char* iconPath, const char* owner, std::int32_t index)
    : Index(index)
{
    SetIconPath(iconPath);
    SetOwner(owner);
}

bool IconLocation::SetIconPath(const char* text) { return CopyText(IconPath, sizeof IconPath, text); }
bool IconLocation::SetTypeKey(const char* text) { return CopyText(TypeKey, sizeof TypeKey, text); }
bool IconLocation::SetOwner(const char* text) { return CopyText(Owner, sizeof Owner, text); }

std::int32_t ParseIndexText(const char* text)
{
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    // Unsigned arithmetic wraps modulo 2^32 by definition, so "4294967197" reads as -99.
    std::uint32_t value = 0;
    while (*p >= '0' && *p <= '9') {
        value = value * 10u + static_cast<std::uint32_t>(*p - '0');
        ++p;
    }
    if (negative)
        value = 0u - value;
    return static_cast<std::int32_t>(value);
}

namespace {

// Copies [begin, end) into a field; false when it has 260 characters or more.
bool CopyComponent(char (&field)[TextCapacity], const char* begin, const char* end)
{
    const std::size_t length = static_cast<std::size_t>(end - begin);
    if (length >= TextCapacity)
        return false;
    std::memcpy(field, begin, length);
    field[length] = '\0';
    return true;
}

// The index component is read from a bounded copy so that the conversion never
// runs into the type key that follows it.
std::int32_t ParseIndexComponent(const char* begin, const char* end)
{
    char digits[TextCapacity];
    std::size_t length = static_cast<std::size_t>(end - begin);
    if (length >= sizeof digits)
        length = sizeof digits - 1;
    std::memcpy(digits, begin, length);
    digits[length] = '\0';
    return ParseIndexText(digits);
}

} // namespace

std::optional<IconLocation> ParseIconLocation(const char* text, bool withTypeKey)
{
    if (text == nullptr)
        return std::nullopt;

    IconLocation location;
    const char* pathEnd = std::strchr(text, ',');
    if (pathEnd == nullptr)
        pathEnd = text + std::strlen(text);
    if (!CopyComponent(location.IconPath, text, pathEnd))
        return std::nullopt;

    const char* rest = *pathEnd == ',' ? pathEnd + 1 : pathEnd;
    if (!withTypeKey) {
        location.Index = *rest == '\0' ? NoIndex : ParseIndexText(rest);
        return location;
    }

    const char* indexEnd = std::strchr(rest, ',');
    if (indexEnd == nullptr)
        indexEnd = rest + std::strlen(rest);
    if (indexEnd == rest) {
        location.Index = NoIndex;
        return location;
    }
    location.Index = ParseIndexComponent(rest, indexEnd);
    if (*indexEnd == ',') {
        const char* typeKey = indexEnd + 1;
        if (!CopyComponent(location.TypeKey, typeKey, typeKey + std::strlen(typeKey)))
            return std::nullopt;
    }
    return location;
}

bool FormatIconLocation(const IconLocation& location, bool withTypeKey, char* out, std::size_t outSize)
{
    if (out == nullptr || outSize == 0)
        return false;
    const unsigned index = static_cast<std::uint32_t>(location.Index);
    const int written = withTypeKey
        ? std::snprintf(out, outSize, "%s,%u,%s", location.IconPath, index, location.TypeKey)
        : std::snprintf(out, outSize, "%s,%u", location.IconPath, index);
    if (written < 0 || static_cast<std::size_t>(written) >= outSize) {
        out[0] = '\0';
        return false;
    }
    return true;
}

} // namespace orvane
