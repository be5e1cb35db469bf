#include "DrivenDialog.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include "IconList.h"
#include "resource.h"

namespace orvane::test {

namespace {

// The template with no controller: it answers only the icon list's requests, as the
// dialog's own procedure does.
INT_PTR CALLBACK BareProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (HandleIconListMessage(dialog, message, wParam, lParam, &result)) {
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, result);
        return TRUE;
    }
    return message == WM_INITDIALOG;
}

} // namespace

DialogRun RunDriven(ChangeIconDialog& record, const std::function<void(DialogDriver&)>& script, DWORD timeoutMs)
{
    const DialogRun run = demo::RunWhileDriven([&] { return RunChangeIconDialog(OwnResources(), record); }, script,
                                               timeoutMs);
    EXPECT_TRUE(run.Opened) << "the dialog did not open (result " << run.Result << ")";
    EXPECT_FALSE(run.TimedOut) << "the dialog hung and was closed by the watchdog";
    return run;
}

BareDialog::BareDialog()
{
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    window_ = CreateDialogParamW(OwnResources(), MAKEINTRESOURCEW(IDD_CHANGEICON), nullptr, BareProc, 0);
}

BareDialog::~BareDialog()
{
    if (window_ != nullptr)
        DestroyWindow(window_);
}

} // namespace orvane::test
