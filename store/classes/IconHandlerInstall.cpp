#include "IconHandlerInstall.h"

#include <cwchar>
#include <iterator>

#include "ClassIconHandler.h"
#include "ExtensionIdentity.h"
#include "FileTypeIcons.h"
#include "Machine.h"
#include "Registry.h"
#include "RegistryNames.h"

namespace orvane {

namespace {

// A default value that installing replaces: its text and type, when there is one.
struct ReplacedText {
    bool KeyFound = false;
    bool Found = false;
    wchar_t Text[TextCapacity] = {};
    DWORD Type = REG_SZ;
};

// What installing replaces in a class, read before anything is written: DefaultIcon's
// text and shellex\IconHandler's, which is backed up when it is another handler's.
struct ReplacedByInstalling {
    ReplacedText Icon;
    ReplacedText Handler;
    bool BackUpHandler = false;
};

// What installing has written so far, for a failure part way to take back.
struct InstallProgress {
    bool HadHandlerBackup = false;
    bool WroteIconBackup = false;
    bool WroteHandlerBackup = false;
    bool WroteDefaultIcon = false;
};

// Reads the default value of classKey\path. A missing key or value is no text; a text
// that is there but cannot be read whole (over 259 characters) is the reading's failure,
// since it could not be backed up.
LONG ReadReplacedText(HKEY classKey, const wchar_t* path, REGSAM access, ReplacedText& replaced)
{
    RegKey key;
    LONG status = key.Open(classKey, path, access);
    replaced.KeyFound = status == ERROR_SUCCESS;
    if (status == ERROR_SUCCESS)
        status = QueryTextValue(key.get(), nullptr, replaced.Text, std::size(replaced.Text), &replaced.Type);
    replaced.Found = status == ERROR_SUCCESS;
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

// Reads DefaultIcon's text and the handler that installing replaces; a text that cannot
// be backed up whole (over 259 characters, or not readable) is the reading's failure,
// so that the installation stops with the class untouched.
LONG ReadWhatInstallingReplaces(HKEY classKey, ReplacedByInstalling& replaced)
{
    LONG status = ReadReplacedText(classKey, DefaultIconKey, KEY_QUERY_VALUE, replaced.Icon);
    if (status != ERROR_SUCCESS)
        return status;
    status = ReadReplacedText(classKey, IconHandlerKey, KEY_READ, replaced.Handler);
    replaced.BackUpHandler = replaced.Handler.Found && !IsOwnHandlerText(replaced.Handler.Text);
    return status;
}

// Puts back what the writes before a failure did, so that a failed installation leaves
// the class as it was; the failure is what it returns.
LONG UndoInstall(HKEY classKey, const ReplacedByInstalling& replaced, const InstallProgress& progress, LONG failure)
{
    if (progress.WroteDefaultIcon) {
        RegKey defaultIcon;
        if (replaced.Icon.Found) {
            CreateKeyWithText(classKey, DefaultIconKey, nullptr, replaced.Icon.Text, replaced.Icon.Type);
        } else if (defaultIcon.Open(classKey, DefaultIconKey, KEY_SET_VALUE) == ERROR_SUCCESS) {
            RegDeleteValueW(defaultIcon.get(), nullptr);
            defaultIcon.reset();
            if (!replaced.Icon.KeyFound)
                DeleteKeyIfEmpty(classKey, DefaultIconKey);
        }
    }
    // A backup key is this system's own; anything found below it goes with it.
    if (progress.WroteHandlerBackup && !progress.HadHandlerBackup)
        DeleteKeyTree(classKey, IconHandlerBackupKey);
    if (progress.WroteIconBackup)
        DeleteKeyTree(classKey, DefaultIconBackupKey);
    return failure;
}

// DefaultIcon's text into DefaultIconBAK, with the type it had.
LONG BackUpDefaultIcon(HKEY classKey, const ReplacedByInstalling& replaced, InstallProgress& progress)
{
    LONG status = CreateKeyWithText(classKey, DefaultIconBackupKey, nullptr, replaced.Icon.Text,
                                    replaced.Icon.Type);
    if (status != ERROR_SUCCESS)
        return status;
    progress.WroteIconBackup = true;
    // A "HandlerIconInfo" still there was chosen under an earlier installation; the
    // type's icon since is the DefaultIcon text just backed up. Left in place, the icon
    // handler would answer the old icon for every file of the type.
    if (!replaced.Icon.KeyFound)
        return ERROR_SUCCESS;
    RegKey defaultIcon;
    status = defaultIcon.Open(classKey, DefaultIconKey, KEY_SET_VALUE);
    if (status == ERROR_SUCCESS)
        status = DeletionStatus(RegDeleteValueW(defaultIcon.get(), HandlerIconValue));
    return status;
}

// The installation's writes in order, each noted in progress once it is done.
LONG WriteInstallation(HKEY classKey, const ReplacedByInstalling& replaced, bool keepIconBackup,
                       InstallProgress& progress)
{
    LONG status = ERROR_SUCCESS;
    if (!keepIconBackup) {
        status = BackUpDefaultIcon(classKey, replaced, progress);
        if (status != ERROR_SUCCESS)
            return status;
    }
    if (replaced.BackUpHandler) {
        status = CreateKeyWithText(classKey, IconHandlerBackupKey, nullptr, replaced.Handler.Text,
                                   replaced.Handler.Type);
        if (status != ERROR_SUCCESS)
            return status;
        progress.WroteHandlerBackup = true;
    }
    // A class without DefaultIcon gets one: the shell consults an icon handler only
    // for a class whose DefaultIcon is "%1".
    status = CreateKeyWithText(classKey, DefaultIconKey, nullptr, HandlerIconText);
    if (status != ERROR_SUCCESS)
        return status;
    progress.WroteDefaultIcon = true;
    return CreateKeyWithText(classKey, IconHandlerKey, nullptr, ExtensionClsidText);
}

LONG CheckClassName(const IconLocation& location)
{
    if (location.TypeKey[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    if (std::wcslen(location.TypeKey) > MaxKeyNameLength)
        return ERROR_FILENAME_EXCED_RANGE;
    return ERROR_SUCCESS;
}

// The DLL this extension's class id names for programs of the system's own processor:
// this user's registration over all users'. False where there is none.
bool RegisteredServer(USHORT native, wchar_t (&dll)[TextCapacity])
{
    wchar_t path[TextCapacity];
    if (!FormatKeyPath(path, std::size(path), L"Software\\Classes\\CLSID\\%ls\\InprocServer32", ExtensionClsidText))
        return false;
    // A 32-bit program asks the 64-bit registry, where Explorer of a 64-bit system looks.
    const REGSAM view = native == IMAGE_FILE_MACHINE_I386 ? 0 : KEY_WOW64_64KEY;
    for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        RegKey key;
        wchar_t text[TextCapacity];
        if (key.Open(root, path, KEY_QUERY_VALUE | view) != ERROR_SUCCESS || !ReadStringValue(key.get(), nullptr, text, std::size(text)))
            continue;
        const DWORD length = ExpandEnvironmentStringsW(text, dll, static_cast<DWORD>(std::size(dll)));
        return length > 0 && length <= std::size(dll);
    }
    return false;
}

} // namespace

bool ExplorerLoadsServer(USHORT native, const wchar_t* dll)
{
    const USHORT registered = dll != nullptr ? MachineOfFile(dll) : IMAGE_FILE_MACHINE_UNKNOWN;
    if (registered != IMAGE_FILE_MACHINE_UNKNOWN)
        return LoadsInProcess(native, registered);
    // Nothing registered (or nothing readable there): what this build's installation
    // registers beside it. On Windows on Arm that is an ARM64 DLL only from an ARM64
    // build; elsewhere the installer registers the system's own DLL beside an x86 one.
    return native != IMAGE_FILE_MACHINE_ARM64 || LoadsInProcess(native, BuiltMachine());
}

bool ExplorerLoadsIconHandler()
{
    const USHORT native = NativeMachine();
    wchar_t dll[TextCapacity];
    return ExplorerLoadsServer(native, RegisteredServer(native, dll) ? dll : nullptr);
}

LONG CheckIconHandlerInstall(const IconLocation& location, Scope scope)
{
    // An icon handler Explorer cannot load would leave every file of the type without
    // an icon at all (an x64 build's on Windows on Arm).
    if (!ExplorerLoadsIconHandler())
        return ERROR_EXE_MACHINE_TYPE_MISMATCH;
    RegKey classKey;
    LONG status = CheckClassName(location);
    if (status == ERROR_SUCCESS)
        status = OpenClassKey(scope, location.TypeKey, KEY_READ, classKey);
    if (status == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS; // a class made by installing has nothing to back up
    if (status != ERROR_SUCCESS)
        return status;
    ReplacedByInstalling replaced;
    return ReadWhatInstallingReplaces(classKey.get(), replaced);
}

LONG InstallIconHandler(const IconLocation& location, Scope scope)
{
    LONG status = CheckClassName(location);
    if (status != ERROR_SUCCESS)
        return status;

    // In this user's classes the backups keep what this user's own keys held (an empty
    // DefaultIconBAK and no IconHandlerBAK when there were none), so that uninstalling
    // leaves them as they were; what all users' keys show behind them is read there.
    RegKey classKey;
    status = OpenClassKey(scope, location.TypeKey, KEY_ALL_ACCESS, classKey);
    if (status != ERROR_SUCCESS) {
        status = RegisterFileType(location, classKey, scope);
        if (!classKey)
            return status != ERROR_SUCCESS ? status : ERROR_INVALID_HANDLE;
    }

    // Everything that is replaced is read before anything is written, so that a text
    // that cannot be backed up whole stops the installation with the class untouched.
    ReplacedByInstalling replaced;
    status = ReadWhatInstallingReplaces(classKey.get(), replaced);
    if (status != ERROR_SUCCESS)
        return status;

    // A DefaultIcon of "%1" next to an existing backup is this extension's own doing
    // (it is installed already, or another program took over shellex\IconHandler):
    // the backup still holds the class's real icon and is kept.
    const bool keepIconBackup = std::wcscmp(replaced.Icon.Text, HandlerIconText) == 0 &&
                                KeyMayExist(classKey.get(), DefaultIconBackupKey);
    InstallProgress progress;
    progress.HadHandlerBackup = KeyMayExist(classKey.get(), IconHandlerBackupKey);
    status = WriteInstallation(classKey.get(), replaced, keepIconBackup, progress);
    if (status != ERROR_SUCCESS)
        return UndoInstall(classKey.get(), replaced, progress, status);
    return ERROR_SUCCESS;
}

LONG WriteDefaultIconBackup(const IconLocation& location, Scope scope)
{
    LONG status = CheckClassName(location);
    if (status != ERROR_SUCCESS)
        return status;
    wchar_t text[TextCapacity];
    if (!FormatIconLocation(location, false, text, std::size(text)))
        return ERROR_FILENAME_EXCED_RANGE;

    RegKey classKey;
    status = OpenClassKey(scope, location.TypeKey, KEY_WRITE, classKey);
    if (status != ERROR_SUCCESS)
        return status;
    return CreateKeyWithText(classKey.get(), DefaultIconBackupKey, nullptr, text);
}

} // namespace orvane
