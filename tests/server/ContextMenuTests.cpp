// The extension object's identity and its context-menu role, created through the registry
// and handed the shell's own data objects, as Explorer does (Wine's shell does not load
// context-menu handlers itself, so the tests play Explorer's part).
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <iterator>

#include "ManyTargets.h"
#include "ServerTestSupport.h"
#include "UnicodeNames.h"

namespace orvane::test {
namespace {

const void* const Garbage = reinterpret_cast<void*>(0x0BADF00D);
constexpr wchar_t EntryText[] = L"&Change Icon...";
constexpr wchar_t HelpText[] = L"Change Icon of selected folder";

const MenuEntry Separator{MFT_SEPARATOR, 0, L""};
MenuEntry Entry(UINT id) { return MenuEntry{MFT_STRING, id, EntryText}; }
MenuEntry Placeholder(int i) { return MenuEntry{MFT_STRING, static_cast<UINT>(i + 1), L"Item " + std::to_wstring(i)}; }

ComPtr<IUnknown> Query(IUnknown* from, REFIID iid, HRESULT* hr)
{
    ComPtr<IUnknown> out;
    *hr = from->QueryInterface(iid, &out);
    return out;
}

// Each interface is asked for each identifier; the answers do not depend on where the
// question is asked, and IUnknown is always the IShellExtInit pointer.
TEST(ExtensionIdentity, QueryInterfaceTable)
{
    ComPtr<IUnknown> object;
    ASSERT_EQ(S_OK, CreateExtension(IID_IUnknown, &object));
    HRESULT hr;
    ComPtr<IUnknown> init = Query(object.Get(), IID_IShellExtInit, &hr);
    ASSERT_EQ(S_OK, hr);
    EXPECT_EQ(object.Get(), init.Get());

    const IID* starts[] = {&IID_IUnknown,      &IID_IShellExtInit, &IID_IContextMenu,
                           &IID_IExtractIconW, &IID_IExtractIconA, &IID_IPersistFile};
    struct Row {
        const IID* Iid;
        HRESULT Expected;
    };
    const Row table[] = {
        {&IID_IShellExtInit, S_OK},          {&IID_IUnknown, S_OK},           {&IID_IContextMenu, S_OK},
        {&IID_IExtractIconW, S_OK},          {&IID_IExtractIconA, S_OK},      {&IID_IPersistFile, S_OK},
        {&IID_IContextMenu2, E_NOINTERFACE}, {&IID_IContextMenu3, E_NOINTERFACE},
        {&IID_IPersist, E_NOINTERFACE},      {&IID_IDataObject, E_NOINTERFACE}, {&IID_IClassFactory, E_NOINTERFACE},
        {&IID_IShellIconOverlayIdentifier, E_NOINTERFACE},
    };
    for (const IID* start : starts) {
        ComPtr<IUnknown> from = Query(object.Get(), *start, &hr);
        ASSERT_EQ(S_OK, hr);
        for (const Row& row : table) {
            void* out = const_cast<void*>(Garbage);
            EXPECT_EQ(row.Expected, from->QueryInterface(*row.Iid, &out));
            if (row.Expected != S_OK) {
                EXPECT_EQ(nullptr, out);
                continue;
            }
            auto* answer = static_cast<IUnknown*>(out);
            // The same interface is handed out whichever interface was asked.
            ComPtr<IUnknown> direct = Query(object.Get(), *row.Iid, &hr);
            EXPECT_EQ(direct.Get(), answer);
            ComPtr<IUnknown> identity = Query(answer, IID_IUnknown, &hr);
            EXPECT_EQ(init.Get(), identity.Get());
            answer->Release();
        }
    }
}

TEST(ExtensionIdentity, OneReferenceCountForAllInterfaces)
{
    IContextMenu* menu = nullptr;
    ASSERT_EQ(S_OK, CreateExtension(IID_IContextMenu, reinterpret_cast<void**>(&menu)));
    IExtractIconA* extract = nullptr;
    ASSERT_EQ(S_OK, menu->QueryInterface(IID_IExtractIconA, reinterpret_cast<void**>(&extract)));
    IPersistFile* persist = nullptr;
    ASSERT_EQ(S_OK, menu->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)));
    IExtractIconW* wide = nullptr;
    ASSERT_EQ(S_OK, menu->QueryInterface(IID_IExtractIconW, reinterpret_cast<void**>(&wide)));
    EXPECT_EQ(S_FALSE, ServerCanUnloadNow());
    EXPECT_EQ(5u, extract->AddRef());
    EXPECT_EQ(4u, wide->Release());
    EXPECT_EQ(3u, menu->Release());
    EXPECT_EQ(2u, persist->Release());
    EXPECT_EQ(1u, extract->Release());
    EXPECT_EQ(S_FALSE, ServerCanUnloadNow());
    EXPECT_EQ(0u, extract->Release());
    EXPECT_EQ(S_OK, ServerCanUnloadNow());
}

