#include "Screenshot.h"

#include <cstdio>
#include <vector>

namespace orvane::demo {

bool SaveWindowScreenshot(HWND window, const wchar_t* bmpPath)
{
    RECT rect = {};
    if (!GetWindowRect(window, &rect))
        return false;
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0)
        return false;

    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height; // bottom-up, as BMP files store rows
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    header.biSizeImage = stride * static_cast<DWORD>(height);

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
    bool saved = false;
    if (memory != nullptr && bitmap != nullptr) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        const bool copied = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY) != FALSE;
        GdiFlush();
        SelectObject(memory, previous);
        if (copied) {
            BITMAPFILEHEADER file = {};
            file.bfType = 0x4D42; // "BM"
            file.bfOffBits = sizeof file + sizeof header;
            file.bfSize = file.bfOffBits + header.biSizeImage;
            if (FILE* out = _wfopen(bmpPath, L"wb")) {
                saved = std::fwrite(&file, sizeof file, 1, out) == 1 && std::fwrite(&header, sizeof header, 1, out) == 1 &&
                        std::fwrite(bits, header.biSizeImage, 1, out) == 1;
                saved = std::fclose(out) == 0 && saved;
            }
        }
    }
    if (bitmap != nullptr)
        DeleteObject(bitmap);
    if (memory != nullptr)
        DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return saved;
}

} // namespace orvane::demo
