// Which scope a change goes to, and which scope's setting a restore takes back: one rule
// for every kind of target. The kind's unit asks the registry what the rule needs to
// know (ChangeFacts, and which scopes hold a setting); the rule itself reads nothing.
#pragma once

#include <optional>

#include "Scope.h"

namespace orvane {

// What deciding a change's scope needs to know, asked before anything is written.
struct ChangeFacts {
    // The icon the user sees is set for this user (a folder's or a drive's): a change for
    // all users would stay hidden behind it, or be made over it.
    bool SetForThisUser = false;
    // Automatic takes all users: a folder's or a drive's all-users place may be used; a
    // file's or a type's all-users places accept the write and this user then sees what
    // is written there.
    bool AllUsersPreferred = false;
    // Whether each scope's places accept the write (asked at the top of each place).
    bool AllUsersAccepts = false;
    bool ThisUserAccepts = false;
};

struct ScopeDecision {
    Scope Where = Scope::AllUsers;
    // The scope decided refuses the write: nothing of the change may be written.
    bool Refused = false;
};

// A scope chosen on purpose is kept, and refused when its places refuse. Automatic stays
// with this user while the target's icon is set for this user, goes to all users when
// they are preferred, and to this user otherwise.
ScopeDecision DecideChangeScope(ScopeChoice choice, const ChangeFacts& facts);

// The scope whose setting a restore takes back: a chosen one, or the one the user sees
// (this user's first). None when the scope chosen, or both scopes, hold nothing.
std::optional<Scope> DecideRestoreScope(ScopeChoice choice, bool thisUserHolds, bool allUsersHolds);

// The same, asking `holds` for each scope that might hold a setting, this user's first.
template <class Holds>
std::optional<Scope> DecideRestoreScope(ScopeChoice choice, Holds holds)
{
    switch (choice) {
    case ScopeChoice::AllUsers:
        return DecideRestoreScope(choice, false, holds(Scope::AllUsers));
    case ScopeChoice::ThisUser:
        return DecideRestoreScope(choice, holds(Scope::ThisUser), false);
    case ScopeChoice::Automatic:
        break;
    }
    if (holds(Scope::ThisUser))
        return Scope::ThisUser;
    return DecideRestoreScope(choice, false, holds(Scope::AllUsers));
}

// The scope that a chosen scope names; none for Automatic.
std::optional<Scope> ChosenScope(ScopeChoice choice);

} // namespace orvane
