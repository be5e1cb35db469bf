#include "PathText.h"

namespace orvane {

FileNameParts SplitFileName(std::string_view path)
{
    std::size_t start = path.find_last_of("\\/");
    if (start != std::string_view::npos)
        ++start;
    else if (path.size() >= 2 && path[1] == ':')
        start = 2;
    else
        start = 0;

    const std::string_view component = path.substr(start);
    const std::size_t dot = component.rfind('.');
    if (dot == std::string_view::npos)
        return {component, {}};
    return {component.substr(0, dot), component.substr(dot)};
}

} // namespace orvane
