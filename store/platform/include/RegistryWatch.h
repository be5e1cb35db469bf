// Tells, in one call that does not wait, whether anything changed in a few registry trees
// since they were last armed, so that what was read from them can be used again until
// then. Each tree is watched through RegNotifyChangeKeyValue: the registry sets the
// watch's event while it makes the change, before the call that made it returns (Wine's
// server makes the change and sets the event in one request), so a request that follows a
// write sees the event set.
//
// A tree is a key and everything below it. While the key does not exist, the deepest key
// of its path that does is watched for a new subkey instead. Wine sets no event for the
// deletion of a watched key itself, so the watched key's parent is also watched for a
// subkey that goes. Rights given or taken on a key are no change for Wine.
#pragma once

#include <windows.h>

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

namespace orvane {

class RegistryWatch {
public:
    struct Tree {
        HKEY Root;
        const wchar_t* Path; // at least one key below Root
        REGSAM View;         // 0 or KEY_WOW64_64KEY, as the tree's readers open it
    };
    static constexpr std::size_t MaxTrees = 8;

    // Creates the events only; every tree counts as changed until it is armed.
    explicit RegistryWatch(std::initializer_list<Tree> trees);
    ~RegistryWatch();
    RegistryWatch(const RegistryWatch&) = delete;
    RegistryWatch& operator=(const RegistryWatch&) = delete;

    // True when any tree changed since it was armed, or could not be armed. Any thread.
    bool Changed() const;
    // The trees that did (bit i for the i-th tree), each asked alone. Any thread.
    unsigned ChangedTrees() const;
    // Arms the trees of the mask: the event reset, the watch registered again. A tree that
    // cannot be armed stays changed; false then. One thread at a time, while others may
    // ask Changed.
    bool Arm(unsigned trees);

private:
    // The watched key and its parent; each with its own event.
    struct Watch {
        HKEY Root = nullptr;
        // Prefixes[d] is the path of the first d + 1 keys of the path, made beforehand so
        // that arming allocates nothing.
        std::vector<std::wstring> Prefixes;
        REGSAM View = 0;
        HKEY Keys[2] = {};
        HANDLE Events[2] = {};
    };

    bool ArmTree(Watch& watch);
    std::size_t count_ = 0;
    Watch watches_[MaxTrees];
    // Both events of every watch, for one wait on all of them.
    HANDLE events_[2 * MaxTrees] = {};
    bool usable_ = true;
};

} // namespace orvane
