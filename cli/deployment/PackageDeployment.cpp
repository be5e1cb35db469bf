// Registers and removes the sparse package through Windows' package deployment API,
// reached through the WinRT ABI (see DeploymentInterfaces.h and WindowsRuntime.h).
#include "PackageDeployment.h"

#include <windows.h>
#include <asyncinfo.h>
#include <shlwapi.h>

#include <cwchar>
#include <iterator>
#include <string>

#include <wrl/client.h>

#include "DeploymentInterfaces.h"
#include "PackageIdentity.h"
#include "WindowsRuntime.h"

namespace orvane::cli {

namespace {

using Microsoft::WRL::ComPtr;

// Explorer shows packaged context-menu entries from Windows 11 on.
constexpr DWORD FirstBuildWithPackagedMenus = 22000;
// A deployment that has not finished by then is cancelled and reported.
constexpr DWORD DeploymentTimeoutMs = 120000;

constexpr HRESULT PackageNotFound = HRESULT_FROM_WIN32(0x490);         // ERROR_NOT_FOUND
constexpr HRESULT InstallPackageNotFound = static_cast<HRESULT>(0x80073CF1); // ERROR_INSTALL_PACKAGE_NOT_FOUND

constexpr UINT32 RemovalOptionsNone = 0;
constexpr UINT32 RemovalOptionsRemoveForAllUsers = 0x80000;

constexpr wchar_t PackageManagerClass[] = L"Windows.Management.Deployment.PackageManager";

DeploymentReport Report(DeploymentOutcome outcome, std::wstring text) { return {outcome, std::move(text)}; }

std::wstring HexCode(HRESULT hr)
{
    wchar_t text[16];
    std::swprintf(text, std::size(text), L"0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// The version Windows reports of itself (RtlGetVersion does not depend on the program's
// manifest, unlike GetVersionEx).
bool WindowsVersion(RTL_OSVERSIONINFOW* version)
{
    using RtlGetVersionFn = LONG(WINAPI*)(RTL_OSVERSIONINFOW*);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto get = ntdll != nullptr ? Export<RtlGetVersionFn>(ntdll, "RtlGetVersion") : nullptr;
    *version = {};
    version->dwOSVersionInfoSize = sizeof *version;
    return get != nullptr && get(version) == 0;
}

std::wstring VersionText(const RTL_OSVERSIONINFOW& version)
{
    return std::to_wstring(version.dwMajorVersion) + L"." + std::to_wstring(version.dwMinorVersion) + L"." +
           std::to_wstring(version.dwBuildNumber);
}

// Not available unless Windows is 10.0.22000 or later and the package manager can be
// made with the interfaces used here; `manager` then holds it.
DeploymentReport Availability(const Runtime& runtime, ComPtr<IInspectable>& manager)
{
    RTL_OSVERSIONINFOW version;
    if (!WindowsVersion(&version))
        return Report(DeploymentOutcome::NotAvailable, L"not available: the Windows version cannot be read");
    const bool recent = version.dwMajorVersion > 10 ||
                        (version.dwMajorVersion == 10 && version.dwBuildNumber >= FirstBuildWithPackagedMenus);
    if (!recent)
        return Report(DeploymentOutcome::NotAvailable,
                      L"not available on Windows " + VersionText(version) +
                          L" (Explorer shows packaged menu entries from Windows 11, 10.0.22000, on)");
    if (!runtime.Usable())
        return Report(DeploymentOutcome::NotAvailable, L"not available: the Windows Runtime (combase.dll) is missing");
    const HRESULT hr = runtime.Activate(PackageManagerClass, &manager);
    if (FAILED(hr) || manager.Get() == nullptr)
        return Report(DeploymentOutcome::NotAvailable,
                      std::wstring(L"not available: ") + PackageManagerClass + L" cannot be made (" + HexCode(hr) + L")");
    ComPtr<IPackageManager9> byUri;
    if (FAILED(manager->QueryInterface(IID_IPackageManager9, &byUri)))
        return Report(DeploymentOutcome::NotAvailable,
                      L"not available: this package manager cannot register a package with an external location");
    return Report(DeploymentOutcome::Done, L"available");
}

// Waits for the operation and turns its end into a report: `done` on success, the
// deployment's own error text otherwise. `notFoundIsDone`: a package that is not there
// counts as removed.
DeploymentReport Await(const Runtime& runtime, HRESULT started, IDeploymentOperation* operation, const std::wstring& what,
                       const std::wstring& done, bool notFoundIsDone = false)
{
    if (FAILED(started) || operation == nullptr)
        return Report(DeploymentOutcome::Failed, what + L" could not start (" + HexCode(started) + L")");
    ComPtr<IAsyncInfo> info;
    if (FAILED(operation->QueryInterface(IID_IAsyncInfoLocal, &info)))
        return Report(DeploymentOutcome::Failed, what + L": its progress cannot be followed");
    AsyncStatus status = AsyncStatus::Started;
    const ULONGLONG deadline = GetTickCount64() + DeploymentTimeoutMs;
    while (SUCCEEDED(info->get_Status(&status)) && status == AsyncStatus::Started) {
        if (GetTickCount64() > deadline) {
            info->Cancel();
            return Report(DeploymentOutcome::Failed,
                          what + L" did not finish within " + std::to_wstring(DeploymentTimeoutMs / 1000) + L" s");
        }
        Sleep(100);
    }
    HRESULT error = S_OK;
    if (status != AsyncStatus::Completed) {
        info->get_ErrorCode(&error);
        if (SUCCEEDED(error))
            error = E_FAIL;
    }
    std::wstring detail;
    ComPtr<IInspectable> result;
    if (SUCCEEDED(operation->GetResults(&result)) && result.Get() != nullptr) {
        ComPtr<IDeploymentResult> deployment;
        if (SUCCEEDED(result->QueryInterface(IID_IDeploymentResult, &deployment))) {
            HRESULT extended = S_OK;
            if (SUCCEEDED(deployment->get_ExtendedErrorCode(&extended)) && FAILED(extended) && SUCCEEDED(error))
                error = extended;
            HSTRING text = nullptr;
            if (SUCCEEDED(deployment->get_ErrorText(&text)))
                detail = Runtime::String(runtime, text).str();
        }
    }
    info->Close();
    if (SUCCEEDED(error))
        return Report(DeploymentOutcome::Done, done);
    if (notFoundIsDone && (error == InstallPackageNotFound || error == PackageNotFound))
        return Report(DeploymentOutcome::Done, what + L": the package was not registered");
    std::wstring text = what + L" failed (" + HexCode(error) + L")";
    if (!detail.empty())
        text += L": " + detail;
    return Report(DeploymentOutcome::Failed, text);
}

// Starts an operation (`start` is given where the operation goes) and waits for it as
// Await does.
template <typename Start>
DeploymentReport Deploy(const Runtime& runtime, Start start, const std::wstring& what, const std::wstring& done,
                        bool notFoundIsDone = false)
{
    ComPtr<IDeploymentOperation> operation;
    const HRESULT started = start(&operation);
    return Await(runtime, started, operation.Get(), what, done, notFoundIsDone);
}

// file:///C:/Program%20Files/Orvane/... as Windows.Foundation.Uri.
HRESULT MakeUri(const Runtime& runtime, const std::wstring& path, ComPtr<IInspectable>& uri)
{
    // A file URL is at most three times the path (every character escaped) and "file:///".
    wchar_t url[3 * MAX_PATH + 16];
    DWORD length = static_cast<DWORD>(std::size(url));
    HRESULT hr = UrlCreateFromPathW(path.c_str(), url, &length, 0);
    if (FAILED(hr))
        return hr;
    ComPtr<IUriRuntimeClassFactory> factory;
    hr = runtime.Factory(L"Windows.Foundation.Uri", IID_IUriRuntimeClassFactory, &factory);
    if (FAILED(hr))
        return hr;
    const Runtime::String text(runtime, url);
    if (text.get() == nullptr)
        return E_OUTOFMEMORY;
    return factory->CreateUri(text.get(), &uri);
}

// Options (AddPackageOptions or StagePackageOptions) naming the external location.
HRESULT MakeOptions(const Runtime& runtime, const wchar_t* className, REFIID iid, IInspectable* location,
                    ComPtr<IPackageOptions>& options)
{
    ComPtr<IInspectable> instance;
    HRESULT hr = runtime.Activate(className, &instance);
    if (FAILED(hr))
        return hr;
    hr = instance->QueryInterface(iid, &options);
    if (FAILED(hr))
        return hr;
    return options->put_ExternalLocationUri(location);
}

std::wstring FolderOf(const std::wstring& path)
{
    const std::wstring::size_type slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

std::wstring FullPath(const std::wstring& path)
{
    wchar_t full[MAX_PATH];
    const DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(std::size(full)), full, nullptr);
    return length > 0 && length < std::size(full) ? std::wstring(full, length) : path;
}

// The identity in the package file's manifest, or why it cannot be read, in words.
bool ReadIdentity(const std::wstring& packagePath, PackageIdentity* identity, std::wstring* error)
{
    IdentityStep failed = IdentityStep::Read;
    const HRESULT hr = ReadPackageIdentity(packagePath, identity, &failed);
    if (SUCCEEDED(hr))
        return true;
    switch (failed) {
    case IdentityStep::Factory: *error = L"the packaging API is missing (" + HexCode(hr) + L")"; break;
    case IdentityStep::Open: *error = packagePath + L" cannot be read (" + HexCode(hr) + L")"; break;
    case IdentityStep::Read: *error = packagePath + L" is no readable package (" + HexCode(hr) + L")"; break;
    }
    return false;
}

// What every request needs: the Runtime (this thread initialised for it) and the package
// manager, made once this Windows is found able to take the package.
class Session {
public:
    Session() : available_(Availability(runtime_, manager_)) {}
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const DeploymentReport& Available() const { return available_; }
    bool Ready() const { return available_.Outcome == DeploymentOutcome::Done; }
    const Runtime& WinRt() const { return runtime_; }
    // The manager's interface `iid` into *out; false when it has none.
    bool Query(REFIID iid, void** out) const { return SUCCEEDED(manager_->QueryInterface(iid, out)); }

private:
    Runtime runtime_;
    ComPtr<IInspectable> manager_;
    DeploymentReport available_;
};

// The two ways a package file is deployed by its URI with its external location: added
// (registered for this user) or staged (for provisioning).
struct ByUriRequest {
    const wchar_t* OptionsClass;
    const IID* OptionsIid;
    bool Stage;
    const wchar_t* Starting; // what "could not start" when the options cannot be made
    const wchar_t* What;
    const wchar_t* Done;
};
constexpr ByUriRequest AddRequest = {L"Windows.Management.Deployment.AddPackageOptions", &IID_IAddPackageOptions, false,
                                     L"registering the package", L"registering the package for this user",
                                     L"package registered for this user"};
constexpr ByUriRequest StageRequest = {L"Windows.Management.Deployment.StagePackageOptions",
                                       &IID_IStagePackageOptions, true, L"staging the package", L"staging the package",
                                       L"package staged"};

DeploymentReport DeployByUri(const Session& session, const ByUriRequest& request, IInspectable* packageUri,
                             IInspectable* locationUri)
{
    ComPtr<IPackageManager9> byUri;
    session.Query(IID_IPackageManager9, &byUri);
    ComPtr<IPackageOptions> options;
    const HRESULT hr = MakeOptions(session.WinRt(), request.OptionsClass, *request.OptionsIid, locationUri, options);
    if (FAILED(hr))
        return Report(DeploymentOutcome::Failed, std::wstring(request.Starting) + L" could not start (" + HexCode(hr) + L")");
    return Deploy(
        session.WinRt(),
        [&](IDeploymentOperation** operation) {
            return request.Stage ? byUri->StagePackageByUriAsync(packageUri, options.Get(), operation)
                                 : byUri->AddPackageByUriAsync(packageUri, options.Get(), operation);
        },
        request.What, request.Done);
}

// For every user: staged once with its external location, then provisioned, so that each
// user of the computer has it registered when signing in.
DeploymentReport ProvisionForAllUsers(const Session& session, const std::wstring& package, IInspectable* packageUri,
                                      IInspectable* locationUri)
{
    PackageIdentity identity;
    std::wstring error;
    if (!ReadIdentity(package, &identity, &error))
        return Report(DeploymentOutcome::Failed, error);
    ComPtr<IPackageManager6> provisioning;
    if (!session.Query(IID_IPackageManager6, &provisioning))
        return Report(DeploymentOutcome::NotAvailable, L"not available: this package manager cannot provision packages");
    DeploymentReport staged = DeployByUri(session, StageRequest, packageUri, locationUri);
    if (staged.Outcome != DeploymentOutcome::Done)
        return staged;
    const Runtime::String family(session.WinRt(), identity.FamilyName);
    return Deploy(
        session.WinRt(),
        [&](IDeploymentOperation** operation) {
            return provisioning->ProvisionPackageForAllUsersAsync(family.get(), operation);
        },
        L"provisioning the package for all users", L"package " + identity.FullName + L" provisioned for all users");
}

} // namespace

DeploymentReport CheckDeploymentAvailable()
{
    const Session session;
    return session.Available();
}

DeploymentReport RegisterPackage(const std::wstring& packagePath, PackageUsers users)
{
    const Session session;
    if (!session.Ready())
        return session.Available();
    const std::wstring package = FullPath(packagePath);
    if (GetFileAttributesW(package.c_str()) == INVALID_FILE_ATTRIBUTES)
        return Report(DeploymentOutcome::Failed, package + L" does not exist");
    ComPtr<IInspectable> packageUri;
    ComPtr<IInspectable> locationUri;
    HRESULT hr = MakeUri(session.WinRt(), package, packageUri);
    if (SUCCEEDED(hr))
        hr = MakeUri(session.WinRt(), FolderOf(package), locationUri);
    if (FAILED(hr))
        return Report(DeploymentOutcome::Failed, L"the package's location cannot be named (" + HexCode(hr) + L")");
    if (users == PackageUsers::ThisUser)
        return DeployByUri(session, AddRequest, packageUri.Get(), locationUri.Get());
    return ProvisionForAllUsers(session, package, packageUri.Get(), locationUri.Get());
}

DeploymentReport UnregisterPackage(const std::wstring& packagePath, PackageUsers users)
{
    const Session session;
    if (!session.Ready())
        return session.Available();
    PackageIdentity identity;
    std::wstring error;
    if (!ReadIdentity(FullPath(packagePath), &identity, &error))
        return Report(DeploymentOutcome::Failed, error);
    const Runtime::String fullName(session.WinRt(), identity.FullName);
    const Runtime::String family(session.WinRt(), identity.FamilyName);
    ComPtr<IPackageManager2> removal;
    if (!session.Query(IID_IPackageManager2, &removal))
        return Report(DeploymentOutcome::NotAvailable, L"not available: this package manager cannot remove packages");
    // A package that is not there counts as removed.
    const auto remove = [&](UINT32 options, const std::wstring& what, const std::wstring& done) {
        return Deploy(
            session.WinRt(),
            [&](IDeploymentOperation** operation) {
                return removal->RemovePackageWithOptionsAsync(fullName.get(), options, operation);
            },
            what, done, true);
    };
    if (users == PackageUsers::ThisUser)
        return remove(RemovalOptionsNone, L"removing the package for this user", L"package removed for this user");

    // No user gets it at the next sign-in any more, and every user's registration goes.
    ComPtr<IPackageManager8> deprovisioning;
    if (session.Query(IID_IPackageManager8, &deprovisioning)) {
        const DeploymentReport deprovisioned = Deploy(
            session.WinRt(),
            [&](IDeploymentOperation** operation) {
                return deprovisioning->DeprovisionPackageForAllUsersAsync(family.get(), operation);
            },
            L"deprovisioning the package", L"package deprovisioned", true);
        if (deprovisioned.Outcome != DeploymentOutcome::Done)
            return deprovisioned;
    }
    return remove(RemovalOptionsRemoveForAllUsers, L"removing the package for all users",
                  L"package " + identity.FullName + L" removed for all users");
}

} // namespace orvane::cli
