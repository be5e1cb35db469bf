// orvane set: every target changed through the store's batch. Without --recurse each
// PATH is a batch of its own, told as it goes in the words of its own target (and its
// trust warnings); with --recurse all the trees are one batch, with progress on a
// console and the failures listed at the end.
#include "Commands.h"

#include <windows.h>

#include <optional>
#include <string>
#include <unordered_map>

#include "BatchRun.h"
#include "ComInitialization.h"
#include "CommandTargets.h"
#include "ConsoleText.h"
#include "MadeIconChanges.h"
#include "Messages.h"
#include "SetSource.h"
#include "ShellNotify.h"
#include "TrustWarnings.h"

namespace orvane::cli {

namespace {

class SetRun {
public:
    SetRun(SetSource& source, const Invocation& invocation) : source_(source), invocation_(invocation) {}

    int Run() { return invocation_.Recurse ? RunTrees() : RunEach(); }

private:
    int RunEach();
    int RunTrees();
    BatchRequest Request();
    // The batch's change of one target; Done once it has the icon.
    ChangeResult Change(IconTarget& target) noexcept;
    ChangeResult ChangeWith(IconTarget& target);
    // A change the command line refuses before the store is asked, in its own words.
    ChangeResult Refuse(const IconTarget& target, const std::wstring& words);
    // A change the store refused, or made.
    ChangeResult Changed(const IconTarget& target, ChangeResult result);

    SetSource& source_;
    const Invocation& invocation_;
    // Without --recurse: the PATH of the running batch as given, and whether its target
    // was told of; with --recurse: the words of the command line's own refusals, by the
    // target's path, for the list at the end.
    const wchar_t* given_ = nullptr;
    bool told_ = false;
    bool trustRefused_ = false;
    std::unordered_map<std::wstring, std::wstring> refusals_;
};

BatchRequest SetRun::Request()
{
    BatchRequest request = RequestFor(invocation_, BatchOperation::Apply);
    request.Change = [this](IconTarget& target) { return Change(target); };
    return request;
}

ChangeResult SetRun::Change(IconTarget& target) noexcept
{
    try {
        return ChangeWith(target);
    } catch (...) {
        // Memory ran out while a message was made: the change is not known to be made.
        return ChangeResult::WriteFailed;
    }
}

ChangeResult SetRun::ChangeWith(IconTarget& target)
{
    if (HasNoFileType(target))
        return Changed(target, ChangeResult::NoExtension);
    if (source_.SourcePath() != nullptr && !target.SetCurrentIconPath(source_.SourcePath()))
        return Changed(target, ChangeResult::PathTooLong);
    if (!source_.IsMade()) {
        target.SetCurrentIndex(source_.SourceIndex());
        return Changed(target, target.ApplyIcon());
    }
    if (const std::wstring refusal = source_.KindRefusal(target); !refusal.empty())
        return Refuse(target, refusal);
    std::wstring problem;
    const std::vector<std::uint8_t>* bytes = source_.MadeBytes(problem);
    if (bytes == nullptr)
        return Refuse(target, problem);
    // Each folder takes the made icon inside itself, so that it keeps it when moved.
    return Changed(target, ApplyMadeBytes(target, *bytes));
}

ChangeResult SetRun::Refuse(const IconTarget& target, const std::wstring& words)
{
    if (invocation_.Recurse) {
        refusals_[target.Path()] = words;
    } else {
        told_ = true;
        Fail(given_, words);
    }
    return ChangeResult::WriteFailed;
}

ChangeResult SetRun::Changed(const IconTarget& target, ChangeResult result)
{
    // A tree's failures are listed at the end, and its changes counted.
    if (invocation_.Recurse)
        return result;
    told_ = true;
    if (!ReportChange(given_, target, result, false))
        return result;
    WriteOut(std::wstring(target.Path()) + L": " + KindWord(target) + L" icon set to " + source_.SetToWords(target) +
             L"\n");
    if (!SettleTrust(given_, target, invocation_.TrustDesktopIni))
        trustRefused_ = true;
    return result;
}

int SetRun::RunEach()
{
    int status = 0;
    ShellNotifier notifier;
    BatchRequest request = Request();
    for (const wchar_t* path : invocation_.Paths) {
        given_ = path;
        told_ = false;
        request.Paths.assign(1, path);
        const BatchResult result = RunBatch(request, notifier);
        // What names no target never reached the change.
        if (!told_) {
            for (const BatchFailure& failure : result.Failures)
                Fail(path, ProblemText(failure, false));
        }
        if (!result.Failures.empty() || result.Cancelled)
            status = 1;
    }
    notifier.Send();
    return trustRefused_ ? 1 : status;
}

int SetRun::RunTrees()
{
    // A made icon that cannot be made fails each PATH once, not each folder of its tree.
    std::wstring problem;
    if (source_.IsMade() && source_.MadeBytes(problem) == nullptr) {
        for (const wchar_t* path : invocation_.Paths)
            Fail(path, problem);
        return 1;
    }
    const BatchRequest request = Request();
    return ReportBatch(request, RunWithProgress(request), L"given the icon", [this](const BatchFailure& failure) {
        const auto refused = refusals_.find(failure.Path);
        return refused != refusals_.end() ? refused->second : ProblemText(failure, false);
    });
}

} // namespace

int SetIcon(const IconChoice& choice, const Invocation& invocation)
{
    // The imaging component needs COM on this thread while pictures are made.
    std::optional<ComInitialization> com;
    if (choice.IsPicture)
        com.emplace();
    SetSource source(choice, invocation.CopyWithFolder);
    return SetRun(source, invocation).Run();
}

int SetColour(const Invocation& invocation)
{
    const std::optional<FolderColour> colour = ParseFolderColour(invocation.Colour);
    if (!colour) {
        std::wstring names;
        for (const NamedColour& named : FolderPalette())
            names += std::wstring(names.empty() ? L"" : L", ") + named.Name;
        WriteErr(std::wstring(L"orvane: ") + invocation.Colour + L" is not a colour; give one of " + names +
                 L", or #RRGGBB\n");
        return 1;
    }
    SetSource source(*colour, invocation.Colour);
    return SetRun(source, invocation).Run();
}

} // namespace orvane::cli
