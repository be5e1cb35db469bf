#include "FileIconResolution.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cwchar>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "FileIconTable.h"
#include "FileTypeIcons.h"
#include "TargetKind.h"
#include "PathText.h"
#include "Registry.h"
#include "RegistryWatch.h"
#include "Scope.h"

namespace orvane {

namespace {

// A record without an icon path says nothing about where the icon is.
bool Usable(const std::optional<IconLocation>& location)
{
    return location.has_value() && location->IconPath[0] != L'\0';
}

bool NamesFileItself(const wchar_t* iconPath) { return std::wcsstr(iconPath, L"%1") != nullptr; }

// One rule's location, kept without the record's other fields.
struct RuleLocation {
    FileIconRule Rule = FileIconRule::FileItself;
    std::wstring IconPath;
    std::int32_t Index = NoIndex;
};

RuleLocation Located(FileIconRule rule, const IconLocation& location)
{
    return {rule, location.IconPath, location.Index};
}

// What a file of an extension is answered from when the table has no entry for it.
struct TypeAnswer {
    // "HandlerIconInfo" while this extension is the handler: it comes before all below.
    std::optional<RuleLocation> Chosen;
    // The previous handler's class identifier text, at least two characters; empty: none.
    std::wstring PreviousHandler;
    // What answers when the previous handler does not: DefaultIconBAK's text while this
    // extension is the handler, else DefaultIcon. None: the file itself.
    std::optional<RuleLocation> Fallback;
};

// Reads the type's answer. The class is that of the extension as this user sees it; its
// keys are read in this user's classes, then all users'.
std::shared_ptr<const TypeAnswer> ReadTypeAnswer(const wchar_t* extension)
{
    auto answer = std::make_shared<TypeAnswer>();
    const UserClassesReading reading;
    wchar_t className[TextCapacity] = {};
    if (!ReadExtensionClass(extension, className))
        return answer;
    std::optional<IconLocation> typeIcon = LookupClassIcon(HKEY_CLASSES_ROOT, className, nullptr);
    // The shell consults an icon handler only while DefaultIcon says "%1".
    const std::optional<Scope> handlerScope = Usable(typeIcon) && NamesFileItself(typeIcon->IconPath)
                                                  ? OwnIconHandlerScope(typeIcon->TypeKey)
                                                  : std::nullopt;
    if (handlerScope) {
        std::optional<IconLocation> chosen = LookupClassIcon(HKEY_CLASSES_ROOT, className, HandlerIconValue);
        if (Usable(chosen)) {
            answer->Chosen = Located(FileIconRule::HandlerIconInfo, *chosen);
            return answer;
        }
    }
    // Installing keeps the previous handler and DefaultIcon text in the class where
    // DefaultIcon was found (at the end of a CurVer chain).
    wchar_t clsidText[TextCapacity] = {};
    if (ReadPreviousIconHandlerText(Usable(typeIcon) ? typeIcon->TypeKey : className, handlerScope, clsidText) &&
        std::wcslen(clsidText) >= 2)
        answer->PreviousHandler = clsidText;
    if (handlerScope) {
        std::optional<IconLocation> backup = ReadTypeIconBeforeHandler(typeIcon->TypeKey, handlerScope);
        if (Usable(backup)) {
            answer->Fallback = Located(FileIconRule::DefaultIconBackup, *backup);
            return answer;
        }
    }
    if (Usable(typeIcon))
        answer->Fallback = Located(FileIconRule::DefaultIcon, *typeIcon);
    return answer;
}

// Everything the registry says about one file: its table entry (this user's, else all
// users') and its type's answer (none for a file without an extension).
struct FileFacts {
    std::optional<IconLocation> Entry;
    std::shared_ptr<const TypeAnswer> Type;
};

FileFacts ReadFacts(const wchar_t* path, const wchar_t* extension)
{
    FileFacts facts;
    facts.Entry = ReadFileIcon(path);
    if (!Usable(facts.Entry) && extension != nullptr)
        facts.Type = ReadTypeAnswer(extension);
    return facts;
}

// Explorer asks for the icon of every file of a served class each time it shows one, on
// several threads at once. What the registry said is kept, and used while none of the
// trees it was read from has changed since: the two tables, this user's and all users'
// classes, and this user's choices of class (FileExts). A request then costs one look at
// the watch's events. Whatever is used together was read and checked as of one moment:
// facts read while a tree changed are read again.
//
// No lock is held across a registry call: the lock guards the kept facts alone. One
// thread at a time arms the watch, and one reads each missing table or type while the
// others wait for it on a condition variable (which gives the lock up while they wait),
// so that a change does not send every thread to the registry at once. A request that
// has found no quiet moment for 200 ms reads the registry without the cache.
class FactCache {
public:
    // The facts as of one moment, or false when the cache cannot give them.
    bool Read(const wchar_t* path, const wchar_t* extension, FileFacts& facts);

private:
    enum Tree : unsigned { MachineClasses, UserClasses, UserFileExts, AllUsersTable, ThisUserTable };
    static constexpr unsigned ClassTrees = 1u << MachineClasses | 1u << UserClasses | 1u << UserFileExts;
    static constexpr unsigned TableTree(Scope scope)
    {
        return scope == Scope::AllUsers ? 1u << AllUsersTable : 1u << ThisUserTable;
    }
    static constexpr Scope Scopes[2] = {Scope::AllUsers, Scope::ThisUser};
    static std::size_t Index(Scope scope) { return scope == Scope::ThisUser ? 1 : 0; }
    // Extensions kept at most; more are dropped all together.
    static constexpr std::size_t MaxTypes = 512;
    static constexpr ULONGLONG MaxTryingMs = 200;
    // The longest wait for another thread at a time.
    static constexpr DWORD MaxWaitMs = 20;

