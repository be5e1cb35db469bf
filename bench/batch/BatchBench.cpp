// How long a tree of folders (100 x 100 by default) takes to be given an icon through the
// store's batch (each folder opened, backed up and changed as if alone, the shell told
// once at the end), and to be restored, against the floor measured in the same run: the
// same Desktop.ini entries written with the platform's profile functions and the same
// attributes set (hidden and system on the file, system on the folder), nothing else;
// and the earlier icon written back the same way. Also how long the tree walk alone takes, as part of ours.
//
// Usage: orvane_batch_bench [FOLDERS-PER-LEVEL]
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "Batch.h"
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

void RemoveTree(const std::wstring& root, const std::vector<std::wstring>& folders)
{
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
        const std::wstring desktopIni = *it + L"\\Desktop.ini";
        SetFileAttributesW(desktopIni.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(desktopIni.c_str());
        SetFileAttributesW(it->c_str(), FILE_ATTRIBUTE_NORMAL);
        RemoveDirectoryW(it->c_str());
    }
    RemoveDirectoryW(root.c_str());
}

void PrintRatio(std::size_t count, double ours, double floor, const char* what)
{
    std::printf("batch folders %zu: ours %.2f s, floor %.2f s, ratio %.2f (%s)\n", count, ours, floor,
                floor > 0 ? ours / floor : 0.0, what);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const int perLevel = argc > 1 ? _wtoi(argv[1]) : 100;
    if (perLevel <= 0 || perLevel > 1000) {
        std::fprintf(stderr, "usage: orvane_batch_bench [FOLDERS-PER-LEVEL (1 to 1000)]\n");
        return 2;
    }
    wchar_t temp[MAX_PATH];
    wchar_t system[MAX_PATH];
    if (GetTempPathW(MAX_PATH, temp) == 0 || GetSystemDirectoryW(system, MAX_PATH) == 0)
        return 1;
    const std::wstring icon = std::wstring(system) + L"\\shell32.dll";
    const std::wstring base = std::wstring(temp) + L"orvane-batch-bench-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring root = base + L"\\tree";
    CreateDirectoryW(base.c_str(), nullptr);
    CreateDirectoryW(root.c_str(), nullptr);
    // The tree's own folders, without its root: 100 folders of 100 folders each.
    std::vector<std::wstring> folders;
    for (int i = 0; i < perLevel; ++i) {
        const std::wstring top = root + L"\\" + std::to_wstring(i);
        CreateDirectoryW(top.c_str(), nullptr);
        for (int j = 0; j < perLevel; ++j) {
            folders.push_back(top + L"\\" + std::to_wstring(j));
            CreateDirectoryW(folders.back().c_str(), nullptr);
        }
    }
    const std::size_t count = folders.size();

    // Ours: the leaves named one by one, as a selection of folders, so that both sides
    // change the same 10,000 folders; the walk of the whole tree measured apart.
    orvane::BatchRequest request;
    request.IconPath = icon;
    request.Index = 3;
    request.Paths = folders;

    // Every folder has an icon of its own first (as Windows would have written it), so
    // that a change keeps a backup and a restore has something to put back: the floor's
    // restore writes that earlier icon again.
    FloorWrite(folders, icon, 1);
    auto start = Clock::now();
    FloorWrite(folders, icon, 3);
    const double floorApply = Seconds(start);
    start = Clock::now();
    FloorWrite(folders, icon, 1);
    const double floorRestore = Seconds(start);

    // What an apply reads before it writes: each target opened as the dialog opens it
    // (its Desktop.ini read through the profile functions, its backups looked for).
    start = Clock::now();
    std::size_t opened = 0;
    for (const std::wstring& folder : folders)
        opened += orvane::OpenTarget(folder.c_str()).Current.has_value();
    const double openingForApply = Seconds(start);

    orvane::ShellNotifier notifier;
    start = Clock::now();
    const orvane::BatchResult applied = orvane::RunBatch(request, notifier);
    notifier.Send();
    const double oursApply = Seconds(start);
    // What a restore reads before it writes: each target opened (its Desktop.ini read
    // through the profile functions, its backups in both scopes) and asked what a
    // restore would do; the part of ours that the floor does not have.
    start = Clock::now();
    std::size_t restorable = 0;
    for (const std::wstring& folder : folders)
        restorable += orvane::OpenTarget(folder.c_str()).WhatRestoreWouldDo() == orvane::RestoreOutcome::Restores;
    const double opening = Seconds(start);
    request.Operation = orvane::BatchOperation::Restore;
    start = Clock::now();
    const orvane::BatchResult restored = orvane::RunBatch(request, notifier);
    notifier.Send();
    const double oursRestore = Seconds(start);

    // The store's Desktop.ini writer alone (what it reads of the file first, its three
    // entries, the attributes), without opening, scope or backup: the rest of ours.
    start = Clock::now();
    for (const std::wstring& folder : folders)
        orvane::WriteFolderIcon(orvane::IconLocation(icon.c_str(), folder.c_str(), 3));
    const double writer = Seconds(start);
    for (const std::wstring& folder : folders)
        orvane::WriteFolderIcon(orvane::IconLocation(icon.c_str(), folder.c_str(), 1));

    std::vector<std::wstring> walked;
    std::vector<orvane::TreeProblem> problems;
    start = Clock::now();
    orvane::CollectFolderTree(root, walked, problems);
    const double walk = Seconds(start);

    PrintRatio(count, oursApply, floorApply, "apply");
    PrintRatio(count, oursRestore, floorRestore, "restore");
    std::printf("batch folders %zu: changed %zu, restored %zu, failures %zu\n", count, applied.Changed,
                restored.Changed, applied.Failures.size() + restored.Failures.size());
    std::printf("batch folders %zu: opening each target before an apply %.2f s (%zu with an icon)\n", count,
                openingForApply, opened);
    std::printf("batch folders %zu: opening each target and asking what a restore would do %.2f s (%zu restorable)\n",
                count, opening, restorable);
    std::printf("batch folders %zu: the store's Desktop.ini writer alone %.2f s\n", count, writer);
    std::printf("folder tree walk: %zu folders in %.3f s\n", walked.size(), walk);

    RemoveTree(base, walked);
    RemoveDirectoryW(base.c_str());
    return applied.Changed == count && restored.Changed == count ? 0 : 1;
}
