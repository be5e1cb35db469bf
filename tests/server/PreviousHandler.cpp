// A small in-process icon handler that stands for the handler a class had before Orvane
// was installed on it. It answers "C:\PreviousHandler\<file name>.ico", index 42, for the
// file given through IPersistFile::Load, so that a test can tell that the file's path was
// handed on. File names steer its other answers:
//   "decline"      -> S_FALSE
//   "notfilename"  -> S_OK with GIL_NOTFILENAME
//   "longanswer"   -> S_OK with a path of 400 characters
// Without a Load it answers S_FALSE.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <new>

namespace {

// {5C0F7E1B-3D2A-4E8B-9F61-2B7A4C9D8E01}
constexpr CLSID CLSID_PreviousHandler = {
    0x5C0F7E1B, 0x3D2A, 0x4E8B, {0x9F, 0x61, 0x2B, 0x7A, 0x4C, 0x9D, 0x8E, 0x01}};

volatile LONG g_objects = 0;
volatile LONG g_locationRequests = 0;

class PreviousHandler final : public IExtractIconA, public IPersistFile {
public:
    PreviousHandler() { InterlockedIncrement(&g_objects); }

    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IExtractIconA))
            *ppv = static_cast<IExtractIconA*>(this);
        else if (IsEqualIID(riid, IID_IPersistFile))
            *ppv = static_cast<IPersistFile*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    IFACEMETHODIMP_(ULONG) Release() override
    {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return left;
    }

    IFACEMETHODIMP GetIconLocation(UINT, LPSTR file, UINT cchMax, int* index, UINT* flags) override
    {
        InterlockedIncrement(&g_locationRequests);
        if (path_[0] == '\0' || std::strstr(path_, "decline") != nullptr)
            return S_FALSE;
        const char* name = std::strrchr(path_, '\\');
        name = name != nullptr ? name + 1 : path_;
        char answer[520];
        if (std::strstr(path_, "longanswer") != nullptr) {
            std::memset(answer, 'L', 400);
            std::memcpy(answer, "C:\\", 3);
            answer[400] = '\0';
        } else {
            std::snprintf(answer, sizeof answer, "C:\\PreviousHandler\\%s.ico", name);
        }
        if (std::strlen(answer) >= cchMax)
            return S_FALSE;
        std::strcpy(file, answer);
        *index = 42;
        if (std::strstr(path_, "notfilename") != nullptr)
            *flags |= GIL_NOTFILENAME;
        return S_OK;
    }
    IFACEMETHODIMP Extract(LPCSTR, UINT, HICON*, HICON*, UINT) override { return S_FALSE; }

    IFACEMETHODIMP GetClassID(CLSID* id) override
    {
        *id = CLSID_PreviousHandler;
        return S_OK;
    }
    IFACEMETHODIMP IsDirty() override { return S_FALSE; }
    IFACEMETHODIMP Load(LPCOLESTR name, DWORD) override
    {
        path_[0] = '\0';
        if (WideCharToMultiByte(CP_ACP, 0, name, -1, path_, sizeof path_, nullptr, nullptr) == 0)
            path_[0] = '\0';
        return S_OK;
    }
    IFACEMETHODIMP Save(LPCOLESTR, BOOL) override { return E_NOTIMPL; }
    IFACEMETHODIMP SaveCompleted(LPCOLESTR) override { return E_NOTIMPL; }
    IFACEMETHODIMP GetCurFile(LPOLESTR*) override { return E_NOTIMPL; }

private:
    ~PreviousHandler() { InterlockedDecrement(&g_objects); }
    volatile LONG refs_ = 0;
    char path_[MAX_PATH] = {};
};

class Factory final : public IClassFactory {
public:
    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory))
            return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return 2; }
    IFACEMETHODIMP_(ULONG) Release() override { return 1; }
    IFACEMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        auto* handler = new (std::nothrow) PreviousHandler();
        if (handler == nullptr)
            return E_OUTOFMEMORY;
        handler->AddRef();
        const HRESULT hr = handler->QueryInterface(riid, ppv);
        handler->Release();
        return hr;
    }
    IFACEMETHODIMP LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

} // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_PreviousHandler))
        return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow() { return g_objects == 0 ? S_OK : S_FALSE; }

// How many times any handler of this module was asked for a location.
extern "C" __declspec(dllexport) LONG PreviousHandlerLocationRequests() { return g_locationRequests; }
