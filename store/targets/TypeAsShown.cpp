#include "TypeAsShown.h"

#include <cwchar>

#include "FileTypeIcons.h"
#include "HandlerPlaceholder.h"
#include "KindOperations.h"

namespace orvane {

TypeAsShown ReadTypeAsShown(const wchar_t* path)
{
    TypeAsShown shown;
    wchar_t extension[TextCapacity];
    if (!ExtensionOf(path, extension))
        return shown;
    const std::optional<IconLocation> visible = ReadTypeIcon(extension, nullptr, true, nullptr);
    shown.HandlerAsked = visible && IsOwnHandlerPlaceholder(*visible);
    shown.Icon = shown.HandlerAsked ? ReadTypeIconBehindHandler(*visible) : visible;
    return shown;
}

bool SameAsShown(const TypeAsShown& a, const TypeAsShown& b)
{
    if (a.HandlerAsked != b.HandlerAsked || a.Icon.has_value() != b.Icon.has_value())
        return false;
    return !a.Icon || (a.Icon->Index == b.Icon->Index && std::wcscmp(a.Icon->IconPath, b.Icon->IconPath) == 0);
}

} // namespace orvane
