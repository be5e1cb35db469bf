#include "PathText.h"

namespace orvane {

FileNameParts SplitFileName(std::wstring_view path)
{
    std::size_t start = path.find_last_of(L"\\/");
    if (start != std::wstring_view::npos)
        ++start;
    else if (path.size() >= 2 && path[1] == L':')
        start = 2;
    else
        start = 0;

    const std::wstring_view component = path.substr(start);
    const std::size_t dot = component.rfind(L'.');
    if (dot == std::wstring_view::npos)
        return {component, {}};
    return {component.substr(0, dot), component.substr(dot)};
}

} // namespace orvane
