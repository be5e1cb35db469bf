// A picture scaled into square icon images: fitted with its aspect ratio kept, centred,
// with transparent margins. Free of <windows.h>, so that it builds natively too.
//
// Shrinking averages the exact area of the picture each icon pixel covers (a box filter
// weighted by coverage, so that a pixel half covered counts half). Enlarging a picture
// smaller than the icon interpolates linearly between the nearest pixel centres
// (bilinear), which keeps edges soft rather than blocky and never overshoots. Both work
// on premultiplied colour, so that the colour of a transparent pixel never bleeds into
// its neighbours.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace orvane {

// Pixels of 32 bits in the order blue, green, red, alpha, rows top-down without padding,
// alpha straight (not premultiplied): what the platform's imaging component gives as
// GUID_WICPixelFormat32bppBGRA.
struct Picture {
    std::uint32_t Width = 0;
    std::uint32_t Height = 0;
    std::vector<std::uint8_t> Bgra;
};

// Where a picture lies inside a square of `size` pixels: its scaled width and height
// (each at least 1) and its top-left corner.
struct Placement {
    std::uint32_t Width = 0;
    std::uint32_t Height = 0;
    std::uint32_t Left = 0;
    std::uint32_t Top = 0;
};
Placement PlaceInSquare(std::uint32_t width, std::uint32_t height, std::uint32_t size);

// The picture scaled into one square of each size given, in one pass over its rows.
// The picture must hold Width * Height * 4 bytes. Throws std::bad_alloc when memory
// runs out.
std::vector<Picture> ScaleIntoSquares(const Picture& picture, const std::vector<std::uint32_t>& sizes);

// The same scaling fed one row at a time, top-down, as a decoder gives them, so that the
// whole picture is never held: each square keeps only the few rows still being summed,
// and a row of the square is finished as soon as the last picture row it covers is in.
// The results are those of ScaleIntoSquares. Every member may throw std::bad_alloc.
class SquareScaling {
public:
    SquareScaling(std::uint32_t width, std::uint32_t height, const std::vector<std::uint32_t>& sizes);
    ~SquareScaling();
    SquareScaling(const SquareScaling&) = delete;
    SquareScaling& operator=(const SquareScaling&) = delete;

    // The next row of the picture: Width pixels of straight BGRA. Rows beyond Height are
    // ignored.
    void AddRow(const std::uint8_t* bgra);

    // The squares, in the order of the sizes; rows the picture never reached stay clear.
    std::vector<Picture> Finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace orvane
