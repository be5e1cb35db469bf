#include "PictureDecoder.h"

#include <windows.h>
#include <objbase.h>
#include <propidl.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <algorithm>
#include <new>
#include <vector>

#include "ExifOrientation.h"
#include "PictureHeader.h"
#include "PictureOrientation.h"

namespace orvane {

namespace {

using Microsoft::WRL::ComPtr;

// Rows are copied out of the decoder about a mebibyte at a time, so that turning a photo
// upright needs no second full-size buffer.
constexpr std::uint64_t StripBytes = 1u << 20;

// Holds one COM interface and releases it.
struct Decoding {
    ComPtr<IWICImagingFactory> Factory;
    ComPtr<IWICBitmapDecoder> Decoder;
    ComPtr<IWICBitmapFrameDecode> Frame;
};

// The file's first bytes, where the header and any EXIF block are: EXIF blocks are at
// most 64 KiB, behind at most a few other header segments.
constexpr DWORD HeadBytes = 256 * 1024;

PictureProblem ReadHead(const std::wstring& path, std::vector<std::uint8_t>& head)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return PictureProblem::CannotOpen;
    head.resize(HeadBytes);
    DWORD got = 0;
    const BOOL read = ReadFile(file, head.data(), HeadBytes, &got, nullptr);
    CloseHandle(file);
    head.resize(read ? got : 0);
    return read ? PictureProblem::None : PictureProblem::CannotOpen;
}

PictureProblem OpenFrame(const std::wstring& path, const PictureHeader& header, Decoding& decoding)
{
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(decoding.Factory.GetAddressOf()))))
        return PictureProblem::NoImaging;
    const HRESULT hr = decoding.Factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                                   WICDecodeMetadataCacheOnDemand, decoding.Decoder.GetAddressOf());
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED) ||
        hr == HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION))
        return PictureProblem::CannotOpen;
    // A decoder that fails on a file starting as a picture does finds it broken (Wine's
    // decoders, which decode at once, then report that no decoder took the file).
    if (FAILED(hr))
        return header.Known ? PictureProblem::Damaged : PictureProblem::NotAPicture;
    if (FAILED(decoding.Decoder->GetFrame(0, decoding.Frame.GetAddressOf())))
        return PictureProblem::Damaged;
    return PictureProblem::None;
}

// What the frame's metadata says; 0 for nothing.
unsigned ReportedOrientation(IWICBitmapFrameDecode* frame)
{
    ComPtr<IWICMetadataQueryReader> reader;
    if (FAILED(frame->GetMetadataQueryReader(reader.GetAddressOf())) || reader.Get() == nullptr)
        return 0;
    for (const wchar_t* name : {L"/app1/ifd/{ushort=274}", L"/ifd/{ushort=274}"}) {
        PROPVARIANT value;
        PropVariantInit(&value);
        unsigned orientation = 0;
        if (SUCCEEDED(reader->GetMetadataByName(name, &value)) && value.vt == VT_UI2)
            orientation = value.uiVal;
        PropVariantClear(&value);
        if (orientation >= 1 && orientation <= 8)
            return orientation;
    }
    return 0;
}

unsigned OrientationOf(IWICBitmapFrameDecode* frame, const std::vector<std::uint8_t>& head)
{
    const unsigned reported = ReportedOrientation(frame);
    const unsigned orientation = reported != 0 ? reported : JpegExifOrientation(head.data(), head.size());
    return orientation != 0 ? orientation : 1;
}

PictureProblem CheckSize(UINT width, UINT height)
{
    if (width == 0 || height == 0)
        return PictureProblem::NoPixels;
    if (width > LargestPictureSide || height > LargestPictureSide)
        return PictureProblem::TooLarge;
    if (std::uint64_t{width} * height * 4 > LargestPictureBytes)
        return PictureProblem::TooMuchMemory;
    return PictureProblem::None;
}

// The frame's pixels converted to 32-bit BGRA, a strip of rows at a time, top-down:
// `strip(pixels, top, rows)`.
template <typename Strip>
PictureProblem ForEachStrip(IWICBitmapSource* source, UINT width, UINT height, Strip strip)
{
    const UINT stride = 4 * width;
    const UINT stripRows = static_cast<UINT>(std::clamp<std::uint64_t>(StripBytes / stride, 1, height));
    std::vector<std::uint8_t> pixels(std::size_t{stride} * stripRows);
    for (UINT top = 0; top < height; top += stripRows) {
        const UINT rows = std::min(stripRows, height - top);
        const WICRect rect{0, static_cast<INT>(top), static_cast<INT>(width), static_cast<INT>(rows)};
        if (FAILED(source->CopyPixels(&rect, stride, stride * rows, pixels.data())))
            return PictureProblem::Damaged;
        strip(pixels.data(), top, rows);
    }
    return PictureProblem::None;
}

// The frame's pixels, put upright.
PictureProblem CopyUpright(IWICBitmapSource* source, UINT width, UINT height, unsigned orientation, Picture& picture)
{
    const bool swap = OrientationSwapsSides(orientation);
    picture.Width = swap ? height : width;
    picture.Height = swap ? width : height;
    picture.Bgra.assign(std::size_t{4} * width * height, 0);
    return ForEachStrip(source, width, height, [&](const std::uint8_t* pixels, UINT top, UINT rows) {
        PlaceStoredRows(pixels, top, rows, width, height, orientation, picture);
    });
}

