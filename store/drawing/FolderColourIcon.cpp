#include "FolderColourIcon.h"

#include <shellapi.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <memory>
#include <new>

#include "IconFileMaker.h"

namespace orvane {

namespace {

// The two bitmaps GetIconInfo hands over, which the caller must delete.
class IconBitmaps {
public:
    IconBitmaps() = default;
    ~IconBitmaps()
    {
        if (info.hbmColor != nullptr)
            DeleteObject(info.hbmColor);
        if (info.hbmMask != nullptr)
            DeleteObject(info.hbmMask);
    }
    IconBitmaps(const IconBitmaps&) = delete;
    IconBitmaps& operator=(const IconBitmaps&) = delete;
    ICONINFO info = {};
};

// The bitmap's pixels as 32-bit BGRA, top-down, `size` pixels a side.
bool ReadBitmap(HDC dc, HBITMAP bitmap, std::uint32_t size, std::vector<std::uint8_t>& pixels)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = static_cast<LONG>(size);
    info.bmiHeader.biHeight = -static_cast<LONG>(size);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    pixels.assign(std::size_t{4} * size * size, 0);
    return GetDIBits(dc, bitmap, 0, size, pixels.data(), &info, DIB_RGB_COLORS) == static_cast<int>(size);
}

bool SamePlace(const SHSTOCKICONINFO& a, const SHSTOCKICONINFO& b)
{
    return a.iIcon == b.iIcon && _wcsicmp(a.szPath, b.szPath) == 0;
}

// Whether a point lies in the rectangle with corners rounded by `radius`.
bool InRoundedRect(double x, double y, double left, double top, double right, double bottom, double radius)
{
    if (x < left || x > right || y < top || y > bottom)
        return false;
    const double dx = std::max({left + radius - x, x - (right - radius), 0.0});
    const double dy = std::max({top + radius - y, y - (bottom - radius), 0.0});
    return dx * dx + dy * dy <= radius * radius;
}

// The drawn folder's two parts at a point in [0, 1] squared: its back with the tab, and
// its front panel.
bool InBack(double x, double y)
{
    return InRoundedRect(x, y, 0.06, 0.20, 0.94, 0.86, 0.04) || InRoundedRect(x, y, 0.06, 0.13, 0.44, 0.26, 0.04);
}

bool InFront(double x, double y) { return InRoundedRect(x, y, 0.06, 0.32, 0.94, 0.86, 0.04); }

} // namespace

std::optional<IconPlace> PlainFolderIconPlace()
{
    SHSTOCKICONINFO folder = {};
    folder.cbSize = sizeof folder;
    SHSTOCKICONINFO document = {};
    document.cbSize = sizeof document;
    if (SUCCEEDED(SHGetStockIconInfo(SIID_FOLDER, SHGSI_ICONLOCATION, &folder)) && folder.szPath[0] != L'\0' &&
        (FAILED(SHGetStockIconInfo(SIID_DOCNOASSOC, SHGSI_ICONLOCATION, &document)) || !SamePlace(folder, document)))
        return IconPlace{folder.szPath, folder.iIcon};
    // Asked by attributes only, so that no folder of the disk (nor its Desktop.ini) is read.
    SHFILEINFOW info = {};
    if (SHGetFileInfoW(L"folder", FILE_ATTRIBUTE_DIRECTORY, &info, sizeof info,
                       SHGFI_ICONLOCATION | SHGFI_USEFILEATTRIBUTES) != 0 &&
        info.szDisplayName[0] != L'\0')
        return IconPlace{info.szDisplayName, info.iIcon};
    return std::nullopt;
}

