// Feeds arbitrary registry-sized text to the parser in both forms, checks the invariants
// every caller relies on, and round-trips what fits. The input's bytes are taken in pairs
// as UTF-16 code units (little-endian, as the registry stores text), so that every text
// is one Windows could hold, lone and paired surrogates included, whatever the width of
// wchar_t on the machine that runs the fuzzer.
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "IconLocation.h"
#include "PathText.h"

using namespace orvane;

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckTerminated(const wchar_t (&field)[TextCapacity])
{
    Check(std::wmemchr(field, L'\0', TextCapacity) != nullptr);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > RegistryTextLimit)
        size = RegistryTextLimit;
    // A byte left over after the last whole unit is no character and is dropped, as the
    // registry read drops it.
    std::wstring text;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        text.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));

    for (const bool withTypeKey : {false, true}) {
        const auto location = ParseIconLocation(text.c_str(), withTypeKey);
        if (!location)
            continue;
        CheckTerminated(location->IconPath);
        CheckTerminated(location->TypeKey);
        CheckTerminated(location->TargetName);
        Check(location->TargetName[0] == L'\0');
        Check(std::wcschr(location->IconPath, L',') == nullptr);
        // The path is the text's own beginning, never a cut or rewritten one.
        const std::size_t pathLength = std::wcslen(location->IconPath);
        Check(std::wcsncmp(text.c_str(), location->IconPath, pathLength) == 0);

        wchar_t written[TextCapacity];
        if (FormatIconLocation(*location, withTypeKey, written, TextCapacity)) {
            Check(std::wcslen(written) < TextCapacity);
            const auto back = ParseIconLocation(written, withTypeKey);
            Check(back.has_value());
            Check(std::wcscmp(back->IconPath, location->IconPath) == 0);
            Check(back->Index == location->Index);
            if (withTypeKey)
                Check(std::wcscmp(back->TypeKey, location->TypeKey) == 0);
        } else {
            Check(written[0] == L'\0');
        }
    }

    const auto parts = SplitFileName(text.c_str());
    Check(parts.Name.size() + parts.Extension.size() <= std::wcslen(text.c_str()));
    Check(parts.Extension.empty() || parts.Extension.front() == L'.');

    // A device path loses its prefix once: the plain path it gives is kept as it is.
    const std::wstring plain = WithoutDevicePrefix(text);
    Check(plain.size() <= text.size() + 1);
    Check(WithoutDevicePrefix(plain) == plain);
    return 0;
}
