// The module's exports and the class factory, called directly on the loaded module where
// the lifetime of factories and objects is the point.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "ExtensionIdentity.h"
#include "ServerTestSupport.h"

namespace orvane::test {
namespace {

class ModuleLifetime : public LoadedServerTest {
protected:
    ComPtr<IClassFactory> Factory()
    {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(S_OK, getClassObject_(CLSID_ShellIconExtension, IID_IClassFactory, &factory));
        return factory;
    }
};

const void* const Garbage = reinterpret_cast<void*>(0x0BADF00D);

TEST_F(ModuleLifetime, ForeignClassIsNotAvailable)
{
    // The last of them differs from this module's class in one bit only.
    CLSID neighbour = CLSID_ShellIconExtension;
    neighbour.Data4[7] ^= 0x01;
    const CLSID others[] = {CLSID_NULL, CLSID_ShellLink, neighbour};
    for (const CLSID& other : others) {
        void* out = const_cast<void*>(Garbage);
        EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClassObject_(other, IID_IClassFactory, &out));
        EXPECT_EQ(nullptr, out);
    }
}

TEST_F(ModuleLifetime, EachCallGivesANewFactoryWithOneReference)
{
    for (const IID& iid : {IID_IClassFactory, IID_IUnknown}) {
        void* first = const_cast<void*>(Garbage);
        void* second = nullptr;
        ASSERT_EQ(S_OK, getClassObject_(CLSID_ShellIconExtension, iid, &first));
        ASSERT_EQ(S_OK, getClassObject_(CLSID_ShellIconExtension, iid, &second));
        EXPECT_NE(first, second);
        auto* a = static_cast<IUnknown*>(first);
        auto* b = static_cast<IUnknown*>(second);
        EXPECT_EQ(S_FALSE, canUnloadNow_());
        // AddRef answers 2, so the call handed the factory out with one reference.
        EXPECT_EQ(2u, a->AddRef());
        EXPECT_EQ(1u, a->Release());
        EXPECT_EQ(0u, a->Release());
        EXPECT_EQ(S_FALSE, canUnloadNow_());
        EXPECT_EQ(0u, b->Release());
        EXPECT_EQ(S_OK, canUnloadNow_());
    }
}

TEST_F(ModuleLifetime, FactoryAnswersItsTwoInterfacesOnly)
{
    ComPtr<IClassFactory> factory = Factory();
    ASSERT_TRUE(factory);
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(S_OK, factory->QueryInterface(IID_IUnknown, &unknown));
    EXPECT_EQ(static_cast<void*>(factory.Get()), static_cast<void*>(unknown.Get()));
    for (const IID& iid : {IID_IClassFactory2, IID_IContextMenu, IID_IShellExtInit, IID_IMarshal}) {
        void* out = const_cast<void*>(Garbage);
        EXPECT_EQ(E_NOINTERFACE, factory->QueryInterface(iid, &out));
        EXPECT_EQ(nullptr, out);
    }
}

// A factory whose first query fails is gone at once: the module can still unload.
TEST_F(ModuleLifetime, FactoryRefusedOnItsFirstQueryDoesNotStayAlive)
{
    for (const IID& iid : {IID_IContextMenu, IID_IShellExtInit, IID_IExtractIconW, IID_IExtractIconA}) {
        void* out = const_cast<void*>(Garbage);
        EXPECT_EQ(E_NOINTERFACE, getClassObject_(CLSID_ShellIconExtension, iid, &out));
        EXPECT_EQ(nullptr, out);
        EXPECT_EQ(S_OK, canUnloadNow_());
    }
}

// Likewise an object whose first query fails.
TEST_F(ModuleLifetime, ObjectRefusedOnItsFirstQueryDoesNotStayAlive)
{
    {
        ComPtr<IClassFactory> factory = Factory();
        ASSERT_TRUE(factory);
        for (const IID& iid : {IID_IShellIconOverlayIdentifier, IID_IContextMenu2, IID_IContextMenu3, IID_IClassFactory}) {
            void* out = const_cast<void*>(Garbage);
            EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, iid, &out));
            EXPECT_EQ(nullptr, out);
        }
    }
    EXPECT_EQ(S_OK, canUnloadNow_());
}

