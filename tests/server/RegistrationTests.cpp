// regsvr32 with the built DLL: what registering writes, and that unregistering takes out
// exactly that and leaves what others wrote. Each test starts from the registration that
// the test program made and puts it back.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "ServerTestSupport.h"

namespace orvane::test {
namespace {

std::wstring Value(HKEY root, const std::wstring& path, const wchar_t* name = L"")
{
    std::wstring text;
    if (!ReadValue(root, path, name, &text))
        return L"(missing)";
    return text;
}

bool ApprovedValueExists()
{
    std::wstring text;
    return ReadValue(HKEY_LOCAL_MACHINE, ApprovedKeyPath, ExtensionClsidText, &text);
}

// An earlier build's registration, which `withCommand` false stands for, had no
// Explorer command.
void ExpectRegistered(bool withCommand = true)
{
    EXPECT_EQ(L"Orvane", Value(HKEY_CLASSES_ROOT, ClassKeyPath));
    const std::wstring server = Value(HKEY_CLASSES_ROOT, ServerKeyPath);
    // The module's own path: the instance handle kept at attach names this DLL, not the
    // program that loaded it.
    EXPECT_EQ(0, lstrcmpiW(ServerDllPath().c_str(), server.c_str())) << Utf8(server);
    EXPECT_EQ(L"Apartment", Value(HKEY_CLASSES_ROOT, ServerKeyPath, L"ThreadingModel"));
    // The Explorer command is served by the same module.
    if (withCommand) {
        EXPECT_EQ(L"Orvane Change Icon command", Value(HKEY_CLASSES_ROOT, CommandClassKeyPath));
        const std::wstring commandServer = Value(HKEY_CLASSES_ROOT, CommandServerKeyPath);
        EXPECT_EQ(0, lstrcmpiW(ServerDllPath().c_str(), commandServer.c_str())) << Utf8(commandServer);
        EXPECT_EQ(L"Apartment", Value(HKEY_CLASSES_ROOT, CommandServerKeyPath, L"ThreadingModel"));
    }
    for (const wchar_t* path : HandlerKeyPaths)
        EXPECT_EQ(ExtensionClsidText, Value(HKEY_CLASSES_ROOT, path)) << Utf8(path);
    EXPECT_EQ(L"Orvane", Value(HKEY_LOCAL_MACHINE, ApprovedKeyPath, ExtensionClsidText));
}

// The other architecture's view of the class keys (32-bit programs on 64-bit Windows see
// their own HKCR\CLSID).
REGSAM OtherView() { return sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY; }

// HKCR\CLSID of the other view, open for the test's changes and its guard.
class OtherViewClasses {
public:
    OtherViewClasses()
    {
        if (RegCreateKeyExW(HKEY_CLASSES_ROOT, L"CLSID", 0, nullptr, 0, KEY_ALL_ACCESS | OtherView(), nullptr, &key_,
                            nullptr) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~OtherViewClasses()
    {
        if (key_ != nullptr)
            RegCloseKey(key_);
    }
    OtherViewClasses(const OtherViewClasses&) = delete;
    OtherViewClasses& operator=(const OtherViewClasses&) = delete;
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

bool OtherViewKeyExists(const wchar_t* path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_READ | OtherView(), &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// After unregistering: nothing of this architecture's is left, and the entries shared by
// both architectures are left exactly while the other one is still registered.
void ExpectNothingOfOurs()
{
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKeyPath));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, CommandClassKeyPath));
    EXPECT_FALSE(ApprovedValueExists());
    const bool otherRegistered = OtherViewKeyExists(ServerKeyPath) && !KeyExists(HKEY_CLASSES_ROOT, ServerKeyPath);
    for (const wchar_t* path : HandlerKeyPaths)
        EXPECT_EQ(otherRegistered, KeyExists(HKEY_CLASSES_ROOT, path)) << Utf8(path);
}

// The text that registering writes is the platform's own form of the constant, and the
// class's keys are made from it.
TEST(Registration, ClassIdentifierTextIsThePlatformsFormOfTheConstant)
{
    wchar_t platformText[64] = {};
    ASSERT_EQ(39, StringFromGUID2(CLSID_ShellIconExtension, platformText, 64));
    EXPECT_EQ(std::wstring(platformText), ExtensionClsidText);
    CLSID parsed = {};
    ASSERT_EQ(S_OK, CLSIDFromString(ExtensionClsidText, &parsed));
    EXPECT_TRUE(IsEqualCLSID(CLSID_ShellIconExtension, parsed));
    // The keys are named after the platform's own text of the identifier, which is where
    // COM looks the class up.
    EXPECT_EQ(std::wstring(L"CLSID\\") + platformText, ClassKeyPath);
    EXPECT_EQ(std::wstring(L"CLSID\\") + platformText + L"\\InprocServer32", ServerKeyPath);
}

TEST(Registration, Regsvr32RegistersAndUnregisters)
{
    RegistrationGuards guards;
    ExpectRegistered();
    ASSERT_EQ(0, RunRegsvr32(L"/s /u", ServerDllPath()));
    ExpectNothingOfOurs();
    // Unregistering again finds nothing to take out and still succeeds.
    EXPECT_EQ(0, RunRegsvr32(L"/s /u", ServerDllPath()));
    ExpectNothingOfOurs();
    ASSERT_EQ(0, RunRegsvr32(L"/s", ServerDllPath()));
    ExpectRegistered();
    // Registering twice changes nothing.
    ASSERT_EQ(0, RunRegsvr32(L"/s", ServerDllPath()));
    ExpectRegistered();
}

// After unregistering, COM no longer finds either class; after registering it does again.
TEST(Registration, ComFindsTheClassOnlyWhileRegistered)
{
    RegistrationGuards guards;
    ASSERT_EQ(0, RunRegsvr32(L"/s /u", ServerDllPath()));
    for (auto create : {&CreateExtension, &CreateExplorerCommand}) {
        ComPtr<IUnknown> object;
        EXPECT_EQ(REGDB_E_CLASSNOTREG, create(IID_IUnknown, &object));
    }
    ASSERT_EQ(0, RunRegsvr32(L"/s", ServerDllPath()));
    for (auto create : {&CreateExtension, &CreateExplorerCommand}) {
        ComPtr<IUnknown> object;
        EXPECT_EQ(S_OK, create(IID_IUnknown, &object));
    }
}

TEST(Registration, UnregisterLeavesWhatOthersWrote)
{
    RegistrationGuards guards;
    KeyGuard neighbourGuard(HKEY_CLASSES_ROOT, L"*\\shellex\\ContextMenuHandlers\\OrvaneNeighbour");
    const std::wstring foreignHandler = L"{11111111-2222-3333-4444-555555555555}";
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, HandlerKeyPaths[1], L"", foreignHandler));
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, L"*\\shellex\\ContextMenuHandlers\\OrvaneNeighbour", L"", foreignHandler));
    ASSERT_TRUE(WriteString(HKEY_LOCAL_MACHINE, ApprovedKeyPath, foreignHandler.c_str(), L"Neighbour"));
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, std::wstring(ClassKeyPath) + L"\\Implemented Categories", L"", L""));
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, std::wstring(CommandClassKeyPath) + L"\\Implemented Categories", L"", L""));

    ASSERT_EQ(0, RunRegsvr32(L"/s /u", ServerDllPath()));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ServerKeyPath));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, CommandServerKeyPath));
    if (!OtherViewKeyExists(ServerKeyPath)) {
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, HandlerKeyPaths[0]));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, HandlerKeyPaths[2]));
    }
    EXPECT_FALSE(ApprovedValueExists());
    // Someone else's entries stay, and so does a class key that holds more than ours.
    EXPECT_EQ(foreignHandler, Value(HKEY_CLASSES_ROOT, HandlerKeyPaths[1]));
    EXPECT_EQ(foreignHandler, Value(HKEY_CLASSES_ROOT, L"*\\shellex\\ContextMenuHandlers\\OrvaneNeighbour"));
    EXPECT_EQ(L"Neighbour", Value(HKEY_LOCAL_MACHINE, ApprovedKeyPath, foreignHandler.c_str()));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(ClassKeyPath) + L"\\Implemented Categories"));
    EXPECT_EQ(L"(missing)", Value(HKEY_CLASSES_ROOT, ClassKeyPath));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(CommandClassKeyPath) + L"\\Implemented Categories"));
    EXPECT_EQ(L"(missing)", Value(HKEY_CLASSES_ROOT, CommandClassKeyPath));
}

