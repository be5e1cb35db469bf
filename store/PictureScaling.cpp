#include "PictureScaling.h"

#include <algorithm>
#include <cmath>

namespace orvane {

namespace {

// One source position's share in one target position along an axis.
struct Contribution {
    std::uint32_t Source;
    std::uint32_t Target;
    double Weight;
};

// Shrinking along a row reads a running sum of the row (entry x: the sum of the first x
// pixels). The area a target pixel covers, from `begin` to `end` in source pixels, is
// then the difference of that sum at the two ends, each interpolated linearly between
// whole pixels: four entries, whatever the number of pixels covered.
void AddCoverageEnd(std::vector<Contribution>& list, std::uint32_t length, std::uint32_t target, double at, double sign)
{
    const std::uint32_t whole = std::min(static_cast<std::uint32_t>(at), length);
    const double part = whole == length ? 0.0 : at - whole;
    list.push_back({whole, target, sign * (1.0 - part)});
    if (part > 0.0)
        list.push_back({whole + 1, target, sign * part});
}

// Bilinear weights: the target pixel's centre mapped into the source, between the two
// nearest source centres (clamped at the picture's edges).
void AddInterpolation(std::vector<Contribution>& list, std::uint32_t length, std::uint32_t target, double scale)
{
    const double centre = std::clamp((target + 0.5) * scale - 0.5, 0.0, static_cast<double>(length - 1));
    const std::uint32_t first = static_cast<std::uint32_t>(centre);
    const double part = centre - first;
    list.push_back({first, target, 1.0 - part});
    if (part > 0.0 && first + 1 < length)
        list.push_back({first + 1, target, part});
}

// Box weights of whole source pixels: the part of each covered pixel inside the target.
void AddCoverage(std::vector<Contribution>& list, std::uint32_t length, std::uint32_t target, double scale)
{
    const double begin = target * scale;
    // Rounding may carry the last target's end a hair beyond the picture.
    const double end = std::min(begin + scale, static_cast<double>(length));
    for (auto source = static_cast<std::uint32_t>(begin); source < end; ++source) {
        const double covered = std::min(end, source + 1.0) - std::max(begin, static_cast<double>(source));
        if (covered > 0.0)
            list.push_back({source, target, covered / scale});
    }
}

// Along a row: against the running sum when shrinking, against the pixels otherwise.
struct RowWeights {
    bool OnRunningSum = false;
    std::vector<Contribution> List;
};

RowWeights RowWeightsFor(std::uint32_t length, std::uint32_t fitted)
{
    RowWeights row;
    const double scale = static_cast<double>(length) / fitted;
    row.OnRunningSum = fitted < length;
    for (std::uint32_t target = 0; target < fitted; ++target) {
        if (row.OnRunningSum) {
            AddCoverageEnd(row.List, length, target, (target + 1) * scale, 1.0 / scale);
            AddCoverageEnd(row.List, length, target, target * scale, -1.0 / scale);
        } else {
            AddInterpolation(row.List, length, target, scale);
        }
    }
    return row;
}

// Down the columns, sorted by source row, so that the rows are read once, in order.
std::vector<Contribution> ColumnWeightsFor(std::uint32_t length, std::uint32_t fitted)
{
    std::vector<Contribution> list;
    const double scale = static_cast<double>(length) / fitted;
    for (std::uint32_t target = 0; target < fitted; ++target) {
        if (fitted < length)
            AddCoverage(list, length, target, scale);
        else
            AddInterpolation(list, length, target, scale);
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const Contribution& a, const Contribution& b) { return a.Source < b.Source; });
    return list;
}

// One square being made: its weights, where the next source row's weights start, and
// the premultiplied sums of its rows (4 channels a pixel).
struct Square {
    std::uint32_t Size;
    Placement Place;
    RowWeights Row;
    std::vector<Contribution> Column;
    std::size_t Next = 0;
    std::vector<double> Scaled;
    std::vector<double> Sums;
};

// Colour premultiplied as colour * alpha, alpha as alpha * 255: both on one scale.
void Premultiply(const std::uint8_t* bgra, std::uint32_t width, std::vector<double>& row, std::vector<double>& sum)
{
    double running[4] = {};
    for (std::uint32_t x = 0; x < width; ++x) {
        const double alpha = bgra[4 * x + 3];
        for (int c = 0; c < 4; ++c) {
            const double value = (c == 3 ? 255.0 : bgra[4 * x + c]) * alpha;
            row[4 * x + c] = value;
            sum[4 * x + c] = running[c];
            running[c] += value;
        }
    }
    std::copy(running, running + 4, sum.begin() + 4 * width);
}

void AddRow(Square& square, const std::vector<double>& row, const std::vector<double>& sum, std::uint32_t y)
{
    if (square.Next >= square.Column.size() || square.Column[square.Next].Source != y)
        return;
    const std::vector<double>& from = square.Row.OnRunningSum ? sum : row;
    std::fill(square.Scaled.begin(), square.Scaled.end(), 0.0);
    for (const Contribution& part : square.Row.List)
        for (int c = 0; c < 4; ++c)
            square.Scaled[4 * part.Target + c] += part.Weight * from[4 * part.Source + c];
    const std::size_t stride = 4u * square.Place.Width;
    for (; square.Next < square.Column.size() && square.Column[square.Next].Source == y; ++square.Next) {
        const Contribution& part = square.Column[square.Next];
        double* target = square.Sums.data() + stride * part.Target;
        for (std::size_t i = 0; i < stride; ++i)
            target[i] += part.Weight * square.Scaled[i];
    }
}

std::uint8_t Channel(double value) { return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L)); }