bool ReadIconPicture(const wchar_t* module, int index, std::uint32_t size, Picture& picture)
{
    HICON extracted = nullptr;
    UINT id = 0;
    const UINT count = PrivateExtractIconsW(module, index, static_cast<int>(size), static_cast<int>(size), &extracted,
                                            &id, 1, LR_DEFAULTCOLOR);
    const std::unique_ptr<HICON__, decltype(&DestroyIcon)> icon(extracted, &DestroyIcon);
    // A file that cannot be read is answered with 0xFFFFFFFF, not 0.
    if (count == 0 || count == 0xFFFFFFFF || icon.get() == nullptr)
        return false;
    IconBitmaps bitmaps;
    if (!GetIconInfo(icon.get(), &bitmaps.info) || bitmaps.info.hbmColor == nullptr)
        return false;
    BITMAP shape = {};
    if (GetObjectW(bitmaps.info.hbmColor, sizeof shape, &shape) != sizeof shape ||
        shape.bmWidth != static_cast<LONG>(size) || shape.bmHeight != static_cast<LONG>(size))
        return false;
    const std::unique_ptr<HDC__, decltype(&DeleteDC)> dc(CreateCompatibleDC(nullptr), &DeleteDC);
    if (dc.get() == nullptr || !ReadBitmap(dc.get(), bitmaps.info.hbmColor, size, picture.Bgra))
        return false;
    picture.Width = size;
    picture.Height = size;
    const std::size_t pixels = std::size_t{size} * size;
    bool anyAlpha = false;
    for (std::size_t i = 0; i < pixels && !anyAlpha; ++i)
        anyAlpha = picture.Bgra[4 * i + 3] != 0;
    if (anyAlpha)
        return true;
    // An icon of 24 bits or fewer: its AND mask (white where transparent) is its alpha.
    std::vector<std::uint8_t> mask;
    if (bitmaps.info.hbmMask == nullptr || !ReadBitmap(dc.get(), bitmaps.info.hbmMask, size, mask))
        return false;
    for (std::size_t i = 0; i < pixels; ++i)
        picture.Bgra[4 * i + 3] = mask[4 * i] == 0 ? 255 : 0;
    return true;
}

Picture DrawnFolderPicture(std::uint32_t size)
{
    // Each pixel is sampled on a 4 x 4 grid, so that edges are soft at every size.
    constexpr int Grid = 4;
    Picture picture;
    picture.Width = size;
    picture.Height = size;
    picture.Bgra.assign(std::size_t{4} * size * size, 0);
    for (std::uint32_t py = 0; py < size; ++py) {
        for (std::uint32_t px = 0; px < size; ++px) {
            int covered = 0;
            double shade = 0;
            for (int sy = 0; sy < Grid; ++sy) {
                for (int sx = 0; sx < Grid; ++sx) {
                    const double x = (px + (sx + 0.5) / Grid) / size;
                    const double y = (py + (sy + 0.5) / Grid) / size;
                    if (InFront(x, y)) {
                        // Lit from above: lighter at the panel's top edge, darker below.
                        shade += y < 0.35 ? 0.78 : 0.66 - 0.14 * (y - 0.35) / 0.51;
                    } else if (InBack(x, y)) {
                        shade += 0.46 - 0.08 * (y - 0.13) / 0.73;
                    } else {
                        continue;
                    }
                    ++covered;
                }
            }
            if (covered == 0)
                continue;
            std::uint8_t* p = &picture.Bgra[4 * (std::size_t{py} * size + px)];
            const auto grey = static_cast<std::uint8_t>(std::lround(255 * shade / covered));
            p[0] = p[1] = p[2] = grey;
            p[3] = static_cast<std::uint8_t>(std::lround(255.0 * covered / (Grid * Grid)));
        }
    }
    return picture;
}

std::vector<Picture> PlainFolderPictures(bool* drawn)
{
    std::vector<Picture> pictures;
    if (const std::optional<IconPlace> place = PlainFolderIconPlace()) {
        for (std::uint32_t size : IconFileSizes) {
            Picture picture;
            if (!ReadIconPicture(place->Module.c_str(), place->Index, size, picture))
                break;
            pictures.push_back(std::move(picture));
        }
    }
    const bool fallback = pictures.size() != IconFileSizes.size();
    if (fallback) {
        // One missing size would make a mixed icon; the drawn shape serves every size.
        pictures.clear();
        for (std::uint32_t size : IconFileSizes)
            pictures.push_back(DrawnFolderPicture(size));
    }
    if (drawn != nullptr)
        *drawn = fallback;
    return pictures;
}

std::vector<std::uint8_t> FolderColourIconBytes(FolderColour colour)
{
    // The platform's folder picture does not change while a process runs, and reading it
    // at every size is half of what a colour costs: it is read once. An allocation that
    // fails here leaves it unread, for the next call to try again.
    static const std::vector<Picture> plain = PlainFolderPictures();
    std::vector<Picture> pictures;
    pictures.reserve(plain.size());
    for (const Picture& picture : plain)
        pictures.push_back(RecolouredPicture(picture, colour));
    return IconFileOfSquares(pictures);
}

} // namespace orvane
