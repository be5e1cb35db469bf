// Pictures decoded by the platform's imaging component (WIC): any format it has a decoder
// for (PNG, JPEG, BMP, GIF, TIFF, ICO and whatever codecs are installed), first frame,
// as straight BGRA, turned upright by the photo's EXIF orientation. The calling thread
// must have initialised COM.
#pragma once

#include <cstdint>
#include <string>

#include "PictureScaling.h"

namespace orvane {

// The largest side a picture may have, and the most bytes its decoded pixels may take
// (a quarter of what a 32-bit process can address; more on 64-bit Windows).
constexpr std::uint32_t LargestPictureSide = 32768;
constexpr std::uint64_t LargestPictureBytes = sizeof(void*) > 4 ? 2ull << 30 : 512ull << 20;

enum class PictureProblem {
    None,
    CannotOpen,      // the file does not exist or cannot be read
    NoImaging,       // the imaging component cannot be created
    NotAPicture,     // no decoder takes the file
    Damaged,         // a decoder takes it, but its content is truncated or broken
    NoPixels,        // a width or height of 0
    TooLarge,        // a side above LargestPictureSide
    TooMuchMemory,   // its pixels would take more than LargestPictureBytes
    OutOfMemory,     // memory ran out while decoding or making the icon
    CannotWrite,     // the icon file cannot be written
};

// A sentence for the user, such as "The file is not a picture that Windows can read."
const wchar_t* PictureProblemText(PictureProblem problem);

// The picture in `path` into `picture`; on a problem `picture` is left empty. Never
// throws.
PictureProblem DecodePicture(const std::wstring& path, Picture& picture);

// Takes a picture's rows as they are decoded.
class PictureRows {
public:
    virtual ~PictureRows() = default;
    // The upright picture's width and height, before its first row.
    virtual void Begin(std::uint32_t width, std::uint32_t height) = 0;
    // The next row down: `width` pixels of straight BGRA.
    virtual void Row(const std::uint8_t* bgra) = 0;
};

// The picture in `path`, upright, handed to `rows` top-down a strip at a time as the
// imaging component gives it, so that it is never held whole here (a photo whose EXIF
// orientation turns it is put upright whole first). On a problem `rows` may have had
// some rows. Never throws: std::bad_alloc from `rows` becomes OutOfMemory.
PictureProblem DecodePictureRows(const std::wstring& path, PictureRows& rows);

// The EXIF orientation (1 to 8) of the picture's first frame, as the imaging component
// reports it through the frame's metadata for JPEG ("/app1/ifd/{ushort=274}") and TIFF
// ("/ifd/{ushort=274}"), else as the JPEG's own EXIF block says; 1 for none.
unsigned PictureOrientation(const std::wstring& path);

} // namespace orvane
