// Explorer asks icon handlers on several threads at once. Eight apartment threads each
// create, load, ask (through IExtractIconW and IExtractIconA in turn) and release the
// extension 10,000 times through COM; every answer must be right and the module must be
// free to unload at the end. Threads that share one
// object, and threads that race on the module's factories, take and give back references
// at the same moment: a reference count or a module count that is not changed atomically
// loses some of those changes, and the counts are then wrong at the end (or an object
// goes while it is still held).
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FileIconTable.h"
#include "IconLocation.h"
#include "RegistryNames.h"
#include "Scope.h"
#include "ServerTestSupport.h"

namespace orvane::test {
namespace {

constexpr int ThreadCount = 8;
constexpr int RoundsPerThread = 10000;

TEST(IconHandlerThreads, ManyThreadsCreateAskAndReleaseAtOnce)
{
    ScratchType type(false);
    const std::wstring& extension = type.Extension;
    const std::wstring& className = type.Class;
    KeyGuard productGuard(HKEY_LOCAL_MACHINE, ProductRoot);
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, extension, L"", className));
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, className + L"\\DefaultIcon", L"", L"shell32.dll,4"));
    TempDir dir;
    const std::wstring withEntry = dir.MakeFile(L"a" + extension);
    const std::wstring withoutEntry = dir.MakeFile(L"b" + extension);
    ASSERT_TRUE(WriteString(HKEY_LOCAL_MACHINE, FileIconsKeyPath, withEntry.c_str(), L"C:\\icons\\set.icl,7," + className));
    const std::wstring paths[2] = {withEntry, withoutEntry};

    // Held loaded, so that the module can be asked afterwards whether it may unload.
    HMODULE module = LoadLibraryW(ServerDllPath().c_str());
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
                // Two rounds through the wide interface, then two through the 8-bit one.
                const bool wide = (i / 2) % 2 == 0;
                IUnknown* extract = nullptr;
                wchar_t buffer[MAX_PATH] = {};
                char narrow[MAX_PATH] = {};
                int index = -1;
                HRESULT hr = persist->Load(paths[which].c_str(), STGM_READ);
                if (SUCCEEDED(hr) && wide) {
                    IExtractIconW* extractW = nullptr;
                    hr = persist->QueryInterface(IID_IExtractIconW, reinterpret_cast<void**>(&extractW));
                    extract = extractW;
                    if (SUCCEEDED(hr))
                        hr = extractW->GetIconLocation(0, buffer, MAX_PATH, &index, nullptr);
                } else if (SUCCEEDED(hr)) {
                    IExtractIconA* extractA = nullptr;
                    hr = persist->QueryInterface(IID_IExtractIconA, reinterpret_cast<void**>(&extractA));
                    extract = extractA;
                    if (SUCCEEDED(hr))
                        hr = extractA->GetIconLocation(0, narrow, MAX_PATH, &index, nullptr);
                }
                const bool rightPath =
                    wide ? std::wcscmp(buffer, which == 0 ? L"C:\\icons\\set.icl" : L"shell32.dll") == 0
                         : std::strcmp(narrow, which == 0 ? "C:\\icons\\set.icl" : "shell32.dll") == 0;
                const bool right = rightPath && index == (which == 0 ? 7 : 4);
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


// Eight apartment threads that ask the icon handler, as Explorer's threads ask, for two
// files in turn on one object each, until stopped. Each answer must be one allowed for its
// file; the allowed answers each file was seen with are kept.
class Askers {
public:
    static constexpr int Count = 8;

    Askers(const std::wstring (&files)[2], const std::vector<std::wstring> (&allowed)[2])
    {
        for (int t = 0; t < Count; ++t)
            threads_.emplace_back([this, &files, &allowed, t] { Ask(files, allowed, t); });
    }
    ~Askers() { Stop(); }
    Askers(const Askers&) = delete;
    Askers& operator=(const Askers&) = delete;

