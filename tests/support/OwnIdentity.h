// This extension's class identifier as tests write it in hostile forms. Registry texts of
// class identifiers are compared exactly by this extension, so the lower-case spelling of
// its own identifier stands for another handler.
#pragma once

#include <cstddef>

#include "ExtensionIdentity.h"

namespace orvane::test {

struct ClsidSpelling {
    char Text[sizeof ExtensionClsidText] = {};
};

constexpr ClsidSpelling LowerCaseOf(const char (&text)[sizeof ExtensionClsidText])
{
    ClsidSpelling result;
    for (std::size_t i = 0; i < sizeof text; ++i)
        result.Text[i] = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
    return result;
}

inline constexpr ClsidSpelling OwnClsidInLowerCase = LowerCaseOf(ExtensionClsidText);

} // namespace orvane::test
