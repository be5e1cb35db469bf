// What comes in from a settings file: each setting checked, pointed at this computer's
// paths and given to its target as an ordinary change.
#include "SettingsTransfer.h"

#include <iterator>
#include <new>

#include "Fnv1a.h"
#include "IconSources.h"
#include "MadeIconChanges.h"
#include "MadeIconFile.h"
#include "ShellNotify.h"
#include "TypeStandIn.h"

namespace orvane {

namespace {

bool StartsWithIgnoringCase(const std::wstring& text, const std::wstring& start)
{
    return start.size() <= text.size() &&
           CompareStringOrdinal(text.c_str(), static_cast<int>(start.size()), start.c_str(),
                                static_cast<int>(start.size()), TRUE) == CSTR_EQUAL;
}

bool SameText(const wchar_t* a, const wchar_t* b) { return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL; }

// The target kind a setting's path must name here.
TargetKind PathKindOf(SettingKind kind)
{
    switch (kind) {
    case SettingKind::Folder: return TargetKind::Folder;
    case SettingKind::Drive: return TargetKind::Drive;
    default: return TargetKind::File;
    }
}

const wchar_t* KindNoun(SettingKind kind)
{
    switch (kind) {
    case SettingKind::Folder: return L"folder";
    case SettingKind::Drive: return L"drive";
    default: return L"file";
    }
}

// Whether the target already shows the setting's icon.
bool ShowsAlready(const IconTarget& target, const ExportedSetting& setting, const std::wstring& source)
{
    if (!target.Current || (setting.Kind == SettingKind::File && target.AllOfType()))
        return false;
    if (setting.Made) {
        const std::wstring made = MadeIconName(Fnv1a64(setting.MadeIcon.data(), setting.MadeIcon.size()));
        std::wstring_view shown = target.Current->IconPath;
        shown.remove_prefix(shown.find_last_of(L"\\/") == std::wstring_view::npos ? 0 : shown.find_last_of(L"\\/") + 1);
        return target.Current->Index == 0 &&
               CompareStringOrdinal(shown.data(), static_cast<int>(shown.size()), made.c_str(),
                                    static_cast<int>(made.size()), TRUE) == CSTR_EQUAL;
    }
    return target.Current->Index == setting.Index && SameText(target.Current->IconPath, source.c_str());
}

class SettingImport {
public:
    SettingImport(const ExportedSetting& setting, const ImportOptions& options, ShellNotifier& notifier,
                  ImportedSetting& result)
        : setting_(setting), options_(options), notifier_(notifier), result_(result)
    {
        result_.Kind = setting.Kind;
        result_.Target = setting.Target;
    }

    void Run()
    {
        if (const wchar_t* problem = SettingProblem(setting_))
            return Finish(ImportOutcome::Refused, problem);
        if (setting_.Kind == SettingKind::Type)
            return RunType();
        const std::optional<std::wstring> target = MapSettingPath(setting_.Target, options_.Maps);
        if (!target)
            return Finish(ImportOutcome::Refused, L"its path does not fit into 259 characters here");
        result_.Target = *target;
        // A drive's root stays a root: only a letter's own map changes it.
        if (setting_.Kind == SettingKind::Drive ? target->size() != 3 || (*target)[1] != L':' || (*target)[2] != L'\\'
                                                : false)
            return Finish(ImportOutcome::Refused, L"its drive is mapped to a path that is no drive's root");
        if (const wchar_t* problem = setting_.Kind == SettingKind::Drive ? nullptr : TargetPathProblem(*target))
            return Finish(ImportOutcome::Refused, problem);
        if (!FindSource())
            return;
        // A path that names nothing would classify as a folder (its attributes read as all
        // ones), so that its existence is asked first.
        if (GetFileAttributesW(target->c_str()) == INVALID_FILE_ATTRIBUTES)
            return Finish(ImportOutcome::Skipped, std::wstring(L"no such ") + KindNoun(setting_.Kind) + L" here");
        IconTarget opened = OpenTarget(target->c_str(), options_.Scope);
        if (opened.PathKind() == TargetKind::Unclassified)
            return Finish(ImportOutcome::Skipped, std::wstring(L"no such ") + KindNoun(setting_.Kind) + L" here");
        if (opened.PathKind() != PathKindOf(setting_.Kind))
            return Finish(ImportOutcome::Skipped, std::wstring(L"is not a ") + KindNoun(setting_.Kind) + L" here");
        // A file without an entry of its own shows its type's icon, which is not its own.
        const bool readsOwnIcon = setting_.Kind != SettingKind::File || !opened.AllOfType();
        opened.SetAllOfType(false);
        Change(opened, readsOwnIcon);
    }

private:
    void Finish(ImportOutcome outcome, const std::wstring& reason = {})
    {
        result_.Outcome = outcome;
        result_.Reason = reason;
    }

