#include "JsonText.h"

#include <new>

namespace orvane {

namespace {

constexpr std::int64_t LargestExactNumber = std::int64_t{1} << 53;

class JsonReader {
public:
    JsonReader(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

    bool ReadText(JsonValue& value)
    {
        if (size_ >= 3 && data_[0] == 0xEF && data_[1] == 0xBB && data_[2] == 0xBF)
            at_ = 3;
        SkipSpace();
        if (!ReadValue(value, 0))
            return false;
        SkipSpace();
        if (at_ != size_)
            return Fail(L"text follows the value");
        return true;
    }

    const std::wstring& Reason() const { return reason_; }
    std::size_t Offset() const { return at_; }

private:
    bool Fail(const wchar_t* reason)
    {
        reason_ = reason;
        return false;
    }
    bool AtEnd() const { return at_ >= size_; }
    unsigned char Peek() const { return data_[at_]; }

    void SkipSpace()
    {
        while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r'))
            ++at_;
    }

    bool Expect(std::string_view word)
    {
        if (size_ - at_ < word.size() || std::string_view(reinterpret_cast<const char*>(data_ + at_), word.size()) != word)
            return Fail(L"a value is misspelt or cut short");
        at_ += word.size();
        return true;
    }

    bool ReadValue(JsonValue& value, std::size_t depth)
    {
        if (AtEnd())
            return Fail(L"the text ends where a value should be");
        switch (Peek()) {
        case '{':
            return ReadObject(value, depth + 1);
        case '[':
            return ReadArray(value, depth + 1);
        case '"':
            value.Type = JsonType::String;
            return ReadString(value.Text);
        case 't':
            value.Type = JsonType::Bool;
            value.Bool = true;
            return Expect("true");
        case 'f':
            value.Type = JsonType::Bool;
            value.Bool = false;
            return Expect("false");
        case 'n':
            value.Type = JsonType::Null;
            return Expect("null");
        default:
            return ReadNumber(value);
        }
    }

    bool ReadNumber(JsonValue& value)
    {
        bool negative = false;
        if (Peek() == '-') {
            negative = true;
            ++at_;
        }
        if (AtEnd() || Peek() < '0' || Peek() > '9')
            return Fail(L"a value is not JSON");
        if (Peek() == '0' && at_ + 1 < size_ && data_[at_ + 1] >= '0' && data_[at_ + 1] <= '9')
            return Fail(L"a number has a leading zero");
        std::int64_t number = 0;
        while (!AtEnd() && Peek() >= '0' && Peek() <= '9') {
            number = number * 10 + (Peek() - '0');
            if (number > LargestExactNumber)
                return Fail(L"a number is too large");
            ++at_;
        }
        if (!AtEnd() && (Peek() == '.' || Peek() == 'e' || Peek() == 'E'))
            return Fail(L"a number is not a whole number");
        value.Type = JsonType::Number;
        value.Number = negative ? -number : number;
        return true;
    }

    bool ReadHexUnit(std::uint32_t& unit)
    {
        if (size_ - at_ < 4)
            return Fail(L"a \\u escape is cut short");
        unit = 0;
        for (int i = 0; i < 4; ++i) {
            const unsigned char c = data_[at_++];
            unit <<= 4;
            if (c >= '0' && c <= '9')
                unit |= c - '0';
            else if (c >= 'a' && c <= 'f')
                unit |= c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                unit |= c - 'A' + 10;
            else
                return Fail(L"a \\u escape has a character that is not hexadecimal");
        }
        return true;
    }

    bool ReadEscape(std::wstring& text)
    {
        if (AtEnd())
            return Fail(L"a string is cut short");
        const unsigned char c = data_[at_++];
        switch (c) {
        case '"': text += L'"'; return true;
        case '\\': text += L'\\'; return true;
        case '/': text += L'/'; return true;
        case 'b': text += L'\b'; return true;
        case 'f': text += L'\f'; return true;
        case 'n': text += L'\n'; return true;
        case 'r': text += L'\r'; return true;
        case 't': text += L'\t'; return true;
        case 'u': break;
        default: return Fail(L"a string has an unknown escape");
        }
        std::uint32_t unit = 0;
        if (!ReadHexUnit(unit))
            return false;
        text += static_cast<wchar_t>(unit);
        return true;
    }

    // One character of raw UTF-8, appended as UTF-16 units: overlong forms, surrogates
    // and anything beyond U+10FFFF are refused.
    bool ReadUtf8(std::wstring& text)
    {
        const unsigned char lead = data_[at_];
        std::size_t length = 0;
        std::uint32_t point = 0, least = 0;
        if (lead < 0x80) {
            text += static_cast<wchar_t>(lead);
            ++at_;
            return true;
        }
        if ((lead & 0xE0) == 0xC0) {
            length = 2, point = lead & 0x1F, least = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, point = lead & 0x0F, least = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, point = lead & 0x07, least = 0x10000;
        } else {
            return Fail(L"the text is not UTF-8");
        }
        if (size_ - at_ < length)
            return Fail(L"the text is not UTF-8 (a character is cut short)");
        for (std::size_t i = 1; i < length; ++i) {
            const unsigned char next = data_[at_ + i];
            if ((next & 0xC0) != 0x80)
                return Fail(L"the text is not UTF-8");
            point = (point << 6) | (next & 0x3F);
        }
        if (point < least || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
            return Fail(L"the text is not UTF-8");
        at_ += length;
        if (point < 0x10000) {
            text += static_cast<wchar_t>(point);
        } else {
            point -= 0x10000;
            text += static_cast<wchar_t>(0xD800 + (point >> 10));
            text += static_cast<wchar_t>(0xDC00 + (point & 0x3FF));
        }
        return true;
    }

    bool ReadString(std::wstring& text)
    {
        ++at_; // the opening quote
        text.clear();
        while (true) {
            if (AtEnd())
                return Fail(L"a string is cut short");
            const unsigned char c = Peek();
            if (c == '"') {
                ++at_;
                return true;
            }
            if (c < 0x20)
                return Fail(L"a string holds a control character");
            if (c == '\\') {
                ++at_;
                if (!ReadEscape(text))
                    return false;
            } else if (!ReadUtf8(text)) {
                return false;
            }
        }
    }

    bool ReadArray(JsonValue& value, std::size_t depth)
    {
        if (depth > JsonDepthLimit)
            return Fail(L"arrays and objects are nested too deep");
        value.Type = JsonType::Array;
        ++at_;
        SkipSpace();
        if (!AtEnd() && Peek() == ']') {
            ++at_;
            return true;
        }
        while (true) {
            value.Items.emplace_back();
            SkipSpace();
            if (!ReadValue(value.Items.back(), depth))
                return false;
            SkipSpace();
            if (AtEnd())
                return Fail(L"an array is cut short");
            if (Peek() == ']') {
                ++at_;
                return true;
            }
            if (Peek() != ',')
                return Fail(L"an array's items are not separated by commas");
            ++at_;
        }
    }

    bool ReadObject(JsonValue& value, std::size_t depth)
    {
        if (depth > JsonDepthLimit)
            return Fail(L"arrays and objects are nested too deep");
        value.Type = JsonType::Object;
        ++at_;
        SkipSpace();
        if (!AtEnd() && Peek() == '}') {
            ++at_;
            return true;
        }
        while (true) {
            SkipSpace();
            if (AtEnd() || Peek() != '"')
                return Fail(L"an object's member has no name in quotes");
            std::wstring name;
            if (!ReadString(name))
                return false;
            if (value.Member(name) != nullptr)
                return Fail(L"an object names a member twice");
            SkipSpace();
            if (AtEnd() || Peek() != ':')
                return Fail(L"an object's member has no colon");
            ++at_;
            SkipSpace();
            value.Members.emplace_back(std::move(name), JsonValue{});
            if (!ReadValue(value.Members.back().second, depth))
                return false;
            SkipSpace();
            if (AtEnd())
                return Fail(L"an object is cut short");
            if (Peek() == '}') {
                ++at_;
                return true;
            }
            if (Peek() != ',')
                return Fail(L"an object's members are not separated by commas");
            ++at_;
        }
    }

    const unsigned char* data_;
    std::size_t size_;
    std::size_t at_ = 0;
    std::wstring reason_;
};

const char HexDigits[] = "0123456789abcdef";

void AppendEscapedUnit(std::string& out, std::uint32_t unit)
{
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        out += HexDigits[(unit >> shift) & 0xF];
}

void AppendUtf8(std::string& out, std::uint32_t point)
{
    if (point < 0x80) {
        out += static_cast<char>(point);
    } else if (point < 0x800) {
        out += static_cast<char>(0xC0 | (point >> 6));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        out += static_cast<char>(0xE0 | (point >> 12));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (point >> 18));
        out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    }
}

const char Base64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Digit(wchar_t c)
{
    if (c >= L'A' && c <= L'Z')
        return c - L'A';
    if (c >= L'a' && c <= L'z')
        return c - L'a' + 26;
    if (c >= L'0' && c <= L'9')
        return c - L'0' + 52;
    if (c == L'+')
        return 62;
    if (c == L'/')
        return 63;
    return -1;
}

} // namespace

const JsonValue* JsonValue::Member(std::wstring_view name) const
{
    for (const auto& member : Members) {
        if (member.first == name)
            return &member.second;
    }
    return nullptr;
}

bool ParseJson(const unsigned char* data, std::size_t size, JsonValue& value, std::wstring& reason,
               std::size_t& offset) noexcept
{
    JsonReader reader(data, size);
    try {
        value = JsonValue{};
        const bool read = reader.ReadText(value);
        offset = reader.Offset();
        if (!read)
            reason = reader.Reason();
        return read;
    } catch (const std::bad_alloc&) {
        offset = reader.Offset();
        reason = L"memory ran out while the text was read";
        return false;
    }
}

bool AppendJsonString(std::string& out, std::wstring_view text) noexcept
{
    try {
        out += '"';
        for (std::size_t i = 0; i < text.size(); ++i) {
            const std::uint32_t unit = static_cast<std::uint16_t>(text[i]);
            if (unit == '"' || unit == '\\') {
                out += '\\';
                out += static_cast<char>(unit);
            } else if (unit < 0x20) {
                AppendEscapedUnit(out, unit);
            } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() &&
                       static_cast<std::uint16_t>(text[i + 1]) >= 0xDC00 &&
                       static_cast<std::uint16_t>(text[i + 1]) <= 0xDFFF) {
                const std::uint32_t low = static_cast<std::uint16_t>(text[++i]);
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
            } else if (unit >= 0xD800 && unit <= 0xDFFF) {
                AppendEscapedUnit(out, unit);
            } else {
                AppendUtf8(out, unit);
            }
        }
        out += '"';
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool AppendBase64(std::string& out, const std::uint8_t* data, std::size_t size) noexcept
{
    try {
        out.reserve(out.size() + (size + 2) / 3 * 4);
        for (std::size_t i = 0; i < size; i += 3) {
            const std::uint32_t chunk = (std::uint32_t{data[i]} << 16) |
                                        (i + 1 < size ? std::uint32_t{data[i + 1]} << 8 : 0) |
                                        (i + 2 < size ? std::uint32_t{data[i + 2]} : 0);
            out += Base64Alphabet[(chunk >> 18) & 0x3F];
            out += Base64Alphabet[(chunk >> 12) & 0x3F];
            out += i + 1 < size ? Base64Alphabet[(chunk >> 6) & 0x3F] : '=';
            out += i + 2 < size ? Base64Alphabet[chunk & 0x3F] : '=';
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool DecodeBase64(std::wstring_view text, std::vector<std::uint8_t>& bytes) noexcept
{
    bytes.clear();
    if (text.size() % 4 != 0)
        return false;
    try {
        bytes.reserve(text.size() / 4 * 3);
        for (std::size_t i = 0; i < text.size(); i += 4) {
            const bool last = i + 4 == text.size();
            const std::size_t padding = last ? (text[i + 3] == L'=') + (text[i + 2] == L'=' && text[i + 3] == L'=') : 0;
            std::uint32_t chunk = 0;
            for (std::size_t j = 0; j < 4; ++j) {
                const int digit = j >= 4 - padding ? 0 : Base64Digit(text[i + j]);
                if (digit < 0)
                    return false;
                chunk = (chunk << 6) | static_cast<std::uint32_t>(digit);
            }
            bytes.push_back(static_cast<std::uint8_t>(chunk >> 16));
            if (padding < 2)
                bytes.push_back(static_cast<std::uint8_t>(chunk >> 8));
            if (padding < 1)
                bytes.push_back(static_cast<std::uint8_t>(chunk));
            // The bits the padding leaves unused must be zero, so that each byte string
            // has one text only.
            if ((padding == 1 && (chunk & 0xFF) != 0) || (padding == 2 && (chunk & 0xFFFF) != 0))
                return false;
        }
        return true;
    } catch (const std::bad_alloc&) {
        bytes.clear();
        return false;
    }
}

} // namespace orvane
