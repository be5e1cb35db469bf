// What a file target and a type target share: reading what a file shows, and the class
// and scope a change of either writes.
#include "KindOperations.h"

#include <iterator>
#include <string_view>

#include "ClassIconHandler.h"
#include "FileIconTable.h"
#include "FileTypeIcons.h"
#include "HandlerPlaceholder.h"
#include "IconHandlerInstall.h"
#include "IconHandlerUninstall.h"
#include "PathText.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "ScopeRule.h"

namespace orvane {

namespace {

// The longest key path the type and handler stores compose below a class is
// "<class>\shellex\IconHandlerBAK"; a class name that leaves no room for it is refused
// before anything is written.
bool ClassPathsFit(const wchar_t* typeKey)
{
    wchar_t path[TextCapacity];
    return FormatKeyPath(path, std::size(path), L"%ls\\%ls", typeKey, IconHandlerBackupKey);
}

bool TextFormFits(const IconLocation& location, bool withTypeKey)
{
    wchar_t text[TextCapacity];
    return FormatIconLocation(location, withTypeKey, text, std::size(text));
}

// The scope in which a type's icon, read from a DefaultIcon key of that scope, is this
// system's setting: where the type change's backup is kept. A type's icon as the system
// registered it is nobody's setting, also while this extension is the class's handler for
// the sake of other files of the type that have icons of their own.
std::optional<Scope> TypeSettingScope(const wchar_t* extension, const IconLocation& typeIcon, Scope found)
{
    if (ReadTypeBackupIcon(extension, found))
        return found;
    // This user's "%1", there for a file's own icon, shows all users' type icon behind it
    // when this user's keys had none of their own.
    if (found == Scope::ThisUser && IsOwnIconHandler(typeIcon.TypeKey, Scope::ThisUser) &&
        ReadTypeBackupIcon(extension, Scope::AllUsers))
        return Scope::AllUsers;
    return std::nullopt;
}

// All users' places that a change of one file (the product's key with its table and,
// unless this extension already serves the class there, the class) or of all files of a
// type (the class) writes, asked at the top of each place: the product's key and the
// class key (or the keys above them that would be written into, when they are still
// missing), which is where a standard user is refused. A key below them that refuses
// alone is an odd DACL, reported as a failed write as it always was. A class that only
// this user has, or a key of this user's that would hide what is written for all users,
// keeps the change this user's: all users are then not preferred.
void ExamineAllUsersPlaces(const IconLocation& location, const wchar_t* path, bool allOfType, ChangeFacts& facts)
{
    const wchar_t* typeKey = location.TypeKey;
    RegKey classKey;
    const bool sharedClass = OpenClassKey(Scope::AllUsers, typeKey, KEY_QUERY_VALUE, classKey) == ERROR_SUCCESS;
    classKey.reset();
    bool accept = sharedClass || location.TargetName[0] == L'\0' || MayWriteClassKey(Scope::AllUsers, location.TargetName);
    bool shown = false;
    if (allOfType) {
        shown = !UserClassKeyExists(typeKey, DefaultIconKey);
        accept = accept && MayWriteClassKey(Scope::AllUsers, typeKey);
    } else {
        const bool installed = sharedClass && IsOwnIconHandler(typeKey, Scope::AllUsers);
        shown = !ReadFileIcon(path, Scope::ThisUser) && !UserClassKeyExists(typeKey, DefaultIconKey) &&
                !UserClassKeyExists(typeKey, IconHandlerKey);
        accept = accept && MayWrite(HKEY_LOCAL_MACHINE, ProductKey) &&
                 (installed || MayWriteClassKey(Scope::AllUsers, typeKey));
    }
    if (!sharedClass) {
        RegKey userClass;
        if (OpenClassKey(Scope::ThisUser, typeKey, KEY_QUERY_VALUE, userClass) == ERROR_SUCCESS)
            shown = false; // a class only this user has
    }
    facts.AllUsersAccepts = accept;
    facts.AllUsersPreferred = accept && shown;
}

// Whether this user's places accept a change of one file (the table and, unless this
// extension already serves the class there, the class) or of a type (the class), asked
// before anything is written as all users' are: this user's keys may refuse too (locked
// by a policy or another program), and the platform may accept a key created below one
// that refuses, so that trying would leave a refused change half written.
bool ThisUserAccepts(const IconLocation& location, bool allOfType)
{
    const bool classAccepts = MayWriteClassKey(Scope::ThisUser, location.TypeKey);
    if (allOfType)
        return classAccepts;
    return MayWrite(HKEY_CURRENT_USER, FileIconsKey) &&
           (classAccepts || IsOwnIconHandler(location.TypeKey, Scope::ThisUser));
}

} // namespace

bool ExtensionOf(const wchar_t* path, wchar_t (&extension)[TextCapacity])
{
    extension[0] = L'\0';
    const std::wstring_view found = FileExtension(std::wstring_view(path, wcsnlen(path, TextCapacity)));
    return NamesFileClass(found) && CopyText(extension, std::size(extension), found);
}

bool UserClassKeyExists(const wchar_t* className, const wchar_t* subkey)
{
    RegKey key;
    return OpenClassSubkey(Scope::ThisUser, className, subkey, KEY_QUERY_VALUE, key) == ERROR_SUCCESS;
}

std::optional<IconLocation> ReadTypeIconOfFiles(const wchar_t* extension, Scope* foundIn)
{
    std::optional<IconLocation> typeIcon = ReadTypeIcon(extension, nullptr, true, foundIn);
    if (typeIcon && IsOwnHandlerPlaceholder(*typeIcon))
        return ReadTypeIconBehindHandler(*typeIcon);
    return typeIcon;
}

void ReadFileTarget(IconTarget& target)
{
    const wchar_t* path = target.Path();
    wchar_t extension[TextCapacity];
    const bool hasExtension = ExtensionOf(path, extension);
    target.SetCurrentScope(std::nullopt);
    std::optional<IconLocation> found = ReadFileIcon(path, Scope::ThisUser);
    if (found) {
        target.SetCurrentScope(Scope::ThisUser);
    } else if ((found = ReadFileIcon(path, Scope::AllUsers))) {
        target.SetCurrentScope(Scope::AllUsers);
    } else if (hasExtension) {
        Scope seenIn = Scope::AllUsers;
        found = ReadTypeIconOfFiles(extension, &seenIn);
        if (found)
            target.SetCurrentScope(TypeSettingScope(extension, *found, seenIn));
    }
    if (found) {
        target.Current = found;
        target.SetAllOfType(false);
    } else if (hasExtension && HasIconHandler(extension)) {
        target.Current = ReadTypeHandlerIcon(extension);
    }
}

ChangeResult LocationOfFileChange(const IconTarget& target, const wchar_t* extension, IconLocation& location)
{
    location = target.Current ? *target.Current : IconLocation();
    if (!target.Current || location.TargetName[0] == L'\0') {
        // No icon was found for the type: the icon goes to the class Explorer takes the
        // files' icon from all the same, which may have no DefaultIcon yet.
        wchar_t typeKey[TextCapacity];
        if (!ReadIconClass(extension, typeKey) &&
            !FormatKeyPath(typeKey, std::size(typeKey), L"%lsfile", extension + 1))
            return ChangeResult::PathTooLong;
        if (!location.SetTypeKey(typeKey) || !location.SetTargetName(extension))
            return ChangeResult::PathTooLong;
    }
    if (location.TypeKey[0] == L'\0')
        return ChangeResult::WriteFailed;
    // Everything that could be refused for its length is refused before the backup is
    // written, so that a refusal leaves nothing behind.
    if (!ClassPathsFit(location.TypeKey) || !TextFormFits(location, !target.AllOfType()))
        return ChangeResult::PathTooLong;
    return ChangeResult::Done;
}

ScopeDecision FileChangeScope(const IconTarget& target, const IconLocation& location)
{
    const bool allOfType = target.AllOfType();
    ChangeFacts facts;
    // A change chosen for this user asks nothing of all users' places.
    if (target.GetScopeChoice() != ScopeChoice::ThisUser)
        ExamineAllUsersPlaces(location, target.Path(), allOfType, facts);
    facts.ThisUserAccepts = ThisUserAccepts(location, allOfType);
    return DecideChangeScope(target.GetScopeChoice(), facts);
}

ChangeResult PrepareFileChange(const IconTarget& target, wchar_t (&extension)[TextCapacity], IconLocation& location)
{
    if (!ExtensionOf(target.Path(), extension))
        return ChangeResult::NoExtension;
    return LocationOfFileChange(target, extension, location);
}

ChangeResult FileScopeOfChange(const IconTarget& target, ScopeDecision& decision)
{
    wchar_t extension[TextCapacity];
    IconLocation location;
    const ChangeResult fits = PrepareFileChange(target, extension, location);
    if (fits != ChangeResult::Done)
        return fits;
    decision = FileChangeScope(target, location);
    return ChangeResult::Done;
}

} // namespace orvane
