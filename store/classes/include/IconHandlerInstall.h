// The installation of this extension as a class's icon handler, in one scope's class
// keys: DefaultIcon becomes "%1" and shellex\IconHandler names this extension, with
// backups of the class's DefaultIcon text (DefaultIconBAK) and previous handler
// (shellex\IconHandlerBAK) that uninstalling puts back.
#pragma once

#include <windows.h>

#include "IconLocation.h"
#include "IconHandlerUninstall.h"
#include "Scope.h"

namespace orvane {

// Installs into one scope's class keys (UninstallIconHandler takes it out again). A
// write of the installation that fails puts back what the writes before it did.
LONG InstallIconHandler(const IconLocation& location, Scope scope = Scope::AllUsers);
// Whether InstallIconHandler could back up what it replaces in the scope's class (a
// DefaultIcon or handler text over 259 characters cannot be): its reading without its
// writes, asked before anything else of a change is written.
// ERROR_EXE_MACHINE_TYPE_MISMATCH, first, when Explorer cannot load the handler
// (ExplorerLoadsIconHandler).
LONG CheckIconHandlerInstall(const IconLocation& location, Scope scope = Scope::AllUsers);
// Whether this machine's Explorer loads the icon handler that installing names: the DLL
// this extension's class id is registered with for programs of the system's own
// processor, or, where none is, this build's. An x64 or x86 DLL does not load into
// Explorer on Windows on Arm, which runs ARM64 code.
bool ExplorerLoadsIconHandler();
// The same for a system of machine `native` whose registration names `dll` (null: none).
bool ExplorerLoadsServer(USHORT native, const wchar_t* dll);
// Writes the short form of location into the default value of <TypeKey>\DefaultIconBAK,
// creating the key when it is missing: what DefaultIcon becomes when this extension is
// uninstalled from the class.
LONG WriteDefaultIconBackup(const IconLocation& location, Scope scope = Scope::AllUsers);

} // namespace orvane
