// Reading a picture: its header and orientation from the first bytes alone, and rows
// placed upright.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ComInitialization.h"
#include "ExifOrientation.h"
#include "PictureFiles.h"
#include "PictureHeader.h"
#include "PictureOrientation.h"
#include "TestSupport.h"

using namespace orvane;
using namespace orvane::test;

namespace {

constexpr Colour Red{0, 0, 255, 255};

} // namespace

TEST(PlaceStoredRows, TurnsEachOrientationUpright)
{
    // Stored 3 x 2, pixel n having blue n:   0 1 2
    //                                        3 4 5
    Picture stored{3, 2, std::vector<std::uint8_t>(24, 255)};
    for (int n = 0; n < 6; ++n)
        stored.Bgra[4 * n] = static_cast<std::uint8_t>(n);
    const struct Case {
        unsigned Orientation;
        std::uint32_t Width;
        std::vector<int> Upright;
    } cases[] = {
        {1, 3, {0, 1, 2, 3, 4, 5}}, {2, 3, {2, 1, 0, 5, 4, 3}}, {3, 3, {5, 4, 3, 2, 1, 0}},
        {4, 3, {3, 4, 5, 0, 1, 2}}, {5, 2, {0, 3, 1, 4, 2, 5}}, {6, 2, {3, 0, 4, 1, 5, 2}},
        {7, 2, {5, 2, 4, 1, 3, 0}}, {8, 2, {2, 5, 1, 4, 0, 3}}, {0, 3, {0, 1, 2, 3, 4, 5}},
        {9, 3, {0, 1, 2, 3, 4, 5}},
    };
    for (const Case& c : cases) {
        const bool swap = OrientationSwapsSides(c.Orientation);
        EXPECT_EQ(swap, c.Width == 2) << c.Orientation;
        Picture upright{swap ? 2u : 3u, swap ? 3u : 2u, std::vector<std::uint8_t>(24, 0)};
        // Row by row, as the decoder hands them over.
        PlaceStoredRows(stored.Bgra.data(), 0, 1, 3, 2, c.Orientation, upright);
        PlaceStoredRows(stored.Bgra.data() + 12, 1, 1, 3, 2, c.Orientation, upright);
        std::vector<int> got;
        for (int n = 0; n < 6; ++n)
            got.push_back(upright.Bgra[4 * n]);
        EXPECT_EQ(got, c.Upright) << "orientation " << c.Orientation;
    }
}

TEST(PictureHeaders, SizesAndOrientationFromTheFirstBytesAlone)
{
    ComInitialization com;
    TempDir folder;
    const struct Case {
        const char* Name;
        GUID Container;
        std::uint32_t Width, Height;
    } cases[] = {
        {"PNG", GUID_ContainerFormatPng, 33, 17},
        {"JPEG", GUID_ContainerFormatJpeg, 40, 21},
        {"GIF", GUID_ContainerFormatGif, 9, 30},
        {"BMP", GUID_ContainerFormatBmp, 31, 5},
    };
    for (const Case& c : cases) {
        const std::wstring path = folder.Path() + L"\\header";
        ASSERT_TRUE(SavePicture(SolidPicture(c.Width, c.Height, Red), c.Container, path)) << c.Name;
        std::vector<std::uint8_t> bytes = FileBytes(path);
        if (IsEqualGUID(c.Container, GUID_ContainerFormatJpeg))
            bytes = WithExifOrientation(bytes, 6);
        const PictureHeader header = ReadPictureHeader(bytes.data(), bytes.size());
        EXPECT_TRUE(header.Known && header.HasSize) << c.Name;
        EXPECT_EQ(header.Width, c.Width) << c.Name;
        EXPECT_EQ(header.Height, c.Height) << c.Name;
        EXPECT_EQ(JpegExifOrientation(bytes.data(), bytes.size()), IsEqualGUID(c.Container, GUID_ContainerFormatJpeg) ? 6u : 0u)
            << c.Name;
        // Cut at every length (into a buffer of exactly that size): never a size that
        // was not in the bytes read, never an orientation from a cut-off block.
        for (std::size_t length = 0; length < std::min<std::size_t>(bytes.size(), 400); ++length) {
            const std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
            const PictureHeader partial = ReadPictureHeader(cut.data(), cut.size());
            EXPECT_TRUE(!partial.HasSize || (partial.Width == c.Width && partial.Height == c.Height)) << c.Name << " cut at " << length;
            const unsigned orientation = JpegExifOrientation(cut.data(), cut.size());
            EXPECT_TRUE(orientation == 0 || (orientation == 6 && length >= 38)) << c.Name << " cut at " << length;
        }
    }
    const std::uint8_t text[] = "This is not a picture.";
    EXPECT_FALSE(ReadPictureHeader(text, sizeof text).Known);
}
