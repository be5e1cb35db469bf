// A variable of this process's environment set for one test and put back afterwards
// (removed when it was not there). Programs the test starts inherit it.
#pragma once

#include <windows.h>

#include <string>

namespace orvane::test {

class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : name_(name)
    {
        std::string old(32767, '\0');
        const DWORD length = GetEnvironmentVariableA(name, &old[0], static_cast<DWORD>(old.size()));
        had_ = length > 0 && length < old.size();
        if (had_)
            old_ = old.substr(0, length);
        SetEnvironmentVariableA(name, value.c_str());
    }
    ~ScopedVariable() { SetEnvironmentVariableA(name_, had_ ? old_.c_str() : nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

} // namespace orvane::test
