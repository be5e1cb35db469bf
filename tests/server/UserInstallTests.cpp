// Registering the extension for this user alone (DllInstall with "user", as regsvr32
// /n /i:user calls it) while every machine-wide key refuses writes, as they do for a user
// without administrator rights: what it writes under HKEY_CURRENT_USER, that nothing of
// all users' changes, that the extension then serves this user's context menu, and that
// uninstalling leaves HKEY_CURRENT_USER as it was.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "FileIconTable.h"
#include "IconTarget.h"
#include "ServerTestSupport.h"

namespace orvane::test {
namespace {

constexpr wchar_t UserClasses[] = L"Software\\Classes\\";
constexpr wchar_t UserShellExtensions[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions";
constexpr wchar_t ForeignClsid[] = L"{11111111-2222-3333-4444-555555555555}";

std::wstring UserClassKey() { return UserClasses + std::wstring(ClassKeyPath); }
std::wstring UserCommandClassKey() { return UserClasses + std::wstring(CommandClassKeyPath); }
std::wstring UserHandlerKey(const wchar_t* handlerPath) { return UserClasses + std::wstring(handlerPath); }

// The subtrees of HKEY_CURRENT_USER that registering for this user may touch: its keys of
// the two classes, the owners of the three context-menu entries, and the shell's
// extension lists.
std::vector<std::wstring> TouchedUserKeys()
{
    return {UserClassKey(), UserCommandClassKey(), std::wstring(UserClasses) + L"CLSID", std::wstring(UserClasses) + L"*",
            std::wstring(UserClasses) + L"Directory", std::wstring(UserClasses) + L"Drive", UserShellExtensions};
}

std::wstring DumpUserKeys()
{
    std::wstring out;
    for (const std::wstring& path : TouchedUserKeys()) {
        // HKCU\Software\Classes\CLSID holds other programs' classes: only whether it is
        // there counts, the module's own classes being dumped on their own.
        const bool container = path == std::wstring(UserClasses) + L"CLSID";
        out += L"[" + path + L"]\n" +
               (container ? (KeyExists(HKEY_CURRENT_USER, path) ? L"present\n" : L"(missing)\n")
                          : DumpKey(HKEY_CURRENT_USER, path));
    }
    return out;
}

// All users' places that a machine registration writes.
std::wstring DumpMachineKeys()
{
    std::wstring out;
    out += L"[class]\n" + DumpKey(HKEY_CLASSES_ROOT, ClassKeyPath);
    out += L"[command class]\n" + DumpKey(HKEY_CLASSES_ROOT, CommandClassKeyPath);
    for (const wchar_t* owner : {L"*", L"Directory", L"Drive"})
        out += std::wstring(L"[") + owner + L"]\n" + DumpKey(HKEY_CLASSES_ROOT, std::wstring(owner) + L"\\shellex");
    out += L"[approved]\n" + DumpKey(HKEY_LOCAL_MACHINE, ApprovedKeyPath);
    out += L"[product]\n" + DumpKey(HKEY_LOCAL_MACHINE, ProductRoot);
    return out;
}

// A REG_SZ value as DumpKey shows it: its data as stored, UTF-16 little-endian with the
// terminating zero included.
std::wstring DumpedText(const std::wstring& indent, const std::wstring& name, const std::wstring& text)
{
    std::wstring line = indent + L"value [" + name + L"] type 1 data";
    for (const wchar_t c : text + L'\0') {
        for (const unsigned byte : {static_cast<unsigned>(c) & 0xFF, (static_cast<unsigned>(c) >> 8) & 0xFF}) {
            wchar_t hex[4];
            std::swprintf(hex, std::size(hex), L" %02x", byte);
            line += hex;
        }
    }
    return line + L"\n";
}

// A standard user: every machine-wide key that registering writes refuses writes. The
// extension's class keys are locked as this architecture's HKEY_CLASSES_ROOT shows them
// (32-bit programs have CLSID keys of their own), the shared context-menu keys and the
// rest of all users' places by StandardUser.
class MachineRefuses {
public:
    MachineRefuses() : user_({L"*\\shellex", L"Directory\\shellex", L"Drive\\shellex"})
    {
        for (const wchar_t* path : {L"CLSID", ClassKeyPath, ServerKeyPath, CommandClassKeyPath, CommandServerKeyPath})
            locks_.push_back(std::make_unique<ReadOnlyKey>(HKEY_CLASSES_ROOT, path));
        locks_.push_back(std::make_unique<ReadOnlyKey>(HKEY_LOCAL_MACHINE, ApprovedKeyPath));
    }
    bool Applied() const
    {
        bool applied = user_.Applied();
        for (const auto& lock : locks_)
            applied = applied && lock->Applied();
        return applied && Refuses(HKEY_CLASSES_ROOT, ClassKeyPath) && Refuses(HKEY_CLASSES_ROOT, L"CLSID") &&
               Refuses(HKEY_CLASSES_ROOT, HandlerKeyPaths[0]) && Refuses(HKEY_LOCAL_MACHINE, ApprovedKeyPath);
    }

private:
    static bool Refuses(HKEY root, const wchar_t* path)
    {
        HKEY key = nullptr;
        const LONG status = RegOpenKeyExW(root, path, 0, KEY_SET_VALUE | KEY_CREATE_SUB_KEY, &key);
        if (status == ERROR_SUCCESS)
            RegCloseKey(key);
        return status == ERROR_ACCESS_DENIED;
    }
    StandardUser user_;
    std::vector<std::unique_ptr<ReadOnlyKey>> locks_;
};

class UserInstall : public LoadedServerTest {
protected:
    using InstallFunction = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);

    void SetUp() override
    {
        LoadedServerTest::SetUp();
        install_ = reinterpret_cast<InstallFunction>(reinterpret_cast<void*>(GetProcAddress(module_, "DllInstall")));
        ASSERT_NE(nullptr, install_);
        for (const std::wstring& path : TouchedUserKeys())
            guards_.push_back(std::make_unique<KeyGuard>(HKEY_CURRENT_USER, path));
        // This user starts without a registration of the extension of its own.
        ASSERT_TRUE(DeleteKeyTree(HKEY_CURRENT_USER, UserClassKey()));
        ASSERT_TRUE(DeleteKeyTree(HKEY_CURRENT_USER, UserCommandClassKey()));
        for (const wchar_t* path : HandlerKeyPaths)
            ASSERT_TRUE(DeleteKeyTree(HKEY_CURRENT_USER, UserHandlerKey(path)));
        HKEY approved = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, ApprovedKeyPath, 0, KEY_SET_VALUE, &approved) == ERROR_SUCCESS) {
            RegDeleteValueW(approved, ExtensionClsidText);
            RegCloseKey(approved);
        }
    }