    // Returns once every thread has answered twice more (at most 10 s), so that changes
    // come as fast as the threads answer, whatever the machine's load.
    void Pause()
    {
        int before[Count];
        for (int t = 0; t < Count; ++t)
            before[t] = answered_[t];
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (int t = 0; t < Count; ++t) {
            while (answered_[t] < before[t] + 2 && failed_.load() == 0 && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    void Stop()
    {
        asking_ = false;
        for (std::thread& thread : threads_) {
            if (thread.joinable())
                thread.join();
        }
    }
    // After Stop.
    int Failed() const { return failed_.load(); }
    const std::vector<std::wstring>& Wrong() const { return wrong_; }
    const std::vector<std::wstring>& Seen(int file) const { return seen_[file]; }

private:
    void Ask(const std::wstring (&files)[2], const std::vector<std::wstring> (&allowed)[2], int t)
    {
        if (FAILED(CoInitialize(nullptr))) {
            ++failed_;
            return;
        }
        {
            ComPtr<IPersistFile> persist;
            ComPtr<IExtractIconW> extract;
            if (FAILED(CreateExtension(IID_IPersistFile, &persist)) ||
                FAILED(persist->QueryInterface(IID_IExtractIconW, &extract)))
                ++failed_;
            for (int i = t; extract && asking_.load(); ++i) {
                const int which = i % 2;
                wchar_t buffer[MAX_PATH] = {};
                int index = -1;
                if (persist->Load(files[which].c_str(), STGM_READ) != S_OK ||
                    extract->GetIconLocation(0, buffer, MAX_PATH, &index, nullptr) != S_OK) {
                    ++failed_;
                    continue;
                }
                ++answered_[t];
                const std::wstring answer = std::wstring(buffer) + L"," + std::to_wstring(index);
                const std::vector<std::wstring>& right = allowed[which];
                std::lock_guard<std::mutex> lock(record_);
                if (std::find(right.begin(), right.end(), answer) == right.end())
                    wrong_.push_back(answer);
                else if (std::find(seen_[which].begin(), seen_[which].end(), answer) == seen_[which].end())
                    seen_[which].push_back(answer);
            }
        }
        CoUninitialize();
    }

    std::atomic<bool> asking_{true};
    std::atomic<int> failed_{0};
    std::atomic<int> answered_[Count] = {};
    std::mutex record_;
    std::vector<std::wstring> wrong_;
    std::vector<std::wstring> seen_[2];
    std::vector<std::thread> threads_;
};
// Eight threads ask for two files of an installed class while another thread writes what
// the answers are made of, in bursts as a change of icon writes it. After each burst the
// writer waits until every thread has answered twice more (so that the bursts come as
// fast as the threads answer, whatever the machine's load). Every answer must be one that
// was true at some moment: C:\icons\b.ico is in DefaultIconBAK only while
// "HandlerIconInfo" names another icon, so an answer made of "HandlerIconInfo" read before
// a burst and DefaultIconBAK read after it names an icon that was never the answer. After
// the last write both files have their first answer again at once.
TEST(IconHandlerThreads, AnswersWhileAnotherThreadWritesWereEachTrueAtSomeMoment)
{
    constexpr int Cycles = 40;
    ScratchType type(false);
    const std::wstring& className = type.Class;
    KeyGuard machineProduct(HKEY_LOCAL_MACHINE, ProductRoot);
    KeyGuard userProduct(HKEY_CURRENT_USER, ProductRoot);
    const std::wstring defaultIcon = className + L"\\DefaultIcon";
    const std::wstring iconBackup = className + L"\\DefaultIconBAK";
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, type.Extension, L"", className));
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, defaultIcon, L"", L"%1"));
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, className + L"\\shellex\\IconHandler", L"", ExtensionClsidText));
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, iconBackup, L"", L"C:\\icons\\a.ico,1"));
    TempDir dir;
    // The first file gets an entry in each cycle (this user's table, then all users'); its
    // sibling never has one.
    const std::wstring files[2] = {dir.MakeFile(L"a" + type.Extension), dir.MakeFile(L"b" + type.Extension)};
    const std::vector<std::wstring> allowed[2] = {
        {L"C:\\icons\\a.ico,1", L"C:\\icons\\e.ico,5", L"C:\\icons\\h.ico,2"},
        {L"C:\\icons\\a.ico,1", L"C:\\icons\\h.ico,2"},
    };

    Askers askers(files, allowed);
    bool written = true;
    for (int cycle = 0; cycle < Cycles && written; ++cycle) {
        const HKEY table = cycle % 2 == 0 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
        askers.Pause();
        written = WriteString(table, FileIconsKeyPath, files[0].c_str(), L"C:\\icons\\e.ico,5," + className);
        askers.Pause();
        written = written && WriteString(HKEY_CLASSES_ROOT, defaultIcon, L"HandlerIconInfo", L"C:\\icons\\h.ico,2") &&
                  WriteString(HKEY_CLASSES_ROOT, iconBackup, L"", L"C:\\icons\\b.ico,3");
        askers.Pause();
        written = written && WriteString(HKEY_CLASSES_ROOT, iconBackup, L"", L"C:\\icons\\a.ico,1") &&
                  RegDeleteKeyValueW(table, FileIconsKeyPath, files[0].c_str()) == ERROR_SUCCESS &&
                  RegDeleteKeyValueW(HKEY_CLASSES_ROOT, defaultIcon.c_str(), L"HandlerIconInfo") == ERROR_SUCCESS;
    }
    // The answers right after the last write, before the askers stop.
    const IconAnswer first = AskIconHandler(files[0]);
    const IconAnswer sibling = AskIconHandler(files[1]);
    askers.Stop();

    ASSERT_TRUE(written);
    EXPECT_EQ(0, askers.Failed());
    EXPECT_EQ(std::vector<std::wstring>{}, askers.Wrong());
    // The askers saw the writes.
    EXPECT_LE(2u, askers.Seen(0).size());
    EXPECT_LE(2u, askers.Seen(1).size());
    ExpectAnswer(first, L"C:\\icons\\a.ico", 1);
    ExpectAnswer(sibling, L"C:\\icons\\a.ico", 1);
}

