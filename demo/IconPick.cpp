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

bool TakePicture(DialogDriver& driver, const std::wstring& screenshot, std::wstring* log)
{
    RedrawWindow(driver.Dialog(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(700); // let the dialog's thread paint before the screen is read
    const bool saved = SaveWindowScreenshot(driver.Dialog(), screenshot.c_str());
    *log += saved ? L"driver: screenshot saved to " + screenshot + L"\n" : L"driver: screenshot failed\n";
    return saved;
}

} // namespace

bool PlayPick(DialogDriver& driver, const IconPick& pick, std::wstring* log)
{
    auto note = [&](const std::wstring& line) { *log += L"driver: " + line + L"\n"; };
    auto fail = [&](const std::wstring& why) {
        note(why + L"; pressing Cancel");
        return false;
    };
    note(L"dialog \"" + driver.Title() + L"\" is open");

    if (driver.Item(IDC_SOURCES) == nullptr || driver.Item(IDC_ICONLIST) == nullptr)
        return fail(L"the icon source box or the icon list is missing");
    const int entry = driver.ListSource(pick.Source);
    if (entry < 0)
        return fail(L"could not list the icon source in the combo box");
    driver.ChooseSource(entry);
    note(L"chose icon source " + pick.Source);

    if (!WaitFor([&] { return driver.IconCount() > pick.Index; }, 10000))
        return fail(L"the icon list did not show icon " + std::to_wstring(pick.Index));
    note(L"the icon list shows " + std::to_wstring(driver.IconCount()) + L" icons");

    if (driver.Visible(IDC_ALLOFTYPE) && driver.Enabled(IDC_ALLOFTYPE)) {
        driver.SetChecked(IDC_ALLOFTYPE, pick.AllOfType);
        note(std::wstring(L"\"all files of that type\" is ") +
             (driver.Checked(IDC_ALLOFTYPE) ? L"checked" : L"unchecked"));
    }

    driver.PickIcon(pick.Index);
    note(L"selected icon " + std::to_wstring(pick.Index));

    if (!pick.Screenshot.empty())
        TakePicture(driver, pick.Screenshot, log);

    if (driver.Item(IDOK) == nullptr)
        return fail(L"the OK button is missing");
    driver.Click(IDOK);
    if (!driver.WaitClosed(15000))
        return fail(L"the dialog stayed open after OK");
    note(L"pressed OK; the dialog closed");
    return true;
}

bool PlayPicture(DialogDriver& driver, const std::wstring& screenshot, std::wstring* log)
{
    *log += L"driver: dialog \"" + driver.Title() + L"\" is open\n";
    // The dialog fills its list from the target's current icon while it opens.
    WaitFor([&] { return driver.IconCount() > 0; }, 10000);
    const bool saved = TakePicture(driver, screenshot, log);
    driver.Command(IDCANCEL);
    *log += L"driver: pressed Cancel\n";
    return saved;
}

} // namespace orvane::demo
