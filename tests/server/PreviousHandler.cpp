// A small in-process icon handler that stands for the handler a class had before Orvane
// was installed on it. It answers "C:\PreviousHandler\<file name>.ico", index 42, for the
// file given through IPersistFile::Load, so that a test can tell that the file's path was
// handed on. File names steer its other answers:
//   "decline"      -> S_FALSE
//   "notfilename"  -> S_OK with GIL_NOTFILENAME
//   "longanswer"   -> S_OK with a path of 400 characters
// Without a Load it answers S_FALSE.
//
// It serves two classes: one that answers through IExtractIconW and IExtractIconA, as
// handlers of today do, and an older one with IExtractIconA alone, which answers in the
// ANSI code page as such handlers do.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstring>
#include <cwchar>
#include <iterator>
#include <new>

namespace {

// {5C0F7E1B-3D2A-4E8B-9F61-2B7A4C9D8E01}
constexpr CLSID CLSID_PreviousHandler = {
    0x5C0F7E1B, 0x3D2A, 0x4E8B, {0x9F, 0x61, 0x2B, 0x7A, 0x4C, 0x9D, 0x8E, 0x01}};
// {5C0F7E1B-3D2A-4E8B-9F61-2B7A4C9D8E02}
constexpr CLSID CLSID_NarrowPreviousHandler = {
    0x5C0F7E1B, 0x3D2A, 0x4E8B, {0x9F, 0x61, 0x2B, 0x7A, 0x4C, 0x9D, 0x8E, 0x02}};

volatile LONG g_objects = 0;
volatile LONG g_locationRequests = 0;
volatile LONG g_narrowRequests = 0;

constexpr std::size_t AnswerCapacity = 520;

class PreviousHandler final : public IExtractIconW, public IExtractIconA, public IPersistFile {
public:
    explicit PreviousHandler(bool wide) : wide_(wide) { InterlockedIncrement(&g_objects); }

    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IExtractIconA))
            *ppv = static_cast<IExtractIconA*>(this);
        else if (wide_ && IsEqualIID(riid, IID_IExtractIconW))
            *ppv = static_cast<IExtractIconW*>(this);
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

    IFACEMETHODIMP GetIconLocation(UINT, LPWSTR file, UINT cchMax, int* index, UINT* flags) override
    {
        InterlockedIncrement(&g_locationRequests);
        wchar_t answer[AnswerCapacity];
        if (!Answer(answer))
            return S_FALSE;
        if (std::wcslen(answer) >= cchMax)
            return S_FALSE;
        std::wcscpy(file, answer);
        return Answered(index, flags);
    }
    IFACEMETHODIMP GetIconLocation(UINT, LPSTR file, UINT cchMax, int* index, UINT* flags) override
    {
        InterlockedIncrement(&g_locationRequests);
        InterlockedIncrement(&g_narrowRequests);
        wchar_t answer[AnswerCapacity];
        if (!Answer(answer))
            return S_FALSE;
        char narrow[2 * AnswerCapacity];
        if (WideCharToMultiByte(CP_ACP, 0, answer, -1, narrow, static_cast<int>(std::size(narrow)), nullptr, nullptr) == 0)
            return S_FALSE;
        if (std::strlen(narrow) >= cchMax)
            return S_FALSE;
        std::strcpy(file, narrow);
        return Answered(index, flags);
    }
    IFACEMETHODIMP Extract(LPCWSTR, UINT, HICON*, HICON*, UINT) override { return S_FALSE; }
    IFACEMETHODIMP Extract(LPCSTR, UINT, HICON*, HICON*, UINT) override { return S_FALSE; }

    IFACEMETHODIMP GetClassID(CLSID* id) override
    {
        *id = wide_ ? CLSID_PreviousHandler : CLSID_NarrowPreviousHandler;
        return S_OK;
    }
    IFACEMETHODIMP IsDirty() override { return S_FALSE; }
    IFACEMETHODIMP Load(LPCOLESTR name, DWORD) override
    {
        path_[0] = L'\0';
        if (name != nullptr && std::wcslen(name) < std::size(path_))
            std::wcscpy(path_, name);
        return S_OK;
    }
    IFACEMETHODIMP Save(LPCOLESTR, BOOL) override { return E_NOTIMPL; }
    IFACEMETHODIMP SaveCompleted(LPCOLESTR) override { return E_NOTIMPL; }
    IFACEMETHODIMP GetCurFile(LPOLESTR*) override { return E_NOTIMPL; }

private:
    ~PreviousHandler() { InterlockedDecrement(&g_objects); }

    // The answer for the loaded file; false to decline.
    bool Answer(wchar_t (&answer)[AnswerCapacity]) const
    {
        if (path_[0] == L'\0' || std::wcsstr(path_, L"decline") != nullptr)
            return false;
        const wchar_t* name = std::wcsrchr(path_, L'\\');
        name = name != nullptr ? name + 1 : path_;
        if (std::wcsstr(path_, L"longanswer") != nullptr) {
            std::wmemset(answer, L'L', 400);
            std::wmemcpy(answer, L"C:\\", 3);
            answer[400] = L'\0';
            return true;
        }
        const int written = std::swprintf(answer, std::size(answer), L"C:\\PreviousHandler\\%ls.ico", name);
        return written > 0;
    }
    HRESULT Answered(int* index, UINT* flags) const
    {
        *index = 42;
        if (std::wcsstr(path_, L"notfilename") != nullptr)
            *flags |= GIL_NOTFILENAME;
        return S_OK;
    }

    const bool wide_;
    volatile LONG refs_ = 0;
    wchar_t path_[MAX_PATH] = {};
};

class Factory final : public IClassFactory {
public:
    explicit Factory(bool wide) : wide_(wide) {}

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
        auto* handler = new (std::nothrow) PreviousHandler(wide_);
        if (handler == nullptr)
            return E_OUTOFMEMORY;
        handler->AddRef();
        const HRESULT hr = handler->QueryInterface(riid, ppv);
        handler->Release();
        return hr;
    }
    IFACEMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    const bool wide_;
};

Factory g_factory(true);
Factory g_narrowFactory(false);

} // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (IsEqualCLSID(clsid, CLSID_PreviousHandler))
        return g_factory.QueryInterface(riid, ppv);
    if (IsEqualCLSID(clsid, CLSID_NarrowPreviousHandler))
        return g_narrowFactory.QueryInterface(riid, ppv);
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return g_objects == 0 ? S_OK : S_FALSE; }

// How many times any handler of this module was asked for a location, through either
// interface; and how many of those asked through IExtractIconA.
extern "C" __declspec(dllexport) LONG PreviousHandlerLocationRequests() { return g_locationRequests; }
extern "C" __declspec(dllexport) LONG PreviousHandlerNarrowRequests() { return g_narrowRequests; }
