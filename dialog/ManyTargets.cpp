#include "ManyTargets.h"

#include <commctrl.h>

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <set>

#include "Batch.h"
#include "DialogText.h"
#include "FileIconTable.h"
#include "IconGroupFile.h"
#include "MadeIconChanges.h"
#include "MadeSource.h"
#include "PathText.h"
#include "RecentList.h"
#include "ShellNotify.h"
#include "TargetKind.h"
#include "resource.h"

namespace orvane {

namespace {

constexpr const wchar_t NotAllChangedCaption[] = L"Orvane - Not every icon changed";
// A batch that takes longer than this shows its progress.
constexpr ULONGLONG ProgressAfterMs = 500;
// At most this many failures are named one by one.
constexpr std::size_t FailuresNamed = 20;

struct Counts {
    std::size_t Folders = 0, Files = 0, Drives = 0, Others = 0;
    std::set<std::wstring> Types;
};

Counts CountKinds(const std::vector<std::wstring>& paths)
{
    Counts counts;
    for (const std::wstring& path : paths) {
        switch (ClassifyTargetOrGoneFile(path.c_str())) {
        case TargetKind::Folder: ++counts.Folders; break;
        case TargetKind::Drive: ++counts.Drives; break;
        case TargetKind::File: {
            ++counts.Files;
            std::wstring extension(FileExtension(path));
            CharLowerBuffW(extension.data(), static_cast<DWORD>(extension.size()));
            counts.Types.insert(extension);
            break;
        }
        default: ++counts.Others; break;
        }
    }
    return counts;
}

std::wstring Counted(std::size_t n, const wchar_t* one, const wchar_t* many)
{
    return std::to_wstring(n) + L" " + (n == 1 ? one : many);
}

const wchar_t* ProblemText(BatchProblem problem)
{
    switch (problem) {
    case BatchProblem::NotFound: return L"not found";
    case BatchProblem::SubfoldersUnreadable: return L"its subfolders cannot be listed";
    case BatchProblem::NoExtension: return L"a file without an extension cannot have an icon of its own";
    case BatchProblem::PathTooLong: return L"a path is too long";
    case BatchProblem::AccessDenied: return L"access was denied";
    case BatchProblem::WriteFailed: return L"the setting could not be written";
    case BatchProblem::DesktopIniIsLink: return L"its Desktop.ini is a link to a file elsewhere";
    case BatchProblem::DesktopIniIsFolder: return L"it holds a folder named Desktop.ini";
    case BatchProblem::HandlerReplaced: return L"another icon handler serves its type now";
    case BatchProblem::HandlerNotLoadable: return L"Explorer on this PC cannot load the installed icon handler";
    }
    return L"not changed";
}

// A place other than the registry that refused is named with the system's reason.
std::wstring FailureText(const BatchFailure& failure)
{
    if (!failure.Refused)
        return ProblemText(failure.Problem);
    return RefusalWords(*failure.Refused, ClassifyTarget(failure.Path.c_str()) == TargetKind::Folder,
                        failure.Problem == BatchProblem::PathTooLong);
}

// Files that stand for their type are changed once per type.
std::vector<std::wstring> OnePerType(const std::vector<std::wstring>& paths)
{
    std::vector<std::wstring> kept;
    std::set<std::wstring> types;
    for (const std::wstring& path : paths) {
        if (ClassifyTargetOrGoneFile(path.c_str()) == TargetKind::File) {
            std::wstring extension(FileExtension(path));
            CharLowerBuffW(extension.data(), static_cast<DWORD>(extension.size()));
            if (!types.insert(extension).second)
                continue;
        }
        kept.push_back(path);
    }
    return kept;
}

// The progress bar in the icon list's place, shown once a batch has taken long enough,
// and the dialog's messages handled between targets so that it stays responsive.
class ProgressShown {
public:
    explicit ProgressShown(HWND dialog) : dialog_(dialog), start_(GetTickCount64()) {}
    ~ProgressShown()
    {
        if (bar_ != nullptr)
            DestroyWindow(bar_);
        ShowWindow(GetDlgItem(dialog_, IDC_ICONLIST), SW_SHOW);
    }
    ProgressShown(const ProgressShown&) = delete;
    ProgressShown& operator=(const ProgressShown&) = delete;