// A value as a build of 8-bit text wrote it: through RegSetValueExA, in the ANSI code page.
bool WriteThroughAnsiCalls(HKEY root, const std::wstring& path, const char* name, const std::string& text)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, Ansi(path).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const LONG status = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                       static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

// A registration that an earlier build wrote through the 8-bit registry calls reads as
// this build's own, and unregistering takes it out entry by entry.
TEST(Registration, UnregisterTakesOutARegistrationWrittenThroughTheAnsiCalls)
{
    RegistrationGuards guards;
    ASSERT_EQ(0, RunRegsvr32(L"/s /u", ServerDllPath()));
    ExpectNothingOfOurs();
    const std::string clsid = Ansi(ExtensionClsidText);
    ASSERT_TRUE(WriteThroughAnsiCalls(HKEY_CLASSES_ROOT, ClassKeyPath, nullptr, "Orvane"));
    ASSERT_TRUE(WriteThroughAnsiCalls(HKEY_CLASSES_ROOT, ServerKeyPath, nullptr, Ansi(ServerDllPath())));
    ASSERT_TRUE(WriteThroughAnsiCalls(HKEY_CLASSES_ROOT, ServerKeyPath, "ThreadingModel", "Apartment"));
    for (const wchar_t* path : HandlerKeyPaths)
        ASSERT_TRUE(WriteThroughAnsiCalls(HKEY_CLASSES_ROOT, path, nullptr, clsid));
    ASSERT_TRUE(WriteThroughAnsiCalls(HKEY_LOCAL_MACHINE, ApprovedKeyPath, clsid.c_str(), "Orvane"));
    ExpectRegistered(false);
    ASSERT_EQ(0, RunRegsvr32(L"/s /u", ServerDllPath()));
    ExpectNothingOfOurs();
    ASSERT_EQ(0, RunRegsvr32(L"/s", ServerDllPath()));
    ExpectRegistered();
}

