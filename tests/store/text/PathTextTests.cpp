#include <gtest/gtest.h>

#include <string>

#include "PathText.h"

using namespace orvane;

TEST(SplitFileName, LikeThePlatformSplitter)
{
    struct Case {
        const wchar_t* Path;
        const wchar_t* Name;
        const wchar_t* Extension;
    };
    const Case cases[] = {
        {L"C:\\notes\\a.txt", L"a", L".txt"},
        {L"C:\\notes\\archive.tar.gz", L"archive.tar", L".gz"},
        {L"C:\\dir.d\\README", L"README", L""},
        {L"C:/x/y.Z", L"y", L".Z"},
        {L"D:\\", L"", L""},
        {L"D:Data", L"Data", L""},
        {L"C:\\Data\\Sub", L"Sub", L""},
        {L".hidden", L"", L".hidden"},
        {L"C:\\x\\trailing.", L"trailing", L"."},
    };
    for (const auto& c : cases) {
        const auto parts = SplitFileName(c.Path);
        EXPECT_EQ(c.Name, parts.Name) << c.Path;
        EXPECT_EQ(c.Extension, parts.Extension) << c.Path;
    }
}
