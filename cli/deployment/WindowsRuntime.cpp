#include "WindowsRuntime.h"

namespace orvane::cli {

Runtime::Runtime()
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

Runtime::~Runtime()
{
    if (initialized_)
        uninitialize_();
    if (module_ != nullptr)
        FreeLibrary(module_);
}

Runtime::String::String(const Runtime& runtime, const std::wstring& text) : runtime_(runtime)
{
    if (runtime_.create_(text.c_str(), static_cast<UINT32>(text.size()), &value_) != S_OK)
        value_ = nullptr;
}

Runtime::String::~String()
{
    if (value_ != nullptr)
        runtime_.delete_(value_);
}

std::wstring Runtime::String::str() const
{
    if (value_ == nullptr)
        return L"";
    UINT32 length = 0;
    const wchar_t* text = runtime_.buffer_(value_, &length);
    return text != nullptr ? std::wstring(text, length) : std::wstring();
}

HRESULT Runtime::Activate(const wchar_t* className, IInspectable** instance) const
{
    *instance = nullptr;
    const String name(*this, className);
    if (name.get() == nullptr)
        return E_OUTOFMEMORY;
    return activate_(name.get(), instance);
}

HRESULT Runtime::Factory(const wchar_t* className, REFIID iid, void** factory) const
{
    *factory = nullptr;
    const String name(*this, className);
    if (name.get() == nullptr)
        return E_OUTOFMEMORY;
    return factory_(name.get(), iid, factory);
}

} // namespace orvane::cli
