// Why Explorer may not show a folder's icon although its Desktop.ini names it: Windows
// distrusts a Desktop.ini that carries the mark of the web (the "Zone.Identifier" stream
// that downloads and files taken out of downloaded archives get), and is reported to
// ignore Desktop.ini on network shares and removable drives; an icon source with the mark
// or on a share may be refused or be gone later. Nothing here changes a file, except
// RemoveDesktopIniMark, which only a user's explicit choice may call: a downloaded
// Desktop.ini may be hostile, so its mark is never taken away silently.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

#include "ShellPath.h"

namespace orvane {

enum class TrustFinding : std::uint32_t {
    DesktopIniMarked = 1,  // the folder's Desktop.ini carries the mark of the web
    FolderOnNetwork = 2,   // the folder lies on a network share
    FolderOnRemovable = 4, // the folder lies on a removable drive
    SourceMarked = 8,      // the icon source carries the mark of the web
    SourceOnNetwork = 16,  // the icon source lies on a network share
};

constexpr TrustFinding AllTrustFindings[] = {TrustFinding::DesktopIniMarked, TrustFinding::FolderOnNetwork,
                                             TrustFinding::FolderOnRemovable, TrustFinding::SourceMarked,
                                             TrustFinding::SourceOnNetwork};

struct TrustFindings {
    std::uint32_t Bits = 0;
    bool Has(TrustFinding finding) const { return (Bits & static_cast<std::uint32_t>(finding)) != 0; }
    void Add(TrustFinding finding) { Bits |= static_cast<std::uint32_t>(finding); }
    bool Any() const { return Bits != 0; }
};

// One sentence that tells the user what the finding means for the folder's icon.
const wchar_t* TrustFindingText(TrustFinding finding);

// The zone that a file's mark of the web names: "ZoneId" of "[ZoneTransfer]" in its
// "Zone.Identifier" stream. None when it has no such stream or the stream names no zone.
// The one function through which every mark is read.
std::optional<DWORD> ReadZoneId(const wchar_t* path);
// A mark of the web: a zone of the Internet (3) or of restricted sites (4) or beyond.
bool CarriesMarkOfTheWeb(const wchar_t* path);

// What may keep Explorer from showing the folder's icon taken from iconSource (null or
// empty: no source is checked). A source named without a folder ("shell32.dll") is found
// on the system's search path and is not checked; environment references are expanded.
TrustFindings CheckFolderIconTrust(const wchar_t* folder, const wchar_t* iconSource);

// Removes the mark of the web from the folder's Desktop.ini, and from nothing else.
// ERROR_SUCCESS once it carries none (also when it carried none); DesktopIniIsLinkStatus or
// DesktopIniIsFolderStatus when the Desktop.ini is no file of the folder's own;
// ERROR_FILE_NOT_FOUND when there is no Desktop.ini.
LONG RemoveDesktopIniMark(const wchar_t* folder);

} // namespace orvane