// Back to straight alpha, into the square at the picture's place; the margins stay 0.
Picture Finish(const Square& square)
{
    Picture image{square.Size, square.Size, std::vector<std::uint8_t>(4u * square.Size * square.Size, 0)};
    for (std::uint32_t y = 0; y < square.Place.Height; ++y) {
        for (std::uint32_t x = 0; x < square.Place.Width; ++x) {
            const double* sums = square.Sums.data() + 4u * (static_cast<std::size_t>(y) * square.Place.Width + x);
            const std::uint8_t alpha = Channel(sums[3] / 255.0);
            if (alpha == 0)
                continue;
            std::uint8_t* pixel =
                image.Bgra.data() + 4u * ((static_cast<std::size_t>(square.Place.Top) + y) * square.Size + square.Place.Left + x);
            for (int c = 0; c < 3; ++c)
                pixel[c] = Channel(sums[c] * 255.0 / sums[3]);
            pixel[3] = alpha;
        }
    }
    return image;
}

} // namespace

Placement PlaceInSquare(std::uint32_t width, std::uint32_t height, std::uint32_t size)
{
    Placement place;
    if (width == 0 || height == 0 || size == 0)
        return place;
    const double scale = std::min(static_cast<double>(size) / width, static_cast<double>(size) / height);
    place.Width = std::clamp(static_cast<std::uint32_t>(std::lround(width * scale)), 1u, size);
    place.Height = std::clamp(static_cast<std::uint32_t>(std::lround(height * scale)), 1u, size);
    place.Left = (size - place.Width) / 2;
    place.Top = (size - place.Height) / 2;
    return place;
}

std::vector<Picture> ScaleIntoSquares(const Picture& picture, const std::vector<std::uint32_t>& sizes)
{
    std::vector<Square> squares;
    for (const std::uint32_t size : sizes) {
        Square square{size, PlaceInSquare(picture.Width, picture.Height, size), {}, {}, 0, {}, {}};
        square.Row = RowWeightsFor(picture.Width, square.Place.Width);
        square.Column = ColumnWeightsFor(picture.Height, square.Place.Height);
        square.Scaled.assign(4u * square.Place.Width, 0.0);
        square.Sums.assign(4u * square.Place.Width * square.Place.Height, 0.0);
        squares.push_back(std::move(square));
    }
    std::vector<double> row(4u * picture.Width);
    std::vector<double> sum(4u * (picture.Width + 1u));
    const std::size_t stride = 4u * picture.Width;
    for (std::uint32_t y = 0; y < picture.Height && picture.Bgra.size() >= stride * picture.Height; ++y) {
        Premultiply(picture.Bgra.data() + stride * y, picture.Width, row, sum);
        for (Square& square : squares)
            AddRow(square, row, sum, y);
    }
    std::vector<Picture> images;
    for (const Square& square : squares)
        images.push_back(Finish(square));
    return images;
}

} // namespace orvane
