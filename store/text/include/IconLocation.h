// The icon location record and its two text forms:
//   short  "path,index"          (DefaultIcon values, drive icons, type and folder backups)
//   long   "path,index,typekey"  (the per-file table)
// This header is free of <windows.h> so that the text code also builds natively (fuzzing).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace orvane {

constexpr std::size_t TextCapacity = 260;      // 259 characters and the terminating zero
constexpr std::size_t RegistryTextLimit = 520; // bytes read for icon location values
constexpr std::int32_t NoIndex = -99;          // "the text gave no index"

struct IconLocation {
    wchar_t IconPath[TextCapacity] = {};
    wchar_t TypeKey[TextCapacity] = {};
    // What the icon belongs to: a folder's path, a file type's extension (dot included)
    // or a drive's path or letter; empty where the text form does not say.
    wchar_t TargetName[TextCapacity] = {};
    std::int32_t Index = 0;

    IconLocation() = default;
    // Texts that do not fit leave the field empty; use the setters to learn of it.
    IconLocation(const wchar_t* iconPath, const wchar_t* targetName, std::int32_t index);

    // Each setter copies the whole text, or refuses (false, field unchanged) when it
    // has 260 characters or more. A null text empties the field.
    bool SetIconPath(const wchar_t* text);
    bool SetTypeKey(const wchar_t* text);
    bool SetTargetName(const wchar_t* text);
    void SetIndex(std::int32_t index) { Index = index; }
};

// Parses the short form (withTypeKey false) or the long form (true). None for a null
// text, when a component would not fit into its 259-character field (a long path is
// refused rather than cut into a different one), or when the index is a number beyond
// 32 bits. TargetName is always empty.
std::optional<IconLocation> ParseIconLocation(const wchar_t* text, bool withTypeKey);

// Forms "path,index" or "path,index,typekey" into out, the index in signed decimal (a
// resource id -5 as "-5", as Windows writes its own). In the short form a location
// without an index (NoIndex) is the path alone, as such values are written by others;
// the long form writes it as -99. False when the text would not fit into outSize
// characters (out is then empty); nothing is ever written beyond out[outSize - 1].
bool FormatIconLocation(const IconLocation& location, bool withTypeKey, wchar_t* out, std::size_t outSize);

// An index in signed decimal ("-2147483648" at most) and the terminating zero.
constexpr std::size_t IndexTextCapacity = 12;
// "path,index" for a path of up to 259 characters.
constexpr std::size_t PathIndexCapacity = TextCapacity + IndexTextCapacity;

// Forms the index alone as every text form here writes it, in signed decimal; returns its
// length. NoIndex is written as the number it is (-99).
std::size_t FormatIndexText(std::int32_t index, wchar_t (&out)[IndexTextCapacity]);

// Forms "path,index" from a path and an index, the index as FormatIndexText writes it,
// always present (also for NoIndex: this is the form with an index, such as IconResource
// in Desktop.ini). False for a null path or when the text would not fit into outSize
// characters (out is then empty when outSize allows).
bool FormatPathIndex(const wchar_t* path, std::int32_t index, wchar_t* out, std::size_t outSize);

// Decimal conversion of an index: leading white space, one optional sign, digits up to
// the first non-digit. A number up to 2^32 - 1 is taken modulo 2^32 (earlier builds wrote
// negative indexes as their unsigned bit pattern, "4294967293" for -3); none for a larger
// number.
std::optional<std::int32_t> ParseIndexText(const wchar_t* text);

// How a text reads as a whole index.
enum class WholeIndex {
    Number,     // in the signed 32-bit range
    OutOfRange, // a number beyond it
    NotANumber, // anything else
};
// Reads text as a whole index: one optional sign and one or more decimal digits, nothing
// else (no blanks), as Desktop.ini's IconResource and the command line give it. *index is
// set only for Number.
WholeIndex ParseWholeIndex(std::wstring_view text, std::int32_t* index);

// Copies src into dst (dstSize characters) whole and terminated; false (dst untouched) when it
// does not fit. A null src copies as the empty text.
bool CopyText(wchar_t* dst, std::size_t dstSize, const wchar_t* src);
// The same for a piece of a text.
bool CopyText(wchar_t* dst, std::size_t dstSize, std::wstring_view src);

// "path,index" split at the last comma, which must be followed by a whole signed decimal
// number in the 32-bit range (no blanks); the path before it must not be empty and must
// fit into 259 characters. Anything else does not parse. TargetName and TypeKey are empty.
std::optional<IconLocation> ParseIconResource(const wchar_t* text);

} // namespace orvane
