// The hostile states the store's sequence test may start from (or meet during its steps),
// chosen by the run's seed, and what the test needs to set them up, to lock places for one
// step and to compare every key and file it watches.
//
// ORVANE_SEQUENCE_HOSTILE  "none", "all" (a mix chosen by the seed; the default), or a
//                          comma-separated list of the names below, which are then all on
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace orvane::test {

enum class Hostile {
    // Which class the extension's files use (at most one of these):
    NoDefaultIcon, // the class has no DefaultIcon, as many programs register theirs
    CurVerChain,   // the class has no DefaultIcon and its CurVer names the class that has
    CurVerCycle,   // .ext -> A, A's CurVer B, B's CurVer A, neither with a DefaultIcon
    CurVerSelf,    // a class without DefaultIcon whose CurVer names itself
    UserChoice,    // this user's "Open with" choice names a class without DefaultIcon
    // The used class's DefaultIcon, where it has one:
    Indexless,     // "msiexec.exe", no index
    DwordBackup,   // a BAKIconInfo of type REG_DWORD
    // The folder's Desktop.ini (at most one of these):
    IconFileOnly,  // IconFile without IconIndex (by hand: not hidden, the folder read-only)
    EmptyIndex,    // "IconIndex=" with nothing after it (by hand, as IconFileOnly)
    LongIconFile,  // an IconFile path of 259 characters
    Link,          // a symbolic link to a file outside the folder
    LargeAnsi,     // in the ANSI code page and over 1 MiB; some icons then need UTF-16
    NoDesktopIni,     // no Desktop.ini at all, in a plain folder
    NoIconEntries, // an info tip and view settings by hand, no icon entry
    WindowsUtf16,  // UTF-16 beginning with an empty line, as Windows writes Documents
    // During the steps:
    HeldOpen,      // Desktop.ini held open without sharing during some folder steps
    OthersDrive,   // all users' DriveIcons entry of the drive written by someone else
    OtherHandler,  // another product's IconHandler put on a class Orvane serves
    LockedKeys,    // this user's keys made read-only for one step
    Count
};

const wchar_t* HostileName(Hostile state);

// The states of one run: those named in ORVANE_SEQUENCE_HOSTILE, or a mix drawn from
// `random` (at most one of each exclusive group).
std::set<Hostile> HostileFromEnvironment(std::mt19937& random);
std::wstring HostileList(const std::set<Hostile>& states);

// The classes of the scratch type as the run sets them up.
struct TypeWorld {
    std::wstring Extension;
    std::wstring Named; // the class the extension key names
    // The class Explorer uses for the extension's files, where the sound store puts the
    // type's icon and its icon handler. A cycle of CurVer has no single answer: either
    // of its classes is accepted.
    std::vector<std::wstring> Used;
    std::vector<std::wstring> Classes; // every class of the run, Used ones included
    std::optional<std::wstring> BaseIcon; // the used class's own icon as the store reads it back
};

// Sets the type up for the states (the scratch type's extension and class exist and name
// each other), and takes out of `states` those that do not apply (an indexless icon on a
// class without one); the keys of classes other than the scratch type's are put back when
// the object goes.
class HostileType {
public:
    HostileType(const std::wstring& extension, const std::wstring& named, std::set<Hostile>& states,
                const wchar_t* machineIcon);
    const TypeWorld& World() const { return world_; }

private:
    std::vector<std::unique_ptr<KeyGuard>> guards_;
    TypeWorld world_;
};

// Writes the folder's Desktop.ini as the states say (a plain one is the caller's), with the
// attributes Windows gives one (or takes it away, for NoDesktopIni). Returns the icon the
// store should read from it ("path,index", "<none>" where neither it nor the Folder class
// names one),
// or none when the state could not be made (a link Wine will not make). `outside` is a file
// outside the folder that the link names.
std::optional<std::wstring> WriteHostileDesktopIni(Hostile state, const std::wstring& desktopIni,
                                                const std::wstring& outside);

// Whether a path is a reparse point (a link) rather than a file of its own.
bool IsLink(const std::wstring& path);

// Holds a file open without sharing for as long as it lives.
class HeldFile {
public:
    explicit HeldFile(const std::wstring& path);
    ~HeldFile();
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;
    bool Held() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

// This user's places made read-only for as long as it lives: the product's key (made
// first when missing, removed again afterwards), HKCU\Software\Classes itself with the
// given classes' keys beneath it, and this user's key of the drive.
class UserLocks {
public:
    UserLocks(const std::vector<std::wstring>& classes, const std::wstring& driveKey);
    ~UserLocks();
    UserLocks(const UserLocks&) = delete;
    UserLocks& operator=(const UserLocks&) = delete;
    bool Applied() const { return applied_; }

private:
    void LockTree(const std::wstring& path);
    std::vector<std::unique_ptr<ReadOnlyKey>> locks_;
    std::vector<std::wstring> created_;
    bool applied_ = true;
};

// The watched places by name ("HKLM class X", "Desktop.ini", ...), each as text that
// differs whenever a byte, a value type or an attribute does.
using Regions = std::map<std::string, std::string>;

// The first region outside `allowed` that differs between the two, with a short excerpt of
// both around the first difference; empty when none does.
std::string FirstDifference(const Regions& before, const Regions& after, const std::set<std::string>& allowed = {});

// The file's bytes and attributes (and whether it is a link), for a region.
std::string FileRegion(const std::wstring& path);

} // namespace orvane::test
