#include "PictureIcon.h"

#include <windows.h>

#include <algorithm>
#include <new>
#include <vector>

#include "IconFileMaker.h"

namespace orvane {

namespace {

bool WriteWhole(HANDLE file, const std::vector<std::uint8_t>& bytes)
{
    std::size_t written = 0;
    while (written < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - written, 1u << 30));
        DWORD done = 0;
        if (!WriteFile(file, bytes.data() + written, chunk, &done, nullptr) || done == 0)
            return false;
        written += done;
    }
    return FlushFileBuffers(file) != FALSE;
}

// A name beside the destination that no other writer uses at the same moment.
std::wstring TemporaryNameFor(const std::wstring& iconPath)
{
    static volatile LONG counter = 0;
    return iconPath + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(InterlockedIncrement(&counter)) + L".tmp";
}

PictureProblem WriteInPlace(const std::vector<std::uint8_t>& bytes, const std::wstring& iconPath)
{
    const std::wstring temporary = TemporaryNameFor(iconPath);
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return PictureProblem::CannotWrite;
    const bool written = WriteWhole(file, bytes);
    CloseHandle(file);
    if (written && MoveFileExW(temporary.c_str(), iconPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return PictureProblem::None;
    DeleteFileW(temporary.c_str());
    return PictureProblem::CannotWrite;
}

PictureProblem Make(const std::wstring& picturePath, const std::wstring& iconPath)
{
    std::vector<std::uint8_t> bytes;
    {
        Picture picture;
        const PictureProblem problem = DecodePicture(picturePath, picture);
        if (problem != PictureProblem::None)
            return problem;
        bytes = MakeIconFile(picture);
    }
    return WriteInPlace(bytes, iconPath);
}

} // namespace

PictureProblem MakeIconFromPicture(const std::wstring& picturePath, const std::wstring& iconPath)
{
    try {
        return Make(picturePath, iconPath);
    } catch (const std::bad_alloc&) {
        return PictureProblem::OutOfMemory;
    } catch (...) {
        return PictureProblem::CannotWrite;
    }
}

} // namespace orvane
