// Feeds arbitrary registry-sized text to the parser in both forms, checks the invariants
// every caller relies on, and round-trips what fits.
#include <cstdint>
#include <cstdlib>
#include <cstring>
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

void CheckTerminated(const char (&field)[TextCapacity])
{
    Check(std::memchr(field, '\0', TextCapacity) != nullptr);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > RegistryTextLimit)
        size = RegistryTextLimit;
    const std::string text(reinterpret_cast<const char*>(data), size);

    for (const bool withTypeKey : {false, true}) {
        const auto location = ParseIconLocation(text.c_str(), withTypeKey);
        if (!location)
            continue;
        CheckTerminated(location->IconPath);
        CheckTerminated(location->TypeKey);
        CheckTerminated(location->Owner);
        Check(location->Owner[0] == '\0');
        Check(std::strchr(location->IconPath, ',') == nullptr);

        char written[TextCapacity];
        if (FormatIconLocation(*location, withTypeKey, written, sizeof written)) {
            Check(std::strlen(written) < TextCapacity);
            const auto back = ParseIconLocation(written, withTypeKey);
            Check(back.has_value());
            Check(std::strcmp(back->IconPath, location->IconPath) == 0);
            Check(back->Index == location->Index);
            if (withTypeKey)
                Check(std::strcmp(back->TypeKey, location->TypeKey) == 0);
        }
    }

    const auto parts = SplitFileName(text.c_str());
    Check(parts.Name.size() + parts.Extension.size() <= std::strlen(text.c_str()));
    Check(parts.Extension.empty() || parts.Extension.front() == '.');
    return 0;
}
