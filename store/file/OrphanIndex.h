// Which per-file entries the icon handler answers a moved file from: those whose path is
// gone (orphans), that know their file's identity, and whose file was found at another
// path of the same extension; kept between requests, by that new path.
//
// Finding them takes one walk of both scopes' identities, a look at each path, and for
// each orphan a look for its file by id on its volume, so it is never done on a request's
// thread: a request that finds a walk due hands it to the thread pool and answers from
// what the last walk found. A walk is due at once when either scope's table or
// identities changed (a watch of the four keys) and otherwise again a few seconds after
// the last, since a file renamed in Explorer changes nothing in the registry; while
// requests come, each such walk is set on a timer, so that a rename is found within
// those seconds. A walk that finds a file at a new path tells the shell that the item
// there changed, so that Explorer asks for its icon again.
//
// What a walk found may be older than a change of the tables, so a request uses it only
// with what the registry says now: a moved file is answered from its orphan's entry only
// while that entry is as the walk read it and the file at the asked path is the entry's
// own.
//
// A path once found gone while its entry knew its file is remembered as lost, also when
// a file is at the path again: that file keeps the entry only when it is the file the
// entry records (moved back, or given the icon since). A file that was never seen gone
// keeps its entry by path, whatever its identity: an editor's save that writes a new
// file and renames it over the old one leaves no moment in which the handler could tell
// it from a delete, and is far more common.
//
// A walk under way holds a reference on the module that holds this code, so that the
// module is not unloaded under it. No lock is held across a registry call or a look at a
// file.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "FileIdentity.h"
#include "RegistryNames.h"
#include "RegistryWatch.h"
#include "Scope.h"

namespace orvane {

class OrphanIndex {
public:
    struct Orphan {
        Scope Where = Scope::AllUsers;
        std::wstring Path;
        std::wstring Text; // the entry as the walk read it
        FileIdentity Identity;
    };
    // Paths compared as the file system compares them; a path can be looked up as a view.
    struct NameLess {
        using is_transparent = void;
        bool operator()(std::wstring_view a, std::wstring_view b) const;
    };
    struct Found {
        // Orphans whose file was found at another local path of the same extension, by that
        // path; this user's entry where both scopes' knew the file.
        std::map<std::wstring, Orphan, NameLess> Moved;
        // The paths found gone while their entry knew its file.
        std::set<std::wstring, NameLess> Lost;
        // The orphans whose file is on no mounted volume whose serial their identity names,
        // or only in a Recycle Bin, by path with that identity: a file's id does not come
        // back once it is gone, so they are not looked for again while they stay orphans.
        // Kept by path too, since a file system that numbers files by inode alone gives a
        // gone file's number to a new one, whose own entry is another orphan.
        std::map<std::wstring, FileIdentity, NameLess> Unfound;
        bool Empty() const { return Moved.empty() && Lost.empty(); }
    };

    OrphanIndex();
    // Frees what the index holds only when no walk is set or under way: otherwise (a
    // program's exit while the pool still walks) it is left to the process's end.
    ~OrphanIndex();
    OrphanIndex(const OrphanIndex&) = delete;
    OrphanIndex& operator=(const OrphanIndex&) = delete;

    // What the last walk found, handing a walk to the thread pool when one is due. Never
    // waits. Null: nothing walked yet.
    std::shared_ptr<const Found> Current();

    // The shortest time between two walks of unchanged tables; a walk that took long
    // makes the next wait longer (RescanFactor times as long as it took).
    static constexpr ULONGLONG RescanMs = 3000;
    static constexpr ULONGLONG RescanFactor = 20;
    // A walk tells the shell of at most this many newly found files.
    static constexpr std::size_t MaxNotified = 64;

private:
    struct State;
    enum class Step { None, Again, Submit, SetTimer };
    static Step NextStep(const State& state, bool changed, ULONGLONG now);
    static bool TakeStep(State& state, Step step, ULONGLONG now, HMODULE module);
    static void CALLBACK WalkNow(PTP_CALLBACK_INSTANCE instance, void* context);
    static void CALLBACK WalkWhenDue(PTP_CALLBACK_INSTANCE instance, void* context, PTP_TIMER timer);
    static void Callback(PTP_CALLBACK_INSTANCE instance, State& state, HMODULE State::*module, bool State::*pending);
    // Walks until no change came during the last walk; one thread at a time.
    static void RunWalks(State& state);
    static std::shared_ptr<const Found> Walk(const std::shared_ptr<const Found>& before,
                                             std::vector<std::wstring>& newlyMoved);

    // Allocated, so that a walk still under way at a program's exit never uses freed memory.
    State* state_;
};

} // namespace orvane