class ContextMenu : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, CreateExtension(IID_IContextMenu, &menu_));
        ASSERT_EQ(S_OK, menu_->QueryInterface(IID_IShellExtInit, &init_));
    }

    // Initialize with a data object, then build a menu holding `before` items, inserting at
    // `index` with the ids 100 to `last`; returns QueryContextMenu's result and the menu.
    HRESULT Build(IDataObject* data, UINT flags, std::vector<MenuEntry>* entries, int before = 5, UINT index = 5,
                  UINT last = 200)
    {
        EXPECT_EQ(S_OK, init_->Initialize(nullptr, data, nullptr));
        PopupMenu popup(before);
        const HRESULT hr = menu_->QueryContextMenu(popup.get(), index, 100, last, flags);
        *entries = ReadMenu(popup.get());
        return hr;
    }

    static std::vector<MenuEntry> Expected(bool withEntry, int before = 5, int index = 5)
    {
        std::vector<MenuEntry> entries;
        for (int i = 0; i < before; ++i)
            entries.push_back(Placeholder(i));
        if (withEntry) {
            entries.insert(entries.begin() + index, {Separator, Entry(100), Separator});
        }
        return entries;
    }

    ComPtr<IContextMenu> menu_;
    ComPtr<IShellExtInit> init_;
};

const HRESULT OneCommand = MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1);
const HRESULT NoCommand = MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);

// The shell's own data objects for one file, folder or drive root: a file and a folder
// of a plain name, the drive root, items named in characters that code page 1252 cannot
// hold, and a file whose path is exactly 259 UTF-16 units long.
TEST_F(ContextMenu, OneItemOfEachKindAndAnyNameGetsTheEntry)
{
    TempDir dir;
    std::vector<std::wstring> paths = {dir.MakeFile(L"a.txt"), dir.MakeFolder(L"sub"), L"C:\\"};
    for (const UnicodeName& name : UnicodeNames()) {
        paths.push_back(dir.MakeFile(name.Text + L".txt"));
        paths.push_back(dir.MakeFolder(name.Text));
    }
    const std::wstring longest = PathOfLength(dir.Path(), 259, L".txt");
    ASSERT_EQ(259u, longest.size());
    paths.push_back(dir.MakeFile(longest.substr(dir.Path().size() + 1)));
    for (const std::wstring& path : paths) {
        SCOPED_TRACE(Utf8(path));
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str()));
        ComPtr<IDataObject> data = ShellDataObject(path);
        ASSERT_TRUE(data);
        std::vector<MenuEntry> entries;
        EXPECT_EQ(OneCommand, Build(data.Get(), CMF_NORMAL, &entries));
        EXPECT_EQ(Expected(true), entries);
    }
}

TEST_F(ContextMenu, EntryGoesWhereTheShellAsks)
{
    TempDir dir;
    ComPtr<IDataObject> data = ShellDataObject(dir.MakeFile(L"a.txt"));
    ASSERT_TRUE(data);
    for (UINT index : {0u, 2u, 5u}) {
        SCOPED_TRACE(index);
        std::vector<MenuEntry> entries;
        EXPECT_EQ(OneCommand, Build(data.Get(), CMF_NORMAL, &entries, 5, index));
        EXPECT_EQ(Expected(true, 5, static_cast<int>(index)), entries);
    }
    std::vector<MenuEntry> entries;
    EXPECT_EQ(OneCommand, Build(data.Get(), CMF_NORMAL, &entries, 0, 0));
    EXPECT_EQ(Expected(true, 0, 0), entries);
}

