#include "ResolutionCache.h"

#include <algorithm>
#include <utility>

namespace orvane {

namespace {

// Holds an SRW lock, shared or exclusive, for its lifetime.
class HeldLock {
public:
    HeldLock(SRWLOCK& lock, bool exclusive) : lock_(lock), exclusive_(exclusive)
    {
        if (exclusive_)
            AcquireSRWLockExclusive(&lock_);
        else
            AcquireSRWLockShared(&lock_);
    }
    ~HeldLock()
    {
        if (exclusive_)
            ReleaseSRWLockExclusive(&lock_);
        else
            ReleaseSRWLockShared(&lock_);
    }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;

private:
    SRWLOCK& lock_;
    const bool exclusive_;
};

struct SharedLock : HeldLock {
    explicit SharedLock(SRWLOCK& lock) : HeldLock(lock, false) {}
};

struct ExclusiveLock : HeldLock {
    explicit ExclusiveLock(SRWLOCK& lock) : HeldLock(lock, true) {}
};

} // namespace

// Extensions compare as the registry compares key names.
bool ResolutionCache::NameLess::operator()(const std::wstring& a, const std::wstring& b) const
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_LESS_THAN;
}

const std::optional<IconLocation>& ResolutionCache::Entry(const FactsSoFar& soFar)
{
    const std::optional<IconLocation>& own = soFar.Entries[Index(Scope::ThisUser)];
    return own ? own : soFar.Entries[Index(Scope::AllUsers)];
}

bool ResolutionCache::NeedsType(const FactsSoFar& soFar, const wchar_t* extension)
{
    return extension != nullptr && !HasIconPath(Entry(soFar));
}

ResolutionCache::ClaimedType::~ClaimedType()
{
    if (!Claimed)
        return;
    ExclusiveLock lock(cache_.lock_);
    const auto reader = cache_.typeReaders_.find(extension_);
    if (reader != cache_.typeReaders_.end() && reader->second == epoch_)
        cache_.typeReaders_.erase(reader);
    WakeAllConditionVariable(&cache_.done_);
}

ResolutionCache::Armed ResolutionCache::Arm(std::uint64_t seenEpoch)
{
    bool expected = false;
    if (!arming_.compare_exchange_strong(expected, true))
        return Armed::Busy;
    // Given up under the lock, so that a thread that found it set and waits is woken.
    struct Release {
        ResolutionCache& Cache;
        ~Release()
        {
            ExclusiveLock lock(Cache.lock_);
            Cache.arming_ = false;
            WakeAllConditionVariable(&Cache.done_);
        }
    } release{*this};
    {
        ExclusiveLock lock(lock_);
        // Another thread armed since this one looked.
        if (epoch_ != seenEpoch)
            return Armed::Yes;
        epoch_ += epoch_ % 2 == 0 ? 1 : 2;
    }
    // The epoch has moved before any event is reset: a request that finds an event reset
    // by this arming finds the epoch moved too.
    const unsigned changed = watch_.ChangedTrees();
    {
        ExclusiveLock lock(lock_);
        if ((changed & ClassTrees) != 0)
            types_.clear();
        // Which values changed the event does not tell: the files' values are read again,
        // each when its file is asked for.
        if ((changed & TableTrees) != 0)
            files_.clear();
    }
    const bool armed = watch_.Arm(changed);
    ExclusiveLock lock(lock_);
    // A tree that could not be armed keeps its event set: the next request arms it again.
    ++epoch_;
    return armed ? Armed::Yes : Armed::Failed;
}

ResolutionCache::Attempt ResolutionCache::ArmOrWait(std::uint64_t seenEpoch, ULONGLONG start)
{
    const Armed result = Arm(seenEpoch);
    if (result == Armed::Failed)
        return Attempt::GiveUp;
    if (result == Armed::Busy) {
        ExclusiveLock lock(lock_);
        if (arming_)
            Wait(start);
    }
    return Attempt::Retry;
}

void ResolutionCache::TakeKeptFacts(const wchar_t* path, const wchar_t* extension, FactsSoFar& soFar) const
{
    if (!soFar.EntriesKnown) {
        const auto file = files_.find(path);
        if (file != files_.end()) {
            for (Scope scope : Scopes) {
                const std::optional<std::wstring>& text = file->second.Text[Index(scope)];
                soFar.Entries[Index(scope)] = text ? FileIconFromText(path, text->c_str()) : std::nullopt;
            }
            soFar.EntriesKnown = true;
        }
    }
    soFar.TypeNeeded = soFar.EntriesKnown && NeedsType(soFar, extension);
    if (soFar.TypeNeeded && !soFar.Type) {
        const auto type = types_.find(extension);
        if (type != types_.end())
            soFar.Type = type->second;
    }
}

