// What the server tests share: the built DLLs' paths, running regsvr32, the registration
// that every test program starts with (under guards), COM pointers, the shell's own data
// objects, a data object of the tests' own, and reading a menu back.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <shlobj.h>

#include <wrl/client.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ExtensionIdentity.h"
#include "RegistrationKeys.h"
#include "TestSupport.h"

namespace orvane::test {

constexpr wchar_t FileIconsKeyPath[] = L"Software\\Brindlewick Software\\Orvane\\FileIcons";

// Windows paths of the built DLLs (the build tree seen through Wine's drive Z:).
const std::wstring& ServerDllPath();
const std::wstring& PreviousHandlerDllPath();

// Runs a command line, waits, and returns its exit code (-1 when it could not start).
int RunProgram(const std::wstring& commandLine);
int RunRegsvr32(const wchar_t* options, const std::wstring& dllPath);

// The text in the ANSI code page, as an 8-bit caller has it, and back; an 8-bit answer
// read back into UTF-16.
std::string Ansi(const std::wstring& text);
std::wstring FromAnsi(const std::string& text);

// Guards a key path by its topmost ancestor that does not exist yet, so that keys a test
// (or registering) creates above the leaf go again too.
std::unique_ptr<KeyGuard> GuardKeyPath(HKEY root, const std::wstring& path);

// Guards for every key that registering the server writes.
class RegistrationGuards {
public:
    RegistrationGuards();

private:
    std::vector<std::unique_ptr<KeyGuard>> guards_;
};

// COM pointers: Microsoft::WRL::ComPtr. `&pointer` releases what it held and gives the
// address for an out parameter (void** or Interface**).
using Microsoft::WRL::ComPtr;

// Creates the extension through the registry, as the shell does.
HRESULT CreateExtension(REFIID riid, void** ppv);
// Creates the Explorer command through the registry.
HRESULT CreateExplorerCommand(REFIID riid, void** ppv);

// The shell's own data object for one item (a file, a folder or a drive root such as
// C:\), or for several items of one folder: what Explorer hands to
// IShellExtInit::Initialize. The names are parsed by the shell in UTF-16
// (SHParseDisplayName, IShellFolder::ParseDisplayName).
ComPtr<IDataObject> ShellDataObject(const std::wstring& path);
ComPtr<IDataObject> ShellDataObject(const std::wstring& folder, const std::vector<std::wstring>& names);

// How a drop list holds its paths: in UTF-16, as the shell writes it, or in the ANSI
// code page, as older programs write it.
enum class DropText { Wide, Ansi };

// A data object of the tests' own: CF_HDROP data with the given paths, or no CF_HDROP at
// all. It counts its references and the media handed out and released.
class TestDataObject final : public IDataObject {
public:
    explicit TestDataObject(std::vector<std::wstring> paths, bool offerDrop = true, DropText text = DropText::Wide);
    ~TestDataObject();

    LONG References() const { return refs_; }
    LONG MediaHandedOut() const { return mediaOut_; }
    LONG MediaReleased() const { return mediaReleased_; }

    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    IFACEMETHODIMP_(ULONG) AddRef() override;
    IFACEMETHODIMP_(ULONG) Release() override;
    IFACEMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
    IFACEMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    IFACEMETHODIMP QueryGetData(FORMATETC* format) override;
    IFACEMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override;
    IFACEMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    IFACEMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    IFACEMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
    IFACEMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    IFACEMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    class MediumOwner;
    std::vector<std::wstring> paths_;
    bool offerDrop_;
    DropText text_;
    volatile LONG refs_ = 0;
    volatile LONG mediaOut_ = 0;
    volatile LONG mediaReleased_ = 0;
};

struct MenuEntry {
    UINT Type = 0;
    UINT Id = 0;
    std::wstring Text;
    bool operator==(const MenuEntry& other) const
    {
        return Type == other.Type && Id == other.Id && Text == other.Text;
    }
};
std::vector<MenuEntry> ReadMenu(HMENU menu);
void PrintTo(const MenuEntry& entry, std::ostream* os);

// A popup menu with `count` plain items ("Item 0"... with ids 1...), destroyed with the object.
class PopupMenu {
public:
    explicit PopupMenu(int count = 0);
    ~PopupMenu();
    PopupMenu(const PopupMenu&) = delete;
    PopupMenu& operator=(const PopupMenu&) = delete;
    HMENU get() const { return menu_; }

private:
    HMENU menu_;
};

// The two interfaces through which the icon handler is asked: the wide one, which
// Explorer asks for first, and the 8-bit one of older callers.
enum class IconInterface { Wide, Ansi };

// Asks a freshly created icon handler, as the shell does: Load, then GetIconLocation
// through the interface given, its output flags preset to `outFlags` (none: no output
// flags passed). An 8-bit answer is read back from the ANSI code page.
struct IconAnswer {
    HRESULT Result = E_FAIL;
    std::wstring File;
    int Index = -1;
    UINT OutFlags = 0;
};
IconAnswer AskIconHandler(const std::wstring& path, UINT flags = 0, IconInterface through = IconInterface::Wide,
                          std::optional<UINT> outFlags = 0u);
void ExpectAnswer(const IconAnswer& answer, const std::wstring& file, int index);
// A new icon handler as the shell holds it after IPersistFile::Load of `path`: its
// IPersistFile and its IExtractIconW (or IExtractIconA).
void LoadIconHandler(const std::wstring& path, ComPtr<IPersistFile>& persist, ComPtr<IExtractIconW>& extract);
void LoadIconHandler(const std::wstring& path, ComPtr<IPersistFile>& persist, ComPtr<IExtractIconA>& extract);

// A file type of the test's own with the product's keys guarded, and a folder for files
// of the type: what the icon handler is asked about.
class IconHandlerTest : public testing::Test {
protected:
    // The extension names the class; the class's DefaultIcon is `defaultIcon` (none: no DefaultIcon).
    void RegisterClass(const wchar_t* defaultIcon);
    // The class as installing the icon handler leaves it: DefaultIcon "%1", the icon from
    // before in DefaultIconBAK, and this server as the class's icon handler.
    void InstallHandler(const wchar_t* iconBeforeInstalling);
    void WriteTableEntry(const std::wstring& file, const std::wstring& data);
    std::wstring File(const std::wstring& stem = L"a") { return dir_.MakeFile(stem + extension_); }

    TempDir dir_;
    ScratchType type_{false};
    const std::wstring& extension_ = type_.Extension;
    const std::wstring& className_ = type_.Class;
    KeyGuard productGuard_{HKEY_LOCAL_MACHINE, ProductRoot};
};

// The server DLL loaded into this process by path for one test, with the two exports
// through which COM reaches it, called directly. Nothing of the module may be alive
// before the test starts or after it ends.
class LoadedServerTest : public testing::Test {
protected:
    using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using CanUnloadNowFunction = HRESULT(STDAPICALLTYPE*)();

    void SetUp() override;
    void TearDown() override;

    HMODULE module_ = nullptr;
    GetClassObjectFunction getClassObject_ = nullptr;
    CanUnloadNowFunction canUnloadNow_ = nullptr;
};

// DllCanUnloadNow of the server module as loaded in this process (E_UNEXPECTED when it
// is not loaded).
HRESULT ServerCanUnloadNow();

} // namespace orvane::test
