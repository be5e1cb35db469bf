// Each named step of a benchmark runs under a time limit of its own, so that a benchmark
// always ends: a step that hangs (a wait for a thread, a window message or a walk that
// never comes) ends the program with one line that names it, in place of a run that
// prints nothing until someone kills it.
//
// A watchdog thread waits for the step's end; when the limit passes first, it flushes
// what the program printed so far, prints "step 'NAME' ran out of its N s", calls the
// hook set with OnStepTimeout (a setting the run changed for the machine can go back),
// and ends the process with StepTimedOut. Nothing else runs then: no destructor, no
// clean-up of the files and keys the step made, since the stuck thread may still hold
// them. A step that finishes in time prints nothing extra.
//
// A step's limit should be several times its usual time on a loaded machine: it marks a
// step that will not end, not a slow one.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

namespace orvane::bench {

// The exit code of a program whose step ran out of time (as timeout(1) has it).
constexpr UINT StepTimedOut = 124;

class BenchStep {
public:
    // The step begins: its watchdog starts. A step whose watchdog cannot start runs
    // without a limit, and says so.
    BenchStep(std::string name, DWORD limitSeconds);
    // The step has ended in time.
    ~BenchStep();
    BenchStep(const BenchStep&) = delete;
    BenchStep& operator=(const BenchStep&) = delete;

    struct Watch;

private:
    Watch* watch_ = nullptr;
    HANDLE thread_ = nullptr;
};

// Runs step() as the step NAME under its limit; gives what step() gives.
template <class Step>
auto RunStep(std::string name, DWORD limitSeconds, Step&& step)
{
    const BenchStep watched(std::move(name), limitSeconds);
    return std::forward<Step>(step)();
}

// Called by a watchdog once a step has run out, before the program ends; null: none. It
// runs while the stuck step still runs on its own thread, so it must not wait for
// anything that step may hold.
void OnStepTimeout(void (*putBack)());

} // namespace orvane::bench
