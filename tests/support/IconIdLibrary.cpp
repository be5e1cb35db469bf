#include "IconIdLibrary.h"

#include <shellapi.h>

#include <functional>

namespace orvane::test {

namespace {

std::vector<COLORREF> Sample(const std::function<void(HDC, int)>& draw)
{
    const int size = GetSystemMetrics(SM_CXICON);
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, size, size);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all{0, 0, size, size};
    FillRect(dc, &all, GetSysColorBrush(COLOR_WINDOW));
    draw(dc, size);
    std::vector<COLORREF> out;
    for (int y = 0; y < size; y += 3)
        for (int x = 0; x < size; x += 3)
            out.push_back(GetPixel(dc, x, y));
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return out;
}

} // namespace

std::wstring IconIdLibraryPath()
{
    // The program's own path may be longer than MAX_PATH; the buffer grows until it fits.
    std::wstring self(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, &self[0], static_cast<DWORD>(self.size()));
        if (length < self.size()) {
            self.resize(length);
            break;
        }
        if (self.size() >= 32768) {
            self.clear();
            break;
        }
        self.resize(self.size() * 2);
    }
    // The folder above the program's own: two components off.
    for (int up = 0; up < 2; ++up) {
        const std::size_t slash = self.find_last_of(L'\\');
        self.resize(slash == std::wstring::npos ? 0 : slash);
    }
    return self + L"\\orvane_icon_ids.dll";
}

std::vector<COLORREF> IconPixels(HICON icon)
{
    return Sample([&](HDC dc, int size) { DrawIconEx(dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL); });
}

std::vector<COLORREF> ImagePixels(HIMAGELIST images, int index)
{
    return Sample([&](HDC dc, int) { ImageList_Draw(images, index, dc, 0, 0, ILD_NORMAL); });
}

std::vector<COLORREF> ExtractedPixels(const std::wstring& path, int index)
{
    HICON icon = nullptr;
    if (ExtractIconExW(path.c_str(), index, &icon, nullptr, 1) == 0 || icon == nullptr)
        return {};
    const auto pixels = IconPixels(icon);
    DestroyIcon(icon);
    return pixels;
}

} // namespace orvane::test
