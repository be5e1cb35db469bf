#include "PictureFiles.h"

#include <objbase.h>
#include <wrl/client.h>

#include <algorithm>

#include "PngEncoding.h"
#include "TestSupport.h"

namespace orvane::test {

namespace {

using Microsoft::WRL::ComPtr;

Picture Blank(std::uint32_t width, std::uint32_t height)
{
    return Picture{width, height, std::vector<std::uint8_t>(std::size_t{4} * width * height, 0)};
}

void Put(Picture& picture, std::uint32_t x, std::uint32_t y, Colour colour)
{
    std::uint8_t* pixel = picture.Bgra.data() + 4 * (std::size_t{y} * picture.Width + x);
    pixel[0] = colour.B;
    pixel[1] = colour.G;
    pixel[2] = colour.R;
    pixel[3] = colour.A;
}

// The frame's pixels in the encoder's chosen format: converted from BGRA, through a
// palette made from the picture where the format is indexed (GIF).
bool WriteFrame(IWICImagingFactory* factory, IWICBitmapFrameEncode* frame, const Picture& picture)
{
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    if (FAILED(frame->SetSize(picture.Width, picture.Height)) || FAILED(frame->SetPixelFormat(&format)))
        return false;
    ComPtr<IWICBitmap> bitmap;
    if (FAILED(factory->CreateBitmapFromMemory(picture.Width, picture.Height, GUID_WICPixelFormat32bppBGRA,
                                               4 * picture.Width, static_cast<UINT>(picture.Bgra.size()),
                                               const_cast<BYTE*>(picture.Bgra.data()), bitmap.GetAddressOf())))
        return false;
    if (IsEqualGUID(format, GUID_WICPixelFormat32bppBGRA))
        return SUCCEEDED(frame->WriteSource(bitmap.Get(), nullptr));
    ComPtr<IWICPalette> palette;
    ComPtr<IWICFormatConverter> converter;
    const bool indexed = IsEqualGUID(format, GUID_WICPixelFormat8bppIndexed);
    if (indexed && (FAILED(factory->CreatePalette(palette.GetAddressOf())) || FAILED(palette->InitializeFromBitmap(bitmap.Get(), 256, FALSE)) ||
                    FAILED(frame->SetPalette(palette.Get()))))
        return false;
    if (FAILED(factory->CreateFormatConverter(converter.GetAddressOf())) ||
        FAILED(converter->Initialize(bitmap.Get(), format, WICBitmapDitherTypeNone, palette.Get(), 0,
                                     indexed ? WICBitmapPaletteTypeCustom : WICBitmapPaletteTypeMedianCut)))
        return false;
    return SUCCEEDED(frame->WriteSource(converter.Get(), nullptr));
}

} // namespace

Picture SolidPicture(std::uint32_t width, std::uint32_t height, Colour colour)
{
    return Checkerboard(width, height, std::max(width, height), colour, colour);
}

Picture Checkerboard(std::uint32_t width, std::uint32_t height, std::uint32_t cell, Colour first, Colour second)
{
    Picture picture = Blank(width, height);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
            Put(picture, x, y, (x / cell + y / cell) % 2 == 0 ? first : second);
    return picture;
}

Picture Gradient(std::uint32_t width, std::uint32_t height)
{
    Picture picture = Blank(width, height);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            const auto grey = static_cast<std::uint8_t>(x * 255 / std::max(1u, width - 1));
            Put(picture, x, y, {grey, grey, grey, 255});
        }
    return picture;
}

Picture Quadrants(std::uint32_t width, std::uint32_t height, const Colour (&colours)[4])
{
    Picture picture = Blank(width, height);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
            Put(picture, x, y, colours[(y < height / 2 ? 0 : 2) + (x < width / 2 ? 0 : 1)]);
    return picture;
}

Colour PixelAt(const Picture& picture, std::uint32_t x, std::uint32_t y)
{
    const std::uint8_t* pixel = picture.Bgra.data() + 4 * (std::size_t{y} * picture.Width + x);
    return {pixel[0], pixel[1], pixel[2], pixel[3]};
}

bool SavePicture(const Picture& picture, const GUID& container, const std::wstring& path)
{
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    ComPtr<IPropertyBag2> options;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(factory.GetAddressOf()))) ||
        FAILED(factory->CreateStream(stream.GetAddressOf())) || FAILED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) ||
        FAILED(factory->CreateEncoder(container, nullptr, encoder.GetAddressOf())) ||
        FAILED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) ||
        FAILED(encoder->CreateNewFrame(frame.GetAddressOf(), options.GetAddressOf())) || FAILED(frame->Initialize(options.Get())))
        return false;
    return WriteFrame(factory.Get(), frame.Get(), picture) && SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
}

std::vector<std::uint8_t> FileBytes(const std::wstring& path)
{
    std::vector<std::uint8_t> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    std::uint8_t buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.insert(bytes.end(), buffer, buffer + got);
    CloseHandle(file);
    return bytes;
}

