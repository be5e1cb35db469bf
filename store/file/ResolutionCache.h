// What the registry says about a file's icon, kept between the icon handler's requests.
//
// Explorer asks for the icon of every file of a served class each time it shows one, on
// several threads at once. What the registry said is kept, and used while none of the
// trees it was read from has changed since: the two per-file tables, this user's and all
// users' classes, and this user's choices of class (FileExts). A request then costs one
// look at the watch's events. Whatever is used together was read and checked as of one
// moment: facts read while a tree changed are read again.
//
// Of the tables, only the values of the files asked for are read and kept (the table has
// one value per file path, found by name), never a whole table: a change of a table
// drops what was kept of both, and the next request for a file costs two reads of one
// value each, however large the tables are. A batch that writes entry after entry while
// Explorer asks thus never makes a request wait for a walk of thousands of values.
//
// No lock is held across a registry call: the lock guards the kept facts alone. One
// thread at a time arms the watch, and one reads each missing type while the others wait
// for it on a condition variable (which gives the lock up while they wait), so that a
// change does not send every thread to the registry at once. A request that has found no
// quiet moment for 200 ms reads the registry without the cache.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "FileIconTable.h"
#include "IconLocation.h"
#include "RegistryNames.h"
#include "RegistryWatch.h"
#include "Scope.h"

namespace orvane {

// What a file of an extension is answered from when the table has no entry for it; what
// it holds is the resolver's affair, the cache only keeps it.
struct TypeAnswer;

// Reads an extension's answer from the registry.
using TypeAnswerReader = std::shared_ptr<const TypeAnswer> (*)(const wchar_t* extension);

// Everything the registry says about one file: its table entry (this user's, else all
// users') and its type's answer (none for a file without an extension, or where the
// entry answers).
struct FileFacts {
    std::optional<IconLocation> Entry;
    std::shared_ptr<const TypeAnswer> Type;
};

// A record without an icon path says nothing about where the icon is.
inline bool HasIconPath(const std::optional<IconLocation>& location)
{
    return location.has_value() && location->IconPath[0] != L'\0';
}

class ResolutionCache {
public:
    explicit ResolutionCache(TypeAnswerReader readType) : readType_(readType) {}
    ResolutionCache(const ResolutionCache&) = delete;
    ResolutionCache& operator=(const ResolutionCache&) = delete;

    // The facts as of one moment, or false when the cache cannot give them. extension is
    // null for a file without one.
    bool Read(const wchar_t* path, const wchar_t* extension, FileFacts& facts);

private:
    enum Tree : unsigned { MachineClasses, UserClasses, UserFileExts, AllUsersTable, ThisUserTable };
    static constexpr unsigned ClassTrees = 1u << MachineClasses | 1u << UserClasses | 1u << UserFileExts;
    static constexpr unsigned TableTrees = 1u << AllUsersTable | 1u << ThisUserTable;
    static constexpr Scope Scopes[2] = {Scope::AllUsers, Scope::ThisUser};
    static std::size_t Index(Scope scope) { return scope == Scope::ThisUser ? 1 : 0; }
    // Extensions kept at most; more are dropped all together.
    static constexpr std::size_t MaxTypes = 512;
    // Files whose table values are kept at most; more are dropped all together.
    static constexpr std::size_t MaxFiles = 32768;
    static constexpr ULONGLONG MaxTryingMs = 200;
    // The longest wait for another thread at a time.
    static constexpr DWORD MaxWaitMs = 20;

    struct NameLess {
        bool operator()(const std::wstring& a, const std::wstring& b) const;
    };

    // A file's values in both tables as stored (none: no entry), all users' first.
    struct FileValues {
        std::optional<std::wstring> Text[2];
    };

    // The facts one request has so far: those it found kept, then those it read itself.
    struct FactsSoFar {
        std::optional<IconLocation> Entries[2];
        bool EntriesKnown = false;
        std::shared_ptr<const TypeAnswer> Type;
        bool TypeNeeded = false;
    };
    // This user's entry for the file, else all users'.
    static const std::optional<IconLocation>& Entry(const FactsSoFar& soFar);
    // The type is needed unless the file's own entry answers.
    static bool NeedsType(const FactsSoFar& soFar, const wchar_t* extension);

    // The type one request reads, claimed so that others wait for it rather than read it
    // too; given up when the request ends.
    class ClaimedType {
    public:
        ClaimedType(ResolutionCache& cache, std::uint64_t epoch, const wchar_t* extension)
            : cache_(cache), epoch_(epoch), extension_(extension)
        {
        }
        ~ClaimedType();
        ClaimedType(const ClaimedType&) = delete;
        ClaimedType& operator=(const ClaimedType&) = delete;
        bool Claimed = false;

    private:
        ResolutionCache& cache_;
        std::uint64_t epoch_;
        const wchar_t* extension_;
    };

    enum class Armed { Yes, Busy, Failed };
    enum class Attempt { Done, Retry, GiveUp };

    Attempt TryRead(const wchar_t* path, const wchar_t* extension, ULONGLONG start, FileFacts& facts);
    Armed Arm(std::uint64_t seenEpoch);
    Attempt ArmOrWait(std::uint64_t seenEpoch, ULONGLONG start);
    // Under the lock: takes what is kept for the file, and tells whether its type is needed.
    void TakeKeptFacts(const wchar_t* path, const wchar_t* extension, FactsSoFar& soFar) const;
    // Claims the type the request still misses; false (try again) when the epoch moved or
    // another thread reads it, which is then waited for.
    bool ClaimType(const wchar_t* extension, std::uint64_t epoch, ULONGLONG start, FactsSoFar& soFar,
                   ClaimedType& claim);
    // Keeps what the request read, unless a tree changed meanwhile (false: try again).
    bool KeepRead(std::uint64_t epoch, const wchar_t* path, const wchar_t* extension, bool typeRead,
                  const FactsSoFar& soFar, FileValues* values);
    // Under the exclusive lock: waits for another thread's arming or reading, at most until
    // the deadline.
    void Wait(ULONGLONG start);

    const TypeAnswerReader readType_;
    RegistryWatch watch_{{HKEY_LOCAL_MACHINE, MachineClassesKey, KEY_WOW64_64KEY},
                         {HKEY_CURRENT_USER, UserClassesKey, KEY_WOW64_64KEY},
                         {HKEY_CURRENT_USER, FileExtsKey, 0},
                         {HKEY_LOCAL_MACHINE, FileIconsKey, 0},
                         {HKEY_CURRENT_USER, FileIconsKey, 0}};
    std::atomic<bool> arming_{false};

    SRWLOCK lock_ = SRWLOCK_INIT;
    // Woken when an arming ends and when a thread has read the type it claimed.
    CONDITION_VARIABLE done_ = CONDITION_VARIABLE_INIT;
    // Guarded by lock_. The epoch is odd while the watch is not armed, and moves on when
    // an arming begins and when it ends: facts read under another epoch are not kept.
    std::uint64_t epoch_ = 1;
    // File paths compare as the registry compares value names.
    std::map<std::wstring, FileValues, NameLess> files_;
    std::map<std::wstring, std::shared_ptr<const TypeAnswer>, NameLess> types_;
    // The epoch under which a thread reads a type.
    std::map<std::wstring, std::uint64_t, NameLess> typeReaders_;
};

} // namespace orvane
