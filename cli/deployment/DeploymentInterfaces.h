// The few interfaces of Windows' package deployment API (Windows.Management.Deployment,
// through the WinRT ABI) that the package commands use. MinGW's headers give HSTRING,
// IInspectable and IAsyncInfo but not these, so they are declared here with the
// identifiers of the Windows SDK's windows.management.deployment.h, each with the
// methods up to the last one used.
#pragma once

#include <windows.h>
#include <inspectable.h>
#include <objbase.h>

namespace orvane::cli {

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

} // namespace orvane::cli
