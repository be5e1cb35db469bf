#include "OrphanIndex.h"

#include <algorithm>
#include <utility>

namespace orvane {

bool OrphanIndex::NameLess::operator()(const std::wstring& a, const std::wstring& b) const
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_LESS_THAN;
}

bool OrphanIndex::Found::IsLocal(const wchar_t* path) const
{
    // A path without a drive letter (a share, a device path) is no local drive's.
    if (path == nullptr || path[0] == L'\0' || path[1] != L':')
        return false;
    const wchar_t letter = path[0] >= L'a' && path[0] <= L'z' ? static_cast<wchar_t>(path[0] - L'a' + L'A') : path[0];
    return letter >= L'A' && letter <= L'Z' && LocalLetters[letter - L'A'];
}

std::shared_ptr<const OrphanIndex::Found> OrphanIndex::Walk(const std::shared_ptr<const Found>& before)
{
    auto found = std::make_shared<Found>();
    for (Scope scope : {Scope::ThisUser, Scope::AllUsers}) {
        std::vector<OrphanEntry> orphans;
        ReadOrphanEntries(scope, OrphansOf::WithIdentity, orphans);
        for (OrphanEntry& orphan : orphans) {
            found->Lost.emplace(orphan.Path, *orphan.Identity);
            found->Orphans.push_back({scope, std::move(orphan.Path), std::move(orphan.Text), *orphan.Identity});
        }
    }
    // A path lost before stays lost while an entry there still knows the same file.
    if (before) {
        for (const auto& [path, identity] : before->Lost) {
            if (found->Lost.count(path) != 0)
                continue;
            for (Scope scope : {Scope::ThisUser, Scope::AllUsers}) {
                const std::optional<FileIdentity> recorded = ReadFileIconIdentity(path.c_str(), scope);
                if (recorded && *recorded == identity && ReadFileIconText(path.c_str(), scope)) {
                    found->Lost.emplace(path, identity);
                    break;
                }
            }
        }
    }
    if (!found->Empty()) {
        const DWORD drives = GetLogicalDrives();
        for (int letter = 0; letter < 26; ++letter) {
            const wchar_t root[] = {static_cast<wchar_t>(L'A' + letter), L':', L'\\', L'\0'};
            found->LocalLetters[letter] = (drives & (1u << letter)) != 0 && IsLocalPath(root);
        }
    }
    return found;
}

std::shared_ptr<const OrphanIndex::Found> OrphanIndex::Current()
{
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        const bool changed = watch_.Changed();
        AcquireSRWLockShared(&lock_);
        const bool fresh = found_ && !stale_ && (!changed || watchFailed_);
        const bool due = GetTickCount64() - walkedAt_ >= nextWalkMs_;
        if (fresh && (!due || walking_)) {
            std::shared_ptr<const Found> found = found_;
            ReleaseSRWLockShared(&lock_);
            return found;
        }
        ReleaseSRWLockShared(&lock_);

        std::shared_ptr<const Found> before;
        unsigned trees = 0;
        {
            AcquireSRWLockExclusive(&lock_);
            if (walking_) {
                // What the tables said before they changed is no answer; what a walk of
                // unchanged tables found a few seconds ago still is.
                std::shared_ptr<const Found> found = found_;
                const ULONGLONG waited = GetTickCount64() - start;
                if (fresh) {
                    ReleaseSRWLockExclusive(&lock_);
                    return found;
                }
                if (waited >= MaxWaitingMs) {
                    // Walks alone, keeping nothing, rather than answer from before the change.
                    ReleaseSRWLockExclusive(&lock_);
                    return Walk(found);
                }
                SleepConditionVariableSRW(&done_, &lock_, static_cast<DWORD>(std::min<ULONGLONG>(20, MaxWaitingMs - waited)),
                                          0);
                ReleaseSRWLockExclusive(&lock_);
                continue;
            }
            walking_ = true;
            before = found_;
            // Asked under the lock: once the arming below resets a tree's event, the
            // requests that find it reset find what was walked before it stale.
            trees = watch_.ChangedTrees();
            stale_ = stale_ || trees != 0;
            ReleaseSRWLockExclusive(&lock_);
        }
        // Given up under the lock whatever the walk does, so that waiting threads go on.
        struct Done {
            OrphanIndex& Index;
            ~Done()
            {
                AcquireSRWLockExclusive(&Index.lock_);
                Index.walking_ = false;
                WakeAllConditionVariable(&Index.done_);
                ReleaseSRWLockExclusive(&Index.lock_);
            }
        } done{*this};
        // Armed before the walk, so that a change made while it reads is seen by the
        // next request.
        const bool armed = watch_.Arm(trees);
        const ULONGLONG began = GetTickCount64();
        std::shared_ptr<const Found> found = Walk(before);
        const ULONGLONG finished = GetTickCount64();
        AcquireSRWLockExclusive(&lock_);
        found_ = found;
        stale_ = false;
        walkedAt_ = finished;
        nextWalkMs_ = std::max<ULONGLONG>(RescanMs, RescanFactor * (finished - began));
        watchFailed_ = !armed;
        ReleaseSRWLockExclusive(&lock_);
        return found;
    }
}

} // namespace orvane
