// The words of Orvane's menu entry, shared by the classic context menu and the Explorer
// command of Windows 11's menu, so that both roads show the same entry.
#pragma once

namespace orvane {

inline constexpr wchar_t MenuText[] = L"&Change Icon...";
inline constexpr wchar_t HelpText[] = L"Change Icon of selected folder";

} // namespace orvane
