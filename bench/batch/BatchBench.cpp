// How long a tree of folders takes to be given an icon through the store's batch (each
// folder opened, backed up and changed as if alone, the shell told once at the end), and
// to be restored, against the floor measured in the same rounds: the same Desktop.ini
// entries written with the platform's profile functions and the same attributes set
// (hidden and system on the file, system on the folder), nothing else; and the earlier
// icon written back the same way. The floor and ours take turns, round by round, so that
// a machine that slows down in between slows both; each ratio is the median of the
// rounds', with their spread. Then, once per size, what the batch's parts take alone: the
// opening of each target, the question what a restore would do, the store's Desktop.ini
// writer, the tree walk; and the time per folder and the process's peak memory, to show
// how they grow from one size to the next.
//
// Usage: orvane_batch_bench [ROUNDS (1 to 9, 3 by default)] [FOLDERS ...] (1000 and 10000
// by default; each size a tree of folders of at most 100 folders each)
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "Batch.h"
#include "BenchStep.h"
#include "FolderIcons.h"
#include "FolderTree.h"
#include "IconTarget.h"
#include "ShellNotify.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

const wchar_t Section[] = L".ShellClassInfo";

// The entries the store writes for "path,index" (IconFile, IconIndex and IconResource),
// and the attributes that make Explorer read them.
void FloorWrite(const std::vector<std::wstring>& folders, const std::wstring& icon, int index)
{
    const std::wstring indexText = std::to_wstring(index);
    const std::wstring resource = icon + L"," + indexText;
    for (const std::wstring& folder : folders) {
        const std::wstring desktopIni = folder + L"\\Desktop.ini";
        WritePrivateProfileStringW(Section, L"IconFile", icon.c_str(), desktopIni.c_str());
        WritePrivateProfileStringW(Section, L"IconIndex", indexText.c_str(), desktopIni.c_str());
        WritePrivateProfileStringW(Section, L"IconResource", resource.c_str(), desktopIni.c_str());
        SetFileAttributesW(desktopIni.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_SYSTEM);
    }
}

// A tree of `count` folders below root: folders of 100 folders each, the last one fewer.
std::vector<std::wstring> MakeTree(const std::wstring& root, std::size_t count)
{
    CreateDirectoryW(root.c_str(), nullptr);
    std::vector<std::wstring> folders;
    for (std::size_t i = 0; folders.size() < count; ++i) {
        const std::wstring top = root + L"\\" + std::to_wstring(i);
        CreateDirectoryW(top.c_str(), nullptr);
        for (std::size_t j = 0; j < 100 && folders.size() < count; ++j) {
            folders.push_back(top + L"\\" + std::to_wstring(j));
            CreateDirectoryW(folders.back().c_str(), nullptr);
        }
    }
    return folders;
}

void RemoveTree(const std::wstring& root)
{
    std::vector<std::wstring> walked;
    std::vector<orvane::TreeProblem> problems;
    orvane::CollectFolderTree(root, walked, problems);
    for (auto it = walked.rbegin(); it != walked.rend(); ++it) {
        const std::wstring desktopIni = *it + L"\\Desktop.ini";
        SetFileAttributesW(desktopIni.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(desktopIni.c_str());
        SetFileAttributesW(it->c_str(), FILE_ATTRIBUTE_NORMAL);
        RemoveDirectoryW(it->c_str());
    }
}

// The rounds' figures of one side: their median and spread.
struct Figures {
    std::vector<double> Values;
    double Median() const
    {
        std::vector<double> sorted = Values;
        std::sort(sorted.begin(), sorted.end());
        const std::size_t n = sorted.size();
        return n == 0 ? 0.0 : n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    }
    double Least() const { return Values.empty() ? 0.0 : *std::min_element(Values.begin(), Values.end()); }
    double Most() const { return Values.empty() ? 0.0 : *std::max_element(Values.begin(), Values.end()); }
};

void PrintRatio(std::size_t count, const Figures& ours, const Figures& floor, const Figures& ratios, const char* what)
{
    std::printf("batch folders %zu: %s ours %.2f s, floor %.2f s (medians of %zu rounds), ratio %.2f "
                "(spread %.2f-%.2f), %.3f ms per folder\n",
                count, what, ours.Median(), floor.Median(), ratios.Values.size(), ratios.Median(), ratios.Least(),
                ratios.Most(), ours.Median() * 1000.0 / static_cast<double>(count));
}

struct Sizes {
    std::size_t PeakWorkingSet = 0;
    std::size_t PeakPrivate = 0;
};

Sizes PeakMemory()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    Sizes sizes;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
        sizes.PeakWorkingSet = counters.PeakWorkingSetSize;
        sizes.PeakPrivate = counters.PeakPagefileUsage;
    }
    return sizes;
}

