#include "FileIconResolution.h"

#include <cwchar>
#include <iterator>
#include <string_view>

#include "FileIconTable.h"
#include "FileTypeIcons.h"
#include "IconTarget.h"
#include "PathText.h"
#include "Registry.h"

namespace orvane {

namespace {

// A record without an icon path says nothing about where the icon is.
bool Usable(const std::optional<IconLocation>& location)
{
    return location.has_value() && location->IconPath[0] != L'\0';
}

bool NamesFileItself(const IconLocation& location) { return std::wcsstr(location.IconPath, L"%1") != nullptr; }

struct Found {
    FileIconRule Rule = FileIconRule::FileItself;
    std::optional<IconLocation> Location;
};

std::optional<IconLocation> AskPrevious(const wchar_t* className, std::optional<Scope> handlerScope,
                                        const wchar_t* path, PreviousIconHandler askPrevious)
{
    if (askPrevious == nullptr)
        return std::nullopt;
    wchar_t clsidText[TextCapacity] = {};
    if (!ReadPreviousIconHandlerText(className, handlerScope, clsidText) || std::wcslen(clsidText) < 2)
        return std::nullopt;
    return askPrevious(clsidText, path);
}

// The type's answer when the table has none. The class is read once and each of its keys
// at most once (in this user's classes, then all users'): Explorer asks this for every
// file of the class that it shows.
Found ReadTypeAnswer(const wchar_t* extension, const wchar_t* path, PreviousIconHandler askPrevious)
{
    wchar_t className[TextCapacity] = {};
    if (!ReadExtensionClass(extension, className))
        return {};
    std::optional<IconLocation> typeIcon = LookupClassIcon(HKEY_CLASSES_ROOT, className, nullptr);
    // The shell consults an icon handler only while DefaultIcon says "%1".
    const std::optional<Scope> handlerScope = Usable(typeIcon) && NamesFileItself(*typeIcon)
                                                  ? OwnIconHandlerScope(typeIcon->TypeKey)
                                                  : std::nullopt;
    const bool installed = handlerScope.has_value();
    if (installed) {
        std::optional<IconLocation> chosen = LookupClassIcon(HKEY_CLASSES_ROOT, className, HandlerIconValue);
        if (Usable(chosen))
            return {FileIconRule::HandlerIconInfo, chosen};
    }
    // Installing keeps the previous handler and DefaultIcon text in the class where
    // DefaultIcon was found (at the end of a CurVer chain).
    std::optional<IconLocation> previous =
        AskPrevious(Usable(typeIcon) ? typeIcon->TypeKey : className, handlerScope, path, askPrevious);
    if (Usable(previous))
        return {FileIconRule::PreviousHandler, previous};
    if (installed) {
        std::optional<IconLocation> backup = ReadTypeIconBeforeHandler(typeIcon->TypeKey, handlerScope);
        if (Usable(backup))
            return {FileIconRule::DefaultIconBackup, backup};
    }
    if (Usable(typeIcon))
        return {FileIconRule::DefaultIcon, typeIcon};
    return {};
}

} // namespace

FileIconAnswer ResolveFileIcon(const wchar_t* path, PreviousIconHandler askPrevious)
{
    FileIconAnswer answer;
    // A missing path, a folder or a drive root is not the handler's to answer.
    if (path == nullptr || path[0] == L'\0' || wcsnlen(path, TextCapacity) >= TextCapacity ||
        ClassifyTarget(path) != TargetKind::File)
        return answer;

    // An extension too long for a key name names no class.
    wchar_t extension[TextCapacity] = {};
    const std::wstring_view text = FileExtension(path);
    const bool hasExtension =
        !text.empty() && text.size() <= MaxKeyNameLength && CopyText(extension, std::size(extension), text);

    Found found;
    std::optional<IconLocation> entry = ReadFileIcon(path);
    if (Usable(entry))
        found = {FileIconRule::TableEntry, entry};
    else if (hasExtension)
        found = ReadTypeAnswer(extension, path, askPrevious);

    answer.Rule = found.Rule;
    const wchar_t* answerPath = path;
    if (found.Location) {
        answer.Index = found.Location->Index == NoIndex ? 0 : found.Location->Index;
        if (!NamesFileItself(*found.Location))
            answerPath = found.Location->IconPath;
    }
    CopyText(answer.IconPath, std::size(answer.IconPath), answerPath);
    return answer;
}

} // namespace orvane
