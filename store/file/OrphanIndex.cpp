#include "OrphanIndex.h"

#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <utility>

#include "FileIconFollow.h"
#include "FileIconTable.h"

namespace orvane {

struct OrphanIndex::State {
    RegistryWatch Watch{{HKEY_LOCAL_MACHINE, FileIconsKey, 0},
                        {HKEY_CURRENT_USER, FileIconsKey, 0},
                        {HKEY_LOCAL_MACHINE, FileIconIdsKey, 0},
                        {HKEY_CURRENT_USER, FileIconIdsKey, 0}};
    PTP_TIMER Timer = nullptr;
    // Walks handed to the pool and not yet ended; the state is freed only at none.
    std::atomic<int> Outstanding{0};
    SRWLOCK Lock = SRWLOCK_INIT;
    // Guarded by Lock.
    std::shared_ptr<const Found> Found;
    ULONGLONG DueAt = 0;
    // The module references the submitted walk and the timer's walk hold.
    HMODULE SubmittedModule = nullptr;
    HMODULE TimerModule = nullptr;
    bool Submitted = false;
    bool TimerSet = false;
    bool Walking = false;
    // The walk under way armed the watch: a change seen now came after it began to read.
    bool Armed = false;
    // A request saw such a change: the walk goes again when it ends.
    bool Again = false;
    // The watch could not be armed: only the time says when to walk again.
    bool WatchFailed = false;
};

namespace {

// A reference on the module that holds this code, for a walk on a pool thread; it is
// given back as the walk's callback returns. Null when none could be taken.
HMODULE HoldThisModule()
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&HoldThisModule),
                            &module))
        return nullptr;
    return module;
}

// Ends a walk's callback: the last thing it does with the state.
void EndCallback(PTP_CALLBACK_INSTANCE instance, HMODULE module, std::atomic<int>& outstanding)
{
    if (module != nullptr)
        FreeLibraryWhenCallbackReturns(instance, module);
    outstanding.fetch_sub(1);
}

// The identity recorded with the path's entry, from the first scope that has one.
std::optional<FileIdentity> RecordedIdentity(const wchar_t* path, bool* hasEntry = nullptr)
{
    for (Scope scope : {Scope::ThisUser, Scope::AllUsers}) {
        if (ReadFileIconText(path, scope)) {
            if (hasEntry != nullptr)
                *hasEntry = true;
            return ReadFileIconIdentity(path, scope);
        }
    }
    if (hasEntry != nullptr)
        *hasEntry = false;
    return std::nullopt;
}

} // namespace

bool OrphanIndex::NameLess::operator()(std::wstring_view a, std::wstring_view b) const
{
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_LESS_THAN;
}

OrphanIndex::OrphanIndex() : state_(new State)
{
    state_->Timer = CreateThreadpoolTimer(&OrphanIndex::WalkWhenDue, state_, nullptr);
}

OrphanIndex::~OrphanIndex()
{
    if (state_->Outstanding.load() != 0)
        return;
    if (state_->Timer != nullptr)
        CloseThreadpoolTimer(state_->Timer);
    delete state_;
}

// What a request does about the next walk: nothing (one is on its way, or not yet due),
// ask the walk under way to go again, hand one to the pool now, or set the timer for when
// one is due.
OrphanIndex::Step OrphanIndex::NextStep(const State& state, bool changed, ULONGLONG now)
{
    const bool stale = !state.Found || (changed && !state.WatchFailed);
    if (state.Walking)
        return stale && state.Armed && !state.Again ? Step::Again : Step::None;
    if (state.Submitted)
        return Step::None;
    if (stale || now >= state.DueAt)
        return Step::Submit;
    return state.TimerSet || state.Timer == nullptr ? Step::None : Step::SetTimer;
}