    // This user's registration of a class (named `name`) as DumpKey shows it, for the
    // module at `dll`.
    static std::wstring ExpectedClassKey(const std::wstring& dll, const wchar_t* name = L"Orvane")
    {
        return DumpedText(L"", L"", name) + L"key [InprocServer32]\n" + DumpedText(L"  ", L"", dll) +
               DumpedText(L"  ", L"ThreadingModel", L"Apartment");
    }

    // Every value of this user's registration (other programs' keys may be beside them).
    void ExpectRegisteredForThisUser()
    {
        const std::wstring server = ValueText(HKEY_CURRENT_USER, UserClassKey() + L"\\InprocServer32");
        EXPECT_EQ(0, lstrcmpiW(ServerDllPath().c_str(), server.c_str())) << Utf8(server);
        EXPECT_EQ(L"Orvane", ValueText(HKEY_CURRENT_USER, UserClassKey()));
        EXPECT_EQ(L"Apartment", ValueText(HKEY_CURRENT_USER, UserClassKey() + L"\\InprocServer32", L"ThreadingModel"));
        EXPECT_EQ(ExpectedClassKey(ServerDllPath(), L"Orvane Change Icon command"),
                  DumpKey(HKEY_CURRENT_USER, UserCommandClassKey()));
        for (const wchar_t* path : HandlerKeyPaths)
            EXPECT_EQ(DumpedText(L"", L"", ExtensionClsidText), DumpKey(HKEY_CURRENT_USER, UserHandlerKey(path)))
                << Utf8(path);
        EXPECT_EQ(L"Orvane", ValueText(HKEY_CURRENT_USER, ApprovedKeyPath, ExtensionClsidText));
    }

    InstallFunction install_ = nullptr;
    std::vector<std::unique_ptr<KeyGuard>> guards_;
};

