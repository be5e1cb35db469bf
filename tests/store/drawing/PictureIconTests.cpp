// Icon files made from picture files of each kind the platform decodes, read back by the
// platform's own icon extraction at every size and by an independent reader (icotool
// from Debian's icoutils); hostile and odd pictures refused with nothing written.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ComInitialization.h"
#include "IconFileMaker.h"
#include "PictureDecoder.h"
#include "PictureFiles.h"
#include "PictureIcon.h"
#include "TestSupport.h"

using namespace orvane;
using namespace orvane::test;

namespace {

constexpr Colour Red{0, 0, 255, 255}, Blue{255, 0, 0, 255}, Green{0, 160, 0, 255}, Yellow{0, 220, 230, 255};
constexpr Colour HalfBlue{255, 0, 0, 128}, Clear{0, 0, 0, 0};

bool Near(Colour a, Colour b, int tolerance)
{
    return std::abs(a.B - b.B) <= tolerance && std::abs(a.G - b.G) <= tolerance && std::abs(a.R - b.R) <= tolerance &&
           std::abs(a.A - b.A) <= tolerance;
}

std::string Text(Colour c)
{
    return std::to_string(c.B) + "," + std::to_string(c.G) + "," + std::to_string(c.R) + "," + std::to_string(c.A);
}

// The line icotool prints for the image of `size` pixels, 32 bits deep.
std::string IcotoolLine(std::uint32_t size)
{
    return "--width=" + std::to_string(size) + " --height=" + std::to_string(size) + " --bit-depth=32";
}

} // namespace

TEST(MakeIconFromPicture, EachKindGivesEverySizeToThePlatformAndIcotool)
{
    ComInitialization com;
    const Colour withAlpha[4] = {Red, HalfBlue, Clear, Green};
    const Colour opaque[4] = {Red, Blue, Green, Yellow};
    const struct Case {
        const char* Name;
        GUID Container;
        const wchar_t* Extension;
        const Colour (&Colours)[4];
        int Tolerance; // JPEG's compression and GIF's palette shift colours a little
    } cases[] = {
        {"PNG with alpha", GUID_ContainerFormatPng, L"png", withAlpha, 2},
        {"JPEG", GUID_ContainerFormatJpeg, L"jpg", opaque, 24},
        {"BMP", GUID_ContainerFormatBmp, L"bmp", opaque, 2},
        {"GIF", GUID_ContainerFormatGif, L"gif", opaque, 6},
    };
    for (const Case& c : cases) {
        TempDir folder;
        const std::wstring picture = folder.Path() + L"\\picture." + c.Extension;
        const std::wstring icon = folder.Path() + L"\\picture.ico";
        // Wide, so that every size has margins above and below.
        ASSERT_TRUE(SavePicture(Quadrants(120, 80, c.Colours), c.Container, picture)) << c.Name;
        ASSERT_EQ(MakeIconFromPicture(picture, icon), PictureProblem::None) << c.Name;
        const std::string listing = IcotoolListing(icon);
        for (const std::uint32_t size : IconFileSizes) {
            EXPECT_TRUE(Contains(listing, IcotoolLine(size))) << c.Name << " at " << size << ": icotool says\n" << listing;
            const Picture extracted = ExtractedIcon(icon, static_cast<int>(size));
            ASSERT_EQ(extracted.Width, size) << c.Name << ": the platform gives no icon of " << size;
            const Placement place = PlaceInSquare(120, 80, size);
            for (std::uint32_t q = 0; q < 4; ++q) {
                const Colour got = PixelAt(extracted, place.Left + place.Width * (2 * (q % 2) + 1) / 4,
                                           place.Top + place.Height * (2 * (q / 2) + 1) / 4);
                const Colour want = c.Colours[q];
                EXPECT_TRUE(want.A == 0 ? got.A == 0 : Near(got, want, c.Tolerance))
                    << c.Name << " at " << size << ", quadrant " << q << ": " << Text(got) << " for " << Text(want);
            }
            // The margins above and below the wide picture are transparent.
            EXPECT_EQ(PixelAt(extracted, size / 2, 0).A, 0) << c.Name << " at " << size;
            EXPECT_EQ(PixelAt(extracted, size / 2, size - 1).A, 0) << c.Name << " at " << size;
        }
        std::vector<std::wstring> made{L"picture.ico", L"picture." + std::wstring(c.Extension)};
        std::sort(made.begin(), made.end());
        EXPECT_EQ(FolderContent(folder.Path()), made) << c.Name;
    }
}

