// The Windows Runtime's entry points in combase.dll, looked up when used: Windows 7 has no
// combase.dll, and its absence is one of the ways the package deployment API is "not
// available". The thread is initialised for the Runtime while a Runtime lives.
#pragma once

#include <windows.h>
#include <inspectable.h>
#include <roapi.h>
#include <winstring.h>

#include <string>

namespace orvane::cli {

// An exported function as the type it has; through void (*)() so that the compiler
// accepts the change of signature from FARPROC.
template <typename Function>
Function Export(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// combase's WinRT entry points, looked up once per use.
class Runtime {
public:
    Runtime();
    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;
    ~Runtime();

    bool Usable() const { return usable_; }

    // An HSTRING owned by the caller's String.
    class String {
    public:
        String(const Runtime& runtime, const std::wstring& text);
        String(const Runtime& runtime, HSTRING owned) : runtime_(runtime), value_(owned) {}
        String(const String&) = delete;
        String& operator=(const String&) = delete;
        ~String();
        HSTRING get() const { return value_; }
        std::wstring str() const;

    private:
        const Runtime& runtime_;
        HSTRING value_ = nullptr;
    };

    HRESULT Activate(const wchar_t* className, IInspectable** instance) const;
    HRESULT Factory(const wchar_t* className, REFIID iid, void** factory) const;

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

} // namespace orvane::cli
