#include "IconPick.h"

#include <windows.h>

#include "Screenshot.h"
#include "resource.h"

namespace orvane::demo {

namespace {

template <class Condition>
bool WaitFor(Condition condition, DWORD milliseconds)
{
    const ULONGLONG end = GetTickCount64() + milliseconds;
    while (!condition()) {
        if (GetTickCount64() > end)
            return false;
        Sleep(50);
    }
    return true;
}

bool TakePicture(DialogDriver& driver, const std::string& screenshot, std::string* log)
{
    RedrawWindow(driver.Dialog(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(700); // let the dialog's thread paint before the screen is read
    const bool saved = SaveWindowScreenshot(driver.Dialog(), screenshot.c_str());
    *log += saved ? "driver: screenshot saved to " + screenshot + "\n" : "driver: screenshot failed\n";
    return saved;
}

} // namespace

bool PlayPick(DialogDriver& driver, const IconPick& pick, std::string* log)
{
    auto note = [&](const std::string& line) { *log += "driver: " + line + "\n"; };
    auto fail = [&](const std::string& why) {
        note(why + "; pressing Cancel");
        return false;
    };
    note("dialog \"" + driver.Title() + "\" is open");

    if (driver.Item(IDC_SOURCES) == nullptr || driver.Item(IDC_ICONLIST) == nullptr)
        return fail("the icon source box or the icon list is missing");
    const int entry = driver.ListSource(pick.Source);
    if (entry < 0)
        return fail("could not list the icon source in the combo box");
    driver.ChooseSource(entry);
    note("chose icon source " + pick.Source);

    if (!WaitFor([&] { return driver.IconCount() > pick.Index; }, 10000))
        return fail("the icon list did not show icon " + std::to_string(pick.Index));
    note("the icon list shows " + std::to_string(driver.IconCount()) + " icons");

    if (driver.Visible(IDC_ALLOFTYPE) && driver.Enabled(IDC_ALLOFTYPE)) {
        driver.SetChecked(IDC_ALLOFTYPE, pick.AllOfType);
        note(std::string("\"all files of that type\" is ") + (driver.Checked(IDC_ALLOFTYPE) ? "checked" : "unchecked"));
    }

    driver.PickIcon(pick.Index);
    note("selected icon " + std::to_string(pick.Index));

    if (!pick.Screenshot.empty())
        TakePicture(driver, pick.Screenshot, log);

    if (driver.Item(IDOK) == nullptr)
        return fail("the OK button is missing");
    driver.Click(IDOK);
    if (!driver.WaitClosed(15000))
        return fail("the dialog stayed open after OK");
    note("pressed OK; the dialog closed");
    return true;
}

bool PlayPicture(DialogDriver& driver, const std::string& screenshot, std::string* log)
{
    *log += "driver: dialog \"" + driver.Title() + "\" is open\n";
    // The dialog fills its list from the target's current icon while it opens.
    WaitFor([&] { return driver.IconCount() > 0; }, 10000);
    const bool saved = TakePicture(driver, screenshot, log);
    driver.Command(IDCANCEL);
    *log += "driver: pressed Cancel\n";
    return saved;
}

} // namespace orvane::demo
