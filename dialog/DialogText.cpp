// The texts the dialog shows: its headline, the shell's version and the messages for
// changes that were not written.
#include <shlwapi.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <iterator>
#include <new>
#include <string_view>

#include "ChangeIconDialog.h"
#include "DialogText.h"
#include "ErrorText.h"
#include "PathText.h"

namespace orvane {

namespace {

constexpr std::wstring_view HeadlineStart = L"if you press the OK Button,the Icon for ";
constexpr std::wstring_view HeadlineEnd = L"' will be changed";

// Puts pieces of text one after the other into a caller's buffer of `size` characters:
// what fits, always terminated. A piece that does not fit whole is cut, never between
// the two halves of a surrogate pair, and nothing after it is added, so the buffer holds
// the beginning of the whole text.
class TextOut {
public:
    TextOut(wchar_t* out, std::size_t size) : out_(out), size_(size)
    {
        if (size_ != 0)
            out_[0] = L'\0';
    }

    TextOut& operator<<(std::wstring_view text)
    {
        if (size_ == 0 || cut_)
            return *this;
        const std::size_t count = UnitsThatFit(text, size_ - 1 - at_);
        cut_ = count < text.size();
        std::wmemcpy(out_ + at_, text.data(), count);
        at_ += count;
        out_[at_] = L'\0';
        return *this;
    }

private:
    wchar_t* out_;
    std::size_t size_;
    std::size_t at_ = 0;
    bool cut_ = false;
};

// The file or folder name the path ends in, extension included.
std::wstring_view NameOf(const wchar_t* path)
{
    const FileNameParts parts = SplitFileName(path);
    return std::wstring_view(parts.Name.data(), parts.Name.size() + parts.Extension.size());
}

// "the folder 'Sub'", "the drive C:\", "the file 'a.txt'", "all files of type '*.txt'".
void DescribeTarget(ChangeIconDialog& record, TextOut& out)
{
    switch (record.Target.Kind()) {
    case TargetKind::Drive:
        out << L"the drive " << record.TargetPath;
        break;
    case TargetKind::Folder:
        out << L"the folder '" << NameOf(record.TargetPath) << L"'";
        break;
    case TargetKind::Type:
        out << L"all files of type '*" << FileExtension(record.TargetPath) << L"'";
        break;
    case TargetKind::File:
        out << L"the file '" << NameOf(record.TargetPath) << L"'";
        break;
    default:
        out << L"'" << record.TargetPath << L"'";
        break;
    }
}

// Why a change was refused. A change goes to all users' place when it accepts the write
// and to this user's otherwise, so a refusal of this user's place means that it refused
// too; one of all users' place is a setting kept for all users that may not be written
// (an odd permission, or taking back an all users' change without the rights).
const wchar_t* AccessDeniedReason(ChangeIconDialog& record)
{
#define ORVANE_KEPT_FOR_YOU                                                                                     \
    L" for you alone when it cannot be changed for all users of this computer, and access to your own settings " \
    L"was denied as well. Ask whoever looks after this computer to check the permissions of your registry keys."
    static constexpr const wchar_t* KeptForYou[] = {
        L"Windows keeps this drive's icon" ORVANE_KEPT_FOR_YOU,
        L"Windows keeps this file type's icon" ORVANE_KEPT_FOR_YOU,
        L"Windows keeps this file's icon" ORVANE_KEPT_FOR_YOU,
    };
#undef ORVANE_KEPT_FOR_YOU
    const TargetKind kind = record.Target.Kind();
    if (record.Target.ChangedScope() == Scope::ThisUser) {
        if (kind == TargetKind::Folder)
            return L"Access was denied: the folder or its Desktop.ini may be read-only or belong to another user, "
                   L"or your own settings, which keep the folder's backup when it cannot be kept for all users "
                   L"of this computer, refused the write.";
        return KeptForYou[kind == TargetKind::Drive ? 0 : kind == TargetKind::Type ? 1 : 2];
    }
    if (kind == TargetKind::Folder)
        return L"Access was denied: the folder or its Desktop.ini may be read-only or belong to another user, "
               L"or the folder's backup is kept for all users of this computer, which needs administrator "
               L"rights.";
    return L"This icon is kept for all users of this computer, and changing it needs administrator rights. "
           L"Run the program as administrator and try again.";
}

// What the user is told of each other failure.
struct FailureText {
    ChangeResult Result;
    const wchar_t* Text;
};
constexpr FailureText FailureTexts[] = {
    {ChangeResult::NoExtension, L"The file has no extension. Windows gives icons to file types, so a file without "
                                L"an extension cannot have an icon of its own."},
    {ChangeResult::PathTooLong, L"A path is too long: the icon file's path, the target's path and the stored "
                                L"setting must each fit into 259 characters. Choose an icon file with a shorter "
                                L"path."},
    {ChangeResult::WriteFailed,
     L"Windows could not write the setting into the registry or into the folder's Desktop.ini."},
    {ChangeResult::DesktopIniIsLink, L"The folder's Desktop.ini is a link to a file elsewhere, not a file of the "
                                  L"folder's own. Nothing was written through it; replace the link with a file of "
                                  L"its own to give the folder an icon."},
    {ChangeResult::DesktopIniIsFolder, L"The folder holds a folder named Desktop.ini, where Windows reads a folder's "
                                    L"icon from a file of that name. Nothing was written; rename or remove that "
                                    L"folder to give the folder an icon."},
    {ChangeResult::HandlerNotLoadable, L"A file's own icon is shown by Orvane's icon handler, and Explorer on this PC "
                                    L"cannot load the one installed: it was built for another processor (on Windows "
                                    L"on Arm, install Orvane's arm64 package). Nothing was written."},
};

const wchar_t* FailureReason(ChangeIconDialog& record, ChangeResult result)
{
    if (result == ChangeResult::AccessDenied)
        return AccessDeniedReason(record);
    for (const FailureText& failure : FailureTexts) {
        if (failure.Result == result)
            return failure.Text;
    }
    return L"";
}

} // namespace

bool CanTakeIcon(ChangeIconDialog& record)
{
    return record.Target.PathKind() != TargetKind::File || NamesFileClass(FileExtension(record.TargetPath));
}

void FormatHeadline(ChangeIconDialog& record, wchar_t* out, std::size_t outSize)
{
    if (out == nullptr || outSize == 0)
        return;
    TextOut text(out, outSize);
    switch (record.Target.Kind()) {
    case TargetKind::Folder:
        text << HeadlineStart << L"Folder '" << NameOf(record.TargetPath) << HeadlineEnd;
        break;
    case TargetKind::File:
    case TargetKind::Type:
        if (!CanTakeIcon(record))
            text << L"The file '" << NameOf(record.TargetPath)
                 << L"' has no extension. Windows gives icons to file types, so this file cannot have an "
                    L"icon of its own.";
        else if (record.Target.Kind() == TargetKind::Type)
            text << HeadlineStart << L"Type '*" << FileExtension(record.TargetPath) << HeadlineEnd;
        else
            text << HeadlineStart << L"File '" << NameOf(record.TargetPath) << HeadlineEnd;
        break;
    case TargetKind::Drive:
        text << HeadlineStart << L"Drive '" << record.TargetPath << HeadlineEnd;
        break;
    default:
        text << HeadlineStart << L" '" << HeadlineEnd;
        break;
    }
}

std::wstring RefusalWords(const Refusal& refusal, bool folder, bool tooLong)
{
    const std::wstring reason = SystemErrorText(refusal.Status);
    switch (refusal.Place) {
    case RefusingPlace::Folder: return L"the folder refused the write: " + reason;
    case RefusingPlace::DesktopIni: return L"its Desktop.ini could not be read or written: " + reason;
    case RefusingPlace::Source: return L"the icon source could not be read: " + reason;
    case RefusingPlace::MadeIcon:
        if (tooLong)
            return L"the icon made for it would have a path longer than 259 characters (the folder's path, a "
                   L"backslash and a name of 28 characters); nothing was written. An icon chosen from a file names "
                   L"that file's path and still fits";
        return std::wstring(folder ? L"the icon made for it could not be written into the folder: "
                                   : L"the icon made for it could not be written into Orvane's folder of made "
                                     L"icons: ") +
               reason;
    }
    return reason;
}

void FormatChangeFailure(ChangeIconDialog& record, ChangeResult result, const wchar_t* action, wchar_t* out,
                         std::size_t outSize)
{
    if (out == nullptr || outSize == 0)
        return;
    TextOut text(out, outSize);
    text << L"The icon of ";
    DescribeTarget(record, text);
    text << L" could not be " << (action ? action : L"changed") << L".\n\n";
    std::wstring words;
    if (record.Target.LastRefusal() && IsRefusedWrite(result)) {
        try {
            words = RefusalWords(*record.Target.LastRefusal(), record.Target.Kind() == TargetKind::Folder,
                                 result == ChangeResult::PathTooLong);
        } catch (const std::bad_alloc&) {
            words.clear();
        }
    }
    if (words.empty()) {
        text << FailureReason(record, result);
        return;
    }
    words[0] = static_cast<wchar_t>(std::towupper(words[0]));
    text << words << L".";
}

void FormatRemoveFailure(LONG status, wchar_t* out, std::size_t outSize)
{
    if (out == nullptr || outSize == 0)
        return;
    TextOut text(out, outSize);
    text << L"Not all Orvane settings could be removed from the registry.\n\n";
    if (status == ERROR_ACCESS_DENIED) {
        text << L"Access was denied. Your own settings are removed wherever the registry allowed it; those kept "
                L"for all users of this computer need administrator rights to be removed. Run the program as "
                L"administrator and try again.";
        return;
    }
    wchar_t number[16];
    std::swprintf(number, std::size(number), L"%ld", static_cast<long>(status));
    text << L"Windows reported error " << number << L".";
}

void FormatTrustFindings(ChangeIconDialog& record, const TrustFindings& findings, wchar_t* out, std::size_t outSize)
{
    TextOut text(out, outSize);
    text << L"The icon of the folder '" << NameOf(record.Target.Path()) << L"' is set, but Windows may not show it:\n";
    for (TrustFinding finding : AllTrustFindings) {
        if (findings.Has(finding))
            text << L"\n- " << TrustFindingText(finding) << L".";
    }
    if (findings.Has(TrustFinding::DesktopIniMarked))
        text << L"\n\nRemove the mark of the web from this folder's Desktop.ini, so that Windows shows the icon? "
                L"Do so only if you trust where the folder came from: a downloaded Desktop.ini can make a folder "
                L"look like another.";
}

ShellVersion GetShellVersion()
{
    ShellVersion version;
    HMODULE shell = LoadLibraryW(L"shell32.dll");
    if (shell == nullptr)
        return version;
    auto getVersion = reinterpret_cast<DLLGETVERSIONPROC>(
        reinterpret_cast<void (*)()>(GetProcAddress(shell, "DllGetVersion")));
    if (getVersion != nullptr) {
        DLLVERSIONINFO info{};
        info.cbSize = sizeof info;
        if (FAILED(getVersion(&info))) {
            version.Major = 4;
        } else {
            version.Major = info.dwMajorVersion;
            version.Minor = info.dwMinorVersion;
        }
    }
    FreeLibrary(shell);
    return version;
}

} // namespace orvane
