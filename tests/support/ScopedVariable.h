// A variable of this process's environment set for one test and put back afterwards
// (removed when it was not there). Programs the test starts inherit it.
#pragma once

#include <windows.h>

#include <string>

namespace orvane::test {

class ScopedVariable {
public:
    ScopedVariable(const wchar_t* name, const std::wstring& value) : name_(name)
    {
        std::wstring old(32767, L'\0');
        const DWORD length = GetEnvironmentVariableW(name, &old[0], static_cast<DWORD>(old.size()));
        had_ = length > 0 && length < old.size();
        if (had_)
            old_ = old.substr(0, length);
        SetEnvironmentVariableW(name, value.c_str());
    }
    ~ScopedVariable() { SetEnvironmentVariableW(name_, had_ ? old_.c_str() : nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const wchar_t* name_;
    bool had_ = false;
    std::wstring old_;
};

} // namespace orvane::test
