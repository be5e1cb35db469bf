#include "DesktopIni.h"

#include <cwchar>
#include <iterator>
#include <new>

#include "FolderIcons.h"
#include "DesktopIniEncoding.h"
#include "DesktopIniText.h"
#include "WholeFile.h"

namespace orvane::desktop_ini {

namespace {

// A Desktop.ini larger than this is not a folder's settings; it is not taken in whole to
// be put back should a write fail.
constexpr DWORD DesktopIniKeepLimit = 16 * 1024 * 1024;
// The largest Desktop.ini written here whole; a larger one is written by the profile
// functions.
constexpr std::size_t DesktopIniWholeWriteLimit = 1024 * 1024;

// Sets `extra` on a path's attributes; with onlyIfMissing nothing is written when the
// bit is already there.
LONG AddAttribute(const wchar_t* path, DWORD extra, bool onlyIfMissing)
{
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return LastErrorOr(ERROR_FILE_NOT_FOUND);
    if (onlyIfMissing && (attributes & extra) != 0)
        return ERROR_SUCCESS;
    if (!SetFileAttributesW(path, attributes | extra))
        return LastErrorOr(ERROR_ACCESS_DENIED);
    return ERROR_SUCCESS;
}

// Takes `bit` off a path's attributes; nothing is written when it is not there.
LONG RemoveAttribute(const wchar_t* path, DWORD bit)
{
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return LastErrorOr(ERROR_FILE_NOT_FOUND);
    if ((attributes & bit) == 0)
        return ERROR_SUCCESS;
    const DWORD rest = attributes & ~bit;
    if (!SetFileAttributesW(path, rest != 0 ? rest : FILE_ATTRIBUTE_NORMAL))
        return LastErrorOr(ERROR_ACCESS_DENIED);
    return ERROR_SUCCESS;
}

// The path the platform reaches through a name, every link on the way followed ("\\?\C:\...").
// False when it cannot be asked.
bool FinalPathOf(const wchar_t* path, wchar_t* out, DWORD outSize)
{
    // No access asked: a program that holds the file open sharing nothing does not stop it.
    const HANDLE handle = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const DWORD length = GetFinalPathNameByHandleW(handle, out, outSize, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(handle);
    return length > 0 && length < outSize;
}

// The profile file and the folder as they were before a write, to be put back when the
// write fails halfway: the profile functions write entry by entry, and the file may have
// been created or turned into UTF-16 before an entry was refused.
class DesktopIniState {
public:
    // Reads the file whole. Fails, before anything is written, when it cannot be read (held
    // open by a program that shares it with nobody) or is too large to keep.
    LONG Take(const wchar_t* desktopIni, const wchar_t* folder)
    {
        desktopIni_ = desktopIni;
        folder_ = folder;
        folderAttributes_ = GetFileAttributesW(folder);
        attributes_ = GetFileAttributesW(desktopIni);
        if (attributes_ == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = GetLastError();
            existed_ = false;
            return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : static_cast<LONG>(error);
        }
        existed_ = true;
        FileHandle file(CreateFileW(desktopIni, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    0, nullptr));
        if (!file.Valid())
            return LastErrorOr(ERROR_ACCESS_DENIED);
        return ReadWholeFile(file.Value, DesktopIniKeepLimit, bytes_);
    }

    bool Existed() const { return existed_; }
    std::string Bytes() const { return std::string(bytes_.Data.get(), bytes_.Size); }

    // Puts the file, its attributes and the folder's attributes back as they were.
    void PutBack() const
    {
        if (!existed_) {
            SetFileAttributesW(desktopIni_, FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(desktopIni_);
        } else {
            SetFileAttributesW(desktopIni_, FILE_ATTRIBUTE_NORMAL);
            FileHandle file(CreateFileW(desktopIni_, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
            DWORD written = 0;
            const DWORD size = bytes_.Size;
            if (file.Valid() &&
                (size == 0 || (WriteFile(file.Value, bytes_.Data.get(), size, &written, nullptr) && written == size)))
                SetEndOfFile(file.Value);
            SetFileAttributesW(desktopIni_, attributes_);
        }
        if (folderAttributes_ != INVALID_FILE_ATTRIBUTES && GetFileAttributesW(folder_) != folderAttributes_)
            SetFileAttributesW(folder_, folderAttributes_);
    }

private:
    const wchar_t* desktopIni_ = nullptr;
    const wchar_t* folder_ = nullptr;
    bool existed_ = false;
    DWORD attributes_ = INVALID_FILE_ATTRIBUTES;
    DWORD folderAttributes_ = INVALID_FILE_ATTRIBUTES;
    WholeFileBytes bytes_;
};

// Writes the bytes as the whole file, made where it is missing.
LONG WriteWholeDesktopIni(const wchar_t* desktopIni, const std::string& bytes)
{
    FileHandle file(CreateFileW(desktopIni, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr));
    if (!file.Valid())
        return LastErrorOr(ERROR_ACCESS_DENIED);
    const DWORD size = static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (size != 0 && (!WriteFile(file.Value, bytes.data(), size, &written, nullptr) || written != size))
        return LastErrorOr(ERROR_WRITE_FAULT);
    if (!SetEndOfFile(file.Value))
        return LastErrorOr(ERROR_WRITE_FAULT);
    return ERROR_SUCCESS;
}

// Writes one entry, or takes it out when text is null.
LONG WriteEntry(const wchar_t* desktopIni, const wchar_t* name, const wchar_t* text)
{
    SetLastError(ERROR_SUCCESS);
    if (!WritePrivateProfileStringW(ShellClassInfo, name, text, desktopIni))
        return LastErrorOr(ERROR_WRITE_FAULT);
    return ERROR_SUCCESS;
}

// After a restore's entries are written: the file and its folder as they stood before the
// change. A file that was made UTF-16 becomes ANSI again when it can.
// `encodingDone`: the file was written in the encoding it is to have.
LONG PutStartBack(const wchar_t* folder, const wchar_t* desktopIni, const DesktopIniStart& start, bool encodingDone,
                  bool* byFolder)
{
    LONG status = start.Ansi && !encodingDone ? ReturnDesktopIniToAnsi(desktopIni) : ERROR_SUCCESS;
    if (status == ERROR_SUCCESS)
        status = start.Shown ? RemoveAttribute(desktopIni, FILE_ATTRIBUTE_HIDDEN)
                             : AddAttribute(desktopIni, FILE_ATTRIBUTE_HIDDEN, true);
    if (status == ERROR_SUCCESS) {
        status = start.PlainFolder ? RemoveAttribute(folder, FILE_ATTRIBUTE_SYSTEM)
                                   : AddAttribute(folder, FILE_ATTRIBUTE_SYSTEM, false);
        *byFolder = status != ERROR_SUCCESS;
    }
    return status;
}

// Writes the entries with the profile functions, one by one. A new Desktop.ini is made
// UTF-16, and an ANSI one becomes UTF-16 when a text has a character its code page lacks.
// A file that cannot be made is the folder's refusal.
LONG WriteEntriesByProfile(const wchar_t* desktopIni, const ListedEntries& listed, bool& byFolder)
{
    const IconEntries present = ReadIconEntries(desktopIni);
    const bool existed = GetFileAttributesW(desktopIni) != INVALID_FILE_ATTRIBUTES;
    LONG status = PrepareDesktopIniFor(desktopIni, {listed.Texts[0], listed.Texts[1], listed.Texts[2]});
    byFolder = status != ERROR_SUCCESS && !existed;
    // Written in the order IconFile, IconIndex, IconResource: a file that had none gets
    // them in the order Windows before Vista and Wine expect to find them first.
    for (const std::size_t i : {std::size_t(1), std::size_t(2), std::size_t(0)}) {
        if (status != ERROR_SUCCESS)
            break;
        if (listed.Texts[i] != nullptr)
            status = WriteEntry(desktopIni, EntryNames[i], listed.Texts[i]);
        else if (present.Items[i].Present)
            status = WriteEntry(desktopIni, EntryNames[i], nullptr);
    }
    return status;
}

// Refuses a Desktop.ini that is no file of the folder's own, then takes how it and the
// folder stand, to be put back if the change fails.
LONG BeginChange(const wchar_t* folder, const wchar_t* desktopIni, DesktopIniState& state, bool checked = false)
{
    const LONG usable = checked ? ERROR_SUCCESS : CheckDesktopIni(folder, desktopIni);
    if (usable != ERROR_SUCCESS)
        return usable;
    return state.Take(desktopIni, folder);
}

// The file's bytes before (as the state read them) and with the entries written; false
// where the file is one to be left to the profile functions.
bool WholeBytesOf(const DesktopIniState& state, const ListedEntries& listed, bool preferAnsi, std::string& before,
                  std::string& bytes)
{
    if (!state.Existed()) {
        bool any = false;
        for (const wchar_t* text : listed.Texts)
            any = any || text != nullptr;
        return any && NewDesktopIniBytes(listed, bytes);
    }
    before = state.Bytes();
    // One larger than a folder's settings is left to the profile functions, and to the
    // limit at which it is refused rather than turned into UTF-16.
    if (before.size() > DesktopIniWholeWriteLimit)
        return false;
    DesktopIniText text;
    bool unicode = false;
    return ParseDesktopIniBytes(before, text) && EditedDesktopIniBytes(text, listed, preferAnsi, bytes, unicode);
}

// Writes the entries into the file's bytes as the state read them, and the bytes as the
// whole file. `written` stays false, nothing touched, when the file is one to be left to
// the profile functions (or there is no file, and nothing to write into a new one).
LONG WriteEntriesWhole(const wchar_t* desktopIni, const DesktopIniState& state, const ListedEntries& listed,
                       bool preferAnsi, bool& written, bool& byFolder)
{
    written = false;
    // Out of memory, the profile functions write it as they always did.
    try {
        std::string before;
        std::string bytes;
        if (!WholeBytesOf(state, listed, preferAnsi, before, bytes))
            return ERROR_SUCCESS;
        written = true;
        // The same bytes again would change nothing that a reader of the file sees.
        if (state.Existed() && bytes == before)
            return ERROR_SUCCESS;
        const LONG status = WriteWholeDesktopIni(desktopIni, bytes);
        byFolder = status != ERROR_SUCCESS && !state.Existed();
        return status;
    } catch (const std::bad_alloc&) {
        return ERROR_SUCCESS;
    }
}

} // namespace

// A Desktop.ini that is a link leads to a file that is not the folder's own, and one that
// is a folder cannot hold entries; neither is written. Windows marks a link as a reparse
// point; Wine shows a Unix symbolic link as a plain file, whose final path (on both) is
// the file it leads to, elsewhere.
LONG CheckDesktopIni(const wchar_t* folder, const wchar_t* desktopIni)
{
    const DWORD attributes = GetFileAttributesW(desktopIni);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return ERROR_SUCCESS; // missing, or its folder is: the write finds out
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return DesktopIniIsLinkStatus;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return DesktopIniIsFolderStatus;
    wchar_t finalFolder[TextCapacity + 16];
    wchar_t finalDesktopIni[TextCapacity + 32];
    if (!FinalPathOf(folder, finalFolder, static_cast<DWORD>(std::size(finalFolder))) ||
        !FinalPathOf(desktopIni, finalDesktopIni, static_cast<DWORD>(std::size(finalDesktopIni))))
        return ERROR_SUCCESS;
    const std::size_t folderLength = std::wcslen(finalFolder);
    const bool endsInSeparator = folderLength > 0 && finalFolder[folderLength - 1] == L'\\';
    wchar_t own[TextCapacity + 32];
    if (std::swprintf(own, std::size(own), L"%ls%lsDesktop.ini", finalFolder, endsInSeparator ? L"" : L"\\") < 0)
        return ERROR_SUCCESS;
    if (CompareStringOrdinal(own, -1, finalDesktopIni, -1, TRUE) != CSTR_EQUAL)
        return DesktopIniIsLinkStatus;
    return ERROR_SUCCESS;
}

bool ReadDesktopIniFile(const wchar_t* desktopIni, DWORD limit, DesktopIniFile& out)
{
    out = DesktopIniFile();
    const DWORD attributes = GetFileAttributesW(desktopIni);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return false;
    FileHandle file(CreateFileW(desktopIni, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr));
    WholeFileBytes bytes;
    if (!file.Valid() || ReadWholeFile(file.Value, limit, bytes) != ERROR_SUCCESS)
        return false;
    out.Exists = true;
    out.Attributes = attributes;
    out.Bytes.assign(bytes.Data.get(), bytes.Size);
    return true;
}

LONG PutDesktopIniBack(const wchar_t* folder, const wchar_t* desktopIni, const DesktopIniFile& before, DWORD folderAttributes)
{
    DesktopIniState state;
    LONG status = BeginChange(folder, desktopIni, state);
    if (status != ERROR_SUCCESS)
        return status;
    const bool exists = GetFileAttributesW(desktopIni) != INVALID_FILE_ATTRIBUTES;
    if (exists && !SetFileAttributesW(desktopIni, FILE_ATTRIBUTE_NORMAL))
        status = LastErrorOr(ERROR_ACCESS_DENIED);
    if (status == ERROR_SUCCESS && !before.Exists) {
        if (exists && !DeleteFileW(desktopIni))
            status = LastErrorOr(ERROR_ACCESS_DENIED);
    } else if (status == ERROR_SUCCESS) {
        status = WriteWholeDesktopIni(desktopIni, before.Bytes);
        if (status == ERROR_SUCCESS &&
            !SetFileAttributesW(desktopIni, before.Attributes != 0 ? before.Attributes : FILE_ATTRIBUTE_NORMAL))
            status = LastErrorOr(ERROR_ACCESS_DENIED);
    }
    if (status == ERROR_SUCCESS)
        status = (folderAttributes & FILE_ATTRIBUTE_SYSTEM) != 0 ? AddAttribute(folder, FILE_ATTRIBUTE_SYSTEM, true)
                                                                 : RemoveAttribute(folder, FILE_ATTRIBUTE_SYSTEM);
    if (status != ERROR_SUCCESS)
        state.PutBack();
    return status;
}

bool HoldsNoEntries(const wchar_t* desktopIni)
{
    if (GetFileAttributesW(desktopIni) == INVALID_FILE_ATTRIBUTES)
        return false;
    // The section names, each behind the last's terminator; a section with any entry (or
    // a line the functions cannot read as one) makes the file hold something.
    wchar_t names[1024];
    const DWORD length = GetPrivateProfileSectionNamesW(names, static_cast<DWORD>(std::size(names)), desktopIni);
    if (length >= std::size(names) - 2)
        return false;
    for (const wchar_t* name = names; *name != L'\0'; name += std::wcslen(name) + 1) {
        wchar_t section[4];
        if (GetPrivateProfileSectionW(name, section, static_cast<DWORD>(std::size(section)), desktopIni) != 0)
            return false;
    }
    return true;
}

LONG WriteEntries(const wchar_t* folder, const wchar_t* desktopIni, const ListedEntries& listed, const DesktopIniStart* start,
                  bool* byFolder, bool checked)
{
    bool folderRefused = false;
    if (byFolder == nullptr)
        byFolder = &folderRefused;
    *byFolder = false;
    DesktopIniState state;
    LONG status = BeginChange(folder, desktopIni, state, checked);
    if (status != ERROR_SUCCESS)
        return status;
    // The file is read once (by the state above) and written once, where its form is
    // one whose reading is certain; any other is written entry by entry by the profile
    // functions.
    bool written = false;
    status = WriteEntriesWhole(desktopIni, state, listed, start != nullptr && start->Ansi, written, *byFolder);
    if (!written)
        status = WriteEntriesByProfile(desktopIni, listed, *byFolder);
    // The shell reads Desktop.ini only in a folder marked as system; the file itself is
    // hidden so that it does not show among the folder's contents.
    if (status == ERROR_SUCCESS && start != nullptr)
        status = PutStartBack(folder, desktopIni, *start, written, byFolder);
    if (status == ERROR_SUCCESS && start == nullptr)
        status = AddAttribute(desktopIni, FILE_ATTRIBUTE_HIDDEN, true);
    if (status == ERROR_SUCCESS && start == nullptr) {
        status = AddAttribute(folder, FILE_ATTRIBUTE_SYSTEM, false);
        *byFolder = status != ERROR_SUCCESS;
    }
    if (status != ERROR_SUCCESS)
        state.PutBack();
    return status;
}

} // namespace orvane::desktop_ini