    void Step(std::size_t done, std::size_t total)
    {
        const ULONGLONG now = GetTickCount64();
        if (bar_ == nullptr && now - start_ >= ProgressAfterMs)
            Show();
        if (bar_ != nullptr && now - drawn_ >= 50) {
            SendMessageW(bar_, PBM_SETRANGE32, 0, static_cast<LPARAM>(std::max<std::size_t>(total, 1)));
            SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(done), 0);
            drawn_ = now;
        }
        PumpMessages();
    }

private:
    void Show()
    {
        HWND list = GetDlgItem(dialog_, IDC_ICONLIST);
        RECT r{};
        GetWindowRect(list, &r);
        MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&r), 2);
        const int height = std::min<int>(r.bottom - r.top, 24);
        bar_ = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, r.left, r.top + (r.bottom - r.top - height) / 2,
                               r.right - r.left, height, dialog_, nullptr, nullptr, nullptr);
        ShowWindow(list, SW_HIDE);
    }
    void PumpMessages()
    {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam));
                return;
            }
            if (!IsDialogMessageW(dialog_, &message)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
    }

    HWND dialog_;
    HWND bar_ = nullptr;
    ULONGLONG start_;
    ULONGLONG drawn_ = 0;
};

// Everything but Cancel waits while the batch runs.
void EnableControls(HWND dialog, bool enable)
{
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (GetDlgCtrlID(child) != IDCANCEL)
            EnableWindow(child, enable);
    }
    EnableMenuItem(GetMenu(dialog), 0, MF_BYPOSITION | (enable ? MF_ENABLED : MF_GRAYED));
}

void TellFailures(HWND dialog, const BatchResult& result, bool restore)
{
    if (result.Failures.empty() && !result.Cancelled)
        return;
    std::wstring text = std::to_wstring(result.Changed) + L" of " + std::to_wstring(result.Total) +
                        (restore ? L" items were restored." : L" items were changed.");
    if (result.Cancelled)
        text += L" Cancelled: the other items were left as they were.";
    if (!result.Failures.empty())
        text += restore ? L"\n\nThese could not be restored:" : L"\n\nThese could not be changed:";
    for (std::size_t i = 0; i < result.Failures.size() && i < FailuresNamed; ++i)
        text += L"\n" + result.Failures[i].Path + L": " + FailureText(result.Failures[i]);
    if (result.Failures.size() > FailuresNamed)
        text += L"\nand " + std::to_wstring(result.Failures.size() - FailuresNamed) + L" more.";
    MessageBoxW(dialog, text.c_str(), NotAllChangedCaption, MB_OK | MB_ICONWARNING);
}

bool Checked(HWND dialog, int id)
{
    return IsWindowVisible(GetDlgItem(dialog, id)) && SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::vector<std::wstring> TargetsOf(const ChangeIconDialog& record)
{
    return IsForMany(record) ? record.Targets : std::vector<std::wstring>{record.TargetPath};
}

// How OK changes each target: the made icon, a copy kept with a folder, or the source.
BatchRequest ApplyRequest(HWND dialog, ChangeIconDialog& record)
{
    BatchRequest request;
    request.AllOfType = IsForMany(record) ? Checked(dialog, IDC_ALLOFTYPE) : record.Target.AllOfType();
    request.Paths = request.AllOfType ? OnePerType(TargetsOf(record)) : TargetsOf(record);
    request.IconPath = record.Target.CurrentIconPath() ? record.Target.CurrentIconPath() : L"";
    request.Index = record.Target.CurrentIndex();
    const bool made = HasMadeIcon(record);
    const bool copy = !made && IsWindowEnabled(GetDlgItem(dialog, IDC_KEEPCOPY)) &&
                      SendDlgItemMessageW(dialog, IDC_KEEPCOPY, BM_GETCHECK, 0, 0) == BST_CHECKED;
    if (made || copy) {
        const std::vector<std::uint8_t>* bytes = &record.MadeBytes;
        request.Change = [bytes, made, source = request.IconPath, index = request.Index](IconTarget& target) {
            if (made)
                return ApplyMadeBytes(target, *bytes);
            return target.Kind() == TargetKind::Folder ? KeepCopyWithFolder(target, source.c_str(), index)
                                                       : ChangeResult::WriteFailed;
        };
    }
    return request;
}

} // namespace

