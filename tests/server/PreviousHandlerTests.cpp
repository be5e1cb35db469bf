// A class that had an icon handler of its own before Orvane was installed keeps it in
// shellex\IconHandlerBAK; files without a table entry are answered by asking that handler.
// The previous handler here is a second small COM server built with the tests
// (PreviousHandler.cpp), registered for the test and removed again; it serves a handler
// with both interfaces and an older one with IExtractIconA alone.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <thread>

#include "OwnIdentity.h"
#include "ServerTestSupport.h"
#include "UnicodeNames.h"

namespace orvane::test {
namespace {

constexpr wchar_t PreviousClsid[] = L"{5C0F7E1B-3D2A-4E8B-9F61-2B7A4C9D8E01}";
// The same module's older handler, which has no IExtractIconW.
constexpr wchar_t NarrowPreviousClsid[] = L"{5C0F7E1B-3D2A-4E8B-9F61-2B7A4C9D8E02}";

class PreviousHandler : public IconHandlerTest {
protected:
    void SetUp() override
    {
        for (const wchar_t* clsid : {PreviousClsid, NarrowPreviousClsid}) {
            const std::wstring server = std::wstring(L"CLSID\\") + clsid + L"\\InprocServer32";
            ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, server, L"", PreviousHandlerDllPath()));
            ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, server, L"ThreadingModel", L"Both"));
        }
        // Held loaded, so that its counts can be read whenever COM has loaded it too.
        module_ = LoadLibraryW(PreviousHandlerDllPath().c_str());
        ASSERT_NE(nullptr, module_);
        // The class as installing Orvane leaves it: its DefaultIcon text and its handler
        // kept as backups.
        InstallHandler(L"shell32.dll,4");
        SetBackup(PreviousClsid);
    }
    void TearDown() override
    {
        if (module_ != nullptr)
            FreeLibrary(module_);
    }

    void SetBackup(const std::wstring& text)
    {
        ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, className_ + L"\\shellex\\IconHandlerBAK", L"", text));
    }
    static std::wstring PreviousAnswer(const std::wstring& file)
    {
        return L"C:\\PreviousHandler\\" + file.substr(file.rfind(L'\\') + 1) + L".ico";
    }
    // The previous handlers' requests so far: all of them, or those through IExtractIconA.
    LONG Requests(const char* count) const
    {
        using CountFunction = LONG (*)();
        auto read = reinterpret_cast<CountFunction>(reinterpret_cast<void*>(GetProcAddress(module_, count)));
        return read != nullptr ? read() : -1;
    }
    LONG AllRequests() const { return Requests("PreviousHandlerLocationRequests"); }
    LONG NarrowRequests() const { return Requests("PreviousHandlerNarrowRequests"); }

    KeyGuard handlerGuard_{HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + PreviousClsid};
    KeyGuard narrowHandlerGuard_{HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + NarrowPreviousClsid};
    HMODULE module_ = nullptr;
};

TEST_F(PreviousHandler, AnswersFilesWithoutAnEntry)
{
    const std::wstring file = File(L"plain");
    ExpectAnswer(AskIconHandler(file), PreviousAnswer(file), 42);
    ExpectAnswer(AskIconHandler(file, 0, IconInterface::Ansi), PreviousAnswer(file), 42);
}

// The previous handler is told the whole UTF-16 path and asked through its wide
// interface, whichever interface the shell asked this extension through; its wide
// answer is handed on exactly.
TEST_F(PreviousHandler, AskedThroughItsWideInterfaceWithTheWholePath)
{
    for (const UnicodeName& name : UnicodeNames()) {
        SCOPED_TRACE(name.Label);
        const std::wstring file = File(name.Text);
        const LONG all = AllRequests();
        const LONG narrow = NarrowRequests();
        ExpectAnswer(AskIconHandler(file), PreviousAnswer(file), 42);
        EXPECT_EQ(all + 1, AllRequests());
        EXPECT_EQ(narrow, NarrowRequests());
    }
    const std::wstring plain = File(L"plain");
    const LONG narrow = NarrowRequests();
    ExpectAnswer(AskIconHandler(plain, 0, IconInterface::Ansi), PreviousAnswer(plain), 42);
    EXPECT_EQ(narrow, NarrowRequests());
}

