// Folder colours: colour texts, the platform's plain-folder picture recoloured at every
// size (hue the colour's, shading and alpha the picture's), read back through the
// platform's own icon extraction, and the drawn folder that stands in where the platform
// has no picture.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cwctype>
#include <string>
#include <utility>
#include <vector>

#include "FolderColour.h"
#include "FolderColourIcon.h"
#include "FolderIconMaker.h"
#include "IconFileMaker.h"
#include "MadeIconFile.h"
#include "PictureFiles.h"
#include "TestSupport.h"

using namespace orvane;
using namespace orvane::test;

namespace {

// Hue in degrees of an 8-bit colour, and its chroma (largest channel less smallest).
int Chroma(int r, int g, int b) { return std::max({r, g, b}) - std::min({r, g, b}); }

double HueDegrees(int r, int g, int b)
{
    const int high = std::max({r, g, b});
    const double chroma = Chroma(r, g, b);
    double hue = 0;
    if (chroma == 0)
        return 0;
    if (high == r)
        hue = std::fmod((g - b) / chroma + 6, 6);
    else if (high == g)
        hue = (b - r) / chroma + 2;
    else
        hue = (r - g) / chroma + 4;
    return hue * 60;
}

double HueDistance(double a, double b)
{
    const double d = std::fabs(a - b);
    return std::min(d, 360 - d);
}

// Lightness in half-units: largest channel plus smallest, 0..510.
int LightnessOf(const std::uint8_t* p) { return std::max({p[0], p[1], p[2]}) + std::min({p[0], p[1], p[2]}); }

// Colours whose chroma is at least this give a hue that 8-bit rounding moves by at most
// about 1.5 degrees.
constexpr int HueChroma = 20;
constexpr double HueTolerance = 3;

// What is wrong with `coloured` as `source` in `colour`; "" when nothing is.
std::string ColourFault(const Picture& source, const Picture& coloured, FolderColour colour)
{
    if (source.Width == 0 || coloured.Width != source.Width || coloured.Height != source.Height)
        return "sizes differ or no picture";
    const std::size_t pixels = std::size_t{source.Width} * source.Height;
    const bool grey = Chroma(colour.Red, colour.Green, colour.Blue) == 0;
    const double hue = HueDegrees(colour.Red, colour.Green, colour.Blue);
    std::size_t opaque = 0, hued = 0;
    std::vector<std::pair<int, int>> lightness; // source's, coloured's
    for (std::size_t i = 0; i < pixels; ++i) {
        const std::uint8_t* s = &source.Bgra[4 * i];
        const std::uint8_t* c = &coloured.Bgra[4 * i];
        if (s[3] != c[3])
            return "alpha differs at pixel " + std::to_string(i) + ": " + std::to_string(s[3]) + " became " +
                   std::to_string(c[3]);
        if (c[3] != 255)
            continue;
        ++opaque;
        lightness.emplace_back(LightnessOf(s), LightnessOf(c));
        const int chroma = Chroma(c[2], c[1], c[0]);
        if (grey && chroma > 2)
            return "a grey colour has chroma " + std::to_string(chroma) + " at pixel " + std::to_string(i);
        if (!grey && chroma >= HueChroma) {
            ++hued;
            const double got = HueDegrees(c[2], c[1], c[0]);
            if (HueDistance(got, hue) > HueTolerance)
                return "hue " + std::to_string(got) + " instead of " + std::to_string(hue) + " at pixel " +
                       std::to_string(i);
        }
    }
    if (opaque == 0)
        return "no opaque pixel";
    if (!grey && hued * 2 < opaque)
        return "only " + std::to_string(hued) + " of " + std::to_string(opaque) + " opaque pixels carry the hue";
    // The shading: a lighter pixel of the picture is never darker once coloured, and the
    // coloured picture still has light and dark.
    std::sort(lightness.begin(), lightness.end());
    int lowest = 510, highest = 0;
    for (std::size_t i = 0; i < lightness.size(); ++i) {
        lowest = std::min(lowest, lightness[i].second);
        highest = std::max(highest, lightness[i].second);
        if (i > 0 && lightness[i].first > lightness[i - 1].first && lightness[i].second + 2 < lightness[i - 1].second)
            return "shading inverted: lightness " + std::to_string(lightness[i - 1].first) + " -> " +
                   std::to_string(lightness[i - 1].second) + " but " + std::to_string(lightness[i].first) + " -> " +
                   std::to_string(lightness[i].second);
    }
    if (highest - lowest < 40)
        return "flat: lightness " + std::to_string(lowest) + ".." + std::to_string(highest);
    return "";
}

// Every palette colour, and two given as hex.
std::vector<std::pair<std::wstring, FolderColour>> ColoursToTry()
{
    std::vector<std::pair<std::wstring, FolderColour>> colours;
    for (const NamedColour& named : FolderPalette())
        colours.emplace_back(named.Name, named.Colour);
    colours.emplace_back(L"#7F3FBF", FolderColour{0x7F, 0x3F, 0xBF});
    colours.emplace_back(L"#FF0000", FolderColour{0xFF, 0x00, 0x00});
    return colours;
}

// The icon the shell shows for a real plain folder: "path,index" split at its last comma.
std::pair<std::wstring, int> ShellFolderIcon(const std::wstring& folder)
{
    const std::wstring location = ShellIconLocation(folder, false);
    const std::size_t comma = location.rfind(L',');
    if (comma == std::wstring::npos)
        return {location, 0};
    return {location.substr(0, comma), std::wcstol(location.c_str() + comma + 1, nullptr, 10)};
}

} // namespace