    // The source as this computer names it; a missing source skips the setting.
    bool FindSource()
    {
        if (setting_.Made)
            return true;
        const std::optional<std::wstring> mapped = MapSettingPath(setting_.IconPath, options_.Maps);
        wchar_t expanded[TextCapacity];
        if (!mapped || !ExpandIconPath(setting_.IconPath.c_str(), expanded)) {
            Finish(ImportOutcome::Refused, L"its icon source does not fit into 259 characters here");
            return false;
        }
        // A source no map changed keeps its environment references, as it was written.
        source_ = *mapped == expanded ? setting_.IconPath : *mapped;
        if (const wchar_t* problem = SourcePathProblem(*mapped)) {
            Finish(ImportOutcome::Refused, problem);
            return false;
        }
        // A source without a folder is found on the system's search path when it is used.
        if (mapped->find_first_of(L"\\/") != std::wstring::npos &&
            GetFileAttributesW(mapped->c_str()) == INVALID_FILE_ATTRIBUTES) {
            Finish(ImportOutcome::Skipped, L"its icon source " + *mapped + L" is missing here");
            return false;
        }
        return true;
    }

    void RunType()
    {
        if (!FindSource())
            return;
        TypeStandIn standIn(setting_.Target.c_str());
        if (!standIn.Made())
            return Finish(ImportOutcome::Failed, L"no file of the type could be made to stand for it");
        IconTarget opened = OpenTarget(standIn.Path(), options_.Scope);
        opened.SetAllOfType(true);
        Change(opened, true);
    }

    void Change(IconTarget& target, bool readsOwnIcon)
    {
        if (readsOwnIcon && ShowsAlready(target, setting_, source_))
            return Finish(ImportOutcome::Unchanged);
        if (options_.DryRun)
            return Finish(ImportOutcome::WouldChange);
        ChangeResult result = ChangeResult::PathTooLong;
        if (setting_.Made) {
            result = ApplyMadeBytes(target, setting_.MadeIcon);
        } else if (target.SetCurrentIconPath(source_.c_str())) {
            target.SetCurrentIndex(setting_.Index);
            result = target.ApplyIcon();
        }
        result_.Result = result;
        result_.ChangedScope = target.ChangedScope();
        result_.Refused = target.LastRefusal();
        if (result != ChangeResult::Done)
            return Finish(ImportOutcome::Failed);
        notifier_.Add(target);
        Finish(ImportOutcome::Changed);
    }

    const ExportedSetting& setting_;
    const ImportOptions& options_;
    ShellNotifier& notifier_;
    ImportedSetting& result_;
    std::wstring source_;
};

} // namespace

std::optional<std::wstring> MapSettingPath(const std::wstring& path, const std::vector<PathMap>& maps)
{
    wchar_t expanded[TextCapacity];
    if (!ExpandIconPath(path.c_str(), expanded))
        return std::nullopt;
    std::wstring result = expanded;
    const PathMap* longest = nullptr;
    for (const PathMap& map : maps) {
        if (map.From.empty() || !StartsWithIgnoringCase(result, map.From))
            continue;
        const bool whole = result.size() == map.From.size() || map.From.back() == L'\\' ||
                           result[map.From.size()] == L'\\' || result[map.From.size()] == L'/';
        if (whole && (longest == nullptr || map.From.size() > longest->From.size()))
            longest = &map;
    }
    if (longest != nullptr)
        result = longest->To + result.substr(longest->From.size());
    if (result.size() >= TextCapacity)
        return std::nullopt;
    return result;
}

std::size_t ImportReport::Count(ImportOutcome outcome) const
{
    std::size_t count = 0;
    for (const ImportedSetting& setting : Settings)
        count += setting.Outcome == outcome;
    return count;
}

ImportReport ImportSettings(const SettingsDocument& document, const ImportOptions& options,
                            ShellNotifier& notifier) noexcept
{
    ImportReport report;
    try {
        report.Settings.resize(document.Settings.size());
    } catch (const std::bad_alloc&) {
        return report;
    }
    for (std::size_t i = 0; i < document.Settings.size(); ++i) {
        try {
            SettingImport(document.Settings[i], options, notifier, report.Settings[i]).Run();
        } catch (const std::bad_alloc&) {
            report.Settings[i].Outcome = ImportOutcome::Failed;
            report.Settings[i].Result = ChangeResult::WriteFailed;
        }
    }
    return report;
}

} // namespace orvane