// What this user's places hold before the install, each row on its own: nothing, or
// other programs' entries beside the ones registering writes. Uninstalling puts back
// exactly that; the keys registering had to create go again.
TEST_F(UserInstall, InstallWritesThisUsersEntriesAndUninstallPutsBackWhatWasThere)
{
    struct Entry {
        std::wstring Path;
        const wchar_t* Name;
        std::wstring Text;
    };
    const std::wstring classes = UserClasses;
    const std::vector<std::vector<Entry>> table = {
        {},
        {{classes + L"*\\shellex\\ContextMenuHandlers\\Neighbour", L"", ForeignClsid}},
        {{classes + L"Directory\\DefaultIcon", L"", L"shell32.dll,3"}, {classes + L"Drive", L"", L"Drive"}},
        {{classes + L"Directory\\shellex\\IconHandler", L"", ForeignClsid}},
        {{ApprovedKeyPath, ForeignClsid, L"Neighbour"}},
        {{std::wstring(UserShellExtensions) + L"\\Cached", L"", L""}},
        {{classes + L"CLSID\\" + ForeignClsid, L"", L"Neighbour"}},
        {{UserClassKey() + L"\\Implemented Categories", L"", L""}},
    };
    for (std::size_t row = 0; row < table.size(); ++row) {
        SCOPED_TRACE("row " + std::to_string(row));
        // Each row starts from the state the fixture made and puts it back.
        std::vector<std::unique_ptr<KeyGuard>> rowGuards;
        for (const std::wstring& path : TouchedUserKeys())
            rowGuards.push_back(std::make_unique<KeyGuard>(HKEY_CURRENT_USER, path));
        for (const Entry& entry : table[row])
            ASSERT_TRUE(WriteString(HKEY_CURRENT_USER, entry.Path, entry.Name, entry.Text));
        const std::wstring userBefore = DumpUserKeys();
        {
            MachineRefuses standardUser;
            ASSERT_TRUE(standardUser.Applied());
            const std::wstring machineBefore = DumpMachineKeys();
            ASSERT_EQ(S_OK, install_(TRUE, L"user"));
            ExpectRegisteredForThisUser();
            for (const Entry& entry : table[row])
                EXPECT_EQ(entry.Text, ValueText(HKEY_CURRENT_USER, entry.Path, entry.Name)) << Utf8(entry.Path);
            // Installing again changes nothing.
            const std::wstring installed = DumpUserKeys();
            ASSERT_EQ(S_OK, install_(TRUE, L"user"));
            EXPECT_EQ(installed, DumpUserKeys());
            EXPECT_EQ(machineBefore, DumpMachineKeys());

            ASSERT_EQ(S_OK, install_(FALSE, L"user"));
            EXPECT_EQ(userBefore, DumpUserKeys());
            // Uninstalling again finds nothing and still succeeds.
            EXPECT_EQ(S_OK, install_(FALSE, L"user"));
            EXPECT_EQ(userBefore, DumpUserKeys());
            EXPECT_EQ(machineBefore, DumpMachineKeys());
        }
    }
}

// The first row's exact tree: a user with none of these keys gets exactly these.
TEST_F(UserInstall, InstallOnAFreshDesktopIniWritesExactlyTheRegistration)
{
    for (const std::wstring& path : TouchedUserKeys()) {
        if (path != std::wstring(UserClasses) + L"CLSID") {
            ASSERT_TRUE(DeleteKeyTree(HKEY_CURRENT_USER, path));
        }
    }
    MachineRefuses standardUser;
    ASSERT_TRUE(standardUser.Applied());
    ASSERT_EQ(S_OK, install_(TRUE, L"user"));
    const std::wstring server = ValueText(HKEY_CURRENT_USER, UserClassKey() + L"\\InprocServer32");
    std::wstring expected = L"[" + UserClassKey() + L"]\n" + ExpectedClassKey(server) + L"[" + UserCommandClassKey() +
                            L"]\n" + ExpectedClassKey(server, L"Orvane Change Icon command") + L"[" + UserClasses +
                            L"CLSID]\npresent\n";
    for (const wchar_t* owner : {L"*", L"Directory", L"Drive"}) {
        expected += L"[" + std::wstring(UserClasses) + owner + L"]\nkey [shellex]\n  key [ContextMenuHandlers]\n"
                    L"    key [Orvane]\n" + DumpedText(L"      ", L"", ExtensionClsidText);
    }
    expected += L"[" + std::wstring(UserShellExtensions) + L"]\nkey [Approved]\n" +
                DumpedText(L"  ", ExtensionClsidText, L"Orvane");
    EXPECT_EQ(expected, DumpUserKeys());
    ASSERT_EQ(S_OK, install_(FALSE, L"user"));
    for (const std::wstring& path : TouchedUserKeys()) {
        if (path != std::wstring(UserClasses) + L"CLSID") {
            EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, path)) << Utf8(path);
        }
    }
}

