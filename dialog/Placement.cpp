#include "Placement.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <iterator>

#include "Registry.h"
#include "RegistryNames.h"

namespace orvane {

namespace {

constexpr int MostDigits = 6;

// One number of the text from `at` on; advances past it.
bool ReadNumber(const wchar_t* text, std::size_t length, std::size_t& at, bool mayBeNegative, long& value)
{
    bool negative = false;
    if (mayBeNegative && at < length && text[at] == L'-') {
        negative = true;
        ++at;
    }
    int digits = 0;
    value = 0;
    while (at < length && text[at] >= L'0' && text[at] <= L'9') {
        if (++digits > MostDigits)
            return false;
        value = value * 10 + (text[at] - L'0');
        ++at;
    }
    if (negative)
        value = -value;
    return digits > 0;
}

long Width(const RECT& r) { return r.right - r.left; }
long Height(const RECT& r) { return r.bottom - r.top; }

long OverlapArea(const RECT& a, const RECT& b)
{
    const long w = std::min(a.right, b.right) - std::max(a.left, b.left);
    const long h = std::min(a.bottom, b.bottom) - std::max(a.top, b.top);
    return w > 0 && h > 0 ? w * h : 0;
}

long DistanceTo(const RECT& r, POINT p)
{
    const long dx = p.x < r.left ? r.left - p.x : p.x >= r.right ? p.x - r.right + 1 : 0;
    const long dy = p.y < r.top ? r.top - p.y : p.y >= r.bottom ? p.y - r.bottom + 1 : 0;
    return dx + dy;
}

// The monitor the owner overlaps most; without an owner (or one on no monitor), the one
// under the pointer or nearest to it.
const MonitorArea& ChooseMonitor(const std::optional<RECT>& owner, POINT pointer, const std::vector<MonitorArea>& monitors)
{
    const MonitorArea* chosen = &monitors.front();
    if (owner) {
        long most = 0;
        for (const MonitorArea& m : monitors) {
            const long area = OverlapArea(*owner, m.Monitor);
            if (area > most) {
                most = area;
                chosen = &m;
            }
        }
        if (most > 0)
            return *chosen;
        pointer = {owner->left + Width(*owner) / 2, owner->top + Height(*owner) / 2};
    }
    long nearest = DistanceTo(chosen->Monitor, pointer);
    for (const MonitorArea& m : monitors) {
        const long distance = DistanceTo(m.Monitor, pointer);
        if (distance < nearest) {
            nearest = distance;
            chosen = &m;
        }
    }
    return *chosen;
}

bool Inside(const RECT& inner, const RECT& outer)
{
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right && inner.bottom <= outer.bottom;
}

BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM param)
{
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (GetMonitorInfoW(monitor, &info))
        reinterpret_cast<std::vector<MonitorArea>*>(param)->push_back({info.rcMonitor, info.rcWork});
    return TRUE;
}

} // namespace

std::optional<RECT> ParseDialogRect(const wchar_t* text, std::size_t length)
{
    if (text == nullptr)
        return std::nullopt;
    long values[4] = {};
    std::size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        if (i > 0 && (at >= length || text[at++] != L','))
            return std::nullopt;
        if (!ReadNumber(text, length, at, i < 2, values[i]))
            return std::nullopt;
    }
    for (; at < length; ++at) {
        if (text[at] != L'\0')
            return std::nullopt;
    }
    if (values[2] <= 0 || values[3] <= 0)
        return std::nullopt;
    return RECT{values[0], values[1], values[0] + values[2], values[1] + values[3]};
}

RECT PlaceDialog(SIZE minimum, const std::optional<RECT>& recorded, const std::optional<RECT>& owner, POINT pointer,
                 const std::vector<MonitorArea>& monitors)
{
    if (monitors.empty())
        return {0, 0, minimum.cx, minimum.cy};
    const RECT work = ChooseMonitor(owner, pointer, monitors).Work;
    long width = recorded ? std::max<long>(Width(*recorded), minimum.cx) : minimum.cx;
    long height = recorded ? std::max<long>(Height(*recorded), minimum.cy) : minimum.cy;
    width = std::min(width, Width(work));
    height = std::min(height, Height(work));
    // Where it was closed, when that is still wholly on this monitor's work area.
    if (recorded) {
        const RECT again{recorded->left, recorded->top, recorded->left + width, recorded->top + height};
        if (Inside(again, work))
            return again;
    }
    // Centred on the work area of the owner's (or the pointer's) monitor.
    long left = work.left + (Width(work) - width) / 2;
    long top = work.top + (Height(work) - height) / 2;
    left = std::clamp(left, work.left, work.right - width);
    top = std::clamp(top, work.top, work.bottom - height);
    return {left, top, left + width, top + height};
}

std::vector<MonitorArea> Monitors()
{
    std::vector<MonitorArea> monitors;
    EnumDisplayMonitors(nullptr, nullptr, AddMonitor, reinterpret_cast<LPARAM>(&monitors));
    return monitors;
}

std::optional<RECT> LoadDialogRect()
{
    RegKey key;
    if (key.Open(HKEY_CURRENT_USER, ProductKey, KEY_QUERY_VALUE) != ERROR_SUCCESS)
        return std::nullopt;
    // Either length: 260 characters as written now, or the 130 an earlier build wrote.
    wchar_t text[DialogRectCharacters] = {};
    DWORD size = sizeof text;
    DWORD type = REG_NONE;
    if (RegQueryValueExW(key.get(), DialogRectValue, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return std::nullopt;
    return ParseDialogRect(text, size / sizeof(wchar_t));
}

void SaveDialogRect(HWND dialog)
{
    RECT r{};
    if (!GetWindowRect(dialog, &r))
        return;
    RegKey key;
    if (key.Open(HKEY_CURRENT_USER, ProductKey, KEY_ALL_ACCESS) != ERROR_SUCCESS)
        return;
    // The value always has 260 characters, as the 8-bit build's 260 bytes were: the text,
    // its zero and zero characters after it.
    wchar_t text[DialogRectCharacters] = {};
    std::swprintf(text, std::size(text), L"%d,%d,%d,%d", static_cast<int>(r.left), static_cast<int>(r.top),
                  static_cast<int>(r.right - r.left), static_cast<int>(r.bottom - r.top));
    RegSetValueExW(key.get(), DialogRectValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);
}

} // namespace orvane
