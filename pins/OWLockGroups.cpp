#include "pins/OWLockGroups.h"
#include <algorithm>
#include <cassert>
#include <stdexcept>
#include <utility>

namespace harvolin
{
namespace
{

std::atomic<std::int32_t> GLiveLockObjects{0};

bool Contains(const std::vector<TOWObject*>& list, const TOWObject* object)
{
    return std::find(list.begin(), list.end(), object) != list.end();
}

void EraseOne(std::vector<TOWObject*>& list, const TOWObject* object)
{
    auto found = std::find(list.begin(), list.end(), object);
    if (found != list.end())
        list.erase(found);
}

// Enters the guards of a whole group and leaves them all, also while an exception unwinds. By address, not
// in group-list order: the list order of one group differs with the member it was collected from, and two
// such orders would invert each other. GlobalLock's write lock already keeps two groups' changes apart, but
// a fixed order keeps the guards free of deadlock on their own.
class TGroupGuards
{
public:
    explicit TGroupGuards(std::vector<TCriticalSection*> guards) : FGuards(std::move(guards))
    {
        std::sort(FGuards.begin(), FGuards.end(), std::less<>());
        for (TCriticalSection* guard : FGuards)
            guard->Enter();
    }
    TGroupGuards(const TGroupGuards&) = delete;
    TGroupGuards& operator=(const TGroupGuards&) = delete;
    ~TGroupGuards()
    {
        for (TCriticalSection* guard : FGuards)
            guard->Leave();
    }
private:
    std::vector<TCriticalSection*> FGuards;
};

// Holds write on every member of a group through the members themselves, and gives the holds back through
// them, so the releases reach whatever lock object each member has by then.
class TGroupWriteHold
{
public:
    explicit TGroupWriteHold(const std::vector<TOWObject*>& group) : FGroup(group)
    {
        for (TOWObject* member : FGroup)
            member->AcquireWrite();
    }
    TGroupWriteHold(const TGroupWriteHold&) = delete;
    TGroupWriteHold& operator=(const TGroupWriteHold&) = delete;
    ~TGroupWriteHold()
    {
        for (TOWObject* member : FGroup)
            member->ReleaseWrite();
    }
private:
    const std::vector<TOWObject*>& FGroup;
};

// Sections hold GlobalLock for reading around the object's own lock; an acquire that fails gives the global
// hold back, so a section that was never made leaves nothing held.
template <class TAcquire>
void AcquireUnderGlobalRead(TAcquire acquire)
{
    GlobalLock().BeginRead();
    try
    {
        acquire();
    }
    catch (...)
    {
        GlobalLock().EndRead();
        throw;
    }
}

}   // namespace

TOWLockObject::TOWLockObject()
{
    GLiveLockObjects.fetch_add(1, std::memory_order_relaxed);
}

TOWLockObject::~TOWLockObject()
{
    // Waits for a holder on another thread to finish before the lock goes.
    FLock.Acquire();
    FLock.Release();
    GLiveLockObjects.fetch_sub(1, std::memory_order_relaxed);
}

TRefPtr<IOWLockSection> TOWLockObject::GetReadLockSection()
{
    return MakeRef<TOWStreamReadLockSection>(TRefPtr<IOWLockObject>(this));
}

TRefPtr<IOWLockSection> TOWLockObject::GetWriteLockSection()
{
    return MakeRef<TOWStreamWriteLockSection>(TRefPtr<IOWLockObject>(this));
}

std::int32_t TOWLockObject::LiveCount() noexcept
{
    return GLiveLockObjects.load(std::memory_order_relaxed);
}

TOWObject::TOWObject() : FLockObject(MakeRef<TOWLockObject>()) {}

const TClassInfo& TOWObject::StaticClassInfo()
{
    static const TClassInfo info("TOWObject", &TPersistent::StaticClassInfo(), {});
    return info;
}

TOWObject::~TOWObject()
{
    {
        auto global = GlobalLock().GetWriteLockSection();
        auto self = GetWriteLockSection();
        while (!FDependencies.empty())
            RemoveDependency(FDependencies.back());
        while (!FDependents.empty())
            FDependents.back()->RemoveDependency(this);
    }
    FReadCount = std::min(FReadCount, 0);
    FWriteCount = std::min(FWriteCount, 0);
}

void TOWObject::AcquireRead()
{
    Acquire(false);
}

void TOWObject::AcquireWrite()
{
    Acquire(true);
}

void TOWObject::ReleaseRead()
{
    ReleaseHold(false);
}

void TOWObject::ReleaseWrite()
{
    ReleaseHold(true);
}

void TOWObject::Acquire(bool write)
{
    TRefPtr<IOWLockObject> lock;
    {
        TCriticalSectionGuard guard(FGuard);
        // The usual case, every nested hold among them: a hold had without waiting is taken under Guard on
        // the current lock object, together with its count, so a rebuild only ever sees it held, never
        // waiting. A try cannot block, so taking the group lock inside Guard keeps the lock order safe.
        if (FLockObject->GetInstance()->TryAcquire())
        {
            ++(write ? FWriteCount : FReadCount);
            return;
        }
        lock = FLockObject;
        ++(write ? FWriteCount : FReadCount);
        FPending.push_back({lock->GetInstance(), write});
    }
    for (;;)
    {
        write ? lock->AcquireWrite() : lock->AcquireRead();
        TCriticalSectionGuard guard(FGuard);
        auto pending = std::find_if(FPending.begin(), FPending.end(),
                                    [&](const TPendingAcquisition& p)
                                    { return p.Lock == lock->GetInstance() && p.Write == write; });
        assert(pending != FPending.end());
        if (lock->GetInstance() == FLockObject->GetInstance())
        {
            FPending.erase(pending);
            return;
        }
        // The group was rebuilt while this thread waited. The hold just taken is on a lock object that no
        // count refers to any more: give it back, or it stays held for good. The current lock object was
        // taken once on this thread's behalf: give that back too and wait for the current one itself.
        // Both releases happen under Guard, so a further rebuild sees this acquisition as waiting on the
        // current lock object and without a hold on it.
        TRefPtr<IOWLockObject> current = FLockObject;
        write ? lock->ReleaseWrite() : lock->ReleaseRead();
        write ? current->ReleaseWrite() : current->ReleaseRead();
        pending->Lock = current->GetInstance();
        lock = current;
    }
}

void TOWObject::ReleaseHold(bool write)
{
    // Under Guard: the count and the hold change together, so a rebuild never moves one without the other.
    TCriticalSectionGuard guard(FGuard);
    --(write ? FWriteCount : FReadCount);
    write ? FLockObject->ReleaseWrite() : FLockObject->ReleaseRead();
}

TRefPtr<IOWLockSection> TOWObject::GetReadLockSection()
{
    return MakeRef<TOWReadLockSection>(*this);
}

TRefPtr<IOWLockSection> TOWObject::GetWriteLockSection()
{
    return MakeRef<TOWWriteLockSection>(*this);
}

TRefPtr<IOWLockObject> TOWObject::LockObject() const
{
    TCriticalSectionGuard guard(FGuard);
    return FLockObject;
}

std::int32_t TOWObject::ReadCount() const
{
    TCriticalSectionGuard guard(FGuard);
    return FReadCount;
}

std::int32_t TOWObject::WriteCount() const
{
    TCriticalSectionGuard guard(FGuard);
    return FWriteCount;
}

void TOWObject::CollectGroup(std::vector<TOWObject*>& list)
{
    list.push_back(this);
    for (TOWObject* dependency : FDependencies)
        if (!Contains(list, dependency))
            dependency->CollectGroup(list);
    for (TOWObject* dependent : FDependents)
        if (!Contains(list, dependent))
            dependent->CollectGroup(list);
}

std::vector<TCriticalSection*> TOWObject::GuardsOf(const std::vector<TOWObject*>& group)
{
    std::vector<TCriticalSection*> guards;
    guards.reserve(group.size());
    for (TOWObject* member : group)
        guards.push_back(&member->FGuard);
    return guards;
}

void TOWObject::AddDependency(TOWObject* other)
{
    if (other == nullptr)
        return;
    auto global = GlobalLock().GetWriteLockSection();
    auto mine = GetWriteLockSection();
    auto theirs = other->GetWriteLockSection();
    if (Contains(FDependencies, other))
        return;
    other->FDependents.push_back(this);
    FDependencies.push_back(other);
    std::vector<TOWObject*> group;
    CollectGroup(group);
    TGroupGuards guards(GuardsOf(group));
    TGroupWriteHold hold(group);
    Regroup(this);
    Regroup(other);
}

void TOWObject::RemoveDependency(TOWObject* other)
{
    if (other == nullptr)
        return;
    auto global = GlobalLock().GetWriteLockSection();
    auto mine = GetWriteLockSection();
    auto theirs = other->GetWriteLockSection();
    if (!Contains(FDependencies, other))
        return;
    // Collected while still linked, so that it covers both groups that the removal may leave.
    std::vector<TOWObject*> group;
    CollectGroup(group);
    TGroupGuards guards(GuardsOf(group));
    TGroupWriteHold hold(group);
    EraseOne(FDependencies, other);
    EraseOne(other->FDependents, this);
    Regroup(this);
    Regroup(other);
}

void TOWObject::Regroup(TOWObject* object)
{
    std::vector<TOWObject*> group;
    object->CollectGroup(group);
    auto fresh = MakeRef<TOWLockObject>();
    TGroupWriteHold hold(group);
    std::int32_t readSum = 0;
    std::int32_t writeSum = 0;
    for (const TOWObject* member : group)
    {
        readSum += member->FReadCount;
        writeSum += member->FWriteCount;
    }
    // Taken for every hold and every waiting acquisition of the group, this thread's own included.
    for (std::int32_t i = 0; i < readSum; ++i)
        fresh->AcquireRead();
    for (std::int32_t i = 0; i < writeSum; ++i)
        fresh->AcquireWrite();
    for (TOWObject* member : group)
    {
        TRefPtr<IOWLockObject> old = std::exchange(member->FLockObject, TRefPtr<IOWLockObject>(fresh));
        // An acquisition still waiting for the old lock object has no hold on it to give back; one that
        // waits for an older lock object holds the old one through an earlier rebuild, and that hold goes.
        std::int32_t reads = member->FReadCount;
        std::int32_t writes = member->FWriteCount;
        for (const TPendingAcquisition& pending : member->FPending)
            if (pending.Lock == old->GetInstance())
                --(pending.Write ? writes : reads);
        for (std::int32_t i = 0; i < writes; ++i)
            old->ReleaseWrite();
        for (std::int32_t i = 0; i < reads; ++i)
            old->ReleaseRead();
    }
}

TOWReadLockSection::TOWReadLockSection(TOWObject& object) : FObject(object)
{
    AcquireUnderGlobalRead([this] { FObject.AcquireRead(); });
}

TOWReadLockSection::~TOWReadLockSection()
{
    FObject.ReleaseRead();
    GlobalLock().EndRead();
}

TOWWriteLockSection::TOWWriteLockSection(TOWObject& object) : FObject(object)
{
    AcquireUnderGlobalRead([this] { FObject.AcquireWrite(); });
}

TOWWriteLockSection::~TOWWriteLockSection()
{
    FObject.ReleaseWrite();
    GlobalLock().EndRead();
}

TOWStreamReadLockSection::TOWStreamReadLockSection(TRefPtr<IOWLockObject> lock) : FLock(std::move(lock))
{
    AcquireUnderGlobalRead([this] { FLock->AcquireRead(); });
}

TOWStreamReadLockSection::~TOWStreamReadLockSection()
{
    FLock->ReleaseRead();
    GlobalLock().EndRead();
}

TOWStreamWriteLockSection::TOWStreamWriteLockSection(TRefPtr<IOWLockObject> lock) : FLock(std::move(lock))
{
    AcquireUnderGlobalRead([this] { FLock->AcquireWrite(); });
}

TOWStreamWriteLockSection::~TOWStreamWriteLockSection()
{
    FLock->ReleaseWrite();
    GlobalLock().EndRead();
}
}   // namespace harvolin