// Entries that another program wrote over or beside this user's registration after it
// was made stay when it is taken out; so do the keys that hold them.
TEST_F(UserInstall, UninstallLeavesWhatOthersWroteAfterTheInstall)
{
    MachineRefuses standardUser;
    ASSERT_TRUE(standardUser.Applied());
    ASSERT_EQ(S_OK, install_(TRUE, L"user"));
    ASSERT_TRUE(WriteString(HKEY_CURRENT_USER, UserHandlerKey(HandlerKeyPaths[1]), L"", ForeignClsid));
    ASSERT_TRUE(WriteString(HKEY_CURRENT_USER,
                            UserClasses + std::wstring(L"Drive\\shellex\\ContextMenuHandlers\\Neighbour"), L"",
                            ForeignClsid));
    ASSERT_TRUE(WriteString(HKEY_CURRENT_USER, ApprovedKeyPath, ForeignClsid, L"Neighbour"));
    ASSERT_TRUE(WriteString(HKEY_CURRENT_USER, UserClassKey() + L"\\InprocServer32", L"Other", L"x"));

    ASSERT_EQ(S_OK, install_(FALSE, L"user"));
    EXPECT_EQ(ForeignClsid, ValueText(HKEY_CURRENT_USER, UserHandlerKey(HandlerKeyPaths[1])));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, UserHandlerKey(HandlerKeyPaths[0])));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, UserHandlerKey(HandlerKeyPaths[2])));
    EXPECT_EQ(ForeignClsid, ValueText(HKEY_CURRENT_USER,
                                      UserClasses + std::wstring(L"Drive\\shellex\\ContextMenuHandlers\\Neighbour")));
    EXPECT_EQ(L"Neighbour", ValueText(HKEY_CURRENT_USER, ApprovedKeyPath, ForeignClsid));
    EXPECT_EQ(L"<none>", ValueText(HKEY_CURRENT_USER, ApprovedKeyPath, ExtensionClsidText));
    // The class's keys are named by its own identifier: they are this registration's.
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, UserClassKey()));
}

// Only "user", in any case, names this user's registration; anything else is refused and
// writes nothing.
TEST_F(UserInstall, ArgumentsOtherThanUserAreRefused)
{
    struct Row {
        BOOL Install;
        const wchar_t* CommandLine;
        HRESULT Expected;
    };
    const Row table[] = {
        {TRUE, L"", E_INVALIDARG},       {TRUE, nullptr, E_INVALIDARG},  {TRUE, L"machine", E_INVALIDARG},
        {TRUE, L"users", E_INVALIDARG},  {TRUE, L"user ", E_INVALIDARG}, {FALSE, L"", E_INVALIDARG},
        {FALSE, L"all", E_INVALIDARG},   {TRUE, L"USER", S_OK},          {FALSE, L"User", S_OK},
    };
    MachineRefuses standardUser;
    ASSERT_TRUE(standardUser.Applied());
    const std::wstring before = DumpUserKeys();
    for (std::size_t i = 0; i < std::size(table); ++i) {
        const Row& row = table[i];
        SCOPED_TRACE("row " + std::to_string(i));
        EXPECT_EQ(row.Expected, install_(row.Install, row.CommandLine));
        if (row.Expected != S_OK) {
            EXPECT_EQ(before, DumpUserKeys());
        }
    }
    EXPECT_EQ(before, DumpUserKeys());
}

