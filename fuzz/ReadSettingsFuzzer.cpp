// Feeds arbitrary bytes to the settings file's reader, and checks what it accepts: a
// document it read writes out as a text that reads back as the same document, and the
// checks of each setting answer without reading beyond what they were given (the address
// sanitizer catches any such read).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "SettingsFile.h"

using namespace orvane;

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

bool SameSetting(const ExportedSetting& a, const ExportedSetting& b)
{
    return a.Kind == b.Kind && a.Scope == b.Scope && a.Target == b.Target && a.TypeClass == b.TypeClass &&
           a.Made == b.Made && a.MadeIcon == b.MadeIcon && (a.Made || (a.IconPath == b.IconPath && a.Index == b.Index));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    SettingsDocument document;
    std::wstring reason;
    if (!ReadSettingsText(data, size, document, reason)) {
        Check(!reason.empty() && document.Settings.empty());
        return 0;
    }
    for (const ExportedSetting& setting : document.Settings)
        (void)SettingProblem(setting);
    std::string text;
    Check(WriteSettingsText(document, text));
    SettingsDocument again;
    Check(ReadSettingsText(reinterpret_cast<const unsigned char*>(text.data()), text.size(), again, reason));
    Check(again.Settings.size() == document.Settings.size());
    for (std::size_t i = 0; i < document.Settings.size(); ++i)
        Check(SameSetting(document.Settings[i], again.Settings[i]));
    return 0;
}
