// This extension's class identifier as tests write it in hostile forms. Registry texts of
// class identifiers are compared exactly by this extension, so the lower-case spelling of
// its own identifier stands for another handler.
#pragma once

#include <cstddef>
#include <iterator>

#include "ExtensionIdentity.h"

namespace orvane::test {

struct ClsidSpelling {
    wchar_t Text[std::size(ExtensionClsidText)] = {};
};

constexpr ClsidSpelling LowerCaseOf(const wchar_t (&text)[std::size(ExtensionClsidText)])
{
    ClsidSpelling result;
    for (std::size_t i = 0; i < std::size(text); ++i)
        result.Text[i] = text[i] >= L'A' && text[i] <= L'Z' ? static_cast<wchar_t>(text[i] - L'A' + L'a') : text[i];
    return result;
}

inline constexpr ClsidSpelling OwnClsidInLowerCase = LowerCaseOf(ExtensionClsidText);

} // namespace orvane::test
