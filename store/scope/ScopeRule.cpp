#include "ScopeRule.h"

namespace orvane {

std::optional<Scope> ChosenScope(ScopeChoice choice)
{
    switch (choice) {
    case ScopeChoice::AllUsers:
        return Scope::AllUsers;
    case ScopeChoice::ThisUser:
        return Scope::ThisUser;
    case ScopeChoice::Automatic:
        break;
    }
    return std::nullopt;
}

ScopeDecision DecideChangeScope(ScopeChoice choice, const ChangeFacts& facts)
{
    ScopeDecision decision;
    if (const std::optional<Scope> chosen = ChosenScope(choice))
        decision.Where = *chosen;
    else if (facts.SetForThisUser || !facts.AllUsersPreferred)
        decision.Where = Scope::ThisUser;
    else
        decision.Where = Scope::AllUsers;
    decision.Refused = decision.Where == Scope::AllUsers ? !facts.AllUsersAccepts : !facts.ThisUserAccepts;
    return decision;
}

std::optional<Scope> DecideRestoreScope(ScopeChoice choice, bool thisUserHolds, bool allUsersHolds)
{
    switch (choice) {
    case ScopeChoice::AllUsers:
        return allUsersHolds ? std::optional<Scope>(Scope::AllUsers) : std::nullopt;
    case ScopeChoice::ThisUser:
        return thisUserHolds ? std::optional<Scope>(Scope::ThisUser) : std::nullopt;
    case ScopeChoice::Automatic:
        break;
    }
    if (thisUserHolds)
        return Scope::ThisUser;
    if (allUsersHolds)
        return Scope::AllUsers;
    return std::nullopt;
}

} // namespace orvane
