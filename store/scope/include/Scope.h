// Where a setting lives. Windows keeps every setting this product writes in two places:
// one for all users of the machine (which only administrators may write; with User
// Account Control even an administrator's Explorer runs without that right) and one for
// the current user, which Explorer reads first.
//
//   what                 all users                            this user
//   product tables       HKLM\<ProductKey>                    HKCU\<ProductKey>
//   class data           HKEY_CLASSES_ROOT (HKLM's classes)   HKCU\Software\Classes
//   drive icons          HKLM\...\Explorer\DriveIcons         HKCU\Software\Classes\Applications\Explorer.exe\Drives
//
// A function of one scope's setting takes the scope as its last parameter, and has the
// name of the one that reads what this user sees when there is one (ReadFileIcon(path)
// and ReadFileIcon(path, scope)). Only the functions that open, create or ask for the
// rights of a key take the scope first, where the registry's own calls take their root.
#pragma once

#include <windows.h>

#include <optional>

#include "Registry.h"

namespace orvane {

enum class Scope { AllUsers, ThisUser };

// What a caller asks of a change: all users where every place it writes accepts the
// write and this user otherwise, or one scope on purpose.
enum class ScopeChoice { Automatic, AllUsers, ThisUser };

// HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER: the root under which a scope keeps the
// product's tables (FileIcons, FolderBAKIcons) and the drive icons' key.
HKEY ProductKeyRoot(Scope scope);

// Opens (or creates) a key of a scope's class data by its path below the classes root
// ("txtfile\\DefaultIcon"). This user's keys are reached relative to
// HKCU\Software\Classes, so that a path that fits for HKEY_CLASSES_ROOT fits here too.
LONG OpenClassKey(Scope scope, const wchar_t* path, REGSAM access, RegKey& key);
LONG CreateClassKey(Scope scope, const wchar_t* path, RegKey& key);

// For as long as it lives, the thread that made it opens this user's class keys
// (OpenClassKey and all below that use it) relative to one handle of this user's classes
// key opened here, instead of opening that key again for each, and finds them missing
// without asking while that key is missing: for a reader of many keys of a class at once.
// Nested ones use the outermost one's handle. Not for a thread that writes class keys
// meanwhile.
class UserClassesReading {
public:
    UserClassesReading();
    ~UserClassesReading();
    UserClassesReading(const UserClassesReading&) = delete;
    UserClassesReading& operator=(const UserClassesReading&) = delete;

private:
    bool outermost_ = false;
};

// The key of this path as this user's Explorer sees it: this user's key when it exists
// (it hides the machine's key of the same path, values and all, as Windows' merged view
// of HKEY_CLASSES_ROOT does), else all users'. The scope it was found in, or none.
// Wine's HKEY_CLASSES_ROOT has no user part, so this merge is done here on every system.
std::optional<Scope> OpenVisibleClassKey(const wchar_t* path, REGSAM access, RegKey& key);

// The same for a key below a class ("shellex\\IconHandler"; null or "" for the class key
// itself), opened in two steps: the class key first and the key below it, so that a
// class name of up to 255 characters never makes a path the registry calls refuse.
// The deepest key decides, as in the merged view: this user's <class>\DefaultIcon hides
// all users' one whether or not it has values, while a user's <class> key without a
// DefaultIcon leaves all users' <class>\DefaultIcon visible.
std::optional<Scope> OpenVisibleClassSubkey(const wchar_t* className, const wchar_t* subkey, REGSAM access, RegKey& key);
// One scope's key below a class, opened in the same two steps.
LONG OpenClassSubkey(Scope scope, const wchar_t* className, const wchar_t* subkey, REGSAM access, RegKey& key);

// Whether a write below root\path would be accepted: the key itself when it exists,
// opened with `access`, else its nearest existing ancestor, opened with
// KEY_CREATE_SUB_KEY. Asked before anything of a change is written, so that a change
// goes wholly into one scope. (The platform checks a key's rights when that key is
// opened; a key created below a refusing one may still be accepted, so trying a write
// says less than asking.)
bool MayWrite(HKEY root, const wchar_t* path, REGSAM access = KEY_SET_VALUE | KEY_CREATE_SUB_KEY);
bool MayWriteClassKey(Scope scope, const wchar_t* path, REGSAM access = KEY_SET_VALUE | KEY_CREATE_SUB_KEY);

// While one lives on a thread, MayWrite asks the registry once for each root, path and
// access, and gives that answer again: a batch asks the same keys for every target, and
// their rights do not change between two targets. (A key the batch creates was accepted
// by its parent, and accepts the writes below it.) The outermost one ends the answers.
class WriteAnswersKept {
public:
    WriteAnswersKept();
    ~WriteAnswersKept();
    WriteAnswersKept(const WriteAnswersKept&) = delete;
    WriteAnswersKept& operator=(const WriteAnswersKept&) = delete;

private:
    bool outermost_ = false;
};

// This user's product keys that hold nothing any more: HKCU\keyPath (ProductKey or a
// key below it, such as FileIconsKey or FolderBackupKey) and each key above it up to
// CompanyKey, each while it is empty (RemoveEmptyKeys below HKCU\Software), so that
// HKEY_CURRENT_USER is left as it was before this user's first setting.
// ERROR_INVALID_PARAMETER for a path outside CompanyKey.
LONG RemoveEmptyUserProductKeys(const wchar_t* keyPath);

} // namespace orvane