// Registered for this user only, the extension serves this user's context menu for a
// folder. Wine's COM reads class registrations from HKLM\Software\Classes\CLSID alone (the
// machine-wide registration that the test program made would answer instead), so the
// object is made through the module's own DllGetClassObject, which is what COM does with
// the InprocServer32 path of this user's registration on Windows.
TEST_F(UserInstall, ExtensionServesThisUsersContextMenu)
{
    TempDir dir;
    const std::wstring folder = dir.MakeFolder(L"folder");
    MachineRefuses standardUser;
    ASSERT_TRUE(standardUser.Applied());
    ASSERT_EQ(S_OK, install_(TRUE, L"user"));
    ExpectRegisteredForThisUser();
    {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(S_OK, getClassObject_(CLSID_ShellIconExtension, IID_IClassFactory, &factory));
        ComPtr<IShellExtInit> init;
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IShellExtInit, &init));
        ComPtr<IDataObject> data = ShellDataObject(folder);
        ASSERT_NE(nullptr, data.Get());
        ASSERT_EQ(S_OK, init->Initialize(nullptr, data.Get(), nullptr));
        ComPtr<IContextMenu> menu;
        ASSERT_EQ(S_OK, init.As(&menu));
        PopupMenu popup;
        const HRESULT added = menu->QueryContextMenu(popup.get(), 0, 100, 200, CMF_NORMAL);
        EXPECT_TRUE(SUCCEEDED(added)) << std::hex << added;
        bool offered = false;
        for (const MenuEntry& entry : ReadMenu(popup.get()))
            offered = offered || (entry.Type == MFT_STRING && entry.Text == L"&Change Icon...");
        EXPECT_TRUE(offered);
    }
    ASSERT_EQ(S_OK, install_(FALSE, L"user"));
}

// A standard user gives one file an icon of its own: the extension becomes the icon
// handler of the file's class for this user. Uninstalling this user's registration hands
// that class back first, so that no class of this user's names a DLL about to go.
TEST_F(UserInstall, UninstallHandsThisUsersClassesBack)
{
    TempDir dir;
    ScratchType type;
    type.SetDefaultIcon(L"C:\\icons\\type.ico,2");
    const std::wstring file = dir.MakeFile(L"a" + type.Extension);
    const std::wstring userClass = std::wstring(L"Software\\Classes\\") + type.Class;
    const std::wstring classBefore = DumpKey(HKEY_CURRENT_USER, userClass);
    MachineRefuses standardUser;
    ASSERT_TRUE(standardUser.Applied());
    ASSERT_EQ(S_OK, install_(TRUE, L"user"));

    IconTarget target(file.c_str());
    target.RememberOriginal(target.ReadCurrentIcon());
    target.SetAllOfType(false);
    ASSERT_TRUE(target.SetCurrentIconPath(L"C:\\icons\\own.ico"));
    target.SetCurrentIndex(3);
    ASSERT_EQ(ChangeResult::Done, target.ApplyIcon());
    ASSERT_EQ(Scope::ThisUser, target.ChangedScope());
    ASSERT_EQ(ExtensionClsidText, ValueText(HKEY_CURRENT_USER, userClass + L"\\shellex\\IconHandler"));

    ASSERT_EQ(S_OK, install_(FALSE, L"user"));
    EXPECT_EQ(classBefore, DumpKey(HKEY_CURRENT_USER, userClass));
    EXPECT_FALSE(ReadFileIcon(file.c_str()).has_value());
    EXPECT_EQ(L"C:\\icons\\type.ico,2", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon")));
}

// regsvr32 /n /i:user calls DllInstall alone (not DllRegisterServer), and with /u it
// takes the registration out again; all users' places stay as they are.
TEST_F(UserInstall, Regsvr32InstallsAndUninstallsForThisUser)
{
    MachineRefuses standardUser;
    ASSERT_TRUE(standardUser.Applied());
    const std::wstring userBefore = DumpUserKeys();
    const std::wstring machineBefore = DumpMachineKeys();
    ASSERT_EQ(0, RunRegsvr32(L"/s /n /i:user", ServerDllPath()));
    ExpectRegisteredForThisUser();
    EXPECT_EQ(machineBefore, DumpMachineKeys());
    ASSERT_EQ(0, RunRegsvr32(L"/s /u /n /i:user", ServerDllPath()));
    EXPECT_EQ(userBefore, DumpUserKeys());
    EXPECT_EQ(machineBefore, DumpMachineKeys());
    // Another text after /i: is refused, and nothing is written.
    EXPECT_NE(0, RunRegsvr32(L"/s /n /i:machine", ServerDllPath()));
    EXPECT_EQ(userBefore, DumpUserKeys());
    EXPECT_EQ(machineBefore, DumpMachineKeys());
}

} // namespace
} // namespace orvane::test