TEST_F(ModuleLifetime, AggregationIsRefusedAndCreatesNothing)
{
    {
        ComPtr<IClassFactory> factory = Factory();
        ASSERT_TRUE(factory);
        ComPtr<IClassFactory> outer = Factory(); // any live IUnknown will do as the outer object
        for (const IID& iid : {IID_IUnknown, IID_IContextMenu}) {
            void* out = const_cast<void*>(Garbage);
            EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(outer.Get(), iid, &out));
            EXPECT_EQ(nullptr, out);
        }
    }
    EXPECT_EQ(S_OK, canUnloadNow_());
}

TEST_F(ModuleLifetime, ObjectsOutliveTheirFactoryAndKeepTheModule)
{
    ComPtr<IContextMenu> menu;
    {
        ComPtr<IClassFactory> factory = Factory();
        ASSERT_TRUE(factory);
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IContextMenu, &menu));
    }
    EXPECT_EQ(S_FALSE, canUnloadNow_());
    // The object is still usable after its factory has gone.
    EXPECT_EQ(2u, menu->AddRef());
    EXPECT_EQ(1u, menu->Release());
    EXPECT_EQ(0u, menu.Detach()->Release());
    EXPECT_EQ(S_OK, canUnloadNow_());
}

TEST_F(ModuleLifetime, ServerLocksDoNotKeepTheModule)
{
    {
        ComPtr<IClassFactory> factory = Factory();
        ASSERT_TRUE(factory);
        EXPECT_EQ(S_OK, factory->LockServer(TRUE));
        EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    }
    EXPECT_EQ(S_OK, canUnloadNow_());
    ComPtr<IClassFactory> factory = Factory();
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
}

TEST_F(ModuleLifetime, NullOutPointersAreRefused)
{
    EXPECT_EQ(E_POINTER, getClassObject_(CLSID_ShellIconExtension, IID_IClassFactory, nullptr));
    ComPtr<IClassFactory> factory = Factory();
    ASSERT_TRUE(factory);
    EXPECT_EQ(E_POINTER, factory->QueryInterface(IID_IUnknown, nullptr));
    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IContextMenu, nullptr));
    ComPtr<IContextMenu> menu;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IContextMenu, &menu));
    EXPECT_EQ(E_POINTER, menu->QueryInterface(IID_IUnknown, nullptr));
}

DWORD WINAPI DoNothing(void*) { return 0; }

// Thread attach and detach notifications leave the instance handle alone: registering
// afterwards still names this DLL (GetModuleFileNameW of the kept handle), and a second
// LoadLibrary of the module brings no second attach.
TEST_F(ModuleLifetime, InstanceHandleSurvivesThreadNotifications)
{
    RegistrationGuards guards;
    HMODULE again = LoadLibraryW(ServerDllPath().c_str());
    ASSERT_EQ(module_, again);
    for (int i = 0; i < 4; ++i) {
        HANDLE thread = CreateThread(nullptr, 0, DoNothing, nullptr, 0, nullptr);
        ASSERT_NE(nullptr, thread);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    FreeLibrary(again);
    using Entry = HRESULT(STDAPICALLTYPE*)();
    auto registerServer = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module_, "DllRegisterServer")));
    ASSERT_NE(nullptr, registerServer);
    ASSERT_TRUE(DeleteKeyTree(HKEY_CLASSES_ROOT, ServerKeyPath));
    ASSERT_EQ(S_OK, registerServer());
    wchar_t modulePath[MAX_PATH] = {};
    ASSERT_NE(0u, GetModuleFileNameW(module_, modulePath, MAX_PATH));
    std::wstring registered;
    ASSERT_TRUE(ReadValue(HKEY_CLASSES_ROOT, ServerKeyPath, L"", &registered));
    EXPECT_EQ(0, lstrcmpiW(modulePath, registered.c_str())) << Utf8(registered);
}

// COM's own road: CoCreateInstance through the registry, then CoFreeUnusedLibraries asks
// DllCanUnloadNow and may unload the module once everything is released.
TEST(ModuleThroughCom, LiveObjectsKeepTheModuleAndReleasingThemFreesIt)
{
    ComPtr<IContextMenu> menu;
    ASSERT_EQ(S_OK, CreateExtension(IID_IContextMenu, &menu));
    EXPECT_NE(nullptr, GetModuleHandleW(ServerDllPath().c_str()));
    EXPECT_EQ(S_FALSE, ServerCanUnloadNow());
    CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_NE(nullptr, GetModuleHandleW(ServerDllPath().c_str()));
    menu.Reset();
    EXPECT_EQ(S_OK, ServerCanUnloadNow());
}

} // namespace
} // namespace orvane::test
