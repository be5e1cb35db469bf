// The directory of an icon file (.ico) checked against the file itself, before the
// platform's icon extraction reads it. That parser trusts the directory: a count of
// 65,535 images in a small file, or an image offset of 0x7FFFFFFF, makes it read far
// beyond the mapped file and fault inside the calling process (inside Explorer for the
// dialog). Free of <windows.h>, so that it builds natively for fuzzing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvane {

// The header: reserved (0), type (1 for icons, 2 for cursors), image count.
constexpr std::size_t IconFileHeaderSize = 6;
// One directory entry: width, height, colours, reserved, planes, bit count, the image's
// size in bytes and its offset from the start of the file.
constexpr std::size_t IconFileEntrySize = 16;

// Whether the platform's extraction reads the file as an icon file rather than a module:
// it does so by content, whatever the file's name, for any file that does not start with
// a module's "MZ" and whose second 16-bit word is 1 (or 2, a cursor file). `head` holds
// the file's first `size` bytes.
bool ReadsAsIconFile(const unsigned char* head, std::size_t size);

// How many bytes from the start of the file its header and directory take, as its header
// claims them (6 + 16 per image); 0 when fewer than 6 bytes are given.
std::size_t IconDirectoryExtent(const unsigned char* head, std::size_t size);

// Whether an icon file's header and directory fit a file of `fileSize` bytes: reserved 0,
// type 1 or 2, at least one image, the whole directory inside the file, and each image
// non-empty, behind the directory and wholly inside the file. `head` holds the file's
// first `size` bytes (at least IconDirectoryExtent of them for a file that passes; fewer
// fail). Never reads beyond head[size - 1].
bool IconDirectoryFits(const unsigned char* head, std::size_t size, std::uint64_t fileSize);

} // namespace orvane
