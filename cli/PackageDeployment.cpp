// The package deployment API through the WinRT ABI. MinGW's headers give HSTRING,
// IInspectable and IAsyncInfo but not Windows.Management.Deployment, so the few
// interfaces used here are declared below with the identifiers of the Windows SDK's
// windows.management.deployment.h and appxpackaging.h. combase.dll is loaded at run time:
// Windows 7 has none, and its absence is one of the ways the API is "not available".
#include "PackageDeployment.h"

#include <windows.h>
#include <asyncinfo.h>
#include <inspectable.h>
#include <objbase.h>
#include <roapi.h>
#include <shlwapi.h>
#include <winstring.h>

#include <cwchar>
#include <iterator>
#include <string>

namespace orvane::cli {

namespace {

// Explorer shows packaged context-menu entries from Windows 11 on.
constexpr DWORD FirstBuildWithPackagedMenus = 22000;
// A deployment that has not finished by then is cancelled and reported.
constexpr DWORD DeploymentTimeoutMs = 120000;

constexpr HRESULT PackageNotFound = HRESULT_FROM_WIN32(0x490);         // ERROR_NOT_FOUND
constexpr HRESULT InstallPackageNotFound = static_cast<HRESULT>(0x80073CF1); // ERROR_INSTALL_PACKAGE_NOT_FOUND

constexpr UINT32 RemovalOptionsNone = 0;
constexpr UINT32 RemovalOptionsRemoveForAllUsers = 0x80000;

// IAsyncOperationWithProgress<DeploymentResult, DeploymentProgress>: the handler slots
// are not used (the operation is polled through IAsyncInfo), only GetResults.
struct IDeploymentOperation : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE put_Progress(IUnknown* handler) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Progress(IUnknown** handler) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Completed(IUnknown* handler) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Completed(IUnknown** handler) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetResults(IInspectable** result) = 0;
};

// Windows.Management.Deployment.IDeploymentResult
struct IDeploymentResult : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_ErrorText(HSTRING* text) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ActivityId(GUID* id) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ExtendedErrorCode(HRESULT* code) = 0;
};
constexpr IID IID_IDeploymentResult = {0x2563B9AE, 0xB77D, 0x4C1F, {0x8A, 0x7B, 0x20, 0xE6, 0xAD, 0x51, 0x5E, 0xF3}};

// IPackageManager2: only RemovePackageWithOptionsAsync, its first method.
struct IPackageManager2 : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE RemovePackageWithOptionsAsync(HSTRING fullName, UINT32 options,
                                                                    IDeploymentOperation** operation) = 0;
};
constexpr IID IID_IPackageManager2 = {0xF7AAD08D, 0x0840, 0x46F2, {0xB5, 0xD8, 0xCA, 0xD4, 0x76, 0x93, 0xA0, 0x95}};

// IPackageManager6: only ProvisionPackageForAllUsersAsync, its first method.
struct IPackageManager6 : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE ProvisionPackageForAllUsersAsync(HSTRING familyName,
                                                                       IDeploymentOperation** operation) = 0;
};
constexpr IID IID_IPackageManager6 = {0x0847E909, 0x53CD, 0x4E4F, {0x83, 0x2E, 0x57, 0xD1, 0x80, 0xF6, 0xE4, 0x47}};

// IPackageManager8: DeprovisionPackageForAllUsersAsync.
struct IPackageManager8 : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE DeprovisionPackageForAllUsersAsync(HSTRING familyName,
                                                                         IDeploymentOperation** operation) = 0;
};
constexpr IID IID_IPackageManager8 = {0xB8575330, 0x1298, 0x4EE2, {0x80, 0xEE, 0x7F, 0x65, 0x9C, 0x5D, 0x27, 0x82}};

// IPackageManager9: the by-URI methods that take options with an external location.
struct IPackageManager9 : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE FindProvisionedPackages(IInspectable** packages) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddPackageByUriAsync(IInspectable* uri, IInspectable* options,
                                                           IDeploymentOperation** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE StagePackageByUriAsync(IInspectable* uri, IInspectable* options,
                                                             IDeploymentOperation** operation) = 0;
};
constexpr IID IID_IPackageManager9 = {0x1AA79035, 0xCC71, 0x4B2E, {0x80, 0xA6, 0xC7, 0x04, 0x1D, 0x85, 0x79, 0xA7}};