TEST_F(ContextMenu, FlagsTable)
{
    TempDir dir;
    ComPtr<IDataObject> data = ShellDataObject(dir.MakeFile(L"a.txt"));
    ASSERT_TRUE(data);
    // The last id the shell gives: the first (100) itself leaves the one id the entry
    // needs; one below it leaves none, and nothing may be added.
    struct Row {
        UINT Flags;
        bool Entry;
        UINT Last = 200;
    };
    const Row table[] = {
        {CMF_NORMAL, true},
        {CMF_DEFAULTONLY, false},
        {CMF_VERBSONLY, false},
        {CMF_NOVERBS, false},
        {CMF_EXPLORE, true},
        {CMF_CANRENAME, true},
        {CMF_EXTENDEDVERBS, true},
        {CMF_NODEFAULT, true},
        {CMF_EXPLORE | CMF_NOVERBS, false},
        {CMF_EXPLORE | CMF_DEFAULTONLY, false},
        {CMF_CANRENAME | CMF_VERBSONLY, false},
        {CMF_NORMAL, true, 100},
        {CMF_NORMAL, false, 99},
        {CMF_EXPLORE, false, 0},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(testing::Message() << row.Flags << " last id " << row.Last);
        std::vector<MenuEntry> entries;
        EXPECT_EQ(row.Entry ? OneCommand : NoCommand, Build(data.Get(), row.Flags, &entries, 5, 5, row.Last));
        EXPECT_EQ(Expected(row.Entry), entries);
    }
}

// A selection of several items of any kinds gets the entry: the shell's own data object
// for items of one folder, a drop list with a drive among files and folders, up to
// SelectionLimit items; one item more gets none.
TEST_F(ContextMenu, SelectionsOfSeveralItemsGetTheEntryUpToTheLimit)
{
    TempDir dir;
    std::vector<std::wstring> names;
    for (int i = 0; i < 5; ++i) {
        names.push_back(L"f" + std::to_wstring(i) + L".txt");
        dir.MakeFile(names.back());
        names.push_back(L"d" + std::to_wstring(i));
        dir.MakeFolder(names.back());
    }
    ComPtr<IDataObject> two = ShellDataObject(dir.Path(), {names[0], names[1]});
    ComPtr<IDataObject> ten = ShellDataObject(dir.Path(), names);
    ASSERT_TRUE(two && ten);
    TestDataObject mixed({L"C:\\", dir.Path() + L"\\" + names[0], dir.Path() + L"\\" + names[1]});
    TestDataObject atLimit(std::vector<std::wstring>(SelectionLimit, dir.Path() + L"\\" + names[0]));
    TestDataObject pastLimit(std::vector<std::wstring>(SelectionLimit + 1, dir.Path() + L"\\" + names[0]));
    TestDataObject relative({L"a.txt", L"sub"});
    const struct {
        const char* Label;
        IDataObject* Data;
        bool Entry;
    } table[] = {
        {"two items of the shell", two.Get(), true},
        {"ten items of the shell, files and folders", ten.Get(), true},
        {"a drive among a file and a folder", &mixed, true},
        {"at the limit", &atLimit, true},
        {"one past the limit", &pastLimit, false},
        {"names that are no full paths", &relative, false},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.Label);
        std::vector<MenuEntry> entries;
        EXPECT_EQ(row.Entry ? OneCommand : NoCommand, Build(row.Data, CMF_NORMAL, &entries));
        EXPECT_EQ(Expected(row.Entry), entries);
    }
    init_->Initialize(nullptr, nullptr, nullptr);
}

