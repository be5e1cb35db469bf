// The system DPI that a process of this machine starts with. Wine reads it once per process
// from HKCU\Control Panel\Desktop's LogPixels (REG_DWORD), and only when that is absent or 0
// from HKCC\Software\Fonts (HKLM\System\CurrentControlSet\Hardware Profiles\Current); without
// either it is 96. Windows keeps the user's choice in the same HKCU value, read at sign-in.
#pragma once

#include <windows.h>

#include <vector>

namespace orvane::bench {

class LogPixels {
public:
    // Reads the value as it is now, or that there is none, so that Restore can put it back.
    // False when it cannot be read.
    bool Save();
    // Gives the processes started from now on this system DPI.
    bool Set(DWORD dpi) const;
    // The value exactly as Save found it: its type and bytes, or no value at all.
    bool Restore() const;

private:
    bool saved_ = false;
    bool present_ = false;
    DWORD type_ = REG_NONE;
    std::vector<BYTE> data_;
};

} // namespace orvane::bench
