// The dialog program's command line as the Explorer command writes it and the program
// reads it back: the same text through both halves, for paths that need quoting.
#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "DialogCommandLine.h"
#include "TestSupport.h"

namespace orvane {
namespace {

constexpr wchar_t Program[] = LR"(C:\Program Files\Orvane\orvane-dialog.exe)";
constexpr wchar_t QuotedProgram[] = LR"("C:\Program Files\Orvane\orvane-dialog.exe")";

struct Row {
    const char* Label;
    std::uintptr_t NearWindow;
    bool Selection;
    std::wstring Path;
    std::wstring Written; // after the quoted program and a space

    DialogArguments Arguments() const
    {
        DialogArguments arguments;
        arguments.NearWindow = NearWindow;
        arguments.Selection = Selection;
        arguments.Path = Path;
        return arguments;
    }
};

std::vector<Row> Rows()
{
    const bool wide = sizeof(std::uintptr_t) == 8;
    return {
        {"a folder with spaces", 0, false, LR"(C:\Users\Ann\My Pictures)", LR"("C:\Users\Ann\My Pictures")"},
        {"a drive root, over a window", 0x1A2B, false, LR"(C:\)", LR"(/near 1A2B "C:\\")"},
        {"two trailing backslashes", 0, false, LR"(C:\a b\\)", LR"("C:\a b\\\\")"},
        {"a selection list, over a window", 0x10, true, LR"(C:\Users\Ann\AppData\Local\Temp\orv1F.tmp)",
         LR"(/near 10 /selection "C:\Users\Ann\AppData\Local\Temp\orv1F.tmp")"},
        {"quotes inside", 0, false, LR"(say "hi" now)", LR"("say \"hi\" now")"},
        {"a backslash before a quote", 0, false, LR"(a\"b)", LR"("a\\\"b")"},
        {"a quote, then a trailing backslash", 0, false, LR"(a"\)", LR"("a\"\\")"},
        {"backslashes not before a quote", 0, false, LR"(\\server\share\x)", LR"("\\server\share\x")"},
        {"an empty path", 0, false, L"", LR"("")"},
        {"a path spelt like the switch", 0, false, L"/selection", LR"("/selection")"},
        {"not ASCII", 0, false, L"C:\\\u041F\u0440\u043E\u0435\u043A\u0442\u044B 2024",
         L"\"C:\\\u041F\u0440\u043E\u0435\u043A\u0442\u044B 2024\""},
        {"the largest window number", std::numeric_limits<std::uintptr_t>::max(), false, LR"(C:\x)",
         std::wstring(L"/near ") + (wide ? L"FFFFFFFFFFFFFFFF" : L"FFFFFFFF") + LR"( "C:\x")"},
    };
}

TEST(DialogCommandLine, WrittenThenReadGivesTheSameArguments)
{
    for (const Row& row : Rows()) {
        SCOPED_TRACE(row.Label);
        wchar_t text[DialogCommandLineCapacity];
        ASSERT_TRUE(WriteDialogCommandLine(Program, row.Arguments(), text, std::size(text)));
        EXPECT_EQ(std::wstring(QuotedProgram) + L" " + row.Written, text) << test::Utf8(text);
        const std::optional<DialogArguments> read = ParseDialogCommandLine(text);
        ASSERT_TRUE(read.has_value()) << test::Utf8(text);
        EXPECT_EQ(row.NearWindow, read->NearWindow);
        EXPECT_EQ(row.Selection, read->Selection);
        EXPECT_EQ(row.Path, read->Path) << test::Utf8(read->Path);
    }
}

// A command line is written whole or not at all: into exactly its own length it fits,
// one unit less refuses and leaves nothing behind.
TEST(DialogCommandLine, RefusesABufferItDoesNotFit)
{
    for (const Row& row : Rows()) {
        SCOPED_TRACE(row.Label);
        const std::size_t length = std::size(QuotedProgram) - 1 + 1 + row.Written.size();
        std::vector<wchar_t> text(length + 1, L'x');
        EXPECT_TRUE(WriteDialogCommandLine(Program, row.Arguments(), text.data(), length + 1));
        EXPECT_EQ(length, std::wcslen(text.data()));
        std::vector<wchar_t> shorter(length, L'x');
        EXPECT_FALSE(WriteDialogCommandLine(Program, row.Arguments(), shorter.data(), length));
        EXPECT_EQ(L'\0', shorter[0]);
    }
}

} // namespace
} // namespace orvane