TEST_F(ContextMenu, DataObjectWithoutDropDataGetsNoEntry)
{
    TestDataObject data({L"C:\\a.txt"}, false);
    std::vector<MenuEntry> entries;
    EXPECT_EQ(NoCommand, Build(&data, CMF_NORMAL, &entries));
    EXPECT_EQ(Expected(false), entries);
    EXPECT_EQ(0, data.MediaHandedOut());
    init_->Initialize(nullptr, nullptr, nullptr);
}

TEST_F(ContextMenu, EmptyDropDataGetsNoEntry)
{
    TestDataObject data({});
    std::vector<MenuEntry> entries;
    EXPECT_EQ(NoCommand, Build(&data, CMF_NORMAL, &entries));
    EXPECT_EQ(Expected(false), entries);
    EXPECT_EQ(1, data.MediaReleased());
    init_->Initialize(nullptr, nullptr, nullptr);
}

TEST_F(ContextMenu, NoDataObjectGetsNoEntry)
{
    PopupMenu popup(5);
    EXPECT_EQ(NoCommand, menu_->QueryContextMenu(popup.get(), 5, 100, 200, CMF_NORMAL));
    EXPECT_EQ(Expected(false), ReadMenu(popup.get()));
    std::vector<MenuEntry> entries;
    EXPECT_EQ(NoCommand, Build(nullptr, CMF_NORMAL, &entries));
    EXPECT_EQ(Expected(false), entries);
}

// Every medium that GetData hands out is released again, whatever the selection held.
TEST_F(ContextMenu, EveryMediumIsReleased)
{
    for (const std::vector<std::wstring>& paths :
         {std::vector<std::wstring>{L"C:\\a.txt"}, std::vector<std::wstring>{L"C:\\a.txt", L"C:\\b.txt"}}) {
        for (DropText text : {DropText::Wide, DropText::Ansi}) {
            TestDataObject data(paths, true, text);
            std::vector<MenuEntry> entries;
            Build(&data, CMF_NORMAL, &entries);
            Build(&data, CMF_EXPLORE, &entries);
            EXPECT_EQ(2, data.MediaHandedOut());
            EXPECT_EQ(2, data.MediaReleased());
            init_->Initialize(nullptr, nullptr, nullptr);
        }
    }
}

// A drop list in the ANSI code page, as older programs write it, gives the entry too.
TEST_F(ContextMenu, EightBitDropListGetsTheEntry)
{
    TestDataObject one({L"C:\\a.txt"}, true, DropText::Ansi);
    std::vector<MenuEntry> entries;
    EXPECT_EQ(OneCommand, Build(&one, CMF_NORMAL, &entries));
    EXPECT_EQ(Expected(true), entries);
    init_->Initialize(nullptr, nullptr, nullptr);
    TestDataObject two({L"C:\\a.txt", L"C:\\b.txt"}, true, DropText::Ansi);
    EXPECT_EQ(OneCommand, Build(&two, CMF_NORMAL, &entries));
    EXPECT_EQ(Expected(true), entries);
    init_->Initialize(nullptr, nullptr, nullptr);
}

// A path that does not fit 259 characters is left out rather than cut into another name.
// The limit counts UTF-16 units: a surrogate pair counts two.
TEST_F(ContextMenu, PathTooLongForTheEntryGetsNoEntry)
{
    const std::wstring fits = L"C:\\" + std::wstring(256, L'f');
    const std::wstring tooLong = L"C:\\" + std::wstring(257, L'f');
    const std::wstring pairsFit = L"C:\\" + std::wstring(254, L'f') + L"\U0001F4C1";
    const std::wstring pairsTooLong = L"C:\\" + std::wstring(255, L'f') + L"\U0001F4C1";
    ASSERT_EQ(259u, pairsFit.size());
    for (const std::wstring& path : {fits, pairsFit}) {
        TestDataObject data({path});
        std::vector<MenuEntry> entries;
        EXPECT_EQ(OneCommand, Build(&data, CMF_NORMAL, &entries));
        init_->Initialize(nullptr, nullptr, nullptr);
    }
    for (const std::wstring& path : {tooLong, pairsTooLong}) {
        TestDataObject data({path});
        std::vector<MenuEntry> entries;
        EXPECT_EQ(NoCommand, Build(&data, CMF_NORMAL, &entries));
        EXPECT_EQ(Expected(false), entries);
        init_->Initialize(nullptr, nullptr, nullptr);
    }
    {
        TestDataObject data({fits}, true, DropText::Ansi);
        std::vector<MenuEntry> entries;
        EXPECT_EQ(OneCommand, Build(&data, CMF_NORMAL, &entries));
        init_->Initialize(nullptr, nullptr, nullptr);
    }
    {
        TestDataObject data({tooLong}, true, DropText::Ansi);
        std::vector<MenuEntry> entries;
        EXPECT_EQ(NoCommand, Build(&data, CMF_NORMAL, &entries));
        init_->Initialize(nullptr, nullptr, nullptr);
    }
}

