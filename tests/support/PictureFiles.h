// Pictures for the tests, made in the test: pixels of known patterns, files written by
// the platform's own encoders (WIC), and damaged or hostile variants of them.
#pragma once

#include <windows.h>
#include <wincodec.h>

#include <cstdint>
#include <string>
#include <vector>

#include "PictureScaling.h"

namespace orvane::test {

struct Colour {
    std::uint8_t B, G, R, A;
};

// A picture of one colour, of squares of `cell` pixels in two colours, a left-to-right
// ramp of grey 0..255 across its width (alpha 255), and one of four quadrants.
Picture SolidPicture(std::uint32_t width, std::uint32_t height, Colour colour);
Picture Checkerboard(std::uint32_t width, std::uint32_t height, std::uint32_t cell, Colour first, Colour second);
Picture Gradient(std::uint32_t width, std::uint32_t height);
Picture Quadrants(std::uint32_t width, std::uint32_t height, const Colour (&colours)[4]);
Colour PixelAt(const Picture& picture, std::uint32_t x, std::uint32_t y);

// Writes the picture with the platform's encoder for `container` (GUID_ContainerFormatPng,
// ...Jpeg, ...Bmp, ...Gif), in the encoder's own pixel format; false when it could not.
bool SavePicture(const Picture& picture, const GUID& container, const std::wstring& path);

// A file's bytes, and bytes written as a file.
std::vector<std::uint8_t> FileBytes(const std::wstring& path);
bool WriteBytes(const std::wstring& path, const std::vector<std::uint8_t>& bytes);

// A JPEG's bytes with an EXIF block (APP1) naming `orientation` put right behind its
// start marker, as a camera writes it.
std::vector<std::uint8_t> WithExifOrientation(const std::vector<std::uint8_t>& jpeg, std::uint16_t orientation);

// A PNG's bytes with the width and height of its header changed (its CRC made right).
std::vector<std::uint8_t> WithPngSize(std::vector<std::uint8_t> png, std::uint32_t width, std::uint32_t height);

// A JPEG's bytes with the width and height of its frame header (SOF0) changed.
std::vector<std::uint8_t> WithJpegSize(std::vector<std::uint8_t> jpeg, std::uint16_t width, std::uint16_t height);

// The icon's pixels as the platform's extraction gives them at `size` pixels (straight
// BGRA, top-down), of the icon at `index` (negative: a resource id); an empty picture
// when the extraction gives no icon of that size.
Picture ExtractedIcon(const std::wstring& iconPath, int size, int index = 0);

// The path of the Unix file that Wine maps a path to (wine_get_unix_file_name), or "".
std::string UnixPath(const std::wstring& path);

// What `icotool -l` (Debian's icoutils) says of a file, or "" when it cannot be run.
std::string IcotoolListing(const std::wstring& iconPath);

// The largest difference of any channel of any pixel.
int LargestDifference(const Picture& a, const Picture& b);

} // namespace orvane::test