// What the rounds of one size measured.
struct Rounds {
    Figures FloorApply, FloorRestore, OursApply, OursRestore, ApplyRatios, RestoreRatios;
    double OpeningForApply = 0;
    double OpeningForRestore = 0;
    std::size_t Opened = 0;
    std::size_t Restorable = 0;
    bool Whole = true; // every round changed and restored every folder
};

// The floor's apply and restore, then ours, `rounds` times over the folders, which hold
// the floor's earlier icon to begin with; in the first round also what ours reads before
// it writes: each target opened as the dialog opens it (its Desktop.ini read, its backups
// looked for), and, before the restore, asked what a restore would do.
Rounds MeasureRounds(const std::vector<std::wstring>& folders, const std::wstring& icon, int rounds, DWORD limit)
{
    const std::size_t count = folders.size();
    // Ours: the leaves named one by one, as a selection of folders, so that both sides
    // change the same folders; the walk of the whole tree measured apart.
    orvane::BatchRequest request;
    request.IconPath = icon;
    request.Index = 3;
    request.Paths = folders;
    orvane::ShellNotifier notifier;
    Rounds r;
    // A step timed whole, under its limit.
    const auto timed = [limit](const std::string& name, auto&& step) {
        const auto start = Clock::now();
        orvane::bench::RunStep(name, limit, step);
        return Seconds(start);
    };
    for (int round = 0; round < rounds; ++round) {
        const std::string name = " (" + std::to_string(count) + " folders, round " + std::to_string(round + 1) + ")";
        r.FloorApply.Values.push_back(timed("floor apply" + name, [&] { FloorWrite(folders, icon, 3); }));
        r.FloorRestore.Values.push_back(timed("floor restore" + name, [&] { FloorWrite(folders, icon, 1); }));
        if (round == 0)
            r.OpeningForApply = timed("opening before an apply" + name, [&] {
                for (const std::wstring& folder : folders)
                    r.Opened += orvane::OpenTarget(folder.c_str()).Current.has_value();
            });
        orvane::BatchResult applied;
        request.Operation = orvane::BatchOperation::Apply;
        r.OursApply.Values.push_back(timed("apply" + name, [&] {
            applied = orvane::RunBatch(request, notifier);
            notifier.Send();
        }));
        if (round == 0)
            r.OpeningForRestore = timed("asking what a restore would do" + name, [&] {
                for (const std::wstring& folder : folders)
                    r.Restorable += orvane::OpenTarget(folder.c_str()).WhatRestoreWouldDo() ==
                                    orvane::RestoreOutcome::Restores;
            });
        orvane::BatchResult restored;
        request.Operation = orvane::BatchOperation::Restore;
        r.OursRestore.Values.push_back(timed("restore" + name, [&] {
            restored = orvane::RunBatch(request, notifier);
            notifier.Send();
        }));
        r.ApplyRatios.Values.push_back(r.OursApply.Values.back() / std::max(r.FloorApply.Values.back(), 1e-9));
        r.RestoreRatios.Values.push_back(r.OursRestore.Values.back() / std::max(r.FloorRestore.Values.back(), 1e-9));
        if (applied.Changed != count || restored.Changed != count) {
            std::printf("batch folders %zu: round %d changed %zu and restored %zu, failures %zu\n", count, round + 1,
                        applied.Changed, restored.Changed, applied.Failures.size() + restored.Failures.size());
            r.Whole = false;
        }
    }
    return r;
}