TEST(MakeIconFromPicture, KnownPixelsComeBackAveragedAtEverySize)
{
    ComInitialization com;
    const struct Case {
        const char* Name;
        Picture Source;
    } cases[] = {
        {"checkerboard", Checkerboard(384, 384, 1, {0, 0, 0, 255}, {255, 255, 255, 255})},
        {"ramp with margins", Gradient(600, 300)},
        {"wide red", SolidPicture(200, 50, Red)},
        // Decoded in several strips of rows, each of which must land in its place.
        {"tall checkerboard", Checkerboard(256, 2400, 9, Red, Blue)},
    };
    for (const Case& c : cases) {
        TempDir folder;
        const std::wstring picture = folder.Path() + L"\\known.png";
        const std::wstring icon = folder.Path() + L"\\known.ico";
        ASSERT_TRUE(SavePicture(c.Source, GUID_ContainerFormatPng, picture)) << c.Name;
        ASSERT_EQ(MakeIconFromPicture(picture, icon), PictureProblem::None) << c.Name;
        const std::vector<Picture> expected = ScaleIntoSquares(c.Source, IconFileSizes);
        for (std::size_t i = 0; i < IconFileSizes.size(); ++i) {
            const std::uint32_t size = IconFileSizes[i];
            const Picture extracted = ExtractedIcon(icon, static_cast<int>(size));
            ASSERT_EQ(extracted.Bgra.size(), expected[i].Bgra.size()) << c.Name << " at " << size;
            const Placement place = PlaceInSquare(c.Source.Width, c.Source.Height, size);
            int opaqueRows = 0;
            for (std::uint32_t y = 0; y < size; ++y) {
                opaqueRows += PixelAt(extracted, size / 2, y).A == 255;
                for (std::uint32_t x = 0; x < size; ++x)
                    ASSERT_TRUE(Near(PixelAt(extracted, x, y), PixelAt(expected[i], x, y), 1))
                        << c.Name << " at " << size << ", pixel " << x << "," << y << ": " << Text(PixelAt(extracted, x, y))
                        << " for " << Text(PixelAt(expected[i], x, y));
            }
            // The aspect ratio kept: as many opaque rows as the picture's height scaled.
            EXPECT_EQ(opaqueRows, static_cast<int>(place.Height)) << c.Name << " at " << size;
        }
    }
}

TEST(MakeIconFromPicture, HostileAndOddPicturesAreRefusedWithNothingWritten)
{
    ComInitialization com;
    TempDir source;
    const std::wstring png = source.Path() + L"\\source.png";
    const std::wstring jpeg = source.Path() + L"\\source.jpg";
    ASSERT_TRUE(SavePicture(Quadrants(64, 64, {Red, Blue, Green, Yellow}), GUID_ContainerFormatPng, png));
    ASSERT_TRUE(SavePicture(Quadrants(64, 64, {Red, Blue, Green, Yellow}), GUID_ContainerFormatJpeg, jpeg));
    const std::vector<std::uint8_t> pngBytes = FileBytes(png);
    const std::vector<std::uint8_t> jpegBytes = FileBytes(jpeg);
    const auto text = [](const char* t) { return std::vector<std::uint8_t>(t, t + std::strlen(t)); };
    const struct Case {
        const char* Name;
        const wchar_t* FileName;
        std::vector<std::uint8_t> Bytes;
        PictureProblem Expected;
    } cases[] = {
        {"text named .png", L"notes.png", text("This is not a picture.\r\n"), PictureProblem::NotAPicture},
        {"empty file", L"empty.png", {}, PictureProblem::NotAPicture},
        {"PNG cut in half", L"half.png", std::vector<std::uint8_t>(pngBytes.begin(), pngBytes.begin() + pngBytes.size() / 2),
         PictureProblem::Damaged},
        {"PNG of its header alone", L"header.png", std::vector<std::uint8_t>(pngBytes.begin(), pngBytes.begin() + 33),
         PictureProblem::Damaged},
        {"JPEG cut in half", L"half.jpg",
         std::vector<std::uint8_t>(jpegBytes.begin(), jpegBytes.begin() + jpegBytes.size() / 2), PictureProblem::Damaged},
        {"JPEG claiming 0 rows", L"zero.jpg", WithJpegSize(jpegBytes, 64, 0), PictureProblem::NoPixels},
        {"JPEG claiming 40,000 columns", L"wide.jpg", WithJpegSize(jpegBytes, 40000, 64), PictureProblem::TooLarge},
        {"PNG claiming 0 columns", L"zero.png", WithPngSize(pngBytes, 0, 64), PictureProblem::NoPixels},
        {"PNG claiming 40,000 rows", L"tall.png", WithPngSize(pngBytes, 64, 40000), PictureProblem::TooLarge},
        {"PNG claiming 30,000 x 30,000", L"huge.png", WithPngSize(pngBytes, 30000, 30000), PictureProblem::TooMuchMemory},
    };
    for (const Case& c : cases) {
        TempDir folder;
        const std::wstring picture = folder.Path() + L"\\" + c.FileName;
        const std::wstring icon = folder.Path() + L"\\made.ico";
        ASSERT_TRUE(WriteBytes(picture, c.Bytes)) << c.Name;
        ASSERT_TRUE(WriteBytes(icon, text("previous"))) << c.Name;
        EXPECT_EQ(MakeIconFromPicture(picture, icon), c.Expected) << c.Name << ": " << Utf8(PictureProblemText(MakeIconFromPicture(picture, icon)));
        EXPECT_EQ(FileBytes(icon), text("previous")) << c.Name;
        std::vector<std::wstring> expected{c.FileName, L"made.ico"};
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(FolderContent(folder.Path()), expected) << c.Name;
    }
}

