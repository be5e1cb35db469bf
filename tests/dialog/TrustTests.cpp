// The dialog where Windows may not show a folder's icon: after OK it says why (a
// Desktop.ini or icon source with the mark of the web, a folder on a network share or a
// removable drive), and for a marked Desktop.ini it asks before removing the mark, which
// it never does unasked. A message at OK rather than a line under the headline: the
// findings depend on the source chosen, which is known only then, and the layout keeps
// its controls.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "DialogFixture.h"
#include "FolderIcons.h"
#include "resource.h"

namespace orvane::test {
namespace {

constexpr wchar_t TrustCaption[] = L"Orvane - Icon may not show";

bool Contains(const std::wstring& text, const wchar_t* part) { return text.find(part) != std::wstring::npos; }

class TrustDialogTest : public DialogTest {};

TEST_F(TrustDialogTest, OkSaysWhyTheIconMayNotShowAndRemovesTheMarkOnlyWhenAsked)
{
    const std::wstring network = DriveRootOfType(DRIVE_REMOTE);
    if (network.empty())
        GTEST_SKIP() << "the prefix maps no network drive (scripts/common.sh maps R:)";
    TempDir onShare(network);
    struct Row {
        const char* Label;
        bool OnShare;
        bool MarkDesktopIni;
        bool MarkSource;
        int Answer; // 0: no message expected; IDOK for a plain message
        const wchar_t* Says;
        bool MarkAfter;
    };
    const Row table[] = {
        {"plain", false, false, false, 0, nullptr, false},
        {"Desktop.ini marked, answered no", false, true, false, IDNO, L"its Desktop.ini carries the mark of the web",
         true},
        {"Desktop.ini marked, answered yes", false, true, true, IDYES, L"the icon source carries the mark of the web",
         false},
        {"source marked", false, false, true, IDOK, L"the icon source carries the mark of the web", false},
        {"on a share", true, false, false, IDOK, L"it is on a network share", false},
    };
    int n = 0;
    for (const Row& row : table) {
        SCOPED_TRACE(row.Label);
        TempDir& where = row.OnShare ? onShare : dir_;
        const std::wstring name = L"F" + std::to_wstring(n++);
        const std::wstring folder = where.MakeFolder(name);
        const std::wstring desktopIni = where.MakeFile(name + L"\\Desktop.ini", "[.ShellClassInfo]\r\nInfoTip=zip\r\n");
        const std::wstring ico = IconFile((name + L".ico").c_str());
        std::optional<ZoneMark> iniMark, sourceMark;
        if (row.MarkDesktopIni)
            iniMark.emplace(desktopIni);
        if (row.MarkSource)
            sourceMark.emplace(ico);
        StoreSources({ico}, 0);
        ChangeIconDialog record;
        std::wstring said;
        const DialogRun run = RunOn(record, folder, [&](DialogDriver& d) {
            d.ChooseSource(0);
            d.SelectIcons({0});
            if (row.Answer == 0) {
                d.Command(IDOK);
                return;
            }
            HWND box = d.PostCommandFor(IDOK, TrustCaption);
            ASSERT_NE(box, nullptr);
            said = DialogDriver::MessageText(box);
            // The icon is written before the message asks anything.
            EXPECT_EQ(FolderIconText(folder), ico + L",0");
            EXPECT_TRUE(HasZoneStream(desktopIni) == row.MarkDesktopIni);
            DialogDriver::Answer(box, row.Answer);
            EXPECT_TRUE(d.WaitClosed());
        });
        EXPECT_EQ(run.Result, IDOK);
        EXPECT_EQ(FolderIconText(folder), ico + L",0");
        if (row.Says != nullptr) {
            EXPECT_TRUE(Contains(said, row.Says)) << Utf8(said);
            EXPECT_TRUE(Contains(said, L"is set, but Windows may not show it")) << Utf8(said);
        }
        EXPECT_EQ(row.MarkDesktopIni, Contains(said, L"Remove the mark of the web from this folder's Desktop.ini"));
        EXPECT_EQ(row.MarkAfter, HasZoneStream(desktopIni));
        EXPECT_EQ(row.MarkSource, HasZoneStream(ico));
        SetFileAttributesW(desktopIni.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

} // namespace
} // namespace orvane::test
