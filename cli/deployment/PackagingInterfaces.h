// The few interfaces of Windows' packaging API (appxpackaging.h) that reading a package
// file's identity needs: MinGW's headers lack them, so they are declared here with the
// Windows SDK's identifiers, each with the methods up to the last one used.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace orvane::cli {

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

} // namespace orvane::cli