// An opened frame: its size, its EXIF orientation and its pixels as 32-bit BGRA.
struct OpenedFrame {
    Decoding Objects;
    ComPtr<IWICFormatConverter> Converted;
    UINT Width = 0;
    UINT Height = 0;
    unsigned Orientation = 1;
};

PictureProblem Open(const std::wstring& path, OpenedFrame& opened)
{
    std::vector<std::uint8_t> head;
    PictureProblem problem = ReadHead(path, head);
    if (problem != PictureProblem::None)
        return problem;
    const PictureHeader header = ReadPictureHeader(head.data(), head.size());
    if (header.HasSize && (problem = CheckSize(header.Width, header.Height)) != PictureProblem::None)
        return problem;
    Decoding& decoding = opened.Objects;
    if ((problem = OpenFrame(path, header, decoding)) != PictureProblem::None)
        return problem;
    if (FAILED(decoding.Frame->GetSize(&opened.Width, &opened.Height)))
        return PictureProblem::Damaged;
    if ((problem = CheckSize(opened.Width, opened.Height)) != PictureProblem::None)
        return problem;
    // The factory's converter rather than WICConvertBitmapSource, so that nothing here is
    // imported from windowscodecs.dll: the extension and the dialog load the imaging
    // component only through COM, and only when a picture is chosen.
    if (FAILED(decoding.Factory->CreateFormatConverter(opened.Converted.GetAddressOf())) ||
        FAILED(opened.Converted->Initialize(decoding.Frame.Get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone,
                                            nullptr, 0.0, WICBitmapPaletteTypeCustom)))
        return PictureProblem::NotAPicture;
    opened.Orientation = OrientationOf(decoding.Frame.Get(), head);
    return PictureProblem::None;
}

PictureProblem Decode(const std::wstring& path, Picture& picture)
{
    OpenedFrame opened;
    const PictureProblem problem = Open(path, opened);
    if (problem != PictureProblem::None)
        return problem;
    return CopyUpright(opened.Converted.Get(), opened.Width, opened.Height, opened.Orientation, picture);
}

PictureProblem DecodeRows(const std::wstring& path, PictureRows& rows)
{
    Picture upright;
    {
        OpenedFrame opened;
        PictureProblem problem = Open(path, opened);
        if (problem != PictureProblem::None)
            return problem;
        if (opened.Orientation == 1) {
            const UINT width = opened.Width;
            rows.Begin(width, opened.Height);
            return ForEachStrip(opened.Converted.Get(), width, opened.Height,
                                [&](const std::uint8_t* pixels, UINT, UINT count) {
                                    for (UINT row = 0; row < count; ++row)
                                        rows.Row(pixels + std::size_t{4} * width * row);
                                });
        }
        // Turned rows land all over the upright picture, so it is made whole; the
        // imaging component's own copy of the pixels goes before the rows are handed on.
        problem = CopyUpright(opened.Converted.Get(), opened.Width, opened.Height, opened.Orientation, upright);
        if (problem != PictureProblem::None)
            return problem;
    }
    rows.Begin(upright.Width, upright.Height);
    const std::size_t stride = std::size_t{4} * upright.Width;
    for (std::uint32_t y = 0; y < upright.Height; ++y)
        rows.Row(upright.Bgra.data() + stride * y);
    return PictureProblem::None;
}

} // namespace

const wchar_t* PictureProblemText(PictureProblem problem)
{
    switch (problem) {
    case PictureProblem::None: return L"The picture was read.";
    case PictureProblem::CannotOpen: return L"The picture's file does not exist or cannot be read.";
    case PictureProblem::NoImaging: return L"Windows' imaging component is not available.";
    case PictureProblem::NotAPicture: return L"The file is not a picture that Windows can read.";
    case PictureProblem::Damaged: return L"The picture is truncated or damaged.";
    case PictureProblem::NoPixels: return L"The picture has no pixels (a width or height of 0).";
    case PictureProblem::TooLarge: return L"The picture is larger than 32,768 pixels a side.";
    case PictureProblem::TooMuchMemory: return L"The picture has too many pixels to be held in memory.";
    case PictureProblem::OutOfMemory: return L"There is not enough memory to make an icon of the picture.";
    case PictureProblem::CannotWrite: return L"The icon file cannot be written.";
    }
    return L"The picture cannot be used.";
}

PictureProblem DecodePicture(const std::wstring& path, Picture& picture)
{
    PictureProblem problem = PictureProblem::Damaged;
    try {
        problem = Decode(path, picture);
    } catch (const std::bad_alloc&) {
        problem = PictureProblem::OutOfMemory;
    } catch (...) {
        problem = PictureProblem::Damaged;
    }
    if (problem != PictureProblem::None)
        picture = Picture{};
    return problem;
}

PictureProblem DecodePictureRows(const std::wstring& path, PictureRows& rows)
{
    try {
        return DecodeRows(path, rows);
    } catch (const std::bad_alloc&) {
        return PictureProblem::OutOfMemory;
    } catch (...) {
        return PictureProblem::Damaged;
    }
}

unsigned PictureOrientation(const std::wstring& path)
{
    try {
        std::vector<std::uint8_t> head;
        Decoding decoding;
        if (ReadHead(path, head) != PictureProblem::None ||
            OpenFrame(path, ReadPictureHeader(head.data(), head.size()), decoding) != PictureProblem::None)
            return 1;
        return OrientationOf(decoding.Frame.Get(), head);
    } catch (const std::bad_alloc&) {
        return 1;
    }
}

} // namespace orvane
