#include <windows.h>

#include <cstdio>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // The tests of names that the ANSI code page cannot hold prove something only where
    // the 8-bit calls would lose those characters: on a Western European system, code
    // page 1252. Elsewhere they could pass for the wrong reason, so nothing runs.
    const UINT codePage = GetACP();
    if (codePage != 1252) {
        std::fprintf(stderr,
                     "These tests need a Windows (or Wine prefix) whose ANSI code page is 1252; this one has %u.\n"
                     "Wine takes it from the locale it starts in: LANG=C.UTF-8 or en_US.UTF-8 gives 1252.\n",
                     codePage);
        return 2;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
