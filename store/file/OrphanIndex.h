// Which per-file entries the icon handler may find a moved file by: those whose path is
// gone (orphans) and that know their file's identity, kept between requests.
//
// Finding them takes one walk of both scopes' identities and a look at each path, so it
// is never done per request: it is done by the first request after either scope's table
// or identities changed (a watch of the four keys, so that a change made before a
// request is in its answer), and again by a request at most every few seconds, since a
// file renamed in Explorer changes nothing in the registry. One request does the walk
// while the others use what the last walk found; after a change of the tables they wait
// for it instead (at most 200 ms, then they walk alone and keep nothing of it).
//
// A path once found gone while its entry knew its file is remembered as lost, also when
// a file is at the path again: that file takes the entry only when it is the entry's
// own (moved back). A file that was never seen gone keeps its entry by path, whatever its
// identity: an editor's save that writes a new file and renames it over the old one
// leaves no moment in which the handler could tell it from a delete, and is far more
// common.
//
// No lock is held across a registry call or a look at a file.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FileIconFollow.h"
#include "FileIconTable.h"
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
        std::wstring Text;
        FileIdentity Identity;
    };
    struct NameLess {
        bool operator()(const std::wstring& a, const std::wstring& b) const;
    };
    struct Found {
        // Both scopes' orphans, this user's first.
        std::vector<Orphan> Orphans;
        // The paths found gone while their entry knew its file, with that identity.
        std::map<std::wstring, FileIdentity, NameLess> Lost;
        bool Empty() const { return Orphans.empty() && Lost.empty(); }
        // Which drive letters were local drives at the walk (asked only when something
        // was found), so that a request asks the system nothing of where its file lies.
        bool LocalLetters[26] = {};
        bool IsLocal(const wchar_t* path) const;
    };

    OrphanIndex() = default;
    OrphanIndex(const OrphanIndex&) = delete;
    OrphanIndex& operator=(const OrphanIndex&) = delete;

    // What the last walk found, walking first when it is due. Null: nothing known.
    std::shared_ptr<const Found> Current();

    // The shortest time between two walks of unchanged tables; a walk that took long
    // makes the next wait longer (RescanFactor times as long as it took).
    static constexpr ULONGLONG RescanMs = 3000;
    static constexpr ULONGLONG RescanFactor = 20;

private:
    static constexpr ULONGLONG MaxWaitingMs = 200;
    std::shared_ptr<const Found> Walk(const std::shared_ptr<const Found>& before);

    RegistryWatch watch_{{HKEY_LOCAL_MACHINE, FileIconsKey, 0},
                         {HKEY_CURRENT_USER, FileIconsKey, 0},
                         {HKEY_LOCAL_MACHINE, FileIconIdsKey, 0},
                         {HKEY_CURRENT_USER, FileIconIdsKey, 0}};
    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE done_ = CONDITION_VARIABLE_INIT;
    // Guarded by lock_.
    std::shared_ptr<const Found> found_;
    ULONGLONG walkedAt_ = 0;
    ULONGLONG nextWalkMs_ = RescanMs;
    bool walking_ = false;
    // What was found was walked before a change that a walk under way has armed again.
    bool stale_ = false;
    // The watch could not be armed: only the time says when to walk again.
    bool watchFailed_ = false;
};

} // namespace orvane