    struct SharedLock {
        explicit SharedLock(SRWLOCK& lock) : Lock(lock) { AcquireSRWLockShared(&Lock); }
        ~SharedLock() { ReleaseSRWLockShared(&Lock); }
        SRWLOCK& Lock;
    };
    struct ExclusiveLock {
        explicit ExclusiveLock(SRWLOCK& lock) : Lock(lock) { AcquireSRWLockExclusive(&Lock); }
        ~ExclusiveLock() { ReleaseSRWLockExclusive(&Lock); }
        SRWLOCK& Lock;
    };
    struct NameLess {
        bool operator()(const std::wstring& a, const std::wstring& b) const
        {
            return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                        TRUE) == CSTR_LESS_THAN;
        }
    };

    // What a request finds kept, and what it reads itself.
    struct Parts {
        std::optional<IconLocation> Entries[2];
        bool TableKept[2] = {};
        std::shared_ptr<const TypeAnswer> Type;
        bool TypeNeeded = false;
        bool Complete() const { return TableKept[0] && TableKept[1] && (!TypeNeeded || Type); }
    };
    // This user's entry for the file, else all users'.
    static const std::optional<IconLocation>& Entry(const Parts& parts)
    {
        const std::optional<IconLocation>& own = parts.Entries[Index(Scope::ThisUser)];
        return own ? own : parts.Entries[Index(Scope::AllUsers)];
    }
    // The type is needed unless the file's own entry answers.
    static bool NeedsType(const Parts& parts, const wchar_t* extension)
    {
        return extension != nullptr && !Usable(Entry(parts));
    }
    // The parts of the facts one request reads, claimed so that others wait for them.
    class Claims {
    public:
        Claims(FactCache& cache, std::uint64_t epoch, const wchar_t* extension)
            : cache_(cache), epoch_(epoch), extension_(extension)
        {
        }
        ~Claims();
        bool Tables[2] = {};
        bool Type = false;

    private:
        FactCache& cache_;
        std::uint64_t epoch_;
        const wchar_t* extension_;
    };

    enum class Armed { Yes, Busy, Failed };
    Armed Arm(std::uint64_t seenEpoch);
    // Under the lock: what is kept for the file, and whether its type is needed.
    void Look(const wchar_t* path, const wchar_t* extension, Parts& parts) const;
    // Under the exclusive lock: waits for another thread's arming or reading, at most until
    // the deadline.
    void Wait(ULONGLONG start);