TEST(FolderColourText, NamesAndHexParse)
{
    const std::vector<NamedColour>& palette = FolderPalette();
    ASSERT_EQ(12u, palette.size());
    const wchar_t* const names[] = {L"red",  L"orange", L"yellow", L"green", L"teal",  L"blue",
                                    L"purple", L"pink", L"brown",  L"grey",  L"black", L"white"};
    for (const wchar_t* name : names) {
        const auto named = std::find_if(palette.begin(), palette.end(),
                                        [&](const NamedColour& c) { return std::wstring(c.Name) == name; });
        ASSERT_NE(palette.end(), named) << name;
        std::wstring upper = name, mixed = name;
        std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);
        mixed[0] = static_cast<wchar_t>(::towupper(mixed[0]));
        for (const std::wstring& text : {std::wstring(name), upper, mixed}) {
            const std::optional<FolderColour> parsed = ParseFolderColour(text.c_str());
            ASSERT_TRUE(parsed.has_value()) << text;
            EXPECT_TRUE(*parsed == named->Colour) << text;
        }
    }
    // Twelve different colours.
    for (std::size_t i = 0; i < palette.size(); ++i)
        for (std::size_t j = i + 1; j < palette.size(); ++j)
            EXPECT_FALSE(palette[i].Colour == palette[j].Colour) << palette[i].Name << L" " << palette[j].Name;

    const struct {
        const wchar_t* Text;
        FolderColour Colour;
    } rows[] = {
        {L"gray", *ParseFolderColour(L"grey")}, {L"GRAY", *ParseFolderColour(L"grey")},
        {L"#1e88E5", {0x1E, 0x88, 0xE5}},      {L"#000000", {0, 0, 0}},
        {L"#FFFFFF", {0xFF, 0xFF, 0xFF}},      {L"#a0b1c2", {0xA0, 0xB1, 0xC2}},
    };
    for (const auto& row : rows) {
        const std::optional<FolderColour> parsed = ParseFolderColour(row.Text);
        ASSERT_TRUE(parsed.has_value()) << row.Text;
        EXPECT_EQ(row.Colour.Red, parsed->Red) << row.Text;
        EXPECT_EQ(row.Colour.Green, parsed->Green) << row.Text;
        EXPECT_EQ(row.Colour.Blue, parsed->Blue) << row.Text;
    }
}

TEST(FolderColourText, JunkIsRefused)
{
    const wchar_t* const junk[] = {L"#12345", L"#GGGGGG", L"", L"reddish", L"#1234567", L"1E88E5", L"#",
                                   L" red",   L"red ",    L"re", L"grey\t", L"#12 456", L"##123456", L"rouge",
                                   L"#-12345", L"0x1E88E5", nullptr};
    for (const wchar_t* text : junk)
        EXPECT_FALSE(ParseFolderColour(text).has_value()) << (text ? text : L"(null)");
}

