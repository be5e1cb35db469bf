// A small strict JSON reader and writer for the settings file: UTF-8 in the file, UTF-16
// in the program. The reader takes exactly RFC 8259's grammar (no comments, no trailing
// commas, no duplicate names in an object), whole numbers only, a nesting depth of at
// most JsonDepthLimit, and refuses what is not well-formed UTF-8. Nothing here throws:
// a failure, memory running out included, is returned with its reason. Free of
// <windows.h>, so that it builds natively for fuzzing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvane {

// Arrays and objects nested deeper than this are refused, so that a hostile file cannot
// exhaust the stack of the recursive reader.
constexpr std::size_t JsonDepthLimit = 16;

enum class JsonType { Null, Bool, Number, String, Array, Object };

struct JsonValue {
    JsonType Type = JsonType::Null;
    bool Bool = false;
    // A whole number within +-2^53, which every JSON reader keeps exactly.
    std::int64_t Number = 0;
    // A string as UTF-16 units. A "\uD800" escape that is not half of a pair stays the
    // lone unit it names, as a Windows file name may hold one.
    std::wstring Text;
    std::vector<JsonValue> Items;
    // An object's members in the order written.
    std::vector<std::pair<std::wstring, JsonValue>> Members;

    // The member of that name, or null (objects only).
    const JsonValue* Member(std::wstring_view name) const;
};

// Reads one JSON text (an optional UTF-8 byte order mark, one value, white space around
// it). False with the reason and the byte offset where reading stopped when it is not
// such a text; `value` is then unspecified.
bool ParseJson(const unsigned char* data, std::size_t size, JsonValue& value, std::wstring& reason,
               std::size_t& offset) noexcept;

// Appends a string as a JSON string in UTF-8: quotes, the escapes JSON needs, control
// characters as \u00XX, and a lone surrogate as its \uXXXX escape. False when memory ran out.
bool AppendJsonString(std::string& out, std::wstring_view text) noexcept;

// Base64 (RFC 4648, with padding, no line breaks), and its strict reading: only the
// alphabet, length a multiple of four, padding at the end only, the unused bits zero.
bool AppendBase64(std::string& out, const std::uint8_t* data, std::size_t size) noexcept;
bool DecodeBase64(std::wstring_view text, std::vector<std::uint8_t>& bytes) noexcept;

} // namespace orvane
