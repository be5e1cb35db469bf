// The COM classes this product serves: the shell extension (context menu and icon
// handler) and the Explorer command of Windows 11's context menu. GCC ignores
// __declspec(uuid), so the identifiers are named constants, defined here only. Their
// registry text ("{XXXXXXXX-XXXX-...}", upper case, as the registry entries, the
// icon-handler installation and the installers write it), ExtensionClsidText and
// ExplorerCommandClsidText, is made from these constants by the build
// (cmake/ExtensionClsid.cmake), once for the code and the installers alike, so that no two
// of them can disagree.
#pragma once

#include <windows.h>

#include "ExtensionClsidText.h"

namespace orvane {

constexpr CLSID CLSID_ShellIconExtension = {
    0x7DFE5A1E, 0x6382, 0x4105, {0x81, 0x33, 0xF1, 0xD5, 0x3A, 0xCA, 0x35, 0xA0}};

// The Explorer command ("Change Icon..." in Windows 11's own context menu), named by the
// package's manifest and served by the same module.
constexpr CLSID CLSID_ExplorerCommand = {
    0x3433A447, 0xF6F6, 0x4310, {0xB4, 0xD5, 0x65, 0x65, 0x97, 0x76, 0xC4, 0x49}};

// The command's language-independent name (IExplorerCommand::GetCanonicalName), by which
// Explorer tells it from other commands.
constexpr GUID ExplorerCommandCanonicalName = {
    0x7E512DF0, 0xF7DA, 0x47B3, {0x84, 0x36, 0x73, 0x2F, 0x57, 0x93, 0x95, 0x38}};

} // namespace orvane
