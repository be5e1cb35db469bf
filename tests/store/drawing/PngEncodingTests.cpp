#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ComInitialization.h"
#include "PictureDecoder.h"
#include "PictureFiles.h"
#include "PngEncoding.h"
#include "TestSupport.h"

using namespace orvane;
using namespace orvane::test;

namespace {

constexpr Colour Red{0, 0, 255, 255};

// A fully transparent pixel's colour is of no account.
Picture WithoutHiddenColour(Picture picture)
{
    for (std::size_t i = 0; i + 3 < picture.Bgra.size(); i += 4)
        if (picture.Bgra[i + 3] == 0)
            std::fill_n(picture.Bgra.begin() + static_cast<std::ptrdiff_t>(i), 3, 0);
    return picture;
}

} // namespace

TEST(EncodePng, ThePlatformDecodesEveryPixel)
{
    ComInitialization com;
    const Colour clear{10, 20, 30, 0}, half{40, 80, 120, 128};
    const struct Case {
        const char* Name;
        Picture Source;
    } cases[] = {
        {"256 square, alpha", Checkerboard(256, 256, 3, clear, half)},
        // Rows spread over several stored deflate blocks of 65,535 bytes, one block ending
        // inside a row.
        {"wide ramp", Gradient(20000, 7)},
        {"one pixel", SolidPicture(1, 1, Red)},
    };
    TempDir folder;
    for (const Case& c : cases) {
        const std::wstring path = folder.Path() + L"\\encoded.png";
        ASSERT_TRUE(WriteBytes(path, EncodePng(c.Source))) << c.Name;
        Picture decoded;
        ASSERT_EQ(DecodePicture(path, decoded), PictureProblem::None) << c.Name;
        EXPECT_EQ(decoded.Width, c.Source.Width) << c.Name;
        EXPECT_EQ(decoded.Height, c.Source.Height) << c.Name;
        EXPECT_EQ(LargestDifference(WithoutHiddenColour(decoded), WithoutHiddenColour(c.Source)), 0) << c.Name;
    }
}
