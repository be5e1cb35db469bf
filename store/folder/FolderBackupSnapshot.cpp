#include "FolderBackups.h"

#include <cwchar>

#include "BackupValue.h"
#include "DesktopIni.h"
#include "FolderFirstState.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "Scope.h"

namespace orvane {

using namespace desktop_ini;

namespace {

// The keys from the product's vendor key down to FolderBAKIcons, below "Software".
constexpr const wchar_t* BackupKeyChain[] = {CompanyKey, ProductKey, FolderBackupKey};

} // namespace

FolderBackupSnapshot::FolderBackupSnapshot(const wchar_t* folder) : folder_(folder)
{
    if (IsEmpty(folder))
        return;
    for (const Scope scope : {Scope::AllUsers, Scope::ThisUser}) {
        ScopeState& state = states_[scope == Scope::AllUsers ? 0 : 1];
        for (const wchar_t* path : BackupKeyChain) {
            RegKey key;
            if (key.Open(ProductKeyRoot(scope), path, KEY_QUERY_VALUE) != ERROR_SUCCESS)
                break;
            ++state.KeysThere;
        }
        {
            RegKey key;
            state.StateKeyThere = key.Open(ProductKeyRoot(scope), FolderStateKey, KEY_QUERY_VALUE) == ERROR_SUCCESS;
        }
        FolderState kept;
        const LONG stateStatus = ReadFolderState(scope, folder, kept);
        if (stateStatus == ERROR_SUCCESS) {
            state.HasState = true;
            state.StateItems = std::move(kept.Items);
        } else if (stateStatus != ERROR_FILE_NOT_FOUND && stateStatus != ERROR_PATH_NOT_FOUND) {
            return;
        }
        BackupValue value;
        const LONG status = ReadBackupValue(scope, folder, value);
        if (status == ERROR_SUCCESS) {
            state.HasValue = true;
            state.Type = value.Type;
            state.Size = value.Size;
            std::wmemcpy(state.Data, value.Data, std::size(state.Data));
        } else if (status != ERROR_FILE_NOT_FOUND && status != ERROR_PATH_NOT_FOUND) {
            return;
        }
    }
    taken_ = true;
}

LONG FolderBackupSnapshot::PutBack() const
{
    if (!taken_)
        return ERROR_INVALID_FUNCTION;
    LONG result = ERROR_SUCCESS;
    for (const Scope scope : {Scope::AllUsers, Scope::ThisUser}) {
        const ScopeState& state = states_[scope == Scope::AllUsers ? 0 : 1];
        LONG status = ERROR_SUCCESS;
        if (state.HasState) {
            FolderState kept;
            kept.Items = state.StateItems;
            status = WriteFolderState(scope, folder_, kept);
        } else {
            RegKey key;
            if (key.Open(ProductKeyRoot(scope), FolderStateKey, KEY_SET_VALUE) == ERROR_SUCCESS)
                status = DeletionStatus(RegDeleteValueW(key.get(), folder_));
            key.reset();
            // A key the change made goes once it is empty again.
            if (status == ERROR_SUCCESS && !state.StateKeyThere)
                status = RemoveEmptyKeys(ProductKeyRoot(scope), ProductKey, FolderStateKey + std::wcslen(ProductKey) + 1);
        }
        if (status != ERROR_SUCCESS) {
            if (result == ERROR_SUCCESS)
                result = status;
            continue;
        }
        if (state.HasValue) {
            status = SetBackupValue(scope, folder_, state.Type, state.Data, state.Size);
        } else {
            RegKey key;
            if (key.Open(ProductKeyRoot(scope), FolderBackupKey, KEY_SET_VALUE) == ERROR_SUCCESS)
                status = DeletionStatus(RegDeleteValueW(key.get(), folder_));
            // The keys made by the change go, from the first that was not there.
            const std::size_t first = static_cast<std::size_t>(state.KeysThere);
            if (status == ERROR_SUCCESS && first < std::size(BackupKeyChain)) {
                const wchar_t* base = first == 0 ? L"Software" : BackupKeyChain[first - 1];
                status = RemoveEmptyKeys(ProductKeyRoot(scope), base, FolderBackupKey + std::wcslen(base) + 1);
            }
        }
        if (result == ERROR_SUCCESS)
            result = status;
    }
    return result;
}

} // namespace orvane
