// Pictures scaled into icon squares, against a plain reference that adds up, for each
// icon pixel, every picture pixel it covers by the area covered; turned upright by each
// EXIF orientation; and written as PNG that the platform's decoder reads back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "ComInitialization.h"
#include "IconFileMaker.h"
#include "PictureDecoder.h"
#include "PictureFiles.h"
#include "ExifOrientation.h"
#include "PictureHeader.h"
#include "PictureOrientation.h"
#include "PngEncoding.h"
#include "TestSupport.h"

using namespace orvane;
using namespace orvane::test;

namespace {

constexpr Colour Black{0, 0, 0, 255}, White{255, 255, 255, 255}, Red{0, 0, 255, 255}, Blue{255, 0, 0, 255};

// The icon square of `size` as the area average over the fitted rectangle, pixel by
// pixel in two dimensions, premultiplied; the picture must be at least as large as the
// fitted rectangle on each axis (equal: copied).
Picture ReferenceSquare(const Picture& picture, std::uint32_t size)
{
    const Placement place = PlaceInSquare(picture.Width, picture.Height, size);
    Picture square{size, size, std::vector<std::uint8_t>(4u * size * size, 0)};
    const double sx = static_cast<double>(picture.Width) / place.Width;
    const double sy = static_cast<double>(picture.Height) / place.Height;
    for (std::uint32_t ty = 0; ty < place.Height; ++ty)
        for (std::uint32_t tx = 0; tx < place.Width; ++tx) {
            double sums[4] = {};
            for (std::uint32_t y = static_cast<std::uint32_t>(ty * sy); y < std::min((ty + 1) * sy, 1.0 * picture.Height); ++y)
                for (std::uint32_t x = static_cast<std::uint32_t>(tx * sx); x < std::min((tx + 1) * sx, 1.0 * picture.Width); ++x) {
                    const double area = (std::min((tx + 1) * sx, x + 1.0) - std::max(tx * sx, 1.0 * x)) *
                                        (std::min((ty + 1) * sy, y + 1.0) - std::max(ty * sy, 1.0 * y));
                    const Colour c = PixelAt(picture, x, y);
                    sums[0] += area * c.B * c.A;
                    sums[1] += area * c.G * c.A;
                    sums[2] += area * c.R * c.A;
                    sums[3] += area * c.A;
                }
            const double alpha = sums[3] / (sx * sy);
            std::uint8_t* out = square.Bgra.data() + 4u * ((place.Top + ty) * size + place.Left + tx);
            if (std::lround(alpha) == 0)
                continue;
            for (int c = 0; c < 3; ++c)
                out[c] = static_cast<std::uint8_t>(std::lround(sums[c] / sums[3]));
            out[3] = static_cast<std::uint8_t>(std::lround(alpha));
        }
    return square;
}

} // namespace

TEST(PlaceInSquare, KeepsTheAspectRatioCentred)
{
    const struct Case {
        std::uint32_t Width, Height, Size;
        Placement Expected;
    } cases[] = {
        {100, 100, 16, {16, 16, 0, 0}},    {6000, 4000, 16, {16, 11, 0, 2}}, {6000, 4000, 256, {256, 171, 0, 42}},
        {200, 50, 48, {48, 12, 0, 18}},    {50, 200, 20, {5, 20, 7, 0}},     {1, 32768, 16, {1, 16, 7, 0}},
        {10, 10, 256, {256, 256, 0, 0}},   {3, 2, 24, {24, 16, 0, 4}},
    };
    for (const Case& c : cases) {
        const Placement place = PlaceInSquare(c.Width, c.Height, c.Size);
        EXPECT_EQ(place.Width, c.Expected.Width) << c.Width << "x" << c.Height << " in " << c.Size;
        EXPECT_EQ(place.Height, c.Expected.Height) << c.Width << "x" << c.Height << " in " << c.Size;
        EXPECT_EQ(place.Left, c.Expected.Left) << c.Width << "x" << c.Height << " in " << c.Size;
        EXPECT_EQ(place.Top, c.Expected.Top) << c.Width << "x" << c.Height << " in " << c.Size;
    }
}

TEST(ScaleIntoSquares, AveragesTheAreaEachPixelCovers)
{
    const Colour clear{0, 0, 255, 0};
    const struct Case {
        const char* Name;
        Picture Source;
    } cases[] = {
        {"checkerboard of single pixels", Checkerboard(256, 256, 1, Black, White)},
        {"checkerboard of 7-pixel squares", Checkerboard(300, 200, 7, Red, Blue)},
        {"grey ramp", Gradient(512, 384)},
        {"ramp one pixel high", Gradient(777, 1)},
        // A row's running sums reach their largest: every pixel white and opaque.
        {"white, as wide as a picture may be", SolidPicture(LargestPictureSide, 3, White)},
        // Transparent pixels carry red, which must not tint the blue they are averaged with.
        {"blue on clear red", Checkerboard(333, 333, 5, clear, Blue)},
    };
    for (const Case& c : cases) {
        const std::vector<Picture> squares = ScaleIntoSquares(c.Source, IconFileSizes);
        ASSERT_EQ(squares.size(), IconFileSizes.size());
        for (std::size_t i = 0; i < squares.size(); ++i)
            EXPECT_LE(LargestDifference(squares[i], ReferenceSquare(c.Source, IconFileSizes[i])), 1)
                << c.Name << " at " << IconFileSizes[i];
    }
}

TEST(ScaleIntoSquares, WorkedExamples)
{
    // Worked by hand: 16 single-pixel squares of black and white average to 127.5; a ramp
    // whose pixel x has grey x averages columns 16j..16j+15 to 16j + 7.5; a 2x2 picture
    // enlarged to 16 keeps its corner colours and blends between pixel centres.
    const Picture board = ScaleIntoSquares(Checkerboard(256, 256, 1, Black, White), {16})[0];
    const Picture ramp = ScaleIntoSquares(Gradient(256, 256), {16})[0];
    const Picture small = ScaleIntoSquares(Checkerboard(2, 2, 1, Black, White), {16})[0];
    const struct Case {
        const char* Name;
        const Picture& Square;
        std::uint32_t X, Y;
        std::uint8_t Grey;
    } cases[] = {
        {"board", board, 0, 0, 128},  {"board", board, 15, 9, 128}, {"ramp", ramp, 0, 3, 8},
        {"ramp", ramp, 5, 15, 88},    {"ramp", ramp, 15, 0, 248},   {"small", small, 0, 0, 0},
        {"small", small, 3, 3, 0},    {"small", small, 15, 0, 255}, {"small", small, 4, 4, 30},
        {"small", small, 7, 0, 112},
    };
    for (const Case& c : cases) {
        const Colour pixel = PixelAt(c.Square, c.X, c.Y);
        EXPECT_EQ(pixel.G, c.Grey) << c.Name << " at " << c.X << "," << c.Y;
        EXPECT_EQ(pixel.A, 255) << c.Name << " at " << c.X << "," << c.Y;
    }
}
