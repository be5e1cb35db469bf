// A class that had an icon handler of its own before Orvane was installed keeps it in
// shellex\IconHandlerBAK; files without a table entry are answered by asking that handler.
// The previous handler here is a second small COM server built with the tests
// (PreviousHandler.cpp), registered for the test and removed again.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <thread>

#include "OwnIdentity.h"
#include "ServerTestSupport.h"

namespace orvane::test {
namespace {

constexpr char PreviousClsid[] = "{5C0F7E1B-3D2A-4E8B-9F61-2B7A4C9D8E01}";

class PreviousHandler : public IconHandlerTest {
protected:
    void SetUp() override
    {
        const std::string server = std::string("CLSID\\") + PreviousClsid + "\\InprocServer32";
        ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, server, "", PreviousHandlerDllPath()));
        ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, server, "ThreadingModel", "Both"));
        // The class as installing Orvane leaves it: its DefaultIcon text and its handler
        // kept as backups.
        InstallHandler("shell32.dll,4");
        SetBackup(PreviousClsid);
    }

    void SetBackup(const std::string& text)
    {
        ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, className_ + "\\shellex\\IconHandlerBAK", "", text));
    }
    static std::string PreviousAnswer(const std::string& file)
    {
        return "C:\\PreviousHandler\\" + file.substr(file.rfind('\\') + 1) + ".ico";
    }

    KeyGuard handlerGuard_{HKEY_CLASSES_ROOT, std::string("CLSID\\") + PreviousClsid};
};

TEST_F(PreviousHandler, AnswersFilesWithoutAnEntry)
{
    const std::string file = File("plain");
    ExpectAnswer(AskIconHandler(file), PreviousAnswer(file), 42);
}

TEST_F(PreviousHandler, TableEntryComesFirst)
{
    const std::string file = File("own");
    ASSERT_TRUE(WriteString(HKEY_LOCAL_MACHINE, FileIconsKeyPath, file.c_str(), "C:\\icons\\set.icl,7," + className_));
    ExpectAnswer(AskIconHandler(file), "C:\\icons\\set.icl", 7);
    const std::string sibling = File("sibling");
    ExpectAnswer(AskIconHandler(sibling), PreviousAnswer(sibling), 42);
}

// A type icon chosen while Orvane is the handler is the user's latest word for the type.
TEST_F(PreviousHandler, TypeIconChosenSinceInstallingComesFirst)
{
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, className_ + "\\DefaultIcon", "HandlerIconInfo", "C:\\icons\\type.ico,6"));
    ExpectAnswer(AskIconHandler(File("plain")), "C:\\icons\\type.ico", 6);
}

// Answers that cannot be passed on leave the type's own icon to answer.
TEST_F(PreviousHandler, AnswersThatCannotBePassedOn)
{
    for (const char* stem : {"decline", "notfilename", "longanswer"}) {
        SCOPED_TRACE(stem);
        ExpectAnswer(AskIconHandler(File(stem)), "shell32.dll", 4);
    }
}

// Backups that name no usable handler, among them this extension itself, which would
// only ask itself again without end.
TEST_F(PreviousHandler, BackupsThatNameNoOtherHandler)
{
    const char* backups[] = {
        ExtensionClsidText,
        test::OwnClsidInLowerCase.Text,
        "{00000000-1111-2222-3333-444444444444}",
        "x",
        "",
        "not a class identifier",
        "{5C0F7E1B-3D2A-4E8B-9F61-2B7A4C9D8E01",
    };
    for (const char* backup : backups) {
        SCOPED_TRACE(backup);
        SetBackup(backup);
        ExpectAnswer(AskIconHandler(File("plain")), "shell32.dll", 4);
    }
    const std::string oversized(400, '{');
    SetBackup(oversized);
    ExpectAnswer(AskIconHandler(File("plain")), "shell32.dll", 4);
}

// Asking the previous handler initializes COM on the calling thread only for the time of
// the request: a thread without COM has none afterwards, and a thread of the
// multithreaded apartment is answered all the same.
TEST_F(PreviousHandler, CallingThreadsApartmentIsLeftAsItWas)
{
    const std::string file = File("threaded");
    ComPtr<IPersistFile> persist;
    ComPtr<IExtractIconA> extract;
    ASSERT_NO_FATAL_FAILURE(LoadIconHandler(file, persist, extract));

    auto ask = [&](std::string* path, int* index) {
        char buffer[MAX_PATH] = {};
        const HRESULT hr = extract->GetIconLocation(0, buffer, MAX_PATH, index, nullptr);
        *path = buffer;
        return hr;
    };

    std::thread withoutCom([&] {
        std::string path;
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
        std::string path;
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