// A previous handler without IExtractIconW is asked through IExtractIconA; its answer,
// text of the ANSI code page, is handed on in UTF-16.
TEST_F(PreviousHandler, OlderHandlerIsAskedThroughIExtractIconA)
{
    SetBackup(NarrowPreviousClsid);
    for (const wchar_t* stem : {L"plain", L"caf\u00E9"}) {
        const std::wstring file = File(stem);
        const std::wstring expected = PreviousAnswer(file);
        if (FromAnsi(Ansi(expected)) != expected)
            continue; // this code page cannot hold the name
        const LONG narrow = NarrowRequests();
        ExpectAnswer(AskIconHandler(file), expected, 42);
        EXPECT_EQ(narrow + 1, NarrowRequests());
        ExpectAnswer(AskIconHandler(file, 0, IconInterface::Ansi), expected, 42);
        EXPECT_EQ(narrow + 2, NarrowRequests());
    }
    // Its answers that cannot be passed on are not passed on either.
    for (const wchar_t* stem : {L"decline", L"notfilename", L"longanswer"}) {
        SCOPED_TRACE(Utf8(stem));
        ExpectAnswer(AskIconHandler(File(stem)), L"shell32.dll", 4);
    }
}

TEST_F(PreviousHandler, TableEntryComesFirst)
{
    const std::wstring file = File(L"own");
    ASSERT_TRUE(WriteString(HKEY_LOCAL_MACHINE, FileIconsKeyPath, file.c_str(), L"C:\\icons\\set.icl,7," + className_));
    ExpectAnswer(AskIconHandler(file), L"C:\\icons\\set.icl", 7);
    const std::wstring sibling = File(L"sibling");
    ExpectAnswer(AskIconHandler(sibling), PreviousAnswer(sibling), 42);
}

// A type icon chosen while Orvane is the handler is the user's latest word for the type.
TEST_F(PreviousHandler, TypeIconChosenSinceInstallingComesFirst)
{
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, className_ + L"\\DefaultIcon", L"HandlerIconInfo", L"C:\\icons\\type.ico,6"));
    ExpectAnswer(AskIconHandler(File(L"plain")), L"C:\\icons\\type.ico", 6);
}

// Answers that cannot be passed on leave the type's own icon to answer.
TEST_F(PreviousHandler, AnswersThatCannotBePassedOn)
{
    for (const wchar_t* stem : {L"decline", L"notfilename", L"longanswer"}) {
        SCOPED_TRACE(Utf8(stem));
        ExpectAnswer(AskIconHandler(File(stem)), L"shell32.dll", 4);
    }
}

// Backups that name no usable handler, among them this extension itself, which would
// only ask itself again without end.
TEST_F(PreviousHandler, BackupsThatNameNoOtherHandler)
{
    const wchar_t* backups[] = {
        ExtensionClsidText,
        test::OwnClsidInLowerCase.Text,
        L"{00000000-1111-2222-3333-444444444444}",
        L"x",
        L"",
        L"not a class identifier",
        L"{5C0F7E1B-3D2A-4E8B-9F61-2B7A4C9D8E01",
    };
    for (const wchar_t* backup : backups) {
        SCOPED_TRACE(Utf8(backup));
        SetBackup(backup);
        ExpectAnswer(AskIconHandler(File(L"plain")), L"shell32.dll", 4);
    }
    const std::wstring oversized(400, L'{');
    SetBackup(oversized);
    ExpectAnswer(AskIconHandler(File(L"plain")), L"shell32.dll", 4);
}

// Asking the previous handler initializes COM on the calling thread only for the time of
// the request: a thread without COM has none afterwards, and a thread of the
// multithreaded apartment is answered all the same.
TEST_F(PreviousHandler, CallingThreadsApartmentIsLeftAsItWas)
{
    const std::wstring file = File(L"threaded");
    ComPtr<IPersistFile> persist;
    ComPtr<IExtractIconW> extract;
    ASSERT_NO_FATAL_FAILURE(LoadIconHandler(file, persist, extract));

    auto ask = [&](std::wstring* path, int* index) {
        wchar_t buffer[MAX_PATH] = {};
        const HRESULT hr = extract->GetIconLocation(0, buffer, MAX_PATH, index, nullptr);
        *path = buffer;
        return hr;
    };

    std::thread withoutCom([&] {
        std::wstring path;
        int index = -1;
        EXPECT_EQ(S_OK, ask(&path, &index));
        EXPECT_EQ(PreviousAnswer(file), path);
        EXPECT_EQ(42, index);
        // S_OK, not S_FALSE: the request left no initialization behind.
        const HRESULT hr = CoInitialize(nullptr);
        EXPECT_EQ(S_OK, hr);
        if (SUCCEEDED(hr))
            CoUninitialize();
    });
    withoutCom.join();

    std::thread multithreaded([&] {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        std::wstring path;
        int index = -1;
        EXPECT_EQ(S_OK, ask(&path, &index));
        EXPECT_EQ(PreviousAnswer(file), path);
        EXPECT_EQ(42, index);
        CoUninitialize();
    });
    multithreaded.join();
}

} // namespace
} // namespace orvane::test
