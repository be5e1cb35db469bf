#include "FolderColour.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cwctype>

namespace orvane {

namespace {

// Hue in [0, 6) (sixths of the circle), saturation and lightness in [0, 1]: the HSL model.
struct Hsl {
    double Hue = 0;
    double Saturation = 0;
    double Lightness = 0;
};

double Lightness(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    const int high = std::max({r, g, b});
    const int low = std::min({r, g, b});
    return (high + low) / 510.0;
}

Hsl ToHsl(FolderColour colour)
{
    const double r = colour.Red / 255.0, g = colour.Green / 255.0, b = colour.Blue / 255.0;
    const double high = std::max({r, g, b});
    const double low = std::min({r, g, b});
    const double chroma = high - low;
    Hsl hsl;
    hsl.Lightness = (high + low) / 2;
    if (chroma <= 0)
        return hsl;
    hsl.Saturation = chroma / (1 - std::fabs(2 * hsl.Lightness - 1));
    if (high == r)
        hsl.Hue = std::fmod((g - b) / chroma + 6, 6);
    else if (high == g)
        hsl.Hue = (b - r) / chroma + 2;
    else
        hsl.Hue = (r - g) / chroma + 4;
    return hsl;
}

std::uint8_t Channel(double value)
{
    return static_cast<std::uint8_t>(std::clamp(std::lround(value * 255), 0L, 255L));
}

// Writes the colour of hue and saturation at `lightness` as blue, green, red.
void PutHsl(double hue, double saturation, double lightness, std::uint8_t* bgr)
{
    const double chroma = (1 - std::fabs(2 * lightness - 1)) * saturation;
    const double x = chroma * (1 - std::fabs(std::fmod(hue, 2) - 1));
    const double m = lightness - chroma / 2;
    double r = 0, g = 0, b = 0;
    switch (static_cast<int>(hue) % 6) {
    case 0: r = chroma; g = x; break;
    case 1: r = x; g = chroma; break;
    case 2: g = chroma; b = x; break;
    case 3: g = x; b = chroma; break;
    case 4: r = x; b = chroma; break;
    default: r = chroma; b = x; break;
    }
    bgr[0] = Channel(b + m);
    bgr[1] = Channel(g + m);
    bgr[2] = Channel(r + m);
}

int HexDigit(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

bool SameNameIgnoringCase(const wchar_t* text, const wchar_t* name)
{
    for (; *text != L'\0' && *name != L'\0'; ++text, ++name) {
        if (std::towlower(*text) != *name)
            return false;
    }
    return *text == L'\0' && *name == L'\0';
}

} // namespace

const std::vector<NamedColour>& FolderPalette()
{
    static const std::vector<NamedColour> palette{
        {L"red", {0xE5, 0x39, 0x35}},    {L"orange", {0xFB, 0x8C, 0x00}}, {L"yellow", {0xFD, 0xD8, 0x35}},
        {L"green", {0x43, 0xA0, 0x47}},  {L"teal", {0x00, 0x89, 0x7B}},   {L"blue", {0x1E, 0x88, 0xE5}},
        {L"purple", {0x8E, 0x24, 0xAA}}, {L"pink", {0xEC, 0x40, 0x7A}},   {L"brown", {0x79, 0x55, 0x48}},
        {L"grey", {0x80, 0x80, 0x80}},   {L"black", {0x26, 0x26, 0x26}},  {L"white", {0xF5, 0xF5, 0xF5}},
    };
    return palette;
}

std::optional<FolderColour> ParseFolderColour(const wchar_t* text)
{
    if (text == nullptr)
        return std::nullopt;
    if (text[0] == L'#') {
        int digits[6];
        for (int i = 0; i < 6; ++i) {
            digits[i] = HexDigit(text[1 + i]);
            if (digits[i] < 0)
                return std::nullopt;
        }
        if (text[7] != L'\0')
            return std::nullopt;
        return FolderColour{static_cast<std::uint8_t>(digits[0] * 16 + digits[1]),
                            static_cast<std::uint8_t>(digits[2] * 16 + digits[3]),
                            static_cast<std::uint8_t>(digits[4] * 16 + digits[5])};
    }
    if (SameNameIgnoringCase(text, L"gray"))
        text = L"grey";
    for (const NamedColour& named : FolderPalette()) {
        if (SameNameIgnoringCase(text, named.Name))
            return named.Colour;
    }
    return std::nullopt;
}

Picture RecolouredPicture(const Picture& picture, FolderColour colour)
{
    Picture out = picture;
    const std::size_t pixels = std::size_t{picture.Width} * picture.Height;
    if (out.Bgra.size() < 4 * pixels)
        return out;
    // The picture's mean lightness, each pixel counted by its opacity, so that a soft
    // edge does not weigh as much as the body.
    double weighted = 0, weight = 0;
    for (std::size_t i = 0; i < pixels; ++i) {
        const std::uint8_t* p = &picture.Bgra[4 * i];
        weighted += p[3] * Lightness(p[2], p[1], p[0]);
        weight += p[3];
    }
    if (weight <= 0)
        return out;
    // Kept off the ends, so that both sides of the mean have room to map onto.
    const double mean = std::clamp(weighted / weight, 0.05, 0.95);
    const Hsl target = ToHsl(colour);
    for (std::size_t i = 0; i < pixels; ++i) {
        std::uint8_t* p = &out.Bgra[4 * i];
        if (p[3] == 0)
            continue;
        // Black stays black, white stays white, the mean becomes the colour's lightness,
        // linearly between: no pixel is clipped, so no two shades merge.
        const double lightness = Lightness(p[2], p[1], p[0]);
        const double mapped = lightness <= mean
                                  ? target.Lightness * lightness / mean
                                  : target.Lightness + (1 - target.Lightness) * (lightness - mean) / (1 - mean);
        PutHsl(target.Hue, target.Saturation, mapped, p);
    }
    return out;
}

} // namespace orvane