// Takes the step, under the lock; false when no walk could be handed on.
bool OrphanIndex::TakeStep(State& state, Step step, ULONGLONG now, HMODULE module)
{
    if (step == Step::Again) {
        state.Again = true;
        return false;
    }
    if (step == Step::None || module == nullptr)
        return false;
    state.Outstanding.fetch_add(1);
    if (step == Step::Submit) {
        state.Submitted = true;
        state.SubmittedModule = module;
        if (TrySubmitThreadpoolCallback(&OrphanIndex::WalkNow, &state, nullptr))
            return true;
        state.Submitted = false;
        state.SubmittedModule = nullptr;
        state.Outstanding.fetch_sub(1);
        return false;
    }
    state.TimerSet = true;
    state.TimerModule = module;
    // Relative, in 100-nanosecond units; a window lets the pool gather timers.
    ULARGE_INTEGER due;
    due.QuadPart = static_cast<ULONGLONG>(-static_cast<LONGLONG>((state.DueAt - now) * 10000));
    FILETIME dueTime = {due.LowPart, due.HighPart};
    SetThreadpoolTimer(state.Timer, &dueTime, 0, 100);
    return true;
}

std::shared_ptr<const OrphanIndex::Found> OrphanIndex::Current()
{
    State& state = *state_;
    const bool changed = state.Watch.Changed();
    const ULONGLONG now = GetTickCount64();
    AcquireSRWLockShared(&state.Lock);
    std::shared_ptr<const Found> found = state.Found;
    const bool quiet = NextStep(state, changed, now) == Step::None;
    ReleaseSRWLockShared(&state.Lock);
    if (quiet)
        return found;

    // Taken before the lock: it asks the loader.
    HMODULE module = HoldThisModule();
    AcquireSRWLockExclusive(&state.Lock);
    const bool handedOn = TakeStep(state, NextStep(state, changed, now), now, module);
    ReleaseSRWLockExclusive(&state.Lock);
    // A reference taken for a walk that was not handed on.
    if (!handedOn && module != nullptr)
        FreeLibrary(module);
    return found;
}

// A walk's callback: takes over the module reference that handing it on took, walks, and
// gives the reference back as it returns.
void OrphanIndex::Callback(PTP_CALLBACK_INSTANCE instance, State& state, HMODULE State::*module, bool State::*pending)
{
    AcquireSRWLockExclusive(&state.Lock);
    const HMODULE held = std::exchange(state.*module, nullptr);
    state.*pending = false;
    ReleaseSRWLockExclusive(&state.Lock);
    RunWalks(state);
    EndCallback(instance, held, state.Outstanding);
}

void CALLBACK OrphanIndex::WalkNow(PTP_CALLBACK_INSTANCE instance, void* context)
{
    Callback(instance, *static_cast<State*>(context), &State::SubmittedModule, &State::Submitted);
}

void CALLBACK OrphanIndex::WalkWhenDue(PTP_CALLBACK_INSTANCE instance, void* context, PTP_TIMER)
{
    Callback(instance, *static_cast<State*>(context), &State::TimerModule, &State::TimerSet);
}

void OrphanIndex::RunWalks(State& state)
{
    AcquireSRWLockExclusive(&state.Lock);
    if (state.Walking) {
        // The walk under way is as fresh as this one would be.
        ReleaseSRWLockExclusive(&state.Lock);
        return;
    }
    state.Walking = true;
    for (;;) {
        state.Again = false;
        state.Armed = false;
        const std::shared_ptr<const Found> before = state.Found;
        ReleaseSRWLockExclusive(&state.Lock);
        // Armed before the walk reads, so that a change made while it reads is seen by the
        // next request.
        const bool armed = state.Watch.Arm(state.Watch.ChangedTrees());
        AcquireSRWLockExclusive(&state.Lock);
        state.Armed = true;
        ReleaseSRWLockExclusive(&state.Lock);

        const ULONGLONG began = GetTickCount64();
        std::vector<std::wstring> newlyMoved;
        std::shared_ptr<const Found> found = Walk(before, newlyMoved);
        const ULONGLONG finished = GetTickCount64();
        AcquireSRWLockExclusive(&state.Lock);
        state.Found = std::move(found);
        state.DueAt = finished + std::max<ULONGLONG>(RescanMs, RescanFactor * (finished - began));
        state.WatchFailed = !armed;
        ReleaseSRWLockExclusive(&state.Lock);
        // Told once the answer is there, so that Explorer's next request finds it.
        for (std::size_t i = 0; i < newlyMoved.size() && i < MaxNotified; ++i)
            SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHW, newlyMoved[i].c_str(), nullptr);
        AcquireSRWLockExclusive(&state.Lock);
        if (!state.Again)
            break;
    }
    state.Walking = false;
    state.Armed = false;
    ReleaseSRWLockExclusive(&state.Lock);
}

