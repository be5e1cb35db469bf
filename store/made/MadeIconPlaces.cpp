#include "MadeIconPlaces.h"

#include <windows.h>
#include <knownfolders.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <new>

#include "MadeIconFile.h"
#include "Registry.h"

namespace orvane {

const wchar_t AllUsersMadeIconFolderRights[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

namespace {

constexpr wchar_t ProductFolder[] = L"Orvane";
constexpr wchar_t IconsFolder[] = L"Icons";

std::optional<std::wstring> KnownFolder(Scope scope)
{
    PWSTR path = nullptr;
    const KNOWNFOLDERID& id = scope == Scope::ThisUser ? FOLDERID_LocalAppData : FOLDERID_ProgramData;
    std::optional<std::wstring> folder;
    if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path)) && path != nullptr && path[0] != L'\0')
        folder = path;
    CoTaskMemFree(path);
    if (folder && (folder->back() == L'\\' || folder->back() == L'/'))
        folder->pop_back();
    return folder;
}

// Owns a security descriptor made from the descriptor language.
class Descriptor {
public:
    explicit Descriptor(const wchar_t* text)
    {
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &descriptor_, nullptr))
            descriptor_ = nullptr;
    }
    ~Descriptor() { LocalFree(descriptor_); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    PSECURITY_DESCRIPTOR get() const { return descriptor_; }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

// Creates the folder when it is missing. All users' folders get their own rights; this
// user's inherit those of the user's own application data.
bool EnsureFolder(const std::wstring& path, Scope scope)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    if (scope == Scope::ThisUser)
        return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
    const Descriptor descriptor(AllUsersMadeIconFolderRights);
    if (descriptor.get() == nullptr)
        return false;
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor.get(), FALSE};
    return CreateDirectoryW(path.c_str(), &security) || GetLastError() == ERROR_ALREADY_EXISTS;
}


} // namespace

std::optional<std::wstring> MadeIconFolder(Scope scope, bool create)
{
    try {
        const std::optional<std::wstring> known = KnownFolder(scope);
        if (!known)
            return std::nullopt;
        const std::wstring product = *known + L"\\" + ProductFolder;
        const std::wstring icons = product + L"\\" + IconsFolder;
        // Room for the made file's name behind it.
        if (icons.size() + 1 + MadeIconName(0).size() >= TextCapacity)
            return std::nullopt;
        if (create && (!EnsureFolder(product, scope) || !EnsureFolder(icons, scope)))
            return std::nullopt;
        return icons;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

} // namespace orvane
