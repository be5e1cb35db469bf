// Folder icons: "IconFile" and "IconIndex" in the ".ShellClassInfo" section of the
// folder's "Desktop.ini" (hidden), with the system attribute on the folder, and the same
// location as "IconResource" ("path,index"), which Explorer since Vista reads first;
// backups in HKEY_LOCAL_MACHINE\<ProductKey>\FolderBAKIcons, one short-form value per
// folder path.
#pragma once

#include <windows.h>

#include <optional>

#include "IconLocation.h"

namespace orvane {

// Forms "<folder>\Desktop.ini" (no second backslash when the folder ends with one).
// False when it would not fit into 260 characters.
bool FormatProfilePath(const char* folder, char (&out)[TextCapacity]);

// "IconResource" when it parses, else "IconFile"/"IconIndex"; the Folder class's icon
// when neither names one.
std::optional<IconLocation> ReadFolderIcon(const char* folder);
// Writes the location into the profile file of the folder named by its Owner, as all
// three entries; the file's other entries and sections stay.
// ERROR_FILENAME_EXCED_RANGE, nothing written, when the profile path does not fit.
LONG WriteFolderIcon(const IconLocation& location);

std::optional<IconLocation> ReadFolderBackup(const char* folder);
LONG WriteFolderBackup(const IconLocation& location, const char* folder);
LONG DeleteFolderBackup(const char* folder);

} // namespace orvane
