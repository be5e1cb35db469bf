// Picks an icon in the Change Icon dialog from a second thread, as a person would: chooses
// the icon source in the combo box, selects the icon in the list view, sets the
// "all files of that type" check box, and presses OK. Used where nobody sits at the
// screen (a private X server).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace orvane::demo {

struct DriverPlan {
    DWORD DialogThread = 0;   // the thread that runs InvokeCommand (and so the dialog)
    std::string Source;       // full path of the icon source to choose in combo box 1010
    std::int32_t Index = 0;   // the list view item to select
    bool AllOfType = false;   // wanted state of check box 1011 where it is shown
    std::string Screenshot;   // BMP path, taken just before OK; empty for none
};

class DialogDriver {
public:
    explicit DialogDriver(DriverPlan plan) : plan_(std::move(plan)) {}
    ~DialogDriver();
    DialogDriver(const DialogDriver&) = delete;
    DialogDriver& operator=(const DialogDriver&) = delete;

    bool Start();
    // Waits for the thread; true when it pressed OK and the dialog closed.
    bool Finish();
    const std::string& Log() const { return log_; }

private:
    static DWORD WINAPI ThreadProc(void* self);
    bool Drive();
    void Note(const std::string& line) { log_ += line + "\n"; }

    DriverPlan plan_;
    HANDLE thread_ = nullptr;
    bool succeeded_ = false;
    std::string log_;
};

} // namespace orvane::demo
