#include "ShellNotify.h"

#include <shlobj.h>

#include <cwchar>
#include <iterator>

#include "IconLocation.h"

namespace orvane {

void NotifyShell(TargetKind kind, const wchar_t* targetPath)
{
    switch (kind) {
    case TargetKind::Folder: {
        wchar_t parent[TextCapacity] = {};
        if (!CopyText(parent, std::size(parent), targetPath))
            return;
        if (wchar_t* slash = std::wcsrchr(parent, L'\\'))
            *slash = L'\0';
        SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHW, parent, nullptr);
        break;
    }
    case TargetKind::File:
    case TargetKind::Type:
        SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSHNOWAIT, nullptr, nullptr);
        break;
    case TargetKind::Drive:
        SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHW, targetPath, nullptr);
        break;
    case TargetKind::Unclassified:
        break;
    }
}

} // namespace orvane
