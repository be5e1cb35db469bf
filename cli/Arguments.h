// The command line's arguments read into what each command was asked: the options of
// show, set and restore and their PATHs, and those of package.
#pragma once

#include <string>

#include "Invocation.h"
#include "PackageCommand.h"

namespace orvane::cli {

// The arguments after the command (from argv[2] on): --all-of-type, --for-me, --for-all
// and the other options wherever they stand, the rest as PATHs in order; "--" ends the
// options. False, with the reason in *error, for an option not understood.
bool ReadArguments(int argc, wchar_t** argv, Invocation* invocation, std::wstring* error);

// import FILE [--map FROM=TO]... [--for-me | --for-all] [--dry-run]
bool ReadImportArguments(int argc, wchar_t** argv, ImportInvocation* invocation, std::wstring* error);

// package register|unregister [--all-users] [--trust CERT] [PACKAGE]
bool ReadPackageArguments(int argc, wchar_t** argv, PackageRequest* request, std::wstring* error);

// An option given to a command, or with another option, that it does not go with; null
// when every option is where it belongs.
const wchar_t* MisplacedOption(const std::wstring& command, const Invocation& invocation);

} // namespace orvane::cli