TEST(MakeIconFromPicture, MissingPicturesAndUnwritablePlaces)
{
    ComInitialization com;
    TempDir folder;
    const std::wstring picture = folder.Path() + L"\\picture.png";
    ASSERT_TRUE(SavePicture(SolidPicture(8, 8, Red), GUID_ContainerFormatPng, picture));
    const struct Case {
        const char* Name;
        std::wstring Picture;
        std::wstring Icon;
        PictureProblem Expected;
    } cases[] = {
        {"missing picture", folder.Path() + L"\\missing.png", folder.Path() + L"\\a.ico", PictureProblem::CannotOpen},
        {"a folder", folder.Path(), folder.Path() + L"\\b.ico", PictureProblem::CannotOpen},
        {"icon in a missing folder", picture, folder.Path() + L"\\missing\\c.ico", PictureProblem::CannotWrite},
        {"icon over a folder", picture, folder.MakeFolder(L"taken.ico"), PictureProblem::CannotWrite},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MakeIconFromPicture(c.Picture, c.Icon), c.Expected) << c.Name;
        EXPECT_EQ(FolderContent(folder.Path()), (std::vector<std::wstring>{L"picture.png", L"taken.ico"})) << c.Name;
    }
}

// The icon is made from the rows as they are decoded; it must be the icon of the upright
// picture, whichever way the photo was stored.
TEST(DecodePicture, TurnsPhotosUprightByTheirExifOrientation)
{
    ComInitialization com;
    TempDir folder;
    const std::wstring plain = folder.Path() + L"\\plain.jpg";
    // Stored 40 x 20: left half red, right half blue.
    ASSERT_TRUE(SavePicture(Quadrants(40, 20, {Red, Blue, Red, Blue}), GUID_ContainerFormatJpeg, plain));
    const struct Case {
        std::uint16_t Orientation;
        std::uint32_t Width, Height;
        Colour TopLeft, BottomRight;
    } cases[] = {
        {1, 40, 20, Red, Blue}, {2, 40, 20, Blue, Red}, {3, 40, 20, Blue, Red}, {6, 20, 40, Red, Blue},
        {8, 20, 40, Blue, Red}, {5, 20, 40, Red, Blue}, {7, 20, 40, Blue, Red},
    };
    for (const Case& c : cases) {
        const std::wstring photo = folder.Path() + L"\\photo" + std::to_wstring(c.Orientation) + L".jpg";
        ASSERT_TRUE(WriteBytes(photo, WithExifOrientation(FileBytes(plain), c.Orientation)));
        EXPECT_EQ(PictureOrientation(photo), c.Orientation);
        Picture picture;
        ASSERT_EQ(DecodePicture(photo, picture), PictureProblem::None) << c.Orientation;
        ASSERT_EQ(picture.Width, c.Width) << c.Orientation;
        ASSERT_EQ(picture.Height, c.Height) << c.Orientation;
        EXPECT_TRUE(Near(PixelAt(picture, 2, 2), c.TopLeft, 24)) << c.Orientation << ": " << Text(PixelAt(picture, 2, 2));
        EXPECT_TRUE(Near(PixelAt(picture, c.Width - 3, c.Height - 3), c.BottomRight, 24))
            << c.Orientation << ": " << Text(PixelAt(picture, c.Width - 3, c.Height - 3));
        std::vector<std::uint8_t> icon;
        ASSERT_EQ(MakeIconBytesFromPicture(photo, icon), PictureProblem::None) << c.Orientation;
        EXPECT_TRUE(icon == IconFileOfSquares(ScaleIntoSquares(picture, IconFileSizes))) << c.Orientation;
    }
}
