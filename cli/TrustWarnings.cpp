#include "TrustWarnings.h"

#include <windows.h>

#include <cstdint>

#include "ConsoleText.h"
#include "Messages.h"

namespace orvane::cli {

TrustFindings FindingsOf(const IconTarget& target)
{
    if (target.Kind() != TargetKind::Folder)
        return {};
    return CheckFolderIconTrust(target.Path(), target.Current ? target.Current->IconPath : nullptr);
}

std::wstring FindingWarning(TrustFinding finding)
{
    return std::wstring(L"Windows may not show this folder's icon: ") + TrustFindingText(finding);
}

bool SettleTrust(const wchar_t* path, const IconTarget& target, bool trustDesktopIni)
{
    TrustFindings findings = FindingsOf(target);
    bool removed = true;
    if (trustDesktopIni && findings.Has(TrustFinding::DesktopIniMarked)) {
        const LONG status = RemoveDesktopIniMark(target.Path());
        removed = status == ERROR_SUCCESS;
        if (removed) {
            findings.Bits &= ~static_cast<std::uint32_t>(TrustFinding::DesktopIniMarked);
            WriteOut(std::wstring(target.Path()) + L": mark of the web removed from Desktop.ini\n");
        } else {
            Fail(path, L"the mark of the web could not be removed from Desktop.ini (error " + std::to_wstring(status) +
                           L")");
        }
    }
    for (TrustFinding finding : AllTrustFindings) {
        if (findings.Has(finding))
            WriteErr(std::wstring(L"orvane: warning: ") + path + L": " + FindingWarning(finding) + L"\n");
    }
    if (findings.Has(TrustFinding::DesktopIniMarked))
        WriteErr(std::wstring(L"orvane: warning: ") + path +
                 L": if you trust this folder's Desktop.ini, --trust-desktop-ini removes its mark\n");
    return removed;
}

} // namespace orvane::cli
