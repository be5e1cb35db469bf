#include "ShellRoad.h"

#include <shellapi.h>

#include <cstdio>

#include "ExtensionIdentity.h"
#include "Registry.h"

namespace orvane::demo {

namespace {

std::wstring Widen(const char* text)
{
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
    wide.resize(static_cast<std::size_t>(length - 1));
    return wide;
}

std::string HrText(const char* what, HRESULT hr)
{
    char text[64];
    std::snprintf(text, sizeof text, "%s failed (0x%08lX)", what, static_cast<unsigned long>(hr));
    return text;
}

} // namespace

CLSID ExtensionClsid()
{
    CLSID clsid = {};
    const std::wstring text = Widen(ExtensionClsidText);
    CLSIDFromString(text.c_str(), &clsid);
    return clsid;
}

HRESULT CreateExtension(REFIID iid, void** out)
{
    const CLSID clsid = ExtensionClsid();
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, out);
}

HRESULT ShellDataObject(const char* path, IDataObject** out)
{
    *out = nullptr;
    const std::wstring wide = Widen(path);
    PIDLIST_ABSOLUTE item = nullptr;
    HRESULT hr = SHParseDisplayName(wide.c_str(), nullptr, &item, 0, nullptr);
    if (FAILED(hr))
        return hr;
    ComRef<IShellFolder> parent;
    PCUITEMID_CHILD child = nullptr;
    hr = SHBindToParent(item, IID_IShellFolder, parent.putVoid(), &child);
    if (SUCCEEDED(hr))
        hr = parent->GetUIObjectOf(nullptr, 1, &child, IID_IDataObject, nullptr, reinterpret_cast<void**>(out));
    CoTaskMemFree(item);
    return hr;
}

ContextMenuRoad::~ContextMenuRoad()
{
    if (popup_ != nullptr)
        DestroyMenu(popup_);
}

HRESULT ContextMenuRoad::Open(const char* path)
{
    ComRef<IDataObject> data;
    HRESULT hr = ShellDataObject(path, data.put());
    if (FAILED(hr))
        return hr;
    ComRef<IShellExtInit> init;
    hr = CreateExtension(IID_IShellExtInit, init.putVoid());
    if (FAILED(hr))
        return hr;
    hr = init->Initialize(nullptr, data.get(), nullptr);
    if (FAILED(hr))
        return hr;
    hr = init->QueryInterface(IID_IContextMenu, menu_.putVoid());
    if (FAILED(hr))
        return hr;
    popup_ = CreatePopupMenu();
    if (popup_ == nullptr)
        return E_OUTOFMEMORY;
    hr = menu_->QueryContextMenu(popup_, 0, FirstCommand, 0x7FFF, CMF_NORMAL);
    if (FAILED(hr))
        return hr;
    commandsUsed_ = HRESULT_CODE(hr);
    return S_OK;
}

std::vector<std::string> ContextMenuRoad::MenuTexts() const
{
    std::vector<std::string> texts;
    const int count = popup_ != nullptr ? GetMenuItemCount(popup_) : 0;
    for (int i = 0; i < count; ++i) {
        char text[TextCapacity] = {};
        GetMenuStringA(popup_, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
        texts.emplace_back(text);
    }
    return texts;
}

HRESULT ContextMenuRoad::InvokeChangeIcon(HWND owner)
{
    if (!menu_.get())
        return E_UNEXPECTED;
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof info;
    info.hwnd = owner;
    info.lpVerb = MAKEINTRESOURCEA(0);
    info.nShow = SW_SHOWNORMAL;
    return menu_->InvokeCommand(&info);
}

std::string ShellIcon::Text() const
{
    if (!Reported)
        return "(nothing)";
    if (File.empty())
        return "icon index " + std::to_string(Index);
    return File + "," + std::to_string(Index);
}

ShellIcon ShellIconLocation(const char* path, bool isFolder)
{
    ShellIcon icon;
    SHFILEINFOA info = {};
    if (SHGetFileInfoA(path, 0, &info, sizeof info, SHGFI_ICONLOCATION) == 0)
        return icon;
    icon.Reported = true;
    icon.Index = info.iIcon;
    info.szDisplayName[sizeof info.szDisplayName - 1] = '\0';
    if (!isFolder)
        icon.File = info.szDisplayName;
    return icon;
}

std::string FolderIniIcon(const char* folder)
{
    const std::string ini = std::string(folder) + "\\desktop.ini";
    char file[MAX_PATH] = {};
    char index[32] = {};
    GetPrivateProfileStringA(".ShellClassInfo", "IconFile", "", file, sizeof file, ini.c_str());
    GetPrivateProfileStringA(".ShellClassInfo", "IconIndex", "0", index, sizeof index, ini.c_str());
    if (file[0] == '\0')
        return "(none)";
    return std::string(file) + "," + index;
}

std::string IconHandlerAnswer(const char* path)
{
    ComRef<IPersistFile> file;
    HRESULT hr = CreateExtension(IID_IPersistFile, file.putVoid());
    if (FAILED(hr))
        return HrText("CoCreateInstance", hr);
    hr = file->Load(Widen(path).c_str(), STGM_READ);
    if (FAILED(hr))
        return HrText("IPersistFile::Load", hr);
    ComRef<IExtractIconA> extract;
    hr = file->QueryInterface(IID_IExtractIconA, extract.putVoid());
    if (FAILED(hr))
        return HrText("QueryInterface(IExtractIconA)", hr);
    char location[MAX_PATH] = {};
    int index = 0;
    UINT flags = 0;
    hr = extract->GetIconLocation(0, location, sizeof location, &index, &flags);
    if (FAILED(hr))
        return HrText("IExtractIconA::GetIconLocation", hr);
    location[sizeof location - 1] = '\0';
    return std::string(location) + "," + std::to_string(index);
}

} // namespace orvane::demo