bool WriteBytes(const std::wstring& path, const std::vector<std::uint8_t>& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

std::vector<std::uint8_t> WithExifOrientation(const std::vector<std::uint8_t>& jpeg, std::uint16_t orientation)
{
    // "Exif\0\0", a little-endian TIFF header whose first directory follows at offset 8,
    // one entry (tag 274, SHORT, count 1, the value), no next directory.
    const std::vector<std::uint8_t> exif{'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0,
                                         0x12, 0x01, 3, 0, 1, 0, 0, 0,
                                         static_cast<std::uint8_t>(orientation), static_cast<std::uint8_t>(orientation >> 8),
                                         0, 0, 0, 0, 0, 0};
    const std::size_t length = exif.size() + 2;
    std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + std::min<std::size_t>(2, jpeg.size()));
    out.insert(out.end(), {0xFF, 0xE1, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)});
    out.insert(out.end(), exif.begin(), exif.end());
    out.insert(out.end(), jpeg.begin() + std::min<std::size_t>(2, jpeg.size()), jpeg.end());
    return out;
}

std::vector<std::uint8_t> WithPngSize(std::vector<std::uint8_t> png, std::uint32_t width, std::uint32_t height)
{
    // Signature (8), IHDR's length (4) and type (4), then width and height, big-endian.
    if (png.size() < 33)
        return png;
    for (int i = 0; i < 4; ++i) {
        png[16 + i] = static_cast<std::uint8_t>(width >> (24 - 8 * i));
        png[20 + i] = static_cast<std::uint8_t>(height >> (24 - 8 * i));
    }
    const std::uint32_t crc = Crc32(png.data() + 12, 17);
    for (int i = 0; i < 4; ++i)
        png[29 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    return png;
}

std::vector<std::uint8_t> WithJpegSize(std::vector<std::uint8_t> jpeg, std::uint16_t width, std::uint16_t height)
{
    // SOF0: FF C0, length (2), precision (1), height (2), width (2), big-endian.
    for (std::size_t i = 2; i + 9 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
            jpeg[i + 5] = static_cast<std::uint8_t>(height >> 8);
            jpeg[i + 6] = static_cast<std::uint8_t>(height);
            jpeg[i + 7] = static_cast<std::uint8_t>(width >> 8);
            jpeg[i + 8] = static_cast<std::uint8_t>(width);
            break;
        }
    }
    return jpeg;
}

Picture ExtractedIcon(const std::wstring& iconPath, int size, int index)
{
    HICON icon = nullptr;
    UINT id = 0;
    if (PrivateExtractIconsW(iconPath.c_str(), index, size, size, &icon, &id, 1, 0) != 1 || icon == nullptr)
        return {};
    Picture picture;
    ICONINFO info = {};
    if (GetIconInfo(icon, &info)) {
        BITMAP bitmap = {};
        if (info.hbmColor != nullptr && GetObjectW(info.hbmColor, sizeof bitmap, &bitmap) != 0 && bitmap.bmWidth == size &&
            bitmap.bmHeight == size) {
            BITMAPINFO format = {};
            format.bmiHeader = {sizeof(BITMAPINFOHEADER), size, -size, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
            picture = Blank(static_cast<std::uint32_t>(size), static_cast<std::uint32_t>(size));
            HDC screen = GetDC(nullptr);
            if (GetDIBits(screen, info.hbmColor, 0, static_cast<UINT>(size), picture.Bgra.data(), &format, DIB_RGB_COLORS) != size)
                picture = {};
            ReleaseDC(nullptr, screen);
        }
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
    }
    DestroyIcon(icon);
    return picture;
}

std::string UnixPath(const std::wstring& path)
{
    using UnixName = char*(CDECL*)(const wchar_t*);
    const auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = unixName != nullptr ? unixName(path.c_str()) : nullptr;
    if (name == nullptr)
        return "";
    std::string unix(name);
    HeapFree(GetProcessHeap(), 0, name);
    return unix;
}

std::string IcotoolListing(const std::wstring& iconPath)
{
    // Wine starts a Unix program named by its path like a Windows one, but hands it Wine's
    // own standard handles, not the ones given: the shell writes icotool's answer to a
    // file (complete once it has its name), and the arguments are Unix paths.
    const std::wstring listingPath = iconPath + L".listing";
    const std::string icon = UnixPath(iconPath), listing = UnixPath(listingPath);
    if (icon.empty() || listing.empty())
        return "";
    const std::string command = "Z:\\bin\\sh -c \"/usr/bin/icotool -l '" + icon + "' >'" + listing + ".part' 2>&1; mv '" +
                                listing + ".part' '" + listing + "'\"";
    std::wstring line = FromUtf8(command);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // CreateProcessW may write into the command line it is given.
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return "";
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    for (int wait = 0; wait < 200 && GetFileAttributesW(listingPath.c_str()) == INVALID_FILE_ATTRIBUTES; ++wait)
        Sleep(50);
    const std::vector<std::uint8_t> bytes = FileBytes(listingPath);
    DeleteFileW(listingPath.c_str());
    return std::string(bytes.begin(), bytes.end());
}

// The largest difference of any channel of any pixel.
int LargestDifference(const Picture& a, const Picture& b)
{
    if (a.Width != b.Width || a.Height != b.Height || a.Bgra.size() != b.Bgra.size())
        return 256;
    int largest = 0;
    for (std::size_t i = 0; i < a.Bgra.size(); ++i)
        largest = std::max(largest, std::abs(int{a.Bgra[i]} - int{b.Bgra[i]}));
    return largest;
}

} // namespace orvane::test
