#pragma once
#include "pins/OWMultiReadLock.h"
#include "rtl/CountingLock.h"
#include "rtl/Guid.h"
#include "rtl/Persistent.h"
#include "rtl/RefCount.h"
#include "rtl/Threads.h"
#include <cstdint>
#include <vector>

namespace harvolin
{

class TOWLockObject;
class TOWObject;

// A group lock: the four operations of IOWBaseLockObject, sections that hold this very lock object, and the
// implementing object for identity comparisons (two objects share a group exactly when their lock objects'
// instances are the same).
class IOWLockObject : public IOWBaseLockObject
{
public:
    static constexpr TGUID kIID = MakeGuid("{5DE54E3E-FA36-4275-BF54-62F1DC2926A3}");

    [[nodiscard]] virtual TOWLockObject* GetInstance() noexcept = 0;
};

// One exclusive, re-entrant, counting lock shared by the members of a lock group. Readers exclude each other
// too. Holds may be released by a thread other than the one that took them (regrouping moves holds across
// threads), see TCountingLock. Acquire* block without time limit; a release without a hold raises
// std::logic_error.
class TOWLockObject final : public TRefCounted, public IOWLockObject
{
public:
    TOWLockObject();
    ~TOWLockObject() override;

    void AddRef() const noexcept override { TRefCounted::AddRef(); }
    void Release() const noexcept override { TRefCounted::Release(); }

    void AcquireRead() override { FLock.Acquire(); }
    void AcquireWrite() override { FLock.Acquire(); }
    void ReleaseRead() override { FLock.Release(); }
    void ReleaseWrite() override { FLock.Release(); }
    // Stream sections on this lock object.
    [[nodiscard]] TRefPtr<IOWLockSection> GetReadLockSection() override;
    [[nodiscard]] TRefPtr<IOWLockSection> GetWriteLockSection() override;
    [[nodiscard]] TOWLockObject* GetInstance() noexcept override { return this; }
    // One hold when it can be had without waiting (the lock is free, or the calling thread holds it).
    [[nodiscard]] bool TryAcquire() { return FLock.TryAcquire(); }

    // For diagnostics and tests: the holds and the owner of the underlying lock.
    [[nodiscard]] const TCountingLock& Lock() const noexcept { return FLock; }
    // Lock objects alive in the process.
    [[nodiscard]] static std::int32_t LiveCount() noexcept;
private:
    TCountingLock FLock;
};

// The lock part of every framework object (pins, pin lists, dispatchers, components' lock holders).
// Each object points to the lock object of its group; objects linked by dependencies, in either direction,
// form one group and share one lock object, so locking any member locks the whole group.
//
// Lock order: GlobalLock, then group locks, then Guard. Structural changes (AddDependency, RemoveDependency,
// destruction) take GlobalLock for writing and must not be called while the calling thread holds GlobalLock
// for reading, nor while it holds a group lock that another thread needs to leave GlobalLock.
// Objects with identity: not copyable; owned by their component, never reference-counted.
class TOWObject : public TPersistent
{
public:
    TOWObject();
    // Leaves every group it belongs to (under GlobalLock for writing). No other thread may use or wait for
    // the object any more.
    ~TOWObject() override;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    // Take or give back one hold on the group lock, counted through this object. Acquire* block without time
    // limit and, when the group is rebuilt while they wait, end up holding the new group lock once.
    virtual void AcquireRead();
    virtual void AcquireWrite();
    virtual void ReleaseRead();
    virtual void ReleaseWrite();

    // New sections on this object: GlobalLock for reading, then this object's group lock.
    [[nodiscard]] TRefPtr<IOWLockSection> GetReadLockSection();
    [[nodiscard]] TRefPtr<IOWLockSection> GetWriteLockSection();