// IAddPackageOptions and IStagePackageOptions begin alike: six getters and setters, then
// ExternalLocationUri and its setter.
struct IPackageOptions : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_DependencyPackageUris(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_TargetVolume(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_TargetVolume(IInspectable* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_OptionalPackageFamilyNames(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_OptionalPackageUris(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RelatedPackageUris(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ExternalLocationUri(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ExternalLocationUri(IInspectable* value) = 0;
};
constexpr IID IID_IAddPackageOptions = {0x05CEE018, 0xF68F, 0x422B, {0x95, 0xA4, 0x66, 0x67, 0x9E, 0xC7, 0x7F, 0xC0}};
constexpr IID IID_IStagePackageOptions = {0x0B110C9C, 0xB95D, 0x4C56, {0xBD, 0x36, 0x6D, 0x65, 0x68, 0x00, 0xD0, 0x6B}};

// Windows.Foundation.IUriRuntimeClassFactory
struct IUriRuntimeClassFactory : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE CreateUri(HSTRING uri, IInspectable** instance) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateWithRelativeUri(HSTRING base, HSTRING relative, IInspectable** instance) = 0;
};
constexpr IID IID_IUriRuntimeClassFactory = {0x44A9796F, 0x723E, 0x4FDF, {0xA2, 0x18, 0x03, 0x3E, 0x75, 0xB0, 0xC0, 0x84}};

constexpr IID IID_IAsyncInfoLocal = {0x00000036, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// The package file's identity, through the packaging API (appxpackaging.h).
struct IAppxManifestPackageId : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetName(LPWSTR* name) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetArchitecture(int* architecture) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPublisher(LPWSTR* publisher) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVersion(UINT64* version) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetResourceId(LPWSTR* resourceId) = 0;
    virtual HRESULT STDMETHODCALLTYPE ComparePublisher(LPCWSTR other, BOOL* same) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPackageFullName(LPWSTR* fullName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPackageFamilyName(LPWSTR* familyName) = 0;
};
struct IAppxManifestReader : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetPackageId(IAppxManifestPackageId** packageId) = 0;
};
struct IAppxPackageReader : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetBlockMap(IUnknown** blockMap) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFootprintFile(int type, IUnknown** file) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPayloadFile(LPCWSTR name, IUnknown** file) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPayloadFiles(IUnknown** files) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetManifest(IAppxManifestReader** manifest) = 0;
};
struct IAppxFactory : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreatePackageWriter(IStream* output, void* settings, IUnknown** writer) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreatePackageReader(IStream* input, IAppxPackageReader** reader) = 0;
};
constexpr CLSID CLSID_AppxFactory = {0x5842A140, 0xFF9F, 0x4166, {0x8F, 0x5C, 0x62, 0xF5, 0xB7, 0xB0, 0xC7, 0x81}};
constexpr IID IID_IAppxFactory = {0xBEB94909, 0xE451, 0x438B, {0xB5, 0xA7, 0xD7, 0x9E, 0x76, 0x7B, 0x75, 0xD8}};

// An exported function as the type it has; through void (*)() so that the compiler
// accepts the change of signature from FARPROC.
template <typename Function>
Function Export(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// Releases what it holds; a small owner for the interface pointers above.
template <typename T>
class Held {
public:
    Held() = default;
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held()
    {
        if (p_ != nullptr)
            p_->Release();
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T** put() { return &p_; }
    void** putVoid() { return reinterpret_cast<void**>(&p_); }

private:
    T* p_ = nullptr;
};

// CoTaskMem text from the packaging API.
class TaskText {
public:
    ~TaskText() { CoTaskMemFree(text_); }
    LPWSTR* put() { return &text_; }
    std::wstring str() const { return text_ != nullptr ? text_ : L""; }

private:
    LPWSTR text_ = nullptr;
};

std::wstring HexCode(HRESULT hr)
{
    wchar_t text[16];
    std::swprintf(text, std::size(text), L"0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// combase's WinRT entry points, looked up once per use.
class Runtime {
public:
    Runtime()
    {
        module_ = LoadLibraryExW(L"combase.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (module_ == nullptr)
            module_ = LoadLibraryW(L"combase.dll");
        if (module_ == nullptr)
            return;
        initialize_ = Export<decltype(initialize_)>(module_, "RoInitialize");
        uninitialize_ = Export<decltype(uninitialize_)>(module_, "RoUninitialize");
        activate_ = Export<decltype(activate_)>(module_, "RoActivateInstance");
        factory_ = Export<decltype(factory_)>(module_, "RoGetActivationFactory");
        create_ = Export<decltype(create_)>(module_, "WindowsCreateString");
        delete_ = Export<decltype(delete_)>(module_, "WindowsDeleteString");
        buffer_ = Export<decltype(buffer_)>(module_, "WindowsGetStringRawBuffer");
        if (initialize_ == nullptr || uninitialize_ == nullptr || activate_ == nullptr || factory_ == nullptr ||
            create_ == nullptr || delete_ == nullptr || buffer_ == nullptr)
            return;
        // S_FALSE: this thread had it already; RPC_E_CHANGED_MODE: a single-threaded
        // apartment, which serves as well since the operations are polled.
        const HRESULT hr = initialize_(RO_INIT_MULTITHREADED);
        initialized_ = SUCCEEDED(hr);
        usable_ = initialized_ || hr == RPC_E_CHANGED_MODE;
    }
    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;
    ~Runtime()
    {
        if (initialized_)
            uninitialize_();
        if (module_ != nullptr)
            FreeLibrary(module_);
    }

    bool Usable() const { return usable_; }

    // An HSTRING owned by the caller's String.
    class String {
    public:
        String(const Runtime& runtime, const std::wstring& text) : runtime_(runtime)
        {
            if (runtime_.create_(text.c_str(), static_cast<UINT32>(text.size()), &value_) != S_OK)
                value_ = nullptr;
        }
        String(const Runtime& runtime, HSTRING owned) : runtime_(runtime), value_(owned) {}
        String(const String&) = delete;
        String& operator=(const String&) = delete;
        ~String()
        {
            if (value_ != nullptr)
                runtime_.delete_(value_);
        }
        HSTRING get() const { return value_; }
        std::wstring str() const
        {
            if (value_ == nullptr)
                return L"";
            UINT32 length = 0;
            const wchar_t* text = runtime_.buffer_(value_, &length);
            return text != nullptr ? std::wstring(text, length) : std::wstring();
        }

    private:
        const Runtime& runtime_;
        HSTRING value_ = nullptr;
    };

    HRESULT Activate(const wchar_t* className, IInspectable** instance) const
    {
        *instance = nullptr;
        const String name(*this, className);
        if (name.get() == nullptr)
            return E_OUTOFMEMORY;
        return activate_(name.get(), instance);
    }

    HRESULT Factory(const wchar_t* className, REFIID iid, void** factory) const
    {
        *factory = nullptr;
        const String name(*this, className);
        if (name.get() == nullptr)
            return E_OUTOFMEMORY;
        return factory_(name.get(), iid, factory);
    }

private:
    HMODULE module_ = nullptr;
    bool initialized_ = false;
    bool usable_ = false;
    HRESULT(WINAPI* initialize_)(RO_INIT_TYPE) = nullptr;
    void(WINAPI* uninitialize_)() = nullptr;
    HRESULT(WINAPI* activate_)(HSTRING, IInspectable**) = nullptr;
    HRESULT(WINAPI* factory_)(HSTRING, REFIID, void**) = nullptr;
    HRESULT(WINAPI* create_)(PCNZWCH, UINT32, HSTRING*) = nullptr;
    HRESULT(WINAPI* delete_)(HSTRING) = nullptr;
    PCWSTR(WINAPI* buffer_)(HSTRING, UINT32*) = nullptr;
};

constexpr wchar_t PackageManagerClass[] = L"Windows.Management.Deployment.PackageManager";

DeploymentReport Report(DeploymentOutcome outcome, std::wstring text) { return {outcome, std::move(text)}; }

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
DeploymentReport Availability(const Runtime& runtime, Held<IInspectable>* manager)
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
    const HRESULT hr = runtime.Activate(PackageManagerClass, manager->put());
    if (FAILED(hr) || manager->get() == nullptr)
        return Report(DeploymentOutcome::NotAvailable,
                      std::wstring(L"not available: ") + PackageManagerClass + L" cannot be made (" + HexCode(hr) + L")");
    Held<IPackageManager9> byUri;
    if (FAILED(manager->get()->QueryInterface(IID_IPackageManager9, byUri.putVoid())))
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
    Held<IAsyncInfo> info;
    if (FAILED(operation->QueryInterface(IID_IAsyncInfoLocal, info.putVoid())))
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
    Held<IInspectable> result;
    if (SUCCEEDED(operation->GetResults(result.put())) && result.get() != nullptr) {
        Held<IDeploymentResult> deployment;
        if (SUCCEEDED(result->QueryInterface(IID_IDeploymentResult, deployment.putVoid()))) {
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

// file:///C:/Program%20Files/Orvane/... as Windows.Foundation.Uri.
HRESULT MakeUri(const Runtime& runtime, const std::wstring& path, Held<IInspectable>* uri)
{
    // A file URL is at most three times the path (every character escaped) and "file:///".
    wchar_t url[3 * MAX_PATH + 16];
    DWORD length = static_cast<DWORD>(std::size(url));
    HRESULT hr = UrlCreateFromPathW(path.c_str(), url, &length, 0);
    if (FAILED(hr))
        return hr;
    Held<IUriRuntimeClassFactory> factory;
    hr = runtime.Factory(L"Windows.Foundation.Uri", IID_IUriRuntimeClassFactory, factory.putVoid());
    if (FAILED(hr))
        return hr;
    const Runtime::String text(runtime, url);
    if (text.get() == nullptr)
        return E_OUTOFMEMORY;
    return factory->CreateUri(text.get(), uri->put());
}

// Options (AddPackageOptions or StagePackageOptions) naming the external location.
HRESULT MakeOptions(const Runtime& runtime, const wchar_t* className, REFIID iid, IInspectable* location,
                    Held<IPackageOptions>* options)
{
    Held<IInspectable> instance;
    HRESULT hr = runtime.Activate(className, instance.put());
    if (FAILED(hr))
        return hr;
    hr = instance->QueryInterface(iid, options->putVoid());
    if (FAILED(hr))
        return hr;
    return (*options)->put_ExternalLocationUri(location);
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

struct PackageIdentity {
    std::wstring FullName;
    std::wstring FamilyName;
};

// The identity in the package file's manifest, as the packaging API reads it. COM is
// usable: the Runtime that the caller holds initialised this thread.
bool ReadPackageIdentity(const std::wstring& packagePath, PackageIdentity* identity, std::wstring* error)
{
    Held<IAppxFactory> factory;
    HRESULT hr = CoCreateInstance(CLSID_AppxFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IAppxFactory, factory.putVoid());
    if (FAILED(hr)) {
        *error = L"the packaging API is missing (" + HexCode(hr) + L")";
        return false;
    }
    Held<IStream> stream;
    hr = SHCreateStreamOnFileEx(packagePath.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, FILE_ATTRIBUTE_NORMAL, FALSE,
                                nullptr, stream.put());
    if (FAILED(hr)) {
        *error = packagePath + L" cannot be read (" + HexCode(hr) + L")";
        return false;
    }
    Held<IAppxPackageReader> reader;
    Held<IAppxManifestReader> manifest;
    Held<IAppxManifestPackageId> id;
    TaskText fullName;
    TaskText familyName;
    hr = factory->CreatePackageReader(stream.get(), reader.put());
    if (SUCCEEDED(hr))
        hr = reader->GetManifest(manifest.put());
    if (SUCCEEDED(hr))
        hr = manifest->GetPackageId(id.put());
    if (SUCCEEDED(hr))
        hr = id->GetPackageFullName(fullName.put());
    if (SUCCEEDED(hr))
        hr = id->GetPackageFamilyName(familyName.put());
    if (FAILED(hr)) {
        *error = packagePath + L" is no readable package (" + HexCode(hr) + L")";
        return false;
    }
    identity->FullName = fullName.str();
    identity->FamilyName = familyName.str();
    return true;
}

} // namespace

DeploymentReport CheckDeploymentAvailable()
{
    Runtime runtime;
    Held<IInspectable> manager;
    return Availability(runtime, &manager);
}

DeploymentReport RegisterPackage(const std::wstring& packagePath, PackageUsers users)
{
    Runtime runtime;
    Held<IInspectable> manager;
    DeploymentReport available = Availability(runtime, &manager);
    if (available.Outcome != DeploymentOutcome::Done)
        return available;

    const std::wstring package = FullPath(packagePath);
    if (GetFileAttributesW(package.c_str()) == INVALID_FILE_ATTRIBUTES)
        return Report(DeploymentOutcome::Failed, package + L" does not exist");
    Held<IInspectable> packageUri;
    Held<IInspectable> locationUri;
    HRESULT hr = MakeUri(runtime, package, &packageUri);
    if (SUCCEEDED(hr))
        hr = MakeUri(runtime, FolderOf(package), &locationUri);
    if (FAILED(hr))
        return Report(DeploymentOutcome::Failed, L"the package's location cannot be named (" + HexCode(hr) + L")");

    Held<IPackageManager9> byUri;
    manager->QueryInterface(IID_IPackageManager9, byUri.putVoid());
    if (users == PackageUsers::ThisUser) {
        Held<IPackageOptions> options;
        hr = MakeOptions(runtime, L"Windows.Management.Deployment.AddPackageOptions", IID_IAddPackageOptions,
                         locationUri.get(), &options);
        if (FAILED(hr))
            return Report(DeploymentOutcome::Failed, L"registering the package could not start (" + HexCode(hr) + L")");
        Held<IDeploymentOperation> operation;
        hr = byUri->AddPackageByUriAsync(packageUri.get(), options.get(), operation.put());
        return Await(runtime, hr, operation.get(), L"registering the package for this user",
                     L"package registered for this user");
    }

    // For every user: staged once with its external location, then provisioned, so that
    // each user of the computer has it registered when signing in.
    PackageIdentity identity;
    std::wstring error;
    if (!ReadPackageIdentity(package, &identity, &error))
        return Report(DeploymentOutcome::Failed, error);
    Held<IPackageManager6> provisioning;
    if (FAILED(manager->QueryInterface(IID_IPackageManager6, provisioning.putVoid())))
        return Report(DeploymentOutcome::NotAvailable, L"not available: this package manager cannot provision packages");
    Held<IPackageOptions> options;
    hr = MakeOptions(runtime, L"Windows.Management.Deployment.StagePackageOptions", IID_IStagePackageOptions,
                     locationUri.get(), &options);
    if (FAILED(hr))
        return Report(DeploymentOutcome::Failed, L"staging the package could not start (" + HexCode(hr) + L")");
    Held<IDeploymentOperation> staging;
    hr = byUri->StagePackageByUriAsync(packageUri.get(), options.get(), staging.put());
    DeploymentReport staged = Await(runtime, hr, staging.get(), L"staging the package", L"package staged");
    if (staged.Outcome != DeploymentOutcome::Done)
        return staged;
    const Runtime::String family(runtime, identity.FamilyName);
    Held<IDeploymentOperation> provision;
    hr = provisioning->ProvisionPackageForAllUsersAsync(family.get(), provision.put());
    return Await(runtime, hr, provision.get(), L"provisioning the package for all users",
                 L"package " + identity.FullName + L" provisioned for all users");
}

DeploymentReport UnregisterPackage(const std::wstring& packagePath, PackageUsers users)
{
    Runtime runtime;
    Held<IInspectable> manager;
    DeploymentReport available = Availability(runtime, &manager);
    if (available.Outcome != DeploymentOutcome::Done)
        return available;

    PackageIdentity identity;
    std::wstring error;
    if (!ReadPackageIdentity(FullPath(packagePath), &identity, &error))
        return Report(DeploymentOutcome::Failed, error);
    const Runtime::String fullName(runtime, identity.FullName);
    const Runtime::String family(runtime, identity.FamilyName);

    Held<IPackageManager2> removal;
    if (FAILED(manager->QueryInterface(IID_IPackageManager2, removal.putVoid())))
        return Report(DeploymentOutcome::NotAvailable, L"not available: this package manager cannot remove packages");
    if (users == PackageUsers::ThisUser) {
        Held<IDeploymentOperation> operation;
        const HRESULT hr = removal->RemovePackageWithOptionsAsync(fullName.get(), RemovalOptionsNone, operation.put());
        return Await(runtime, hr, operation.get(), L"removing the package for this user",
                     L"package removed for this user", true);
    }

    // No user gets it at the next sign-in any more, and every user's registration goes.
    Held<IPackageManager8> deprovisioning;
    if (SUCCEEDED(manager->QueryInterface(IID_IPackageManager8, deprovisioning.putVoid()))) {
        Held<IDeploymentOperation> operation;
        const HRESULT hr = deprovisioning->DeprovisionPackageForAllUsersAsync(family.get(), operation.put());
        const DeploymentReport deprovisioned = Await(runtime, hr, operation.get(), L"deprovisioning the package",
                                                     L"package deprovisioned", true);
        if (deprovisioned.Outcome != DeploymentOutcome::Done)
            return deprovisioned;
    }
    Held<IDeploymentOperation> operation;
    const HRESULT hr = removal->RemovePackageWithOptionsAsync(fullName.get(), RemovalOptionsRemoveForAllUsers, operation.put());
    return Await(runtime, hr, operation.get(), L"removing the package for all users",
                 L"package " + identity.FullName + L" removed for all users", true);
}

} // namespace orvane::cli
