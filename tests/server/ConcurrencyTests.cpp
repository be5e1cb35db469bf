// Explorer asks icon handlers on several threads at once. Eight apartment threads each
// create, load, ask and release the extension 10,000 times through COM; every answer must
// be right and the module must be free to unload at the end.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "ServerTestSupport.h"

namespace orvane::test {
namespace {

constexpr int ThreadCount = 8;
constexpr int RoundsPerThread = 10000;

TEST(IconHandlerThreads, ManyThreadsCreateAskAndReleaseAtOnce)
{
    ScratchType type(false);
    const std::string& extension = type.Extension;
    const std::string& className = type.Class;
    KeyGuard productGuard(HKEY_LOCAL_MACHINE, ProductRoot);
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, extension, "", className));
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, className + "\\DefaultIcon", "", "shell32.dll,4"));
    TempDir dir;
    const std::string withEntry = dir.MakeFile("a" + extension);
    const std::string withoutEntry = dir.MakeFile("b" + extension);
    ASSERT_TRUE(WriteString(HKEY_LOCAL_MACHINE, FileIconsKeyPath, withEntry.c_str(), "C:\\icons\\set.icl,7," + className));
    const std::wstring paths[2] = {Wide(withEntry), Wide(withoutEntry)};

    // Held loaded, so that the module can be asked afterwards whether it may unload.
    HMODULE module = LoadLibraryA(ServerDllPath().c_str());
    ASSERT_NE(nullptr, module);

    std::atomic<int> wrong{0};
    std::atomic<int> failed{0};
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int t = 0; t < ThreadCount; ++t) {
        threads.emplace_back([&, t] {
            if (FAILED(CoInitialize(nullptr))) {
                ++failed;
                return;
            }
            for (int i = 0; i < RoundsPerThread; ++i) {
                const int which = (i + t) % 2;
                IPersistFile* persist = nullptr;
                if (FAILED(CreateExtension(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
                    ++failed;
                    continue;
                }
                IExtractIconA* extract = nullptr;
                char buffer[MAX_PATH] = {};
                int index = -1;
                HRESULT hr = persist->Load(paths[which].c_str(), STGM_READ);
                if (SUCCEEDED(hr))
                    hr = persist->QueryInterface(IID_IExtractIconA, reinterpret_cast<void**>(&extract));
                if (SUCCEEDED(hr))
                    hr = extract->GetIconLocation(0, buffer, MAX_PATH, &index, nullptr);
                const bool right = which == 0 ? std::strcmp(buffer, "C:\\icons\\set.icl") == 0 && index == 7
                                              : std::strcmp(buffer, "shell32.dll") == 0 && index == 4;
                if (hr != S_OK || !right)
                    ++wrong;
                if (extract != nullptr && extract->Release() == 0)
                    ++wrong; // the persist reference must still hold the object
                if (persist->Release() != 0)
                    ++wrong;
            }
            CoUninitialize();
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("[ figures  ] %d threads x %d requests in %.1f s (%.0f requests/s)\n", ThreadCount, RoundsPerThread,
                seconds, ThreadCount * RoundsPerThread / seconds);

    EXPECT_EQ(0, failed.load());
    EXPECT_EQ(0, wrong.load());
    EXPECT_EQ(S_OK, ServerCanUnloadNow());
    FreeLibrary(module);
}

} // namespace
} // namespace orvane::test
