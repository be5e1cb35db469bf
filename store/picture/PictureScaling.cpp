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
// the premultiplied sums (4 channels a pixel) of the rows still being summed, in a ring
// of as many rows as are ever open at once. Its rows are finished in order, each once
// the last source row it takes is in.
struct Square {
    std::uint32_t Size = 0;
    Placement Place;
    RowWeights Row;
    std::vector<Contribution> Column;
    std::vector<std::uint32_t> LastSource;
    std::size_t Next = 0;
    std::uint32_t Finished = 0;
    std::uint32_t Ring = 1;
    std::vector<double> Scaled;
    std::vector<double> Sums;
    Picture Image;
};

// The last source row of each target row, and how many target rows are open (summed
// into, not yet finished) at most, the rows being read in order.
void PlanRows(Square& square)
{
    const std::uint32_t fitted = square.Place.Height;
    square.LastSource.assign(fitted, 0);
    for (const Contribution& part : square.Column)
        square.LastSource[part.Target] = std::max(square.LastSource[part.Target], part.Source);
    std::uint32_t finished = 0, highest = 0;
    for (std::size_t i = 0; i < square.Column.size();) {
        const std::uint32_t y = square.Column[i].Source;
        for (; i < square.Column.size() && square.Column[i].Source == y; ++i)
            highest = std::max(highest, square.Column[i].Target);
        square.Ring = std::max(square.Ring, highest + 1 - std::min(finished, highest));
        while (finished < fitted && square.LastSource[finished] <= y)
            ++finished;
    }
}

Square SquareFor(std::uint32_t width, std::uint32_t height, std::uint32_t size)
{
    Square square;
    square.Size = size;
    square.Place = PlaceInSquare(width, height, size);
    square.Row = RowWeightsFor(width, square.Place.Width);
    square.Column = ColumnWeightsFor(height, square.Place.Height);
    PlanRows(square);
    square.Scaled.assign(4u * square.Place.Width, 0.0);
    square.Sums.assign(4u * std::size_t{square.Place.Width} * square.Ring, 0.0);
    square.Image = Picture{size, size, std::vector<std::uint8_t>(4u * std::size_t{size} * size, 0)};
    return square;
}

// Colour premultiplied as colour * alpha, alpha as alpha * 255: both on one scale, whole
// numbers of at most 65,025, which the running sums in double hold exactly. The pixels
// themselves go to `row` only when some square interpolates between them. (Whole
// numbers are converted from signed ones: 32-bit x87 code converts those in one
// instruction and unsigned ones in several.)
void Premultiply(const std::uint8_t* bgra, std::uint32_t width, bool keepRow, std::vector<double>& row,
                 std::vector<double>& sum)
{
    double blue = 0, green = 0, red = 0, alpha = 0;
    double* out = sum.data();
    for (std::uint32_t x = 0; x < width; ++x, bgra += 4, out += 4) {
        const std::int32_t a = bgra[3];
        out[0] = blue;
        out[1] = green;
        out[2] = red;
        out[3] = alpha;
        blue += static_cast<std::int32_t>(bgra[0] * a);
        green += static_cast<std::int32_t>(bgra[1] * a);
        red += static_cast<std::int32_t>(bgra[2] * a);
        alpha += 255 * a;
    }
    out[0] = blue;
    out[1] = green;
    out[2] = red;
    out[3] = alpha;
    if (!keepRow)
        return;
    for (std::size_t i = 0; i < 4u * width; ++i)
        row[i] = sum[i + 4] - sum[i];
}

// Rounded half away from zero, as std::lround, which is a library call costing more than
// the rest of a pixel's arithmetic in 32-bit code.
std::uint8_t Channel(double value)
{
    if (value <= 0.0)
        return 0;
    if (value >= 255.0)
        return 255;
    // Not (value + 0.5) truncated: that sum rounds up just below a half.
    const auto whole = static_cast<std::uint8_t>(value);
    return static_cast<std::uint8_t>(whole + (value - whole >= 0.5 ? 1 : 0));
}

// One row of sums back to straight alpha, into the square at the picture's place (the
// margins stay 0); its ring row is cleared for the row that takes it next.
void FinishRow(Square& square, std::uint32_t target)
{
    const std::size_t stride = 4u * square.Place.Width;
    double* sums = square.Sums.data() + stride * (target % square.Ring);
    std::uint8_t* out =
        square.Image.Bgra.data() + 4u * ((static_cast<std::size_t>(square.Place.Top) + target) * square.Size + square.Place.Left);
    for (std::uint32_t x = 0; x < square.Place.Width; ++x, sums += 4, out += 4) {
        const std::uint8_t alpha = Channel(sums[3] / 255.0);
        if (alpha != 0) {
            for (int c = 0; c < 3; ++c)
                out[c] = Channel(sums[c] * 255.0 / sums[3]);
            out[3] = alpha;
        }
        std::fill(sums, sums + 4, 0.0);
    }
}

void AddSourceRow(Square& square, const std::vector<double>& row, const std::vector<double>& sum, std::uint32_t y)
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
        double* target = square.Sums.data() + stride * (part.Target % square.Ring);
        for (std::size_t i = 0; i < stride; ++i)
            target[i] += part.Weight * square.Scaled[i];
    }
    for (; square.Finished < square.Place.Height && square.LastSource[square.Finished] <= y; ++square.Finished)
        FinishRow(square, square.Finished);
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

struct SquareScaling::State {
    std::uint32_t Width = 0;
    std::uint32_t Height = 0;
    std::uint32_t NextRow = 0;
    bool KeepRow = false;
    std::vector<Square> Squares;
    std::vector<double> Row;
    std::vector<double> Sum;
};

SquareScaling::SquareScaling(std::uint32_t width, std::uint32_t height, const std::vector<std::uint32_t>& sizes)
    : state_(new State)
{
    state_->Width = width;
    state_->Height = height;
    for (const std::uint32_t size : sizes) {
        state_->Squares.push_back(SquareFor(width, height, size));
        state_->KeepRow = state_->KeepRow || !state_->Squares.back().Row.OnRunningSum;
    }
    if (state_->KeepRow)
        state_->Row.assign(4u * std::size_t{width}, 0.0);
    state_->Sum.assign(4u * (std::size_t{width} + 1u), 0.0);
}

SquareScaling::~SquareScaling() = default;

void SquareScaling::AddRow(const std::uint8_t* bgra)
{
    State& state = *state_;
    if (state.NextRow >= state.Height)
        return;
    Premultiply(bgra, state.Width, state.KeepRow, state.Row, state.Sum);
    for (Square& square : state.Squares)
        AddSourceRow(square, state.Row, state.Sum, state.NextRow);
    ++state.NextRow;
}

std::vector<Picture> SquareScaling::Finish()
{
    std::vector<Picture> images;
    images.reserve(state_->Squares.size());
    for (Square& square : state_->Squares)
        images.push_back(std::move(square.Image));
    return images;
}

std::vector<Picture> ScaleIntoSquares(const Picture& picture, const std::vector<std::uint32_t>& sizes)
{
    SquareScaling scaling(picture.Width, picture.Height, sizes);
    const std::size_t stride = 4u * std::size_t{picture.Width};
    if (picture.Bgra.size() >= stride * picture.Height)
        for (std::uint32_t y = 0; y < picture.Height; ++y)
            scaling.AddRow(picture.Bgra.data() + stride * y);
    return scaling.Finish();
}

} // namespace orvane
