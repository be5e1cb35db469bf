// orvane export FILE [--with-sources]: every setting Orvane made and still holds, into one
// settings file.
#include "Commands.h"

#include <string>

#include "ConsoleText.h"
#include "ErrorText.h"
#include "SettingsTransfer.h"

namespace orvane::cli {

int ExportSettings(const wchar_t* file, bool withSources)
{
    SettingsDocument document;
    if (!CollectSettings(document, withSources)) {
        WriteErr(std::wstring(L"orvane: export: memory ran out while the settings were read; nothing written\n"));
        return 1;
    }
    const LONG status = WriteSettingsFile(file, document);
    if (status != ERROR_SUCCESS) {
        WriteErr(std::wstring(L"orvane: ") + file + L": not written: " + SystemErrorText(status) + L"\n");
        return 1;
    }
    std::size_t counts[4] = {};
    for (const ExportedSetting& setting : document.Settings)
        ++counts[static_cast<int>(setting.Kind)];
    WriteOut(L"Exported " + std::to_wstring(document.Settings.size()) + L" setting(s) to " + file + L": " +
             std::to_wstring(counts[0]) + L" folder(s), " + std::to_wstring(counts[1]) + L" file(s), " +
             std::to_wstring(counts[2]) + L" type(s), " + std::to_wstring(counts[3]) + L" drive(s).\n");
    return 0;
}

} // namespace orvane::cli