// The file, folder and drive keys are shared by 32-bit and 64-bit programs, the class keys
// are not: unregistering one architecture leaves the shared entries while the other is
// still registered.
TEST(Registration, SharedEntriesStayWhileTheOtherArchitectureIsRegistered)
{
    RegistrationGuards guards;
    ASSERT_TRUE(KeyExists(HKEY_CLASSES_ROOT, ClassKeyPath));
    // Registered here but not there: the other view's class key (the other architecture's
    // registration, if any) is taken out for the test and put back at its end. Were there
    // one view of the class keys only, that would take out this registration too.
    OtherViewClasses otherClasses;
    ASSERT_NE(nullptr, otherClasses.get());
    KeyGuard otherClassGuard(otherClasses.get(), ExtensionClsidText);
    ASSERT_TRUE(DeleteKeyTree(otherClasses.get(), ExtensionClsidText));
    ASSERT_TRUE(KeyExists(HKEY_CLASSES_ROOT, ClassKeyPath)) << "one view of the class keys for both architectures";
    ASSERT_FALSE(OtherViewKeyExists(ClassKeyPath));
    HKEY other = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, ServerKeyPath, 0, nullptr, 0,
                                             KEY_ALL_ACCESS | OtherView(), nullptr, &other, nullptr));
    RegCloseKey(other);
    ASSERT_EQ(0, RunRegsvr32(L"/s /u", ServerDllPath()));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ServerKeyPath));
    EXPECT_TRUE(OtherViewKeyExists(ServerKeyPath));
    for (const wchar_t* path : HandlerKeyPaths)
        EXPECT_EQ(ExtensionClsidText, Value(HKEY_CLASSES_ROOT, path)) << Utf8(path);

    RegDeleteKeyExW(HKEY_CLASSES_ROOT, ServerKeyPath, OtherView(), 0);
    RegDeleteKeyExW(HKEY_CLASSES_ROOT, ClassKeyPath, OtherView(), 0);
    ASSERT_FALSE(OtherViewKeyExists(ClassKeyPath));
    ASSERT_EQ(0, RunRegsvr32(L"/s /u", ServerDllPath()));
    ExpectNothingOfOurs();
}

} // namespace
} // namespace orvane::test