// The same for a renamed file, answered from the entry its file left behind: eight threads
// ask for it and for a file without an entry while another thread takes that entry out
// and puts it back (with its identity), and writes another file's entry in between, so
// that the handler looks for orphans again and again while the threads ask. The renamed
// file has its own icon or its type's, the other file only its type's; after the last
// write the renamed file has its own icon as soon as the handler has looked again.
TEST(IconHandlerThreads, AMovedFilesAnswerWhileAnotherThreadChangesTheTable)
{
    constexpr int Cycles = 30;
    ScratchType type(false);
    const std::wstring& className = type.Class;
    KeyGuard machineProduct(HKEY_LOCAL_MACHINE, ProductRoot);
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, type.Extension, L"", className));
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, className + L"\\DefaultIcon", L"", L"%1"));
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, className + L"\\shellex\\IconHandler", L"", ExtensionClsidText));
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, className + L"\\DefaultIconBAK", L"", L"C:\\icons\\a.ico,1"));
    TempDir dir;
    const std::wstring original = dir.MakeFile(L"a" + type.Extension);
    const std::wstring other = dir.MakeFile(L"b" + type.Extension);
    const std::wstring renamed = dir.Path() + L"\\renamed" + type.Extension;
    const std::wstring entry = L"C:\\icons\\e.ico,5," + className;
    const std::wstring idsKey = FileIconIdsKey;
    IconLocation location(L"C:\\icons\\e.ico", nullptr, 5);
    location.SetTypeKey(className.c_str());
    ASSERT_EQ(ERROR_SUCCESS, WriteFileIcon(location, original.c_str(), Scope::AllUsers));
    std::vector<BYTE> identity;
    DWORD identityType = 0;
    ASSERT_TRUE(ReadRaw(HKEY_LOCAL_MACHINE, idsKey, original.c_str(), &identity, &identityType));
    ASSERT_TRUE(MoveFileW(original.c_str(), renamed.c_str()));
    const std::wstring files[2] = {renamed, other};
    const std::vector<std::wstring> allowed[2] = {{L"C:\\icons\\a.ico,1", L"C:\\icons\\e.ico,5"}, {L"C:\\icons\\a.ico,1"}};

    Askers askers(files, allowed);
    bool written = true;
    for (int cycle = 0; cycle < Cycles && written; ++cycle) {
        askers.Pause();
        written = RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, FileIconsKeyPath, original.c_str()) == ERROR_SUCCESS;
        askers.Pause();
        written = written && WriteString(HKEY_LOCAL_MACHINE, FileIconsKeyPath, (other + L".x").c_str(), entry);
        askers.Pause();
        written = written && WriteString(HKEY_LOCAL_MACHINE, FileIconsKeyPath, original.c_str(), entry) &&
                  WriteValue(HKEY_LOCAL_MACHINE, idsKey, original.c_str(), identityType, identity.data(),
                             static_cast<DWORD>(identity.size()));
    }
    // The handler looks for the moved file again on the thread pool, at once.
    IconAnswer last = AskIconHandler(renamed);
    for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
         last.File != L"C:\\icons\\e.ico" && std::chrono::steady_clock::now() < until;)
        last = AskIconHandler(renamed);
    const IconAnswer sibling = AskIconHandler(other);
    askers.Stop();

    ASSERT_TRUE(written);
    EXPECT_EQ(0, askers.Failed());
    EXPECT_EQ(std::vector<std::wstring>{}, askers.Wrong());
    EXPECT_EQ(2u, askers.Seen(0).size()) << "the askers saw the entry come and go";
    ExpectAnswer(last, L"C:\\icons\\e.ico", 5);
    ExpectAnswer(sibling, L"C:\\icons\\a.ico", 1);
}

constexpr int RacingThreads = 4;
constexpr int SharingRounds = 20000;
constexpr int FactoryRounds = 20000;

// Runs body(thread number) on `count` threads that start at the same moment, and waits
// for them all.
template <class Body>
void RunTogether(int count, Body body)
{
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < count; ++t) {
        threads.emplace_back([&, t] {
            ++ready;
            while (!go.load())
                std::this_thread::yield();
            body(t);
        });
    }
    while (ready.load() < count)
        std::this_thread::yield();
    go = true;
    for (std::thread& thread : threads)
        thread.join();
}

