#include "Arguments.h"

#include <cwchar>

namespace orvane::cli {

namespace {

bool Is(const wchar_t* arg, const wchar_t* option) { return std::wcscmp(arg, option) == 0; }

// The arguments from `first` on, one at a time. "--" ends the options and is passed over;
// what follows it is never taken for an option, even when it starts with "--".
class ArgumentWalk {
public:
    ArgumentWalk(int argc, wchar_t** argv, int first) : argc_(argc), argv_(argv), next_(first) {}

    // The next argument; null after the last.
    const wchar_t* Next()
    {
        while (next_ < argc_) {
            current_ = argv_[next_++];
            if (!options_ || !Is(current_, L"--"))
                return current_;
            options_ = false;
        }
        return nullptr;
    }
    // Whether the current argument is the option `name`.
    bool IsOption(const wchar_t* name) const { return options_ && Is(current_, name); }
    // Whether it has the form of an option ("--" and more) that none of the above was.
    bool IsOtherOption() const { return options_ && current_[0] == L'-' && current_[1] == L'-'; }
    // The argument after the current one, taken as its value; null when there is none.
    const wchar_t* TakeValue() { return next_ < argc_ ? argv_[next_++] : nullptr; }

private:
    int argc_;
    wchar_t** argv_;
    int next_;
    bool options_ = true;
    const wchar_t* current_ = nullptr;
};

} // namespace

bool ReadArguments(int argc, wchar_t** argv, Invocation* invocation, std::wstring* error)
{
    ArgumentWalk walk(argc, argv, 2);
    while (const wchar_t* arg = walk.Next()) {
        if (walk.IsOption(L"--all-of-type")) {
            invocation->AllOfType = true;
        } else if (walk.IsOption(L"--for-me") || walk.IsOption(L"--for-all")) {
            const ScopeChoice chosen = Is(arg, L"--for-me") ? ScopeChoice::ThisUser : ScopeChoice::AllUsers;
            if (invocation->Scope != ScopeChoice::Automatic && invocation->Scope != chosen) {
                *error = L"--for-me and --for-all cannot be used together";
                return false;
            }
            invocation->Scope = chosen;
        } else if (walk.IsOption(L"--trust-desktop-ini")) {
            invocation->TrustDesktopIni = true;
        } else if (walk.IsOption(L"--colour")) {
            if (invocation->Colour != nullptr || (invocation->Colour = walk.TakeValue()) == nullptr) {
                *error = L"--colour needs one NAME or #RRGGBB";
                return false;
            }
        } else if (walk.IsOption(L"--copy")) {
            invocation->CopyWithFolder = true;
        } else if (walk.IsOption(L"--recurse")) {
            invocation->Recurse = true;
        } else if (walk.IsOtherOption()) {
            *error = std::wstring(L"unknown option ") + arg;
            return false;
        } else {
            invocation->Paths.push_back(arg);
        }
    }
    return true;
}

bool ReadImportArguments(int argc, wchar_t** argv, ImportInvocation* invocation, std::wstring* error)
{
    ArgumentWalk walk(argc, argv, 2);
    ScopeChoice& scope = invocation->Options.Scope;
    while (const wchar_t* arg = walk.Next()) {
        if (walk.IsOption(L"--for-me") || walk.IsOption(L"--for-all")) {
            const ScopeChoice chosen = Is(arg, L"--for-me") ? ScopeChoice::ThisUser : ScopeChoice::AllUsers;
            if (scope != ScopeChoice::Automatic && scope != chosen) {
                *error = L"--for-me and --for-all cannot be used together";
                return false;
            }
            scope = chosen;
        } else if (walk.IsOption(L"--dry-run")) {
            invocation->Options.DryRun = true;
        } else if (walk.IsOption(L"--map")) {
            const wchar_t* value = walk.TakeValue();
            const wchar_t* equals = value != nullptr ? std::wcschr(value, L'=') : nullptr;
            if (equals == nullptr || equals == value) {
                *error = L"--map needs FROM=TO, FROM a path's start";
                return false;
            }
            invocation->Options.Maps.push_back({std::wstring(value, equals), std::wstring(equals + 1)});
        } else if (walk.IsOtherOption()) {
            *error = std::wstring(L"unknown option ") + arg;
            return false;
        } else if (invocation->File == nullptr) {
            invocation->File = arg;
        } else {
            *error = L"import takes one FILE";
            return false;
        }
    }
    if (invocation->File == nullptr) {
        *error = L"import needs the FILE that export wrote";
        return false;
    }
    return true;
}

bool ReadPackageArguments(int argc, wchar_t** argv, PackageRequest* request, std::wstring* error)
{
    if (argc < 3 || (!Is(argv[2], L"register") && !Is(argv[2], L"unregister"))) {
        *error = L"package needs register or unregister";
        return false;
    }
    request->Register = Is(argv[2], L"register");
    ArgumentWalk walk(argc, argv, 3);
    while (const wchar_t* arg = walk.Next()) {
        if (walk.IsOption(L"--all-users")) {
            request->Users = PackageUsers::AllUsers;
        } else if (walk.IsOption(L"--trust")) {
            if (request->Certificate != nullptr || (request->Certificate = walk.TakeValue()) == nullptr) {
                *error = L"--trust needs one CERT";
                return false;
            }
        } else if (walk.IsOtherOption()) {
            *error = std::wstring(L"unknown option ") + arg;
            return false;
        } else if (request->Package == nullptr) {
            request->Package = arg;
        } else {
            *error = L"package takes one PACKAGE";
            return false;
        }
    }
    return true;
}

const wchar_t* MisplacedOption(const std::wstring& command, const Invocation& invocation)
{
    if (command == L"show" && invocation.Scope != ScopeChoice::Automatic)
        return L"--for-me and --for-all are for set and restore";
    if (command != L"set" && invocation.TrustDesktopIni)
        return L"--trust-desktop-ini is for set";
    if (command != L"set" && invocation.Colour != nullptr)
        return L"--colour is for set";
    if (command != L"set" && invocation.CopyWithFolder)
        return L"--copy is for set";
    if (command == L"show" && invocation.Recurse)
        return L"--recurse is for set and restore";
    if (invocation.Recurse && invocation.TrustDesktopIni)
        return L"--trust-desktop-ini is for one folder at a time, not with --recurse";
    if (invocation.Colour != nullptr && invocation.CopyWithFolder)
        return L"--copy is for a SOURCE; a colour is always made inside the folder";
    return nullptr;
}

} // namespace orvane::cli
