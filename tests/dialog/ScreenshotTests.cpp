// Shows the dialog for a picture of it (tests/dialog/screenshot.sh): a folder whose icon
// comes from shell32.dll, so the list shows the library's icons. Disabled in the normal
// run; the script runs it and takes the picture while the dialog waits.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "DialogDriver.h"
#include "DialogFixture.h"
#include "FolderIcons.h"
#include "resource.h"

namespace orvane {
namespace {

class Screenshot : public test::DialogTest {};

TEST_F(Screenshot, DISABLED_FolderWithShell32Icons)
{
    const char* markers = std::getenv("ORVANE_SCREENSHOT_DIR");
    ASSERT_NE(markers, nullptr) << "run by tests/dialog/screenshot.sh";
    const std::string folder = dir_.MakeFolder("Pictures");
    const std::string shell32 = test::Shell32Path();
    ASSERT_EQ(WriteFolderIcon(IconLocation(shell32.c_str(), folder.c_str(), 3)), ERROR_SUCCESS);
    ChangeIconDialog record;
    const test::DialogRun run = RunOn(record, folder, [&](test::DialogDriver& d) {
        ASSERT_GT(d.IconCount(), 100);
        // The window's place on the screen, for cutting the picture out.
        RECT r{};
        GetWindowRect(d.Dialog(), &r);
        const std::string ready = std::string(markers) + "\\ready";
        if (FILE* f = std::fopen(ready.c_str(), "w")) {
            std::fprintf(f, "%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
            std::fclose(f);
        }
        const std::string done = std::string(markers) + "\\done";
        const ULONGLONG end = GetTickCount64() + 30000;
        while (GetFileAttributesA(done.c_str()) == INVALID_FILE_ATTRIBUTES && GetTickCount64() < end)
            Sleep(100);
        EXPECT_NE(GetFileAttributesA(done.c_str()), INVALID_FILE_ATTRIBUTES) << "no picture was taken";
        d.Command(IDCANCEL);
    });
    EXPECT_EQ(run.Result, IDCANCEL);
}

} // namespace
} // namespace orvane
