#include "PackageIdentity.h"

#include <objbase.h>
#include <shlwapi.h>

#include <wrl/client.h>

#include "PackagingInterfaces.h"

namespace orvane::cli {

namespace {

using Microsoft::WRL::ComPtr;

// CoTaskMem text from the packaging API.
class TaskText {
public:
    TaskText() = default;
    TaskText(const TaskText&) = delete;
    TaskText& operator=(const TaskText&) = delete;
    ~TaskText() { CoTaskMemFree(text_); }
    LPWSTR* put() { return &text_; }
    std::wstring str() const { return text_ != nullptr ? text_ : L""; }

private:
    LPWSTR text_ = nullptr;
};

} // namespace

HRESULT ReadPackageIdentity(const std::wstring& packagePath, PackageIdentity* identity, IdentityStep* failed)
{
    ComPtr<IAppxFactory> factory;
    HRESULT hr = CoCreateInstance(CLSID_AppxFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IAppxFactory, &factory);
    if (FAILED(hr)) {
        *failed = IdentityStep::Factory;
        return hr;
    }
    ComPtr<IStream> stream;
    hr = SHCreateStreamOnFileEx(packagePath.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, FILE_ATTRIBUTE_NORMAL, FALSE,
                                nullptr, &stream);
    if (FAILED(hr)) {
        *failed = IdentityStep::Open;
        return hr;
    }
    ComPtr<IAppxPackageReader> reader;
    ComPtr<IAppxManifestReader> manifest;
    ComPtr<IAppxManifestPackageId> id;
    TaskText fullName;
    TaskText familyName;
    hr = factory->CreatePackageReader(stream.Get(), &reader);
    if (SUCCEEDED(hr))
        hr = reader->GetManifest(&manifest);
    if (SUCCEEDED(hr))
        hr = manifest->GetPackageId(&id);
    if (SUCCEEDED(hr))
        hr = id->GetPackageFullName(fullName.put());
    if (SUCCEEDED(hr))
        hr = id->GetPackageFamilyName(familyName.put());
    if (FAILED(hr)) {
        *failed = IdentityStep::Read;
        return hr;
    }
    identity->FullName = fullName.str();
    identity->FamilyName = familyName.str();
    return S_OK;
}

} // namespace orvane::cli