bool IsForMany(const ChangeIconDialog& record) { return record.Targets.size() > 1; }

bool UsesBatch(HWND dialog, const ChangeIconDialog& record)
{
    return IsForMany(record) || Checked(dialog, IDC_SUBFOLDERS);
}

std::wstring SelectionWords(const std::vector<std::wstring>& paths, bool allOfType)
{
    const Counts counts = CountKinds(paths);
    std::vector<std::wstring> parts;
    if (counts.Drives != 0)
        parts.push_back(Counted(counts.Drives, L"drive", L"drives"));
    if (counts.Folders != 0)
        parts.push_back(Counted(counts.Folders, L"folder", L"folders"));
    if (counts.Files != 0)
        parts.push_back(allOfType ? Counted(counts.Types.size(), L"file type", L"file types")
                                  : Counted(counts.Files, L"file", L"files"));
    if (counts.Others != 0)
        parts.push_back(Counted(counts.Others, L"other item", L"other items"));
    std::wstring words;
    for (std::size_t i = 0; i < parts.size(); ++i)
        words += (i == 0 ? L"" : i + 1 == parts.size() ? L" and " : L", ") + parts[i];
    return words;
}

void FormatManyHeadline(const ChangeIconDialog& record, bool allOfType, wchar_t* out, std::size_t outSize)
{
    if (out == nullptr || outSize == 0)
        return;
    const std::wstring text = L"if you press the OK Button,the Icon for " +
                              SelectionWords(record.Targets, allOfType) + L" will be changed";
    CopyText(out, outSize, text.c_str());
}

bool AnyRestores(const std::vector<std::wstring>& paths)
{
    return std::any_of(paths.begin(), paths.end(), [](const std::wstring& path) {
        return OpenTarget(path.c_str()).WhatRestoreWouldDo() == RestoreOutcome::Restores;
    });
}

bool OnlyFolders(const std::vector<std::wstring>& paths)
{
    return std::all_of(paths.begin(), paths.end(),
                       [](const std::wstring& path) { return ClassifyTargetOrGoneFile(path.c_str()) == TargetKind::Folder; });
}

bool AnyFile(const std::vector<std::wstring>& paths)
{
    return std::any_of(paths.begin(), paths.end(),
                       [](const std::wstring& path) { return ClassifyTargetOrGoneFile(path.c_str()) == TargetKind::File; });
}

void ChangeMany(HWND dialog, ChangeIconDialog& record, bool restore)
{
    BatchRequest request;
    if (restore) {
        request.Operation = BatchOperation::Restore;
        request.Paths = TargetsOf(record);
    } else {
        request = ApplyRequest(dialog, record);
    }
    request.Recurse = Checked(dialog, IDC_SUBFOLDERS);
    record.CancelBatch = false;
    record.BatchRunning = true;
    EnableControls(dialog, false);
    ShellNotifier notifier;
    BatchResult result;
    {
        ProgressShown progress(dialog);
        result = RunBatch(request, notifier, [&progress](std::size_t done, std::size_t total) {
            progress.Step(done, total);
        }, &record.CancelBatch);
    }
    notifier.Send();
    record.BatchRunning = false;
    EnableControls(dialog, true);
    TellFailures(dialog, result, restore);
}

bool CancelRunningBatch(ChangeIconDialog& record)
{
    if (!record.BatchRunning)
        return false;
    record.CancelBatch = true;
    return true;
}

} // namespace orvane
