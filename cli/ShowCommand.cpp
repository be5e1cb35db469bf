// orvane show PATH...: each target's kind, icon, where it is set, whether a backup exists,
// and for a folder what may keep Windows from showing its icon.
#include "Commands.h"

#include <cwchar>
#include <optional>
#include <string>

#include "ClassIconHandler.h"
#include "CommandTargets.h"
#include "ConsoleText.h"
#include "FolderIcons.h"
#include "Messages.h"
#include "TrustWarnings.h"

namespace orvane::cli {

namespace {

const wchar_t* ScopeWords(const std::optional<Scope>& scope)
{
    if (!scope)
        return L"(not set)";
    return *scope == Scope::ThisUser ? L"for this user" : L"for all users";
}

// Who answers a "%1" type's icon for each file: this extension only while it is the
// class's icon handler; another program's handler, or none (the file itself).
std::wstring HandlerWords(const IconLocation& typeIcon)
{
    if (IsOwnIconHandler(typeIcon))
        return L"each file's own icon, answered by Orvane as the type's icon handler";
    wchar_t handler[TextCapacity] = {};
    if (typeIcon.TypeKey[0] != L'\0' && ReadIconHandlerText(typeIcon.TypeKey, HandlerSlot::Current, handler) &&
        handler[0] != L'\0')
        return std::wstring(L"each file's icon, answered by another program's icon handler ") + handler;
    return L"the file itself";
}

void PrintIcon(const std::optional<IconLocation>& icon)
{
    if (!icon || icon->IconPath[0] == L'\0')
        WriteOut(L"  icon:   (none)\n");
    else if (std::wcsstr(icon->IconPath, L"%1") != nullptr)
        WriteOut(std::wstring(L"  icon:   ") + icon->IconPath + L" (" + HandlerWords(*icon) + L")\n");
    else if (icon->Index == NoIndex)
        WriteOut(std::wstring(L"  icon:   ") + icon->IconPath + L"\n");
    else
        WriteOut(L"  icon:   " + LocationText(icon->IconPath, icon->Index) + L"\n");
}

// A folder icon named relative to the folder (a made icon) and where it is found now.
void PrintResolvedFolderIcon(const IconTarget& target)
{
    wchar_t resolved[TextCapacity];
    if (target.Kind() != TargetKind::Folder || !target.Current ||
        !ResolveFolderIconPath(target.Path(), target.Current->IconPath, resolved) ||
        std::wcscmp(resolved, target.Current->IconPath) == 0)
        return;
    WriteOut(std::wstring(L"  file:   ") + resolved + L"\n");
}

bool ShowTarget(const IconTarget& target)
{
    WriteOut(std::wstring(target.Path()) + L"\n");
    if (HasNoFileType(target)) {
        // No file type: nothing can be set for it in any scope.
        WriteOut(L"  kind:   File (no extension)\n  icon:   (none)\n  scope:  (not set)\n  backup: no\n");
        return true;
    }
    WriteOut(std::wstring(L"  kind:   ") + KindWord(target) + L"\n");
    if (target.PathKind() == TargetKind::File && target.Current && target.Current->TypeKey[0] != L'\0')
        WriteOut(std::wstring(L"  class:  ") + target.Current->TypeKey + L"\n");
    PrintIcon(target.Current);
    PrintResolvedFolderIcon(target);
    WriteOut(std::wstring(L"  scope:  ") + ScopeWords(target.CurrentScope()) + L"\n");
    WriteOut(std::wstring(L"  backup: ") +
             (target.WhatRestoreWouldDo() == RestoreOutcome::Restores ? L"yes" : L"no") + L"\n");
    const TrustFindings findings = FindingsOf(target);
    for (TrustFinding finding : AllTrustFindings) {
        if (findings.Has(finding))
            WriteOut(L"  warning: " + FindingWarning(finding) + L"\n");
    }
    return true;
}

} // namespace

int ShowTargets(const Invocation& invocation)
{
    return ForEachTarget(invocation, OpenShownTarget,
                         [](const wchar_t*, const IconTarget& target) { return ShowTarget(target); });
}

} // namespace orvane::cli
