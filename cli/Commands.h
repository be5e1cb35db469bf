// The commands of orvane.exe. Each works through IconTarget exactly as the Change Icon
// dialog does, so the command line and the dialog share rules, backups and stores.
// Each returns the process exit code: 0 when every target succeeded, 1 when any failed.
#pragma once

#include "IconChoice.h"
#include "Invocation.h"

namespace orvane::cli {

// show (ShowCommand.cpp)
int ShowTargets(const Invocation& invocation);
// set SOURCE[,INDEX] and set --colour (SetCommand.cpp), with or without --recurse.
int SetIcon(const IconChoice& choice, const Invocation& invocation);
int SetColour(const Invocation& invocation);
// restore (RestoreCommand.cpp), with or without --recurse.
int RestoreTargets(const Invocation& invocation);
// remove-all (RemoveAllCommand.cpp)
int RemoveAll();
// tidy [--dry-run] (TidyCommand.cpp)
int Tidy(bool dryRun);
// export FILE [--with-sources] (ExportCommand.cpp)
int ExportSettings(const wchar_t* file, bool withSources);
// import FILE [--map FROM=TO]... [--for-me | --for-all] [--dry-run] (ImportCommand.cpp)
int ImportSettings(const ImportInvocation& invocation);

} // namespace orvane::cli