bool ResolutionCache::ClaimType(const wchar_t* extension, std::uint64_t epoch, ULONGLONG start, FactsSoFar& soFar,
                          ClaimedType& claim)
{
    ExclusiveLock lock(lock_);
    if (epoch_ != epoch)
        return false;
    // Another thread may have kept it since.
    const auto type = types_.find(extension);
    if (type != types_.end()) {
        soFar.Type = type->second;
        return true;
    }
    const auto reader = typeReaders_.find(extension);
    if (reader != typeReaders_.end() && reader->second == epoch) {
        Wait(start);
        return false;
    }
    typeReaders_[extension] = epoch;
    claim.Claimed = true;
    return true;
}

bool ResolutionCache::KeepRead(std::uint64_t epoch, const wchar_t* path, const wchar_t* extension, bool typeRead,
                         const FactsSoFar& soFar, FileValues* values)
{
    if (watch_.Changed())
        return false;
    ExclusiveLock lock(lock_);
    if (epoch_ != epoch)
        return false;
    if (values != nullptr) {
        if (files_.size() >= MaxFiles)
            files_.clear();
        files_.emplace(path, std::move(*values));
    }
    if (typeRead) {
        if (types_.size() >= MaxTypes)
            types_.clear();
        types_.emplace(extension, soFar.Type);
    }
    return true;
}

void ResolutionCache::Wait(ULONGLONG start)
{
    const ULONGLONG waited = GetTickCount64() - start;
    if (waited < MaxTryingMs)
        SleepConditionVariableSRW(&done_, &lock_, static_cast<DWORD>(std::min<ULONGLONG>(MaxWaitMs, MaxTryingMs - waited)),
                                  0);
}

ResolutionCache::Attempt ResolutionCache::TryRead(const wchar_t* path, const wchar_t* extension, ULONGLONG start, FileFacts& facts)
{
    std::uint64_t epoch = 0;
    {
        SharedLock lock(lock_);
        epoch = epoch_;
    }
    if (epoch % 2 != 0 || watch_.Changed())
        return ArmOrWait(epoch, start);

    FactsSoFar soFar;
    {
        SharedLock lock(lock_);
        if (epoch_ != epoch)
            return Attempt::Retry;
        TakeKeptFacts(path, extension, soFar);
    }

    // What is not kept is read now, and kept only when no tree changed meanwhile. The
    // file's two values are read by name, as many threads at once as ask.
    std::optional<FileValues> values;
    if (!soFar.EntriesKnown) {
        values.emplace();
        for (Scope scope : Scopes) {
            std::optional<std::wstring>& text = values->Text[Index(scope)];
            text = ReadFileIconText(path, scope);
            soFar.Entries[Index(scope)] = text ? FileIconFromText(path, text->c_str()) : std::nullopt;
        }
        soFar.EntriesKnown = true;
        soFar.TypeNeeded = NeedsType(soFar, extension);
        if (soFar.TypeNeeded) {
            SharedLock lock(lock_);
            TakeKeptFacts(path, extension, soFar);
        }
    }
    ClaimedType claim(*this, epoch, extension);
    if (soFar.TypeNeeded && !soFar.Type && !ClaimType(extension, epoch, start, soFar, claim))
        return Attempt::Retry;
    const bool readType = soFar.TypeNeeded && !soFar.Type;
    if (readType)
        soFar.Type = readType_(extension);
    if ((readType || values) && !KeepRead(epoch, path, extension, readType, soFar, values ? &*values : nullptr))
        return Attempt::Retry;
    facts.Entry = Entry(soFar);
    facts.Type = soFar.TypeNeeded ? soFar.Type : nullptr;
    return Attempt::Done;
}

bool ResolutionCache::Read(const wchar_t* path, const wchar_t* extension, FileFacts& facts)
{
    const ULONGLONG start = GetTickCount64();
    for (int attempt = 0; attempt < 4 || GetTickCount64() - start < MaxTryingMs; ++attempt) {
        const Attempt result = TryRead(path, extension, start, facts);
        if (result != Attempt::Retry)
            return result == Attempt::Done;
    }
    return false;
}

} // namespace orvane
