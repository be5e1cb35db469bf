// The COM classes this product serves: the shell extension (context menu and icon
// handler) and the Explorer command of Windows 11's context menu. GCC ignores
// __declspec(uuid), so the identifiers are named constants; their registry text
// ("{XXXXXXXX-XXXX-...}", upper case, as the registry entries, the icon-handler
// installation and the installers write it) is made from the constants at compile time,
// so the two can never disagree.
#pragma once

#include <windows.h>

#include <cstddef>

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

namespace identity_detail {

struct GuidText {
    wchar_t Text[39] = {};
};

constexpr wchar_t HexDigit(unsigned value) { return L"0123456789ABCDEF"[value & 0xF]; }

constexpr void PutHex(wchar_t* out, std::size_t& at, unsigned long long value, int digits)
{
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        out[at++] = HexDigit(static_cast<unsigned>(value >> shift));
}

constexpr GuidText FormatGuid(const GUID& guid)
{
    GuidText result;
    std::size_t at = 0;
    result.Text[at++] = L'{';
    PutHex(result.Text, at, guid.Data1, 8);
    result.Text[at++] = L'-';
    PutHex(result.Text, at, guid.Data2, 4);
    result.Text[at++] = L'-';
    PutHex(result.Text, at, guid.Data3, 4);
    result.Text[at++] = L'-';
    for (int i = 0; i < 8; ++i) {
        if (i == 2)
            result.Text[at++] = L'-';
        PutHex(result.Text, at, guid.Data4[i], 2);
    }
    result.Text[at++] = L'}';
    result.Text[at] = L'\0';
    return result;
}

inline constexpr GuidText ExtensionClsid = FormatGuid(CLSID_ShellIconExtension);
inline constexpr GuidText ExplorerCommandClsid = FormatGuid(CLSID_ExplorerCommand);

} // namespace identity_detail

// "{7DFE5A1E-...}": 38 characters and the terminating zero.
inline constexpr const wchar_t (&ExtensionClsidText)[39] = identity_detail::ExtensionClsid.Text;
inline constexpr const wchar_t (&ExplorerCommandClsidText)[39] = identity_detail::ExplorerCommandClsid.Text;

} // namespace orvane
