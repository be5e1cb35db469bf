// CoInitialize balanced by CoUninitialize when it succeeded (also with S_FALSE, "already
// initialized"). A thread that already runs in the multithreaded apartment can use COM
// all the same.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace orvane {

class ComInitialization {
public:
    ComInitialization() : hr_(CoInitialize(nullptr)) {}
    ~ComInitialization()
    {
        if (SUCCEEDED(hr_))
            CoUninitialize();
    }
    ComInitialization(const ComInitialization&) = delete;
    ComInitialization& operator=(const ComInitialization&) = delete;
    bool Usable() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }

private:
    HRESULT hr_;
};

} // namespace orvane
