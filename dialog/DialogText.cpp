// The texts the dialog shows: its headline and the messages for changes that were not
// written.
#include <cstdio>

#include "ChangeIconDialog.h"
#include "PathText.h"

namespace orvane {

namespace {

constexpr const char HeadlineFormat[] = "if you press the OK Button,the Icon for %s '%s' will be changed";

// "the folder 'Sub'", "the drive C:\", "the file 'a.txt'", "all files of type '*.txt'".
void DescribeTarget(ChangeIconDialog& record, char* out, std::size_t outSize)
{
    const FileNameParts parts = SplitFileName(record.TargetPath);
    const int nameLength = static_cast<int>(parts.Name.size() + parts.Extension.size());
    switch (record.Kind()) {
    case TargetKind::Drive:
        std::snprintf(out, outSize, "the drive %s", record.TargetPath);
        break;
    case TargetKind::Folder:
        std::snprintf(out, outSize, "the folder '%.*s'", nameLength, parts.Name.data());
        break;
    case TargetKind::File:
        if (record.AllOfType())
            std::snprintf(out, outSize, "all files of type '*%.*s'", static_cast<int>(parts.Extension.size()),
                          parts.Extension.data());
        else
            std::snprintf(out, outSize, "the file '%.*s'", nameLength, parts.Name.data());
        break;
    default:
        std::snprintf(out, outSize, "'%s'", record.TargetPath);
        break;
    }
}

const char* FailureReason(ChangeIconDialog& record, ChangeResult result)
{
    switch (result) {
    case ChangeResult::NoExtension:
        return "The file has no extension. Windows gives icons to file types, so a file without an "
               "extension cannot have an icon of its own.";
    case ChangeResult::PathTooLong:
        return "A path is too long: the icon file's path, the target's path and the stored setting must "
               "each fit into 259 characters. Choose an icon file with a shorter path.";
    case ChangeResult::AccessDenied:
        // A change goes to all users' place when it accepts the write and to this user's
        // otherwise, so a refusal of this user's place means that it refused too; one of
        // all users' place is a setting kept for all users that may not be written (an
        // odd permission, or taking back an all users' change without the rights).
        if (record.ChangedScope() == Scope::ThisUser) {
            switch (record.Kind()) {
            case TargetKind::Drive:
                return "Windows keeps this drive's icon for you alone when it cannot be changed for all users of "
                       "this computer, and access to your own settings was denied as well. Ask whoever looks "
                       "after this computer to check the permissions of your registry keys.";
            case TargetKind::Folder:
                return "Access was denied: the folder or its Desktop.ini may be read-only or belong to another "
                       "user, or your own settings, which keep the folder's backup when it cannot be kept for "
                       "all users of this computer, refused the write.";
            default:
                return record.AllOfType()
                           ? "Windows keeps this file type's icon for you alone when it cannot be changed for all "
                             "users of this computer, and access to your own settings was denied as well. Ask "
                             "whoever looks after this computer to check the permissions of your registry keys."
                           : "Windows keeps this file's icon for you alone when it cannot be changed for all "
                             "users of this computer, and access to your own settings was denied as well. Ask "
                             "whoever looks after this computer to check the permissions of your registry keys.";
            }
        }
        if (record.Kind() == TargetKind::Folder)
            return "Access was denied: the folder or its Desktop.ini may be read-only or belong to another user, "
                   "or the folder's backup is kept for all users of this computer, which needs administrator "
                   "rights.";
        return "This icon is kept for all users of this computer, and changing it needs administrator rights. "
               "Run the program as administrator and try again.";
    case ChangeResult::WriteFailed:
        return "Windows could not write the setting into the registry or into the folder's Desktop.ini.";
    case ChangeResult::Done:
        break;
    }
    return "";
}

} // namespace

bool CanTakeIcon(ChangeIconDialog& record)
{
    return record.Kind() != TargetKind::File || NamesFileClass(FileExtension(record.TargetPath));
}

void FormatHeadline(ChangeIconDialog& record, char* out, std::size_t outSize)
{
    if (out == nullptr || outSize == 0)
        return;
    const FileNameParts parts = SplitFileName(record.TargetPath);
    const int nameLength = static_cast<int>(parts.Name.size() + parts.Extension.size());
    char name[TextCapacity + 1];
    const char* word = "";
    switch (record.Kind()) {
    case TargetKind::Folder:
        word = "Folder";
        std::snprintf(name, sizeof name, "%.*s", nameLength, parts.Name.data());
        break;
    case TargetKind::File:
        if (!CanTakeIcon(record)) {
            std::snprintf(out, outSize,
                          "The file '%.*s' has no extension. Windows gives icons to file types, so this "
                          "file cannot have an icon of its own.",
                          nameLength, parts.Name.data());
            return;
        }
        if (record.AllOfType()) {
            word = "Type";
            std::snprintf(name, sizeof name, "*%.*s", static_cast<int>(parts.Extension.size()),
                          parts.Extension.data());
        } else {
            word = "File";
            std::snprintf(name, sizeof name, "%.*s", nameLength, parts.Name.data());
        }
        break;
    case TargetKind::Drive:
        word = "Drive";
        std::snprintf(name, sizeof name, "%s", record.TargetPath);
        break;
    default:
        name[0] = '\0';
        break;
    }
    std::snprintf(out, outSize, HeadlineFormat, word, name);
}

void FormatChangeFailure(ChangeIconDialog& record, ChangeResult result, const char* action, char* out,
                         std::size_t outSize)
{
    if (out == nullptr || outSize == 0)
        return;
    char target[TextCapacity + 64];
    DescribeTarget(record, target, sizeof target);
    std::snprintf(out, outSize, "The icon of %s could not be %s.\n\n%s", target, action ? action : "changed",
                  FailureReason(record, result));
}

void FormatRemoveFailure(LONG status, char* out, std::size_t outSize)
{
    if (out == nullptr || outSize == 0)
        return;
    if (status == ERROR_ACCESS_DENIED)
        std::snprintf(out, outSize,
                      "Not all Orvane settings could be removed from the registry.\n\nAccess was denied. Your "
                      "own settings are removed wherever the registry allowed it; those kept for all users of "
                      "this computer need administrator rights to be removed. Run the program as "
                      "administrator and try again.");
    else
        std::snprintf(out, outSize,
                      "Not all Orvane settings could be removed from the registry.\n\nWindows reported "
                      "error %ld.",
                      static_cast<long>(status));
}

} // namespace orvane
