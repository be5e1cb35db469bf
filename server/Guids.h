// The one class this module serves. GCC ignores __declspec(uuid), so the identifier is a
// named constant; its text form is ExtensionClsidText (store/Registry.h), which the
// registry entries and the icon-handler installation use.
#pragma once

#include <windows.h>

namespace orvane {

// {7DFE5A1E-6382-4105-8133-F1D53ACA35A0}
constexpr CLSID CLSID_ShellIconExtension = {
    0x7DFE5A1E, 0x6382, 0x4105, {0x81, 0x33, 0xF1, 0xD5, 0x3A, 0xCA, 0x35, 0xA0}};

} // namespace orvane
