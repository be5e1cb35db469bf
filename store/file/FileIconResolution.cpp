#include "FileIconResolution.h"

#include <cstdint>
#include <cwchar>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ClassIconHandler.h"
#include "ResolutionCache.h"
#include "FileIconFollow.h"
#include "FileIconTable.h"
#include "FileIdentity.h"
#include "FileTypeIcons.h"
#include "HandlerPlaceholder.h"
#include "OrphanIndex.h"
#include "PathText.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "Scope.h"
#include "TargetKind.h"

namespace orvane {

// One rule's location, kept without the record's other fields.
struct RuleLocation {
    FileIconRule Rule = FileIconRule::FileItself;
    std::wstring IconPath;
    std::int32_t Index = NoIndex;
};

// What a file of an extension is answered from when the table has no entry for it.
struct TypeAnswer {
    // "HandlerIconInfo" while this extension is the handler: it comes before all below.
    std::optional<RuleLocation> Chosen;
    // The previous handler's class identifier text, at least two characters; empty: none.
    std::wstring PreviousHandler;
    // What answers when the previous handler does not: DefaultIconBAK's text while this
    // extension is the handler, else DefaultIcon. None: the file itself.
    std::optional<RuleLocation> Fallback;
};

namespace {

// "%1" anywhere in a location's path stands for the file itself.
bool NamesFileItself(const wchar_t* iconPath) { return std::wcsstr(iconPath, HandlerIconText) != nullptr; }

RuleLocation Located(FileIconRule rule, const IconLocation& location)
{
    return {rule, location.IconPath, location.Index};
}

// Reads the type's answer. The class is that of the extension as this user sees it; its
// keys are read in this user's classes, then all users'.
std::shared_ptr<const TypeAnswer> ReadTypeAnswer(const wchar_t* extension)
{
    auto answer = std::make_shared<TypeAnswer>();
    const UserClassesReading reading;
    wchar_t className[TextCapacity] = {};
    if (!ReadExtensionClass(extension, className))
        return answer;
    std::optional<IconLocation> typeIcon = LookupClassIcon(HKEY_CLASSES_ROOT, className, nullptr);
    // The shell consults an icon handler only while DefaultIcon says "%1".
    const std::optional<Scope> handlerScope = HasIconPath(typeIcon) && NamesFileItself(typeIcon->IconPath)
                                                  ? OwnIconHandlerScope(typeIcon->TypeKey)
                                                  : std::nullopt;
    if (handlerScope) {
        std::optional<IconLocation> chosen = LookupClassIcon(HKEY_CLASSES_ROOT, className, HandlerIconValue);
        if (HasIconPath(chosen)) {
            answer->Chosen = Located(FileIconRule::HandlerIconInfo, *chosen);
            return answer;
        }
    }
    // Installing keeps the previous handler and DefaultIcon text in the class where
    // DefaultIcon was found (at the end of a CurVer chain).
    wchar_t clsidText[TextCapacity] = {};
    if (ReadPreviousIconHandlerText(HasIconPath(typeIcon) ? typeIcon->TypeKey : className, handlerScope, clsidText) &&
        std::wcslen(clsidText) >= 2)
        answer->PreviousHandler = clsidText;
    if (handlerScope) {
        std::optional<IconLocation> backup = ReadTypeIconBeforeHandler(typeIcon->TypeKey, handlerScope);
        if (HasIconPath(backup)) {
            answer->Fallback = Located(FileIconRule::DefaultIconBackup, *backup);
            return answer;
        }
    }
    if (HasIconPath(typeIcon))
        answer->Fallback = Located(FileIconRule::DefaultIcon, *typeIcon);
    return answer;
}

FileFacts ReadFacts(const wchar_t* path, const wchar_t* extension)
{
    FileFacts facts;
    facts.Entry = ReadFileIcon(path);
    if (!HasIconPath(facts.Entry) && extension != nullptr)
        facts.Type = ReadTypeAnswer(extension);
    return facts;
}

ResolutionCache& Cache()
{
    static ResolutionCache cache(ReadTypeAnswer);
    return cache;
}

OrphanIndex& Orphans()
{
    static OrphanIndex orphans;
    return orphans;
}

// The identity recorded with the path's entry, from the scope whose entry answers.
std::optional<FileIdentity> RecordedIdentity(const wchar_t* path)
{
    for (Scope scope : {Scope::ThisUser, Scope::AllUsers}) {
        if (ReadFileIconText(path, scope))
            return ReadFileIconIdentity(path, scope);
    }
    return std::nullopt;
}

// Where the entries whose file is gone say a moved file's icon is (OrphanIndex.h). A file
// at a path that was lost keeps its entry only when it is the file the entry records; a
// file without an entry (or whose entry it is not) takes the entry of an orphan whose
// file the last walk found at its path, while that entry is as the walk read it and the
// file is still that one. Costs nothing while nothing is lost, and otherwise one open of
// the file, only for the paths the walk named.
void AnswerMovedFile(const wchar_t* path, const wchar_t* extension, FileFacts& facts)
{
    const std::shared_ptr<const OrphanIndex::Found> found = Orphans().Current();
    if (!found || found->Empty())
        return;
    const std::wstring_view asked(path);
    std::optional<FileIdentity> identity;
    if (HasIconPath(facts.Entry)) {
        if (found->Lost.find(asked) == found->Lost.end())
            return;
        const std::optional<FileIdentity> recorded = RecordedIdentity(path);
        identity = ReadFileIdentity(path);
        if (!recorded || (identity && *identity == *recorded))
            return;
        // Another file at a lost path: the type answers unless it is itself a moved file.
        facts.Entry.reset();
        facts.Type = extension != nullptr ? ReadTypeAnswer(extension) : nullptr;
    }
    const auto moved = found->Moved.find(asked);
    if (moved == found->Moved.end())
        return;
    const OrphanIndex::Orphan& orphan = moved->second;
    if (!identity)
        identity = ReadFileIdentity(path);
    if (!identity || *identity != orphan.Identity)
        return;
    const std::optional<std::wstring> text = ReadFileIconText(orphan.Path.c_str(), orphan.Where);
    if (!text || *text != orphan.Text)
        return;
    std::optional<IconLocation> entry = FileIconFromText(path, text->c_str());
    if (HasIconPath(entry))
        facts.Entry = std::move(entry);
}

// The rule that answers, and the location it gives.
struct AnsweringRule {
    FileIconRule Rule = FileIconRule::FileItself;
    const wchar_t* IconPath = nullptr; // null: the file itself
    std::int32_t Index = NoIndex;
};

AnsweringRule FromRule(const RuleLocation& location)
{
    return {location.Rule, location.IconPath.c_str(), location.Index};
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

    FileFacts facts;
    if (!Cache().Read(path, hasExtension ? extension : nullptr, facts))
        facts = ReadFacts(path, hasExtension ? extension : nullptr);
    AnswerMovedFile(path, hasExtension ? extension : nullptr, facts);

    AnsweringRule answering;
    std::optional<IconLocation> previous;
    if (HasIconPath(facts.Entry)) {
        answering = {FileIconRule::TableEntry, facts.Entry->IconPath, facts.Entry->Index};
    } else if (facts.Type) {
        const TypeAnswer& type = *facts.Type;
        if (type.Chosen) {
            answering = FromRule(*type.Chosen);
        } else {
            // Only an existing backup costs the previous handler's COM work.
            if (askPrevious != nullptr && !type.PreviousHandler.empty())
                previous = askPrevious(type.PreviousHandler.c_str(), path);
            if (HasIconPath(previous))
                answering = {FileIconRule::PreviousHandler, previous->IconPath, previous->Index};
            else if (type.Fallback)
                answering = FromRule(*type.Fallback);
        }
    }

    answer.Rule = answering.Rule;
    const wchar_t* answerPath = path;
    if (answering.IconPath != nullptr) {
        answer.Index = answering.Index == NoIndex ? 0 : answering.Index;
        if (!NamesFileItself(answering.IconPath))
            answerPath = answering.IconPath;
    }
    CopyText(answer.IconPath, std::size(answer.IconPath), answerPath);
    return answer;
}

} // namespace orvane