TEST(FolderColourIcon, ThePictureIsTheShellsPlainFolder)
{
    TempDir dir;
    const std::pair<std::wstring, int> shell = ShellFolderIcon(dir.MakeFolder(L"Plain"));
    const std::optional<IconPlace> place = PlainFolderIconPlace();
    ASSERT_TRUE(place.has_value());
    EXPECT_EQ(Lower(shell.first), Lower(place->Module));
    EXPECT_EQ(shell.second, place->Index);
    bool drawn = true;
    const std::vector<Picture> pictures = PlainFolderPictures(&drawn);
    EXPECT_FALSE(drawn);
    ASSERT_EQ(IconFileSizes.size(), pictures.size());
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        const Picture shellPicture = ExtractedIcon(shell.first, static_cast<int>(IconFileSizes[i]), shell.second);
        EXPECT_EQ(IconFileSizes[i], pictures[i].Width);
        EXPECT_TRUE(shellPicture.Bgra == pictures[i].Bgra) << IconFileSizes[i];
    }
}

// The icon file as the platform extracts it at each size, against the shell's own folder
// picture at that size.
TEST(FolderColourIcon, EverySizeHasTheHueTheShadingAndTheMask)
{
    TempDir dir;
    const std::pair<std::wstring, int> shell = ShellFolderIcon(dir.MakeFolder(L"Plain"));
    for (const auto& [text, colour] : ColoursToTry()) {
        const std::wstring file = dir.Path() + L"\\" + (text[0] == L'#' ? text.substr(1) : text) + L".ico";
        ASSERT_TRUE(WriteBytes(file, FolderColourIconBytes(colour))) << text;
        for (std::uint32_t size : IconFileSizes) {
            const Picture source = ExtractedIcon(shell.first, static_cast<int>(size), shell.second);
            const Picture coloured = ExtractedIcon(file, static_cast<int>(size));
            EXPECT_EQ("", ColourFault(source, coloured, colour)) << text << L" at " << size;
        }
    }
}

TEST(FolderColourIcon, TheDrawnFolderIsAShapeAndColoursAlike)
{
    for (std::uint32_t size : IconFileSizes) {
        const Picture drawn = DrawnFolderPicture(size);
        ASSERT_EQ(std::size_t{4} * size * size, drawn.Bgra.size());
        std::size_t clear = 0, solid = 0, soft = 0;
        for (std::size_t i = 3; i < drawn.Bgra.size(); i += 4)
            (drawn.Bgra[i] == 0 ? clear : drawn.Bgra[i] == 255 ? solid : soft) += 1;
        EXPECT_GT(clear, 0u) << size;
        EXPECT_GT(solid, std::size_t{size} * size / 3) << size;
        EXPECT_GT(soft, 0u) << size;
        // The corners are transparent, the middle is opaque.
        EXPECT_EQ(0, drawn.Bgra[3]) << size;
        EXPECT_EQ(255, drawn.Bgra[4 * (std::size_t{size} / 2 * size + size / 2) + 3]) << size;
        for (const auto& [text, colour] : ColoursToTry())
            EXPECT_EQ("", ColourFault(drawn, RecolouredPicture(drawn, colour), colour)) << text << L" at " << size;
    }
}

TEST(FolderColourIcon, MadeInTheFolderNamedByContent)
{
    TempDir dir;
    const std::wstring folder = dir.MakeFolder(L"Work");
    std::wstring teal, again, red;
    ASSERT_TRUE(MakeFolderColourIcon(folder.c_str(), *ParseFolderColour(L"teal"), &teal));
    EXPECT_TRUE(IsMadeIconFile(folder.c_str(), teal.c_str())) << teal;
    const DWORD attributes = GetFileAttributesW((folder + L"\\" + teal).c_str());
    EXPECT_EQ(DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
              attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(MakeFolderColourIcon(folder.c_str(), *ParseFolderColour(L"TEAL"), &again));
    EXPECT_EQ(teal, again);
    EXPECT_EQ(Joined({teal}), Joined(FolderContent(folder)));
    ASSERT_TRUE(MakeFolderColourIcon(folder.c_str(), *ParseFolderColour(L"red"), &red));
    EXPECT_NE(teal, red);
    EXPECT_EQ(Joined({teal, red}), Joined(FolderContent(folder)));

    // A folder that does not exist: refused, and nothing made anywhere.
    std::wstring none;
    EXPECT_FALSE(MakeFolderColourIcon((folder + L"\\missing").c_str(), *ParseFolderColour(L"red"), &none));
    EXPECT_EQ(Joined({teal, red}), Joined(FolderContent(folder)));
    EXPECT_EQ(Joined({L"Work"}), Joined(FolderContent(dir.Path())));
}
