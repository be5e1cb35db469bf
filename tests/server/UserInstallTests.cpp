// Registering the extension for this user alone (DllInstall with "user", as regsvr32
// /n /i:user calls it) while every machine-wide key refuses writes, as they do for a user
// without administrator rights: what it writes under HKEY_CURRENT_USER, that nothing of
// all users' changes, that the extension then serves this user's context menu, and that
// uninstalling leaves HKEY_CURRENT_USER as it was.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "FileIconTable.h"
#include "IconTarget.h"
#include "ServerTestSupport.h"

namespace orvane::test {
namespace {

constexpr char UserClasses[] = "Software\\Classes\\";
constexpr char UserShellExtensions[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions";
constexpr char ForeignClsid[] = "{11111111-2222-3333-4444-555555555555}";

std::string UserClassKey() { return UserClasses + std::string(ClassKeyPath); }
std::string UserHandlerKey(const char* handlerPath) { return UserClasses + std::string(handlerPath); }

// The subtrees of HKEY_CURRENT_USER that registering for this user may touch: its key of
// the class, the owners of the three context-menu entries, and the shell's extension lists.
std::vector<std::string> TouchedUserKeys()
{
    return {UserClassKey(), std::string(UserClasses) + "CLSID", std::string(UserClasses) + "*",
            std::string(UserClasses) + "Directory", std::string(UserClasses) + "Drive", UserShellExtensions};
}

std::string DumpUserKeys()
{
    std::string out;
    for (const std::string& path : TouchedUserKeys()) {
        // HKCU\Software\Classes\CLSID holds other programs' classes: only whether it is
        // there counts, its own class being dumped on its own.
        const bool container = path == std::string(UserClasses) + "CLSID";
        out += "[" + path + "]\n" + (container ? (KeyExists(HKEY_CURRENT_USER, path) ? "present\n" : "(missing)\n")
                                               : DumpKey(HKEY_CURRENT_USER, path));
    }
    return out;
}

// All users' places that a machine registration writes.
std::string DumpMachineKeys()
{
    std::string out;
    out += "[class]\n" + DumpKey(HKEY_CLASSES_ROOT, ClassKeyPath);
    for (const char* owner : {"*", "Directory", "Drive"})
        out += std::string("[") + owner + "]\n" + DumpKey(HKEY_CLASSES_ROOT, std::string(owner) + "\\shellex");
    out += "[approved]\n" + DumpKey(HKEY_LOCAL_MACHINE, ApprovedKeyPath);
    out += "[product]\n" + DumpKey(HKEY_LOCAL_MACHINE, ProductRoot);
    return out;
}

// A REG_SZ value as DumpKey shows it, its terminating zero included.
std::string DumpedText(const std::string& indent, const std::string& name, const std::string& text)
{
    std::string line = indent + "value [" + name + "] type 1 data";
    for (const char c : text + '\0') {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02x", static_cast<unsigned char>(c));
        line += hex;
    }
    return line + "\n";
}

// A standard user: every machine-wide key that registering writes refuses writes. The
// extension's class keys are locked as this architecture's HKEY_CLASSES_ROOT shows them
// (32-bit programs have CLSID keys of their own), the shared context-menu keys and the
// rest of all users' places by StandardUser.
class MachineRefuses {
public:
    MachineRefuses() : user_({"*\\shellex", "Directory\\shellex", "Drive\\shellex"})
    {
        for (const char* path : {"CLSID", ClassKeyPath, ServerKeyPath})
            locks_.push_back(std::make_unique<ReadOnlyKey>(HKEY_CLASSES_ROOT, path));
        locks_.push_back(std::make_unique<ReadOnlyKey>(HKEY_LOCAL_MACHINE, ApprovedKeyPath));
    }
    bool Applied() const
    {
        bool applied = user_.Applied();
        for (const auto& lock : locks_)
            applied = applied && lock->Applied();
        return applied && Refuses(HKEY_CLASSES_ROOT, ClassKeyPath) && Refuses(HKEY_CLASSES_ROOT, "CLSID") &&
               Refuses(HKEY_CLASSES_ROOT, HandlerKeyPaths[0]) && Refuses(HKEY_LOCAL_MACHINE, ApprovedKeyPath);
    }

private:
    static bool Refuses(HKEY root, const char* path)
    {
        HKEY key = nullptr;
        const LONG status = RegOpenKeyExA(root, path, 0, KEY_SET_VALUE | KEY_CREATE_SUB_KEY, &key);
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
        for (const std::string& path : TouchedUserKeys())
            guards_.push_back(std::make_unique<KeyGuard>(HKEY_CURRENT_USER, path));
        // This user starts without a registration of the extension of its own.
        ASSERT_TRUE(DeleteKeyTree(HKEY_CURRENT_USER, UserClassKey()));
        for (const char* path : HandlerKeyPaths)
            ASSERT_TRUE(DeleteKeyTree(HKEY_CURRENT_USER, UserHandlerKey(path)));
        HKEY approved = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, ApprovedKeyPath, 0, KEY_SET_VALUE, &approved) == ERROR_SUCCESS) {
            RegDeleteValueA(approved, ExtensionClsidText);
            RegCloseKey(approved);
        }
    }

