// The store's batch as the command line runs it: a request made from the command line,
// progress on a console, Ctrl+C stopping between two targets, and the summary with every
// failure at the end.
#pragma once

#include <functional>
#include <string>

#include "Batch.h"
#include "Invocation.h"

namespace orvane::cli {

// The request for the invocation's PATHs, options and scope choice; with --recurse each
// folder PATH stands for its tree.
BatchRequest RequestFor(const Invocation& invocation, BatchOperation operation);

// Runs the batch with "progress: N of M targets" on a console (nothing when standard
// output is a file or a pipe) and tells the shell once, at the end.
BatchResult RunWithProgress(const BatchRequest& request);

// Prints "N of M targets <doneWords>" (with how many had nothing to restore), that the
// run was stopped if it was, and each failure as `words` says it; the exit code.
int ReportBatch(const BatchRequest& request, const BatchResult& result, const std::wstring& doneWords,
                const std::function<std::wstring(const BatchFailure&)>& words);

} // namespace orvane::cli
