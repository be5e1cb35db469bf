// How large a settings file of many folders is, and how long its export and its import
// take: N folders (1,000 by default) are given icons, half from a library and half made
// icons of their own (a 32x32 image each, every one different), then exported, and
// imported into a second tree through a path map, as onto another computer; a second
// import, which finds every icon set already, is timed too. Both trees are restored and
// removed at the end. Each step runs under a time limit of its own (BenchStep.h).
//
// Usage: orvane_transfer_bench [FOLDERS]
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "BenchStep.h"
#include "IconTarget.h"
#include "MadeIconChanges.h"
#include "SettingsTransfer.h"
#include "ShellNotify.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// An icon file of one 32x32 32-bit image whose pixels carry `seed`, so that each is its own.
std::vector<std::uint8_t> MadeIcon(unsigned seed)
{
    const std::uint32_t pixels = 32 * 32 * 4, mask = 32 * 4, image = 40 + pixels + mask;
    std::vector<std::uint8_t> bytes;
    auto put = [&bytes](std::uint32_t value, int size) {
        for (int i = 0; i < size; ++i)
            bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    };
    put(0, 2), put(1, 2), put(1, 2);
    put(32, 1), put(32, 1), put(0, 1), put(0, 1), put(1, 2), put(32, 2), put(image, 4), put(22, 4);
    put(40, 4), put(32, 4), put(64, 4), put(1, 2), put(32, 2), put(0, 4), put(pixels + mask, 4);
    put(0, 4), put(0, 4), put(0, 4), put(0, 4);
    for (std::uint32_t i = 0; i < 32 * 32; ++i)
        put(0xFF000000u | (seed * 2654435761u + i), 4);
    bytes.resize(bytes.size() + mask, 0);
    return bytes;
}

std::wstring TreeRoot(const wchar_t* name)
{
    wchar_t temporary[MAX_PATH];
    GetTempPathW(MAX_PATH, temporary);
    return std::wstring(temporary) + name + std::to_wstring(GetCurrentProcessId());
}

void RestoreAndRemove(const std::wstring& root, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const std::wstring folder = root + L"\\f" + std::to_wstring(i);
        orvane::IconTarget target = orvane::OpenTarget(folder.c_str());
        target.RestoreDefault();
        WIN32_FIND_DATAW found;
        const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring file = folder + L"\\" + found.cFileName;
                SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(file.c_str());
            } while (FindNextFileW(find, &found));
            FindClose(find);
        }
        SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
        RemoveDirectoryW(folder.c_str());
    }
    RemoveDirectoryW(root.c_str());
}

// A step's limit: `base` seconds and `perFolder` milliseconds a folder, several times what
// each takes with 1,000 folders on a 2-core machine with a build beside it (giving the
// icons and removing the trees some seconds each, the export under 2 s, the import 3 to
// 12 s, the second import under 3 s).
DWORD Limit(DWORD base, DWORD perFolder, std::size_t count)
{
    return base + static_cast<DWORD>(count * perFolder / 1000);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    using orvane::bench::RunStep;
    const std::size_t count = argc > 1 ? std::wcstoul(argv[1], nullptr, 10) : 1000;
    const std::wstring from = TreeRoot(L"orvane-transfer-from-"), to = TreeRoot(L"orvane-transfer-to-");
    CreateDirectoryW(from.c_str(), nullptr);
    CreateDirectoryW(to.c_str(), nullptr);
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring library = std::wstring(system) + L"\\shell32.dll";
    std::size_t failed = 0;
    RunStep("folders given icons", Limit(60, 100, count), [&] {
        for (std::size_t i = 0; i < count; ++i) {
            const std::wstring name = L"\\f" + std::to_wstring(i);
            CreateDirectoryW((from + name).c_str(), nullptr);
            CreateDirectoryW((to + name).c_str(), nullptr);
            orvane::IconTarget target = orvane::OpenTarget((from + name).c_str());
            orvane::ChangeResult result;
            if (i % 2 == 0) {
                target.SetCurrentIconPath(library.c_str());
                target.SetCurrentIndex(static_cast<std::int32_t>(i % 100));
                result = target.ApplyIcon();
            } else {
                result = orvane::ApplyMadeBytes(target, MadeIcon(static_cast<unsigned>(i)));
            }
            failed += result != orvane::ChangeResult::Done;
        }
    });
    const std::wstring file = from + L".json";

    Clock::time_point start = Clock::now();
    orvane::SettingsDocument document;
    const LONG written = RunStep("export", Limit(60, 20, count), [&] {
        orvane::CollectSettings(document);
        return orvane::WriteSettingsFile(file.c_str(), document);
    });
    const double exportSeconds = Seconds(start);
    WIN32_FILE_ATTRIBUTE_DATA attributes = {};
    GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &attributes);

    start = Clock::now();
    orvane::SettingsDocument read;
    std::wstring reason;
    orvane::ImportOptions options;
    options.Maps.push_back({from, to});
    bool readOk = false;
    const orvane::ImportReport first = RunStep("import", Limit(60, 100, count), [&] {
        readOk = orvane::ReadSettingsFile(file.c_str(), read, reason);
        orvane::ShellNotifier notifier;
        orvane::ImportReport report = orvane::ImportSettings(read, options, notifier);
        notifier.Send();
        return report;
    });
    const double importSeconds = Seconds(start);

    start = Clock::now();
    const orvane::ImportReport second = RunStep("second import", Limit(60, 30, count), [&] {
        orvane::ShellNotifier again;
        orvane::ImportReport report = orvane::ImportSettings(read, options, again);
        again.Send();
        return report;
    });
    const double againSeconds = Seconds(start);

    std::printf("folders given icons: %zu (%zu failed); settings exported: %zu (write status %ld)\n", count, failed,
                document.Settings.size(), static_cast<long>(written));
    std::printf("settings file: %lu bytes (%.1f KiB, %.0f bytes a setting)\n", attributes.nFileSizeLow,
                attributes.nFileSizeLow / 1024.0, document.Settings.empty() ? 0.0 : attributes.nFileSizeLow / double(document.Settings.size()));
    std::printf("export: %.3f s (%.2f ms a setting)\n", exportSeconds, 1000 * exportSeconds / double(count ? count : 1));
    std::printf("import into the mapped tree: %.3f s (%.2f ms a setting), read %s, %zu changed, %zu failed\n",
                importSeconds, 1000 * importSeconds / double(count ? count : 1), readOk ? "ok" : "refused",
                first.Count(orvane::ImportOutcome::Changed), first.Count(orvane::ImportOutcome::Failed));
    std::printf("second import: %.3f s, %zu unchanged\n", againSeconds, second.Count(orvane::ImportOutcome::Unchanged));

    RunStep("trees restored and removed", Limit(60, 100, count), [&] {
        RestoreAndRemove(from, count);
        RestoreAndRemove(to, count);
        DeleteFileW(file.c_str());
    });
    return 0;
}
