#include "ShellRoad.h"

#include <shellapi.h>

#include <cwchar>
#include <iterator>

#include "ExtensionIdentity.h"
#include "Registry.h"

namespace orvane::demo {

namespace {

std::wstring HrText(const wchar_t* what, HRESULT hr)
{
    wchar_t code[16];
    std::swprintf(code, std::size(code), L"0x%08lX", static_cast<unsigned long>(hr));
    return std::wstring(what) + L" failed (" + code + L")";
}

} // namespace

CLSID ExtensionClsid()
{
    CLSID clsid = {};
    CLSIDFromString(ExtensionClsidText, &clsid);
    return clsid;
}

HRESULT CreateExtension(REFIID iid, void** out)
{
    const CLSID clsid = ExtensionClsid();
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, out);
}

HRESULT ShellDataObject(const wchar_t* path, IDataObject** out)
{
    *out = nullptr;
    PIDLIST_ABSOLUTE item = nullptr;
    HRESULT hr = SHParseDisplayName(path, nullptr, &item, 0, nullptr);
    if (FAILED(hr))
        return hr;
    ComPtr<IShellFolder> parent;
    PCUITEMID_CHILD child = nullptr;
    hr = SHBindToParent(item, IID_IShellFolder, &parent, &child);
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

HRESULT ContextMenuRoad::Open(const wchar_t* path)
{
    ComPtr<IDataObject> data;
    HRESULT hr = ShellDataObject(path, data.ReleaseAndGetAddressOf());
    if (FAILED(hr))
        return hr;
    ComPtr<IShellExtInit> init;
    hr = CreateExtension(IID_IShellExtInit, &init);
    if (FAILED(hr))
        return hr;
    hr = init->Initialize(nullptr, data.Get(), nullptr);
    if (FAILED(hr))
        return hr;
    hr = init->QueryInterface(IID_IContextMenu, &menu_);
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

std::vector<std::wstring> ContextMenuRoad::MenuTexts() const
{
    std::vector<std::wstring> texts;
    const int count = popup_ != nullptr ? GetMenuItemCount(popup_) : 0;
    for (int i = 0; i < count; ++i) {
        wchar_t text[TextCapacity] = {};
        GetMenuStringW(popup_, static_cast<UINT>(i), text, static_cast<int>(std::size(text)), MF_BYPOSITION);
        texts.emplace_back(text);
    }
    return texts;
}

HRESULT ContextMenuRoad::InvokeChangeIcon(HWND owner)
{
    if (!menu_)
        return E_UNEXPECTED;
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof info;
    info.hwnd = owner;
    info.lpVerb = MAKEINTRESOURCEA(0);
    info.nShow = SW_SHOWNORMAL;
    return menu_->InvokeCommand(&info);
}

std::wstring ShellIcon::Text() const
{
    if (!Reported)
        return L"(nothing)";
    if (File.empty())
        return L"icon index " + std::to_wstring(Index);
    return File + L"," + std::to_wstring(Index);
}

ShellIcon ShellIconLocation(const wchar_t* path, bool isFolder)
{
    ShellIcon icon;
    SHFILEINFOW info = {};
    if (SHGetFileInfoW(path, 0, &info, sizeof info, SHGFI_ICONLOCATION) == 0)
        return icon;
    icon.Reported = true;
    icon.Index = info.iIcon;
    info.szDisplayName[std::size(info.szDisplayName) - 1] = L'\0';
    if (!isFolder)
        icon.File = info.szDisplayName;
    return icon;
}

std::wstring FolderIniIcon(const wchar_t* folder)
{
    const std::wstring ini = std::wstring(folder) + L"\\desktop.ini";
    wchar_t file[MAX_PATH] = {};
    wchar_t index[32] = {};
    GetPrivateProfileStringW(L".ShellClassInfo", L"IconFile", L"", file, static_cast<DWORD>(std::size(file)), ini.c_str());
    GetPrivateProfileStringW(L".ShellClassInfo", L"IconIndex", L"0", index, static_cast<DWORD>(std::size(index)),
                             ini.c_str());
    if (file[0] == L'\0')
        return L"(none)";
    return std::wstring(file) + L"," + index;
}

std::wstring IconHandlerAnswer(const wchar_t* path)
{
    ComPtr<IPersistFile> file;
    HRESULT hr = CreateExtension(IID_IPersistFile, &file);
    if (FAILED(hr))
        return HrText(L"CoCreateInstance", hr);
    hr = file->Load(path, STGM_READ);
    if (FAILED(hr))
        return HrText(L"IPersistFile::Load", hr);
    ComPtr<IExtractIconW> extract;
    hr = file->QueryInterface(IID_IExtractIconW, &extract);
    if (FAILED(hr))
        return HrText(L"QueryInterface(IExtractIconW)", hr);
    wchar_t location[MAX_PATH] = {};
    int index = 0;
    UINT flags = 0;
    hr = extract->GetIconLocation(0, location, static_cast<UINT>(std::size(location)), &index, &flags);
    if (FAILED(hr))
        return HrText(L"IExtractIconW::GetIconLocation", hr);
    location[std::size(location) - 1] = L'\0';
    return std::wstring(location) + L"," + std::to_wstring(index);
}

} // namespace orvane::demo