    // This user's registration as DumpKey shows it, for the module at `dll`.
    static std::string ExpectedClassKey(const std::string& dll)
    {
        return DumpedText("", "", "Orvane") + "key [InprocServer32]\n" + DumpedText("  ", "", dll) +
               DumpedText("  ", "ThreadingModel", "Apartment");
    }

    // Every value of this user's registration (other programs' keys may be beside them).
    void ExpectRegisteredForThisUser()
    {
        const std::string server = ValueText(HKEY_CURRENT_USER, UserClassKey() + "\\InprocServer32");
        EXPECT_EQ(0, lstrcmpiA(ServerDllPath().c_str(), server.c_str())) << server;
        EXPECT_EQ("Orvane", ValueText(HKEY_CURRENT_USER, UserClassKey()));
        EXPECT_EQ("Apartment", ValueText(HKEY_CURRENT_USER, UserClassKey() + "\\InprocServer32", "ThreadingModel"));
        for (const char* path : HandlerKeyPaths)
            EXPECT_EQ(DumpedText("", "", ExtensionClsidText), DumpKey(HKEY_CURRENT_USER, UserHandlerKey(path))) << path;
        EXPECT_EQ("Orvane", ValueText(HKEY_CURRENT_USER, ApprovedKeyPath, ExtensionClsidText));
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
        std::string Path;
        const char* Name;
        std::string Text;
    };
    const std::string classes = UserClasses;
    const std::vector<std::vector<Entry>> table = {
        {},
        {{classes + "*\\shellex\\ContextMenuHandlers\\Neighbour", "", ForeignClsid}},
        {{classes + "Directory\\DefaultIcon", "", "shell32.dll,3"}, {classes + "Drive", "", "Drive"}},
        {{classes + "Directory\\shellex\\IconHandler", "", ForeignClsid}},
        {{ApprovedKeyPath, ForeignClsid, "Neighbour"}},
        {{std::string(UserShellExtensions) + "\\Cached", "", ""}},
        {{classes + "CLSID\\" + ForeignClsid, "", "Neighbour"}},
        {{UserClassKey() + "\\Implemented Categories", "", ""}},
    };
    for (std::size_t row = 0; row < table.size(); ++row) {
        SCOPED_TRACE("row " + std::to_string(row));
        // Each row starts from the state the fixture made and puts it back.
        std::vector<std::unique_ptr<KeyGuard>> rowGuards;
        for (const std::string& path : TouchedUserKeys())
            rowGuards.push_back(std::make_unique<KeyGuard>(HKEY_CURRENT_USER, path));
        for (const Entry& entry : table[row])
            ASSERT_TRUE(WriteString(HKEY_CURRENT_USER, entry.Path, entry.Name, entry.Text));
        const std::string userBefore = DumpUserKeys();
        {
            MachineRefuses standardUser;
            ASSERT_TRUE(standardUser.Applied());
            const std::string machineBefore = DumpMachineKeys();
            ASSERT_EQ(S_OK, install_(TRUE, L"user"));
            ExpectRegisteredForThisUser();
            for (const Entry& entry : table[row])
                EXPECT_EQ(entry.Text, ValueText(HKEY_CURRENT_USER, entry.Path, entry.Name)) << entry.Path;
            // Installing again changes nothing.
            const std::string installed = DumpUserKeys();
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
TEST_F(UserInstall, InstallOnAFreshProfileWritesExactlyTheRegistration)
{
    for (const std::string& path : TouchedUserKeys()) {
        if (path != std::string(UserClasses) + "CLSID") {
            ASSERT_TRUE(DeleteKeyTree(HKEY_CURRENT_USER, path));
        }
    }
    MachineRefuses standardUser;
    ASSERT_TRUE(standardUser.Applied());
    ASSERT_EQ(S_OK, install_(TRUE, L"user"));
    const std::string server = ValueText(HKEY_CURRENT_USER, UserClassKey() + "\\InprocServer32");
    std::string expected = "[" + UserClassKey() + "]\n" + ExpectedClassKey(server) + "[" + UserClasses +
                           "CLSID]\npresent\n";
    for (const char* owner : {"*", "Directory", "Drive"}) {
        expected += "[" + std::string(UserClasses) + owner + "]\nkey [shellex]\n  key [ContextMenuHandlers]\n"
                    "    key [Orvane]\n" + DumpedText("      ", "", ExtensionClsidText);
    }
    expected += "[" + std::string(UserShellExtensions) + "]\nkey [Approved]\n" +
                DumpedText("  ", ExtensionClsidText, "Orvane");
    EXPECT_EQ(expected, DumpUserKeys());
    ASSERT_EQ(S_OK, install_(FALSE, L"user"));
    for (const std::string& path : TouchedUserKeys()) {
        if (path != std::string(UserClasses) + "CLSID") {
            EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, path)) << path;
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
    ASSERT_TRUE(WriteString(HKEY_CURRENT_USER, UserHandlerKey(HandlerKeyPaths[1]), "", ForeignClsid));
    ASSERT_TRUE(WriteString(HKEY_CURRENT_USER, UserClasses + std::string("Drive\\shellex\\ContextMenuHandlers\\Neighbour"),
                            "", ForeignClsid));
    ASSERT_TRUE(WriteString(HKEY_CURRENT_USER, ApprovedKeyPath, ForeignClsid, "Neighbour"));
    ASSERT_TRUE(WriteString(HKEY_CURRENT_USER, UserClassKey() + "\\InprocServer32", "Other", "x"));

    ASSERT_EQ(S_OK, install_(FALSE, L"user"));
    EXPECT_EQ(ForeignClsid, ValueText(HKEY_CURRENT_USER, UserHandlerKey(HandlerKeyPaths[1])));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, UserHandlerKey(HandlerKeyPaths[0])));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, UserHandlerKey(HandlerKeyPaths[2])));
    EXPECT_EQ(ForeignClsid, ValueText(HKEY_CURRENT_USER, UserClasses + std::string("Drive\\shellex\\ContextMenuHandlers\\Neighbour")));
    EXPECT_EQ("Neighbour", ValueText(HKEY_CURRENT_USER, ApprovedKeyPath, ForeignClsid));
    EXPECT_EQ("<none>", ValueText(HKEY_CURRENT_USER, ApprovedKeyPath, ExtensionClsidText));
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
    const std::string before = DumpUserKeys();
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
    const std::string folder = dir.MakeFolder("folder");
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
            offered = offered || (entry.Type == MFT_STRING && entry.Text == "&Change Icon...");
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
    type.SetDefaultIcon("C:\\icons\\type.ico,2");
    const std::string file = dir.MakeFile("a" + type.Extension);
    const std::string userClass = std::string("Software\\Classes\\") + type.Class;
    const std::string classBefore = DumpKey(HKEY_CURRENT_USER, userClass);
    MachineRefuses standardUser;
    ASSERT_TRUE(standardUser.Applied());
    ASSERT_EQ(S_OK, install_(TRUE, L"user"));

