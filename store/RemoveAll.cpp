#include "RemoveAll.h"

#include "FileIconTable.h"
#include "FileTypeIcons.h"
#include "IconLocation.h"
#include "Registry.h"

namespace orvane {

namespace {

// The tables hold only values; a table that somehow gained subkeys, which
// RegDeleteKeyA refuses to delete, goes with everything below it.
LONG DeleteTable(const char* path)
{
    const LONG status = DeletionStatus(RegDeleteKeyA(HKEY_LOCAL_MACHINE, path));
    if (status == ERROR_SUCCESS)
        return ERROR_SUCCESS;
    return DeletionStatus(RegDeleteTreeA(HKEY_LOCAL_MACHINE, path)) == ERROR_SUCCESS ? ERROR_SUCCESS : status;
}

} // namespace

LONG RemoveAllSettings()
{
    LONG result = ERROR_SUCCESS;
    const auto note = [&result](LONG status) {
        if (result == ERROR_SUCCESS)
            result = status;
    };

    // The registry lists HKEY_CLASSES_ROOT's keys in order of their names: "*" and any
    // other name that sorts before the dot, then the extension keys as one run, then
    // the class keys. Only the run of extensions is of interest; the walk ends after it.
    IconLocation location;
    bool inExtensions = false;
    for (DWORD index = 0;; ++index) {
        char name[TextCapacity];
        DWORD nameSize = sizeof name;
        const LONG status = RegEnumKeyExA(HKEY_CLASSES_ROOT, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            if (status != ERROR_NO_MORE_ITEMS)
                note(status);
            break;
        }
        if (name[0] != '.') {
            if (inExtensions)
                break;
            continue;
        }
        inExtensions = true;

        char className[TextCapacity];
        if (ReadExtensionClass(name, className) && location.SetTypeKey(className))
            note(UninstallIconHandler(location));
    }

    note(DeleteTable(FileIconsKey));
    note(DeleteTable(FolderBackupKey));
    return result;
}

} // namespace orvane