// Gives `count` folders their icons and takes them back `rounds` times against the floor,
// then measures the parts alone. False when the batch did not change every folder.
bool MeasureSize(const std::wstring& base, const std::wstring& icon, std::size_t count, int rounds)
{
    const std::wstring root = base + L"\\tree" + std::to_wstring(count);
    const std::string sizeName = std::to_string(count);
    // Each step's limit is several times what it takes on a busy two-core machine.
    const DWORD limit = 60 + static_cast<DWORD>(count / 50);
    std::vector<std::wstring> folders;
    orvane::bench::RunStep("make a tree of " + sizeName + " folders", limit, [&] { folders = MakeTree(root, count); });
    // Every folder has an icon of its own first (as Windows would have written it), so
    // that a change keeps a backup and a restore has something to put back: the floor's
    // restore writes that earlier icon again.
    FloorWrite(folders, icon, 1);
    const Rounds r = MeasureRounds(folders, icon, rounds, limit);

    // The store's Desktop.ini writer alone (what it reads of the file first, its three
    // entries, the attributes), without opening, scope or backup: the rest of ours.
    auto start = Clock::now();
    orvane::bench::RunStep("the Desktop.ini writer (" + sizeName + " folders)", limit, [&] {
        for (const std::wstring& folder : folders)
            orvane::WriteFolderIcon(orvane::IconLocation(icon.c_str(), folder.c_str(), 3));
    });
    const double writer = Seconds(start);
    std::vector<std::wstring> walked;
    std::vector<orvane::TreeProblem> problems;
    start = Clock::now();
    orvane::bench::RunStep("the tree walk (" + sizeName + " folders)", limit,
                           [&] { orvane::CollectFolderTree(root, walked, problems); });
    const double walk = Seconds(start);

    PrintRatio(count, r.OursApply, r.FloorApply, r.ApplyRatios, "apply");
    PrintRatio(count, r.OursRestore, r.FloorRestore, r.RestoreRatios, "restore");
    std::printf("batch folders %zu: opening each target before an apply %.2f s (%zu with an icon)\n", count,
                r.OpeningForApply, r.Opened);
    std::printf("batch folders %zu: opening each target and asking what a restore would do %.2f s (%zu restorable)\n",
                count, r.OpeningForRestore, r.Restorable);
    std::printf("batch folders %zu: the store's Desktop.ini writer alone %.2f s\n", count, writer);
    std::printf("batch folders %zu: the tree walk %zu folders in %.3f s\n", count, walked.size(), walk);
    const Sizes peak = PeakMemory();
    std::printf("batch folders %zu: peak memory so far %.1f MB working set, %.1f MB private\n", count,
                static_cast<double>(peak.PeakWorkingSet) / (1024.0 * 1024.0),
                static_cast<double>(peak.PeakPrivate) / (1024.0 * 1024.0));
    std::fflush(stdout);
    orvane::bench::RunStep("removing the tree (" + sizeName + " folders)", limit, [&] { RemoveTree(root); });
    RemoveDirectoryW(root.c_str());
    return r.Whole;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const int rounds = argc > 1 ? _wtoi(argv[1]) : 3;
    std::vector<std::size_t> sizes;
    for (int i = 2; i < argc; ++i)
        sizes.push_back(static_cast<std::size_t>(_wtoi(argv[i])));
    if (sizes.empty())
        sizes = {1000, 10000};
    const bool sizesFit = std::all_of(sizes.begin(), sizes.end(), [](std::size_t n) { return n > 0 && n <= 100000; });
    if (rounds < 1 || rounds > 9 || !sizesFit) {
        std::fprintf(stderr, "usage: orvane_batch_bench [ROUNDS (1 to 9)] [FOLDERS (1 to 100000) ...]\n");
        return 2;
    }
    wchar_t temp[MAX_PATH];
    wchar_t system[MAX_PATH];
    if (GetTempPathW(MAX_PATH, temp) == 0 || GetSystemDirectoryW(system, MAX_PATH) == 0)
        return 1;
    const std::wstring icon = std::wstring(system) + L"\\shell32.dll";
    const std::wstring base = std::wstring(temp) + L"orvane-batch-bench-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(base.c_str(), nullptr);
    bool whole = true;
    for (const std::size_t count : sizes)
        whole = MeasureSize(base, icon, count, rounds) && whole;
    RemoveDirectoryW(base.c_str());
    return whole ? 0 : 1;
}