    IconTarget target(file.c_str());
    target.RememberOriginal(target.ReadCurrentIcon());
    target.SetAllOfType(false);
    ASSERT_TRUE(target.SetCurrentIconPath("C:\\icons\\own.ico"));
    target.SetCurrentIndex(3);
    ASSERT_EQ(ChangeResult::Done, target.ApplyIcon());
    ASSERT_EQ(Scope::ThisUser, target.ChangedScope());
    ASSERT_EQ(ExtensionClsidText, ValueText(HKEY_CURRENT_USER, userClass + "\\shellex\\IconHandler"));

    ASSERT_EQ(S_OK, install_(FALSE, L"user"));
    EXPECT_EQ(classBefore, DumpKey(HKEY_CURRENT_USER, userClass));
    EXPECT_FALSE(ReadFileIcon(file.c_str()).has_value());
    EXPECT_EQ("C:\\icons\\type.ico,2", ValueText(HKEY_CLASSES_ROOT, type.Key("DefaultIcon")));
}

// regsvr32 /n /i:user calls DllInstall alone (not DllRegisterServer), and with /u it
// takes the registration out again; all users' places stay as they are.
TEST_F(UserInstall, Regsvr32InstallsAndUninstallsForThisUser)
{
    MachineRefuses standardUser;
    ASSERT_TRUE(standardUser.Applied());
    const std::string userBefore = DumpUserKeys();
    const std::string machineBefore = DumpMachineKeys();
    ASSERT_EQ(0, RunRegsvr32("/s /n /i:user", ServerDllPath()));
    ExpectRegisteredForThisUser();
    EXPECT_EQ(machineBefore, DumpMachineKeys());
    ASSERT_EQ(0, RunRegsvr32("/s /u /n /i:user", ServerDllPath()));
    EXPECT_EQ(userBefore, DumpUserKeys());
    EXPECT_EQ(machineBefore, DumpMachineKeys());
    // Another text after /i: is refused, and nothing is written.
    EXPECT_NE(0, RunRegsvr32("/s /n /i:machine", ServerDllPath()));
    EXPECT_EQ(userBefore, DumpUserKeys());
    EXPECT_EQ(machineBefore, DumpMachineKeys());
}

} // namespace
} // namespace orvane::test