// Explorer may initialize an object again; the first selection is released and does not
// stand for the second one.
TEST_F(ContextMenu, InitializeAgainReleasesTheFirstSelection)
{
    TestDataObject first({L"C:\\a.txt"});
    TestDataObject second({});
    first.AddRef();
    second.AddRef();
    std::vector<MenuEntry> entries;
    EXPECT_EQ(OneCommand, Build(&first, CMF_NORMAL, &entries));
    EXPECT_EQ(2, first.References());
    EXPECT_EQ(NoCommand, Build(&second, CMF_NORMAL, &entries));
    EXPECT_EQ(1, first.References());
    EXPECT_EQ(2, second.References());
    EXPECT_EQ(Expected(false), entries);
    // The same data object again keeps exactly one reference.
    EXPECT_EQ(S_OK, init_->Initialize(nullptr, &second, nullptr));
    EXPECT_EQ(2, second.References());
    // Destroying the object releases the data object it holds.
    init_.Reset();
    menu_.Reset();
    EXPECT_EQ(1, second.References());
    EXPECT_EQ(S_OK, ServerCanUnloadNow());
    first.Release();
    second.Release();
}

TEST_F(ContextMenu, InitializeWithNoneReleasesTheSelection)
{
    TestDataObject data({L"C:\\a.txt"});
    EXPECT_EQ(S_OK, init_->Initialize(nullptr, &data, nullptr));
    EXPECT_EQ(1, data.References());
    EXPECT_EQ(S_OK, init_->Initialize(nullptr, nullptr, nullptr));
    EXPECT_EQ(0, data.References());
    PopupMenu popup;
    EXPECT_EQ(NoCommand, menu_->QueryContextMenu(popup.get(), 0, 100, 200, CMF_NORMAL));
}

