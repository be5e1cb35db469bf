#include "RegistryWatch.h"

namespace orvane {

namespace {

constexpr DWORD EveryChange =
    REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES | REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;

// The paths of the first key of a path, of the first two, and so on to the whole path.
std::vector<std::wstring> PrefixesOf(const std::wstring& path)
{
    std::vector<std::wstring> prefixes;
    for (std::size_t at = path.find(L'\\'); at != std::wstring::npos; at = path.find(L'\\', at + 1))
        prefixes.push_back(path.substr(0, at));
    prefixes.push_back(path);
    return prefixes;
}

HKEY OpenForWatch(HKEY root, const std::wstring& path, REGSAM view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_NOTIFY | view, &key) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

// A watch that outlives the thread that registers it (Windows 8 and later). An older
// system refuses the flag; its watch ends with the registering thread, which sets the
// event, and the tree is armed once more.
bool Notify(HKEY key, bool subtree, DWORD filter, HANDLE event)
{
    LONG status = RegNotifyChangeKeyValue(key, subtree, filter | REG_NOTIFY_THREAD_AGNOSTIC, event, TRUE);
    if (status == ERROR_INVALID_PARAMETER)
        status = RegNotifyChangeKeyValue(key, subtree, filter, event, TRUE);
    return status == ERROR_SUCCESS;
}

} // namespace

RegistryWatch::RegistryWatch(std::initializer_list<Tree> trees)
{
    for (const Tree& tree : trees) {
        if (count_ == MaxTrees || tree.Path == nullptr || tree.Path[0] == L'\0') {
            usable_ = false;
            break;
        }
        Watch& watch = watches_[count_];
        watch.Root = tree.Root;
        watch.Prefixes = PrefixesOf(tree.Path);
        watch.View = tree.View;
        for (int i = 0; i < 2; ++i) {
            // Manual-reset and set: changed until armed.
            watch.Events[i] = CreateEventW(nullptr, TRUE, TRUE, nullptr);
            usable_ = usable_ && watch.Events[i] != nullptr;
            events_[2 * count_ + i] = watch.Events[i];
        }
        ++count_;
    }
}

RegistryWatch::~RegistryWatch()
{
    for (std::size_t i = 0; i < count_; ++i) {
        for (HKEY key : watches_[i].Keys) {
            if (key != nullptr)
                RegCloseKey(key);
        }
        for (HANDLE event : watches_[i].Events) {
            if (event != nullptr)
                CloseHandle(event);
        }
    }
}

bool RegistryWatch::Changed() const
{
    if (!usable_ || count_ == 0)
        return true;
    return WaitForMultipleObjects(static_cast<DWORD>(2 * count_), events_, FALSE, 0) != WAIT_TIMEOUT;
}

unsigned RegistryWatch::ChangedTrees() const
{
    unsigned changed = 0;
    for (std::size_t i = 0; i < count_; ++i) {
        const Watch& watch = watches_[i];
        if (!usable_ || WaitForMultipleObjects(2, watch.Events, FALSE, 0) != WAIT_TIMEOUT)
            changed |= 1u << i;
    }
    return changed;
}

bool RegistryWatch::Arm(unsigned trees)
{
    if (!usable_)
        return false;
    bool armed = true;
    for (std::size_t i = 0; i < count_; ++i) {
        if ((trees & (1u << i)) != 0 && !ArmTree(watches_[i]))
            armed = false;
    }
    return armed;
}

bool RegistryWatch::ArmTree(Watch& watch)
{
    // A few tries, for keys made or deleted while the watch is being set up.
    for (int attempt = 0; attempt < 4; ++attempt) {
        for (HKEY& key : watch.Keys) {
            if (key != nullptr)
                RegCloseKey(key);
            key = nullptr;
        }
        // Closing a watched key sets its event on Windows: reset after the keys are closed.
        ResetEvent(watch.Events[0]);
        ResetEvent(watch.Events[1]);

        // depth: the number of keys of the path that exist.
        const std::size_t keys = watch.Prefixes.size();
        std::size_t depth = keys;
        while (depth > 0 &&
               (watch.Keys[0] = OpenForWatch(watch.Root, watch.Prefixes[depth - 1], watch.View)) == nullptr)
            --depth;
        if (depth == 0)
            break; // not even the first key of the path: there is nothing to watch
        const bool whole = depth == keys;
        if (!Notify(watch.Keys[0], whole, whole ? EveryChange : REG_NOTIFY_CHANGE_NAME, watch.Events[0]))
            continue;
        if (depth > 1) {
            watch.Keys[1] = OpenForWatch(watch.Root, watch.Prefixes[depth - 2], watch.View);
            if (watch.Keys[1] == nullptr || !Notify(watch.Keys[1], false, REG_NOTIFY_CHANGE_NAME, watch.Events[1]))
                continue;
        }
        if (!whole) {
            // The next key of the path, made after it was looked for and before the watch
            // began, would go unnoticed.
            HKEY next = OpenForWatch(watch.Root, watch.Prefixes[depth], watch.View);
            if (next != nullptr) {
                RegCloseKey(next);
                continue;
            }
        }
        return true;
    }
    SetEvent(watch.Events[0]);
    return false;
}

} // namespace orvane
