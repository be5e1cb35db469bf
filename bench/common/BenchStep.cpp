#include "BenchStep.h"

#include <atomic>
#include <cstdio>
#include <new>

namespace orvane::bench {

namespace {

std::atomic<void (*)()> timeoutHook{nullptr};

} // namespace

struct BenchStep::Watch {
    std::string Name;
    DWORD LimitSeconds = 0;
    HANDLE Ended = nullptr;
};

namespace {

DWORD WINAPI WatchStep(void* context)
{
    const auto& watch = *static_cast<const BenchStep::Watch*>(context);
    // The limit in milliseconds, kept below INFINITE.
    const DWORD limitMs = watch.LimitSeconds < (INFINITE - 1) / 1000 ? watch.LimitSeconds * 1000 : INFINITE - 1;
    if (WaitForSingleObject(watch.Ended, limitMs) != WAIT_TIMEOUT)
        return 0;
    // What the program printed so far comes first; a pipe holds it in the C library's
    // buffer until then.
    std::fflush(stdout);
    std::printf("step '%s' ran out of its %lu s\n", watch.Name.c_str(), static_cast<unsigned long>(watch.LimitSeconds));
    std::fflush(stdout);
    std::fflush(stderr);
    if (void (*putBack)() = timeoutHook.load())
        putBack();
    // Not ExitProcess: that would run the DLLs' detach and the C library's exit while the
    // stuck thread may hold the loader's or the heap's lock, and hang again.
    TerminateProcess(GetCurrentProcess(), StepTimedOut);
    return 0;
}

} // namespace

BenchStep::BenchStep(std::string name, DWORD limitSeconds)
{
    watch_ = new (std::nothrow) Watch{std::move(name), limitSeconds, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    if (watch_ != nullptr && watch_->Ended != nullptr)
        thread_ = CreateThread(nullptr, 0, &WatchStep, watch_, 0, nullptr);
    if (thread_ == nullptr)
        std::printf("step '%s' runs without a time limit: its watchdog could not start\n",
                    watch_ != nullptr ? watch_->Name.c_str() : "?");
}

BenchStep::~BenchStep()
{
    if (thread_ != nullptr) {
        SetEvent(watch_->Ended);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
    if (watch_ != nullptr) {
        if (watch_->Ended != nullptr)
            CloseHandle(watch_->Ended);
        delete watch_;
    }
}

void OnStepTimeout(void (*putBack)()) { timeoutHook.store(putBack); }

} // namespace orvane::bench