    // Makes this object depend on other and merges their groups; a null other or an existing link changes
    // nothing. Blocks until no other thread holds GlobalLock or either group lock.
    void AddDependency(TOWObject* other);
    // Removes the link to other and splits the group where the link held it together; a null other or a
    // missing link changes nothing.
    void RemoveDependency(TOWObject* other);
    // Appends this object and every object reachable through dependencies in either direction, self first,
    // each once. The caller holds GlobalLock (the lists change only under its write lock).
    void CollectGroup(std::vector<TOWObject*>& list);

    // The current lock object of the group (it changes when the group is rebuilt).
    [[nodiscard]] TRefPtr<IOWLockObject> LockObject() const;
    // Snapshots: holds counted through this object, acquisitions still waiting included.
    [[nodiscard]] std::int32_t ReadCount() const;
    [[nodiscard]] std::int32_t WriteCount() const;
    // Valid while the caller holds GlobalLock.
    [[nodiscard]] const std::vector<TOWObject*>& Dependencies() const noexcept { return FDependencies; }
    [[nodiscard]] const std::vector<TOWObject*>& Dependents() const noexcept { return FDependents; }
private:
    // An acquisition counted in ReadCount/WriteCount that does not hold yet: the lock object it waits for.
    struct TPendingAcquisition
    {
        const TOWLockObject* Lock;
        bool Write;
    };

    void Acquire(bool write);
    void ReleaseHold(bool write);
    // Moves every hold and waiting acquisition of the object's group onto a new lock object.
    static void Regroup(TOWObject* object);
    static std::vector<TCriticalSection*> GuardsOf(const std::vector<TOWObject*>& group);

    TRefPtr<IOWLockObject> FLockObject;          // guarded by FGuard
    std::vector<TOWObject*> FDependencies;       // not owned; changed only under GlobalLock write
    std::vector<TOWObject*> FDependents;         // not owned; changed only under GlobalLock write
    std::int32_t FReadCount = 0;                 // guarded by FGuard
    std::int32_t FWriteCount = 0;                // guarded by FGuard
    std::vector<TPendingAcquisition> FPending;   // guarded by FGuard
    mutable TCriticalSection FGuard;
};

// GlobalLock for reading, then the object's group lock (read / write). The object must outlive the section.
class TOWReadLockSection final : public TRefCounted, public IOWLockSection
{
public:
    explicit TOWReadLockSection(TOWObject& object);
    ~TOWReadLockSection() override;
    void AddRef() const noexcept override { TRefCounted::AddRef(); }
    void Release() const noexcept override { TRefCounted::Release(); }
private:
    TOWObject& FObject;
};

class TOWWriteLockSection final : public TRefCounted, public IOWLockSection
{
public:
    explicit TOWWriteLockSection(TOWObject& object);
    ~TOWWriteLockSection() override;
    void AddRef() const noexcept override { TRefCounted::AddRef(); }
    void Release() const noexcept override { TRefCounted::Release(); }
private:
    TOWObject& FObject;
};

// GlobalLock for reading, then the given lock object itself: the section keeps holding that lock object even
// when the group moves to a new one meanwhile.
class TOWStreamReadLockSection final : public TRefCounted, public IOWLockSection
{
public:
    explicit TOWStreamReadLockSection(TRefPtr<IOWLockObject> lock);
    ~TOWStreamReadLockSection() override;
    void AddRef() const noexcept override { TRefCounted::AddRef(); }
    void Release() const noexcept override { TRefCounted::Release(); }
private:
    TRefPtr<IOWLockObject> FLock;
};

class TOWStreamWriteLockSection final : public TRefCounted, public IOWLockSection
{
public:
    explicit TOWStreamWriteLockSection(TRefPtr<IOWLockObject> lock);
    ~TOWStreamWriteLockSection() override;
    void AddRef() const noexcept override { TRefCounted::AddRef(); }
    void Release() const noexcept override { TRefCounted::Release(); }
private:
    TRefPtr<IOWLockObject> FLock;
};

}   // namespace harvolin