namespace {

// A path lost before stays lost while its entry knows a file that is not the one there
// now (or none is there).
void KeepLostPaths(const OrphanIndex::Found& before, OrphanIndex::Found& found)
{
    for (const std::wstring& path : before.Lost) {
        if (found.Lost.count(path) != 0)
            continue;
        bool hasEntry = false;
        const std::optional<FileIdentity> recorded = RecordedIdentity(path.c_str(), &hasEntry);
        if (!hasEntry || !recorded)
            continue;
        const std::optional<FileIdentity> there = ReadFileIdentity(path.c_str());
        if (!there || *there != *recorded)
            found.Lost.insert(path);
    }
}

// Each orphan's file: where the last walk found it while it is still there, else looked
// for by its id unless it was not found before. Gives the paths no walk found before.
std::vector<std::wstring> FindOrphansFiles(std::vector<OrphanIndex::Orphan>& orphans, const OrphanIndex::Found* before,
                                           OrphanIndex::Found& found)
{
    std::map<std::wstring_view, std::wstring_view, OrphanIndex::NameLess> movedBefore;
    if (before != nullptr) {
        for (const auto& [at, orphan] : before->Moved)
            movedBefore.emplace(orphan.Path, at);
    }
    std::vector<std::wstring> newlyMoved;
    std::optional<LocalVolumes> volumes;
    for (OrphanIndex::Orphan& orphan : orphans) {
        std::optional<std::wstring> at;
        const auto seen = movedBefore.find(orphan.Path);
        if (seen != movedBefore.end()) {
            std::wstring there(seen->second);
            const std::optional<FileIdentity> identity = ReadFileIdentity(there.c_str());
            if (identity && *identity == orphan.Identity)
                at = std::move(there);
        }
        bool knownUnfound = false;
        if (!at && before != nullptr) {
            const auto unfound = before->Unfound.find(orphan.Path);
            knownUnfound = unfound != before->Unfound.end() && unfound->second == orphan.Identity;
        }
        if (knownUnfound) {
            found.Unfound.emplace(orphan.Path, orphan.Identity);
            continue;
        }
        if (!at) {
            if (!volumes)
                volumes.emplace();
            at = volumes->Find(orphan.Identity);
            if ((!at && volumes->Mounted(orphan.Identity.Volume)) || (at && IsInRecycleBin(at->c_str())))
                found.Unfound.emplace(orphan.Path, orphan.Identity);
        }
        if (!at || !SameExtension(at->c_str(), orphan.Path.c_str()) || IsInRecycleBin(at->c_str()))
            continue;
        const bool known = before != nullptr && before->Moved.count(*at) != 0;
        if (found.Moved.emplace(*at, std::move(orphan)).second && !known)
            newlyMoved.push_back(*at);
    }
    return newlyMoved;
}

} // namespace

std::shared_ptr<const OrphanIndex::Found> OrphanIndex::Walk(const std::shared_ptr<const Found>& before,
                                                            std::vector<std::wstring>& newlyMoved)
{
    auto found = std::make_shared<Found>();
    std::vector<Orphan> orphans;
    for (Scope scope : {Scope::ThisUser, Scope::AllUsers}) {
        std::vector<OrphanEntry> entries;
        ReadOrphanEntries(scope, OrphansOf::WithIdentity, entries);
        for (OrphanEntry& entry : entries) {
            found->Lost.insert(entry.Path);
            orphans.push_back({scope, std::move(entry.Path), std::move(entry.Text), *entry.Identity});
        }
    }
    if (before)
        KeepLostPaths(*before, *found);
    newlyMoved = FindOrphansFiles(orphans, before.get(), *found);
    return found;
}

} // namespace orvane