    RegistryWatch watch_{{HKEY_LOCAL_MACHINE, L"Software\\Classes", KEY_WOW64_64KEY},
                         {HKEY_CURRENT_USER, UserClassesKey, KEY_WOW64_64KEY},
                         {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts", 0},
                         {HKEY_LOCAL_MACHINE, FileIconsKey, 0},
                         {HKEY_CURRENT_USER, FileIconsKey, 0}};
    std::atomic<bool> arming_{false};

    SRWLOCK lock_ = SRWLOCK_INIT;
    // Woken when an arming ends and when a thread has read what it claimed.
    CONDITION_VARIABLE done_ = CONDITION_VARIABLE_INIT;
    // Guarded by lock_. The epoch is odd while the watch is not armed, and moves on when
    // an arming begins and when it ends: facts read under another epoch are not kept.
    std::uint64_t epoch_ = 1;
    std::optional<FileIconTableCopy> tables_[2];
    std::map<std::wstring, std::shared_ptr<const TypeAnswer>, NameLess> types_;
    // The epoch under which a thread reads a table or a type (0: none).
    std::uint64_t tableReaders_[2] = {};
    std::map<std::wstring, std::uint64_t, NameLess> typeReaders_;
};

FactCache::Claims::~Claims()
{
    if (!Tables[0] && !Tables[1] && !Type)
        return;
    ExclusiveLock lock(cache_.lock_);
    for (Scope scope : Scopes) {
        if (Tables[Index(scope)] && cache_.tableReaders_[Index(scope)] == epoch_)
            cache_.tableReaders_[Index(scope)] = 0;
    }
    if (Type) {
        const auto reader = cache_.typeReaders_.find(extension_);
        if (reader != cache_.typeReaders_.end() && reader->second == epoch_)
            cache_.typeReaders_.erase(reader);
    }
    WakeAllConditionVariable(&cache_.done_);
}

FactCache::Armed FactCache::Arm(std::uint64_t seenEpoch)
{
    bool expected = false;
    if (!arming_.compare_exchange_strong(expected, true))
        return Armed::Busy;
    // Given up under the lock, so that a thread that found it set and waits is woken.
    struct Release {
        FactCache& Cache;
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
        for (Scope scope : Scopes) {
            if ((changed & TableTree(scope)) != 0)
                tables_[Index(scope)].reset();
        }
    }
    const bool armed = watch_.Arm(changed);
    ExclusiveLock lock(lock_);
    // A tree that could not be armed keeps its event set: the next request arms it again.
    ++epoch_;
    return armed ? Armed::Yes : Armed::Failed;
}

void FactCache::Look(const wchar_t* path, const wchar_t* extension, Parts& parts) const
{
    for (Scope scope : Scopes) {
        if (!parts.TableKept[Index(scope)] && tables_[Index(scope)]) {
            parts.Entries[Index(scope)] = tables_[Index(scope)]->Find(path);
            parts.TableKept[Index(scope)] = true;
        }
    }
    parts.TypeNeeded = parts.TableKept[0] && parts.TableKept[1] && NeedsType(parts, extension);
    if (parts.TypeNeeded && !parts.Type) {
        const auto type = types_.find(extension);
        if (type != types_.end())
            parts.Type = type->second;
    }
}

void FactCache::Wait(ULONGLONG start)
{
    const ULONGLONG waited = GetTickCount64() - start;
    if (waited < MaxTryingMs)
        SleepConditionVariableSRW(&done_, &lock_, static_cast<DWORD>(std::min<ULONGLONG>(MaxWaitMs, MaxTryingMs - waited)),
                                  0);
}

bool FactCache::Read(const wchar_t* path, const wchar_t* extension, FileFacts& facts)
{
    const ULONGLONG start = GetTickCount64();
    for (int attempt = 0; attempt < 4 || GetTickCount64() - start < MaxTryingMs; ++attempt) {
        std::uint64_t epoch = 0;
        {
            SharedLock lock(lock_);
            epoch = epoch_;
        }
        if (epoch % 2 != 0 || watch_.Changed()) {
            const Armed result = Arm(epoch);
            if (result == Armed::Failed)
                return false;
            if (result == Armed::Busy) {
                ExclusiveLock lock(lock_);
                if (arming_)
                    Wait(start);
            }
            continue;
        }

        Parts parts;
        {
            SharedLock lock(lock_);
            if (epoch_ != epoch)
                continue;
            Look(path, extension, parts);
        }
        Claims claims(*this, epoch, extension);
        if (!parts.Complete()) {
            ExclusiveLock lock(lock_);
            if (epoch_ != epoch)
                continue;
            // Another thread may have kept some since.
            Look(path, extension, parts);
            bool othersRead = false;
            for (Scope scope : Scopes)
                othersRead = othersRead || (!parts.TableKept[Index(scope)] && tableReaders_[Index(scope)] == epoch);
            if (parts.TypeNeeded && !parts.Type) {
                const auto reader = typeReaders_.find(extension);
                othersRead = othersRead || (reader != typeReaders_.end() && reader->second == epoch);
            }
            if (othersRead) {
                Wait(start);
                continue;
            }
            for (Scope scope : Scopes) {
                if (!parts.TableKept[Index(scope)]) {
                    tableReaders_[Index(scope)] = epoch;
                    claims.Tables[Index(scope)] = true;
                }
            }
            if (parts.TypeNeeded && !parts.Type) {
                claims.Type = true;
                typeReaders_[extension] = epoch;
            }
        }

        // What is not kept is read now, and kept only when no tree changed meanwhile.
        std::optional<FileIconTableCopy> tables[2];
        for (Scope scope : Scopes) {
            if (!claims.Tables[Index(scope)])
                continue;
            if (!tables[Index(scope)].emplace().Read(scope))
                return false;
            parts.Entries[Index(scope)] = tables[Index(scope)]->Find(path);
        }
        // With the tables just read, the type may be needed after all.
        const bool readType = NeedsType(parts, extension) && !parts.Type;
        if (readType)
            parts.Type = ReadTypeAnswer(extension);
        if (readType || claims.Tables[0] || claims.Tables[1]) {
            if (watch_.Changed())
                continue;
            ExclusiveLock lock(lock_);
            if (epoch_ != epoch)
                continue;
            for (Scope scope : Scopes) {
                if (tables[Index(scope)] && !tables_[Index(scope)])
                    tables_[Index(scope)] = std::move(tables[Index(scope)]);
            }
            if (readType) {
                if (types_.size() >= MaxTypes)
                    types_.clear();
                types_.emplace(extension, parts.Type);
            }
        }
        facts.Entry = Entry(parts);
        facts.Type = NeedsType(parts, extension) ? parts.Type : nullptr;
        return true;
    }
    return false;
}

FactCache& Cache()
{
    static FactCache cache;
    return cache;
}

struct Found {
    FileIconRule Rule = FileIconRule::FileItself;
    const wchar_t* IconPath = nullptr; // null: the file itself
    std::int32_t Index = NoIndex;
};

Found FromRule(const RuleLocation& location) { return {location.Rule, location.IconPath.c_str(), location.Index}; }

} // namespace

FileIconAnswer ResolveFileIcon(const wchar_t* path, PreviousIconHandler askPrevious)
{
    FileIconAnswer answer;
    // A missing path, a folder or a drive root is not the handler's to answer.
    if (path == nullptr || path[0] == L'\0' || wcsnlen(path, TextCapacity) >= TextCapacity ||
        ClassifyTarget(path) != TargetKind::File)
        return answer;

    // An extension too long for a key name names no class.
    wchar_t extension[TextCapacity] = {};
    const std::wstring_view text = FileExtension(path);
    const bool hasExtension =
        !text.empty() && text.size() <= MaxKeyNameLength && CopyText(extension, std::size(extension), text);

    FileFacts facts;
    if (!Cache().Read(path, hasExtension ? extension : nullptr, facts))
        facts = ReadFacts(path, hasExtension ? extension : nullptr);

    Found found;
    std::optional<IconLocation> previous;
    if (Usable(facts.Entry)) {
        found = {FileIconRule::TableEntry, facts.Entry->IconPath, facts.Entry->Index};
    } else if (facts.Type) {
        const TypeAnswer& type = *facts.Type;
        if (type.Chosen) {
            found = FromRule(*type.Chosen);
        } else {
            // Only an existing backup costs the previous handler's COM work.
            if (askPrevious != nullptr && !type.PreviousHandler.empty())
                previous = askPrevious(type.PreviousHandler.c_str(), path);
            if (Usable(previous))
                found = {FileIconRule::PreviousHandler, previous->IconPath, previous->Index};
            else if (type.Fallback)
                found = FromRule(*type.Fallback);
        }
    }

    answer.Rule = found.Rule;
    const wchar_t* answerPath = path;
    if (found.IconPath != nullptr) {
        answer.Index = found.Index == NoIndex ? 0 : found.Index;
        if (!NamesFileItself(found.IconPath))
            answerPath = found.IconPath;
    }
    CopyText(answer.IconPath, std::size(answer.IconPath), answerPath);
    return answer;
}

} // namespace orvane
