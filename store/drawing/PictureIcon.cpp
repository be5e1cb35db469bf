#include "PictureIcon.h"

#include <windows.h>

#include <cwchar>
#include <memory>
#include <new>
#include <vector>

#include "IconFileMaker.h"
#include "PictureHeader.h"
#include "WholeFile.h"

namespace orvane {

namespace {

// The decoded rows go straight into the icon's squares: a photo of tens of megabytes is
// never held whole, only the imaging component's own copy of it and a strip of rows.
class IntoSquares : public PictureRows {
public:
    void Begin(std::uint32_t width, std::uint32_t height) override
    {
        scaling_ = std::make_unique<SquareScaling>(width, height, IconFileSizes);
    }
    void Row(const std::uint8_t* bgra) override { scaling_->AddRow(bgra); }
    std::vector<Picture> Finish() { return scaling_ ? scaling_->Finish() : std::vector<Picture>{}; }

private:
    std::unique_ptr<SquareScaling> scaling_;
};

PictureProblem Make(const std::wstring& picturePath, std::vector<std::uint8_t>& bytes)
{
    IntoSquares squares;
    const PictureProblem problem = DecodePictureRows(picturePath, squares);
    if (problem != PictureProblem::None)
        return problem;
    bytes = IconFileOfSquares(squares.Finish());
    return PictureProblem::None;
}

} // namespace

bool IsPictureFile(const wchar_t* file)
{
    std::uint8_t head[64] = {};
    DWORD got = 0;
    HANDLE handle = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        const bool read = ReadFile(handle, head, sizeof head, &got, nullptr);
        CloseHandle(handle);
        if (read && ReadPictureHeader(head, got).Known)
            return true;
    }
    const wchar_t* dot = std::wcsrchr(file, L'.');
    if (dot == nullptr || std::wcschr(dot, L'\\') != nullptr)
        return false;
    for (const wchar_t* extension : {L".png", L".jpg", L".jpeg", L".bmp", L".gif", L".tif", L".tiff"}) {
        if (CompareStringOrdinal(dot, -1, extension, -1, TRUE) == CSTR_EQUAL)
            return true;
    }
    return false;
}

PictureProblem MakeIconBytesFromPicture(const std::wstring& picturePath, std::vector<std::uint8_t>& bytes)
{
    try {
        return Make(picturePath, bytes);
    } catch (const std::bad_alloc&) {
        bytes.clear();
        return PictureProblem::OutOfMemory;
    } catch (...) {
        bytes.clear();
        return PictureProblem::CannotWrite;
    }
}

PictureProblem MakeIconFromPicture(const std::wstring& picturePath, const std::wstring& iconPath)
{
    std::vector<std::uint8_t> bytes;
    const PictureProblem problem = MakeIconBytesFromPicture(picturePath, bytes);
    if (problem != PictureProblem::None)
        return problem;
    return WriteFileWhole(iconPath, bytes) ? PictureProblem::None : PictureProblem::CannotWrite;
}

} // namespace orvane
