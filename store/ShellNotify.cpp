#include "ShellNotify.h"

#include <shlobj.h>

#include <cstring>

namespace orvane {

void NotifyShell(TargetKind kind, const char* targetPath)
{
    switch (kind) {
    case TargetKind::Folder: {
        char parent[TextCapacity] = {};
        if (!CopyText(parent, sizeof parent, targetPath))
            return;
        if (char* slash = std::strrchr(parent, '\\'))
            *slash = '\0';
        SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHA, parent, nullptr);
        break;
    }
    case TargetKind::File:
        SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSHNOWAIT, nullptr, nullptr);
        break;
    case TargetKind::Drive:
        SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHA, targetPath, nullptr);
        break;
    case TargetKind::Unclassified:
        break;
    }
}

} // namespace orvane