// A guard buffer shows that nothing is written beyond cchMax (bytes for the 8-bit
// requests, characters for the UTF-16 ones).
TEST_F(ContextMenu, GetCommandStringTable)
{
    struct Row {
        UINT_PTR Offset;
        UINT Type;
        UINT CchMax;
        HRESULT Expected;
        const wchar_t* Text; // null: nothing written
    };
    const UINT helpSize = static_cast<UINT>(std::size(HelpText));
    const Row table[] = {
        {0, GCS_HELPTEXTA, 64, S_OK, HelpText},
        {0, GCS_HELPTEXTA, helpSize, S_OK, HelpText},
        {0, GCS_HELPTEXTA, helpSize - 1, S_OK, L"Change Icon of selected folde"},
        {0, GCS_HELPTEXTA, 7, S_OK, L"Change"},
        {0, GCS_HELPTEXTA, 1, S_OK, L""},
        {0, GCS_HELPTEXTA, 0, E_INVALIDARG, nullptr},
        {0, GCS_HELPTEXTW, 64, S_OK, HelpText},
        {0, GCS_HELPTEXTW, helpSize, S_OK, HelpText},
        {0, GCS_HELPTEXTW, helpSize - 1, S_OK, L"Change Icon of selected folde"},
        {0, GCS_HELPTEXTW, 7, S_OK, L"Change"},
        {0, GCS_HELPTEXTW, 1, S_OK, L""},
        {0, GCS_HELPTEXTW, 0, E_INVALIDARG, nullptr},
        {0, GCS_VERBA, 64, E_NOTIMPL, nullptr},
        {0, GCS_VERBW, 64, E_NOTIMPL, nullptr},
        {0, GCS_VALIDATEA, 64, S_OK, nullptr},
        {0, GCS_VALIDATEW, 64, S_OK, nullptr},
        {0, GCS_VERBICONW, 64, E_NOTIMPL, nullptr},
        {1, GCS_HELPTEXTA, 64, E_INVALIDARG, nullptr},
        {1, GCS_HELPTEXTW, 64, E_INVALIDARG, nullptr},
        {1, GCS_VALIDATEA, 64, E_INVALIDARG, nullptr},
        {1, GCS_VALIDATEW, 64, E_INVALIDARG, nullptr},
        {1, GCS_VERBW, 64, E_INVALIDARG, nullptr},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(testing::Message() << "offset " << row.Offset << " type " << row.Type << " cchMax " << row.CchMax);
        unsigned char buffer[256];
        std::memset(buffer, 0xCD, sizeof buffer);
        EXPECT_EQ(row.Expected, menu_->GetCommandString(row.Offset, row.Type, nullptr,
                                                        reinterpret_cast<char*>(buffer), row.CchMax));
        const bool wide = (row.Type & GCS_UNICODE) != 0;
        std::size_t written = 0;
        if (row.Text != nullptr) {
            if (wide) {
                EXPECT_EQ(std::wstring(row.Text), reinterpret_cast<const wchar_t*>(buffer));
                written = (std::wcslen(reinterpret_cast<const wchar_t*>(buffer)) + 1) * sizeof(wchar_t);
            } else {
                EXPECT_EQ(Ansi(row.Text), reinterpret_cast<const char*>(buffer));
                written = std::strlen(reinterpret_cast<const char*>(buffer)) + 1;
            }
            EXPECT_LE(written, row.CchMax * (wide ? sizeof(wchar_t) : 1));
        }
        for (std::size_t i = written; i < sizeof buffer; ++i) {
            ASSERT_EQ(0xCD, buffer[i]) << "byte " << i << " written";
        }
    }
    EXPECT_EQ(E_INVALIDARG, menu_->GetCommandString(0, GCS_HELPTEXTA, nullptr, nullptr, 64));
    EXPECT_EQ(E_INVALIDARG, menu_->GetCommandString(0, GCS_HELPTEXTW, nullptr, nullptr, 64));
}

// Verbs other than command offset 0 are refused before anything is shown.
TEST_F(ContextMenu, InvokeCommandRefusesOtherVerbs)
{
    TempDir dir;
    ComPtr<IDataObject> data = ShellDataObject(dir.MakeFile(L"a.txt"));
    std::vector<MenuEntry> entries;
    ASSERT_EQ(OneCommand, Build(data.Get(), CMF_NORMAL, &entries));

    const char* verbs[] = {MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(2), MAKEINTRESOURCEA(0xFFFF), "open", "changeicon", ""};
    for (const char* verb : verbs) {
        CMINVOKECOMMANDINFO info = {};
        info.cbSize = sizeof info;
        info.lpVerb = verb;
        info.nShow = SW_SHOWNORMAL;
        EXPECT_EQ(E_INVALIDARG, menu_->InvokeCommand(&info));
    }
    EXPECT_EQ(E_INVALIDARG, menu_->InvokeCommand(nullptr));
    EXPECT_EQ(nullptr, FindWindowW(L"#32770", L"Orvane"));
}

// Without a selection read for the menu there is no item to change.
TEST_F(ContextMenu, InvokeCommandWithoutSelectionShowsNothing)
{
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof info;
    info.lpVerb = MAKEINTRESOURCEA(0);
    EXPECT_EQ(E_FAIL, menu_->InvokeCommand(&info));
    EXPECT_EQ(nullptr, FindWindowW(L"#32770", L"Orvane"));
}

} // namespace
} // namespace orvane::test