using SharedAcrossThreads = LoadedServerTest;

// One object, held by the test, queried for each of its interfaces and referenced and
// released through each of them by all threads at once.
TEST_F(SharedAcrossThreads, ReferencesToOneObjectThroughAllItsInterfaces)
{
    IUnknown* object = nullptr;
    {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(S_OK, getClassObject_(CLSID_ShellIconExtension, IID_IClassFactory, &factory));
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)));
    }
    const IID* const interfaces[] = {&IID_IUnknown,      &IID_IContextMenu, &IID_IShellExtInit,
                                     &IID_IExtractIconW, &IID_IExtractIconA, &IID_IPersistFile};
    constexpr int InterfaceCount = sizeof interfaces / sizeof interfaces[0];
    std::atomic<int> wrong{0};
    RunTogether(RacingThreads, [&](int t) {
        for (int i = 0; i < SharingRounds; ++i) {
            IUnknown* held[InterfaceCount] = {};
            for (int k = 0; k < InterfaceCount; ++k) {
                const IID& iid = *interfaces[(i + t + k) % InterfaceCount];
                if (object->QueryInterface(iid, reinterpret_cast<void**>(&held[k])) != S_OK || held[k] == nullptr) {
                    ++wrong;
                    held[k] = nullptr;
                }
            }
            // The test's reference and this thread's own are always among the counted ones.
            for (IUnknown* p : held) {
                if (p != nullptr && p->AddRef() < 3)
                    ++wrong;
                if (p != nullptr && p->Release() < 2)
                    ++wrong;
            }
            for (IUnknown* p : held) {
                if (p != nullptr && p->Release() < 1)
                    ++wrong;
            }
        }
    });
    EXPECT_EQ(0, wrong.load());
    EXPECT_EQ(S_FALSE, canUnloadNow_());
    // Every reference the threads took is given back: the test's own is the only one left.
    EXPECT_EQ(2u, object->AddRef());
    EXPECT_EQ(1u, object->Release());
    EXPECT_EQ(0u, object->Release());
    EXPECT_EQ(S_OK, canUnloadNow_());
}

// DllGetClassObject, CreateInstance and LockServer from all threads at once, on one
// factory that they share and on factories of their own; the module counts every factory
// and object while it lives and may unload once the last one is released.
TEST_F(SharedAcrossThreads, FactoriesMadeAndUsedOnManyThreads)
{
    ComPtr<IClassFactory> shared;
    ASSERT_EQ(S_OK, getClassObject_(CLSID_ShellIconExtension, IID_IClassFactory, &shared));
    std::atomic<int> wrong{0};
    RunTogether(RacingThreads, [&](int t) {
        for (int i = 0; i < FactoryRounds; ++i) {
            IClassFactory* own = nullptr;
            if (getClassObject_(CLSID_ShellIconExtension, IID_IClassFactory, reinterpret_cast<void**>(&own)) != S_OK) {
                ++wrong;
                continue;
            }
            IClassFactory* factory = (i + t) % 2 == 0 ? shared.Get() : own;
            if (factory->LockServer(TRUE) != S_OK)
                ++wrong;
            // References to the shared factory, taken and given back by all threads at once.
            IUnknown* sharedAgain[2] = {};
            if (shared->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&sharedAgain[0])) != S_OK ||
                shared->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&sharedAgain[1])) != S_OK)
                ++wrong;
            for (IUnknown* p : sharedAgain) {
                if (p != nullptr && p->AddRef() < 3)
                    ++wrong;
                if (p != nullptr && p->Release() < 2)
                    ++wrong;
            }
            IUnknown* object = nullptr;
            const IID* const created[] = {&IID_IContextMenu, &IID_IPersistFile, &IID_IExtractIconW};
            if (factory->CreateInstance(nullptr, *created[i % std::size(created)], reinterpret_cast<void**>(&object)) !=
                S_OK)
                ++wrong;
            // This thread holds a factory and an object: the module may not unload now.
            if (canUnloadNow_() != S_FALSE)
                ++wrong;
            if (factory->LockServer(FALSE) != S_OK)
                ++wrong;
            if (object != nullptr && object->Release() != 0)
                ++wrong;
            for (IUnknown* p : sharedAgain) {
                if (p != nullptr && p->Release() < 1)
                    ++wrong;
            }
            if (own->Release() != 0)
                ++wrong;
        }
    });
    EXPECT_EQ(0, wrong.load());
    // The shared factory is the last thing of the module alive, with the test's reference only.
    EXPECT_EQ(S_FALSE, canUnloadNow_());
    EXPECT_EQ(0u, shared.Detach()->Release());
    EXPECT_EQ(S_OK, canUnloadNow_());
}

} // namespace
} // namespace orvane::test
