// What the commands say about targets: the words for kinds, results and refusals, as
// standard output and standard error show them ("orvane: PATH: reason").
#pragma once

#include <cstdint>
#include <string>

#include "Batch.h"
#include "IconTarget.h"

namespace orvane::cli {

// "orvane: PATH: message" on standard error.
void Fail(const wchar_t* path, const std::wstring& message);

// Folder, File, Type or Drive: what a change of the target changes.
const wchar_t* KindWord(const IconTarget& target);

// "path,index" as the command line and the stores write it.
std::wstring LocationText(const wchar_t* path, std::int32_t index);

// What a result means for the person who asked for the change.
std::wstring ResultMessage(ChangeResult result);

// What refused a change of the target at `path` beside the registry, and the system's
// reason, as a message says it; `tooLong`: the change was refused as too long.
std::wstring RefusalText(const wchar_t* path, const Refusal& refusal, bool tooLong);

// Reports a change or restore of one target that was not made, in the words of the
// target's own refusal and scope; true when the result is Done.
bool ReportChange(const wchar_t* path, const IconTarget& target, ChangeResult result, bool restoring);

// Why one target of a batch (a tree's folder, or a path that names nothing) was not
// changed or restored.
std::wstring ProblemText(const BatchFailure& failure, bool restoring);

} // namespace orvane::cli
