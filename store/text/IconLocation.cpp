#include "IconLocation.h"

#include <cwchar>

namespace orvane {

bool CopyText(wchar_t* dst, std::size_t dstSize, const wchar_t* src)
{
    if (dst == nullptr || dstSize == 0)
        return false;
    if (src == nullptr) {
        dst[0] = L'\0';
        return true;
    }
    const std::size_t length = wcsnlen(src, dstSize);
    if (length >= dstSize)
        return false;
    std::wmemcpy(dst, src, length + 1);
    return true;
}

bool CopyText(wchar_t* dst, std::size_t dstSize, std::wstring_view src)
{
    if (dst == nullptr || dstSize == 0 || src.size() >= dstSize)
        return false;
    std::wmemcpy(dst, src.data(), src.size());
    dst[src.size()] = L'\0';
    return true;
}

IconLocation::IconLocation(const wchar_t* iconPath, const wchar_t* targetName, std::int32_t index)
    : Index(index)
{
    SetIconPath(iconPath);
    SetTargetName(targetName);
}

bool IconLocation::SetIconPath(const wchar_t* text) { return CopyText(IconPath, TextCapacity, text); }
bool IconLocation::SetTypeKey(const wchar_t* text) { return CopyText(TypeKey, TextCapacity, text); }
bool IconLocation::SetTargetName(const wchar_t* text) { return CopyText(TargetName, TextCapacity, text); }

namespace {

// One optional sign and the decimal digits after it, read up to the first other character.
struct SignedDigits {
    bool Negative = false;
    std::size_t Count = 0;
    // The digits' value; meaningless once it passes 2^32 - 1.
    std::uint64_t Magnitude = 0;
    bool Beyond32Bits = false;
    const wchar_t* End = nullptr;
};

SignedDigits ReadSignedDigits(const wchar_t* p, const wchar_t* end)
{
    SignedDigits digits;
    if (p != end && (*p == L'+' || *p == L'-')) {
        digits.Negative = *p == L'-';
        ++p;
    }
    for (; p != end && *p >= L'0' && *p <= L'9'; ++p) {
        ++digits.Count;
        if (!digits.Beyond32Bits) {
            digits.Magnitude = digits.Magnitude * 10u + static_cast<std::uint64_t>(*p - L'0');
            digits.Beyond32Bits = digits.Magnitude > 0xFFFFFFFFu;
        }
    }
    digits.End = p;
    return digits;
}

} // namespace

std::optional<std::int32_t> ParseIndexText(const wchar_t* text)
{
    const wchar_t* p = text;
    while (*p == L' ' || (*p >= L'\t' && *p <= L'\r'))
        ++p;
    // Earlier builds wrote an index as the unsigned value of its bit pattern ("4294967293"
    // for -3), so every value up to 2^32 - 1 is read, modulo 2^32; a number beyond that
    // is no index of anyone's, and reading it modulo 2^32 would make it another icon.
    const SignedDigits digits = ReadSignedDigits(p, p + std::wcslen(p));
    if (digits.Beyond32Bits)
        return std::nullopt;
    std::uint32_t bits = static_cast<std::uint32_t>(digits.Magnitude);
    if (digits.Negative)
        bits = 0u - bits;
    return static_cast<std::int32_t>(bits);
}

WholeIndex ParseWholeIndex(std::wstring_view text, std::int32_t* index)
{
    const wchar_t* end = text.data() + text.size();
    const SignedDigits digits = ReadSignedDigits(text.data(), end);
    if (digits.Count == 0 || digits.End != end)
        return WholeIndex::NotANumber;
    // The negative range reaches one further: -2147483648.
    const std::uint64_t limit = digits.Negative ? 0x80000000u : 0x7FFFFFFFu;
    if (digits.Beyond32Bits || digits.Magnitude > limit)
        return WholeIndex::OutOfRange;
    const std::uint32_t magnitude = static_cast<std::uint32_t>(digits.Magnitude);
    *index = static_cast<std::int32_t>(digits.Negative ? 0u - magnitude : magnitude);
    return WholeIndex::Number;
}

namespace {

// Copies [begin, end) into a field; false when it has 260 characters or more.
bool CopyComponent(wchar_t (&field)[TextCapacity], const wchar_t* begin, const wchar_t* end)
{
    const std::size_t length = static_cast<std::size_t>(end - begin);
    if (length >= TextCapacity)
        return false;
    std::wmemcpy(field, begin, length);
    field[length] = L'\0';
    return true;
}

// The index component is read from a bounded copy so that the conversion never
// runs into the type key that follows it.
std::optional<std::int32_t> ParseIndexComponent(const wchar_t* begin, const wchar_t* end)
{
    wchar_t digits[TextCapacity];
    std::size_t length = static_cast<std::size_t>(end - begin);
    if (length >= TextCapacity)
        length = TextCapacity - 1;
    std::wmemcpy(digits, begin, length);
    digits[length] = L'\0';
    return ParseIndexText(digits);
}

// Appends text to out[0, outSize) at *used; false when it and a terminator do not fit.
bool Append(wchar_t* out, std::size_t outSize, std::size_t* used, const wchar_t* text, std::size_t length)
{
    if (length >= outSize - *used)
        return false;
    std::wmemcpy(out + *used, text, length);
    *used += length;
    out[*used] = L'\0';
    return true;
}

} // namespace

std::optional<IconLocation> ParseIconLocation(const wchar_t* text, bool withTypeKey)
{
    if (text == nullptr)
        return std::nullopt;

    IconLocation location;
    const wchar_t* pathEnd = std::wcschr(text, L',');
    if (pathEnd == nullptr)
        pathEnd = text + std::wcslen(text);
    if (!CopyComponent(location.IconPath, text, pathEnd))
        return std::nullopt;

    const wchar_t* rest = *pathEnd == L',' ? pathEnd + 1 : pathEnd;
    if (!withTypeKey) {
        if (*rest == L'\0') {
            location.Index = NoIndex;
            return location;
        }
        const std::optional<std::int32_t> index = ParseIndexText(rest);
        if (!index)
            return std::nullopt;
        location.Index = *index;
        return location;
    }

    const wchar_t* indexEnd = std::wcschr(rest, L',');
    if (indexEnd == nullptr)
        indexEnd = rest + std::wcslen(rest);
    if (indexEnd == rest) {
        location.Index = NoIndex;
        return location;
    }
    const std::optional<std::int32_t> index = ParseIndexComponent(rest, indexEnd);
    if (!index)
        return std::nullopt;
    location.Index = *index;
    if (*indexEnd == L',') {
        const wchar_t* typeKey = indexEnd + 1;
        if (!CopyComponent(location.TypeKey, typeKey, typeKey + std::wcslen(typeKey)))
            return std::nullopt;
    }
    return location;
}

// Decimal digits written by hand: the wide printf family differs between the platform's
// runtime and others, and this text must be the same everywhere.
std::size_t FormatIndexText(std::int32_t index, wchar_t (&out)[IndexTextCapacity])
{
    std::uint32_t magnitude = index < 0 ? 0u - static_cast<std::uint32_t>(index) : static_cast<std::uint32_t>(index);
    wchar_t reversed[10];
    std::size_t count = 0;
    do {
        reversed[count++] = static_cast<wchar_t>(L'0' + magnitude % 10u);
        magnitude /= 10u;
    } while (magnitude != 0);
    std::size_t used = 0;
    if (index < 0)
        out[used++] = L'-';
    for (std::size_t i = 0; i < count; ++i)
        out[used++] = reversed[count - 1 - i];
    out[used] = L'\0';
    return used;
}

bool FormatPathIndex(const wchar_t* path, std::int32_t index, wchar_t* out, std::size_t outSize)
{
    if (out == nullptr || outSize == 0)
        return false;
    out[0] = L'\0';
    if (path == nullptr)
        return false;
    wchar_t digits[IndexTextCapacity];
    const std::size_t digitsLength = FormatIndexText(index, digits);
    std::size_t used = 0;
    if (Append(out, outSize, &used, path, wcsnlen(path, outSize)) && Append(out, outSize, &used, L",", 1) &&
        Append(out, outSize, &used, digits, digitsLength))
        return true;
    out[0] = L'\0';
    return false;
}

bool FormatIconLocation(const IconLocation& location, bool withTypeKey, wchar_t* out, std::size_t outSize)
{
    if (out == nullptr || outSize == 0)
        return false;
    // A location that gave no index is written as it was read, the path alone: an index
    // added to it would be one the shell reads as another icon. The long form needs the
    // field that separates the class, and keeps the number that reads back as none.
    wchar_t index[IndexTextCapacity];
    const bool bare = location.Index == NoIndex && !withTypeKey;
    const std::size_t indexLength = FormatIndexText(location.Index, index);
    // A field filled by hand without its terminator is refused, not read beyond its end.
    const std::size_t pathLength = wcsnlen(location.IconPath, TextCapacity);
    const std::size_t typeKeyLength = withTypeKey ? wcsnlen(location.TypeKey, TextCapacity) : 0;
    std::size_t used = 0;
    out[0] = L'\0';
    const bool fits = pathLength < TextCapacity && typeKeyLength < TextCapacity &&
                      Append(out, outSize, &used, location.IconPath, pathLength) &&
                      (bare || (Append(out, outSize, &used, L",", 1) &&
                                Append(out, outSize, &used, index, indexLength))) &&
                      (!withTypeKey ||
                       (Append(out, outSize, &used, L",", 1) &&
                        Append(out, outSize, &used, location.TypeKey, typeKeyLength)));
    if (!fits) {
        out[0] = L'\0';
        return false;
    }
    return true;
}

std::optional<IconLocation> ParseIconResource(const wchar_t* text)
{
    if (text == nullptr)
        return std::nullopt;
    const wchar_t* comma = std::wcsrchr(text, L',');
    if (comma == nullptr || comma == text)
        return std::nullopt;
    std::int32_t index = 0;
    if (ParseWholeIndex(comma + 1, &index) != WholeIndex::Number)
        return std::nullopt;
    const std::size_t length = static_cast<std::size_t>(comma - text);
    if (length >= TextCapacity)
        return std::nullopt;
    IconLocation location;
    std::wmemcpy(location.IconPath, text, length);
    location.IconPath[length] = L'\0';
    location.SetIndex(index);
    return location;
}

} // namespace orvane
