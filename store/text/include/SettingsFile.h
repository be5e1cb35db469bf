// The settings file of `orvane export` and `orvane import`: every icon Orvane set, as a
// JSON text (UTF-8) that a person can read and a program can check.
//
//   { "format": "orvane-settings", "version": 1,
//     "settings": [ { "kind": "folder", "scope": "this-user", "path": "C:\\Photos",
//                     "icon": "C:\\Icons\\camera.ico", "index": 0 },
//                   { "kind": "type", "scope": "all-users", "extension": ".log",
//                     "class": "txtfile", "made": "AAABAAEAEBA..." }, ... ] }
//
// Each setting names its target by kind ("path" of a folder or a file, "extension" and
// the "class" Explorer used of a type, "drive" as "D:\"), the scope it was set in, and
// its icon: a source "icon" with its "index", or a made icon's bytes in "made" (base64,
// index 0). The reader is strict (no member it does not know, each member of its type)
// and refuses a whole file that is not such a text; what a setting names is checked
// apart from that (SettingProblem), so that one setting can be refused and the others
// imported. Free of <windows.h>, so that it builds natively for fuzzing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

constexpr char SettingsFormatName[] = "orvane-settings";
constexpr std::int64_t SettingsFormatVersion = 1;
// A settings file larger than this is refused before it is read: a setting with a 32x32
// made icon takes about 6 KB, one without about 150 bytes.
constexpr std::uint64_t SettingsFileLimit = 64ull * 1024 * 1024;

enum class SettingKind { Folder, File, Type, Drive };
enum class SettingScope { ThisUser, AllUsers };

struct ExportedSetting {
    SettingKind Kind = SettingKind::Folder;
    SettingScope Scope = SettingScope::ThisUser;
    // A folder's or a file's path, a type's extension (dot included), or a drive's root
    // ("D:\").
    std::wstring Target;
    // A type's class, as Explorer used it where the file was made.
    std::wstring TypeClass;
    // A source and its index, or a made icon's bytes (Made set; index 0).
    std::wstring IconPath;
    std::int32_t Index = 0;
    bool Made = false;
    std::vector<std::uint8_t> MadeIcon;
};

struct SettingsDocument {
    std::vector<ExportedSetting> Settings;
};

// The document as the file's text. False when memory ran out.
bool WriteSettingsText(const SettingsDocument& document, std::string& text) noexcept;

// Reads a file's text into a document. False, with the reason in words, for a text that is
// not JSON, not this format, of another version, or with a setting that is not formed
// as above; the document is then empty.
bool ReadSettingsText(const unsigned char* data, std::size_t size, SettingsDocument& document,
                      std::wstring& reason) noexcept;

// Why a path may not be a folder's, a file's or a drive's target where an import puts it:
// it must be a full path on a drive letter ("C:\..."), with no "." or ".." in it, no
// device or network (UNC) path, no stream (a second colon), no device name (CON, NUL...)
// and no character a file name may not hold. Null when it may be.
const wchar_t* TargetPathProblem(std::wstring_view path);
// Why a text may not be an icon source: empty, too long, ".." in it, a device path or a
// character a path may not hold. A network path is a source like any other.
const wchar_t* SourcePathProblem(std::wstring_view path);
// Why a setting as the file gives it may not be imported, before any path is mapped:
// its target (TargetPathProblem for folders and files; for a path that starts with an
// environment reference, what follows it, the whole path being checked once expanded),
// an extension, a drive root), a
// type's class (a class key of its own, never a path to another registry place nor one
// of the shell's own keys), its source, and a made icon's bytes (the icon file check).
// Null when it may.
const wchar_t* SettingProblem(const ExportedSetting& setting);

// The words of a kind and a scope as the file writes them.
const wchar_t* SettingKindName(SettingKind kind);
const wchar_t* SettingScopeName(SettingScope scope);

} // namespace orvane
