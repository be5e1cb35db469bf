// Made icons (MadeIconFile.h) go once nothing names them any more: a folder's made icon
// lives inside its folder and goes once neither its Desktop.ini nor a folder backup names
// it; a made icon of a file, a type or a drive lives in the scope's folder of made icons
// (MadeIconPlaces.h) and goes once no setting of either scope names it.
//
// What can name a made file of a file, a type or a drive: the per-file tables and the folder backups (every value below the product's key), the
// drives' icons and their backups (every value below both scopes' drive icon keys), the
// types' icons, the icons kept while this extension is a class's handler and their
// backups (every value of each class's DefaultIcon and DefaultIconBAK key in both scopes'
// classes), and the Desktop.ini of every folder that has a backup. A setting names the
// file when its text holds the file's name, whatever folder it names it in: a kept file
// costs some disk space, a deleted one that is still named costs an icon.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "MadeIconFile.h"

namespace orvane {

// Deletes every made icon file in the folder that neither its Desktop.ini nor a folder
// backup of either scope names any more. Files whose bytes do not hash to their name
// are not this product's and stay.
void DeleteUnnamedMadeIcons(const wchar_t* folder);

// Whether some setting of either scope names the made file `name` (a file name, no folder).
bool IsMadeIconNamed(const wchar_t* name);

// Deletes each made icon file in both scopes' folders that no setting names any more.
// Files whose bytes do not hash to their name are not this product's and stay; a folder
// this process may not write keeps its files.
void DeleteUnnamedStoredMadeIcons();

} // namespace orvane
