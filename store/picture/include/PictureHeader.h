// What a picture file's first bytes say of it, before any decoder runs: its kind, by the
// signature each format starts with, and the size its header claims. Wine's PNG decoder
// decodes the whole picture as soon as it is opened, so a header claiming 30,000 x 30,000
// pixels must be refused before the file reaches it; and a file that a decoder refuses
// is "damaged" rather than "not a picture" when it starts as a picture does. Free of
// <windows.h>, and never reads beyond the bytes given.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvane {

struct PictureHeader {
    bool Known = false;   // starts as a PNG, JPEG, GIF, BMP or TIFF file does
    bool HasSize = false; // the header's width and height were found
    std::uint32_t Width = 0;
    std::uint32_t Height = 0;
};

PictureHeader ReadPictureHeader(const std::uint8_t* head, std::size_t size);

} // namespace orvane
