#include "pins/OWMultiReadLock.h"
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace harvolin
{

TOWThreadLocalCounter::~TOWThreadLocalCounter()
{
    for (auto& bucket : FBuckets)
    {
        TNode* node = bucket.load(std::memory_order_acquire);
        while (node != nullptr)
            delete std::exchange(node, node->Next);
    }
}

TOWThreadLocalCounter::TNode* TOWThreadLocalCounter::Open()
{
    const std::uint32_t me = CurrentThreadId();
    const std::size_t bucket = BucketOf(me);
    for (TNode* node = FBuckets[bucket].load(std::memory_order_acquire); node != nullptr; node = node->Next)
        if (node->ThreadID.load(std::memory_order_acquire) == me)
            return node;
    if (TNode* node = Recycle(bucket, me))
        return node;
    auto* node = new TNode;
    node->ThreadID.store(me, std::memory_order_relaxed);
    node->Active.store(kActive, std::memory_order_relaxed);
    // Next is set before the node becomes visible: a walker that met the new head with its Next still unset
    // would miss its own node further down and make a second one, splitting its read count.
    TNode* head = FBuckets[bucket].load(std::memory_order_relaxed);
    do
        node->Next = head;
    while (!FBuckets[bucket].compare_exchange_weak(head, node, std::memory_order_acq_rel,
                                                   std::memory_order_relaxed));
    return node;
}

TOWThreadLocalCounter::TNode* TOWThreadLocalCounter::Recycle(std::size_t bucket, std::uint32_t threadId)
{
    for (TNode* node = FBuckets[bucket].load(std::memory_order_acquire); node != nullptr; node = node->Next)
    {
        // acq_rel: the claimer sees the zero count that the former owner left.
        if (node->Active.exchange(kActive, std::memory_order_acq_rel) != kActive)
        {
            node->ThreadID.store(threadId, std::memory_order_release);
            return node;
        }
    }
    return nullptr;
}

void TOWThreadLocalCounter::Delete(TNode* node)
{
    node->HoldsShare = false;
    node->ThreadID.store(0, std::memory_order_relaxed);
    node->Active.store(0, std::memory_order_release);
}

const TOWThreadLocalCounter::TNode* TOWThreadLocalCounter::Find(std::uint32_t threadId) const
{
    const std::size_t bucket = BucketOf(threadId);
    for (TNode* node = FBuckets[bucket].load(std::memory_order_acquire); node != nullptr; node = node->Next)
        if (node->ThreadID.load(std::memory_order_acquire) == threadId)
            return node;
    return nullptr;
}

std::size_t TOWThreadLocalCounter::NodeCount(std::size_t bucket) const
{
    std::size_t count = 0;
    for (TNode* node = FBuckets.at(bucket).load(std::memory_order_acquire); node != nullptr;
         node = node->Next)
        ++count;
    return count;
}

TOWMultiReadExclusiveWriteSynchronizer::TOWMultiReadExclusiveWriteSynchronizer() = default;

std::int32_t TOWMultiReadExclusiveWriteSynchronizer::ThreadReadCount() const
{
    const TOWThreadLocalCounter::TNode* node = FThreadCounters.Find(CurrentThreadId());
    return node == nullptr ? 0 : node->RecursionCount;
}

void TOWMultiReadExclusiveWriteSynchronizer::BeginRead()
{
    TOWThreadLocalCounter::TNode* node = FThreadCounters.Open();
    const bool recursive = ++node->RecursionCount > 1;
    if (recursive || FWriterID.load(std::memory_order_acquire) == CurrentThreadId())
        return;
    for (;;)
    {
        // The signals live as long as the lock, so a set one needs no wait under its mutex.
        if (!FReadSignal.IsSet())
            FReadSignal.Wait();
        if (FSentinel.fetch_sub(1, std::memory_order_acq_rel) - 1 > 0)
        {
            node->HoldsShare = true;
            return;
        }
        // The last would-be reader to back out wakes the writer that waits for the readers to leave.
        if (FSentinel.fetch_add(1, std::memory_order_acq_rel) + 1 == kFree)
            FWriteSignal.Set();
        YieldThread();
    }
}

void TOWMultiReadExclusiveWriteSynchronizer::EndRead()
{
    TOWThreadLocalCounter::TNode* node = FThreadCounters.Open();
    if (--node->RecursionCount > 0)
        return;
    // Whether this thread's reads took a reader share decides, not whether it writes now: a reader that
    // upgraded and ends its read before its write must still give its share back, and reads begun inside a
    // write never took one, even when they end after the write.
    const bool holdsShare = node->HoldsShare;
    TOWThreadLocalCounter::Delete(node);
    if (!holdsShare)
        return;
    const std::int32_t now = FSentinel.fetch_add(1, std::memory_order_acq_rel) + 1;
    if (now == kFree || (now <= 0 && now % kFree == 0))
        FWriteSignal.Set();
}

void TOWMultiReadExclusiveWriteSynchronizer::BeginWrite()
{
    const std::uint32_t me = CurrentThreadId();
    if (FWriterID.load(std::memory_order_acquire) == me)
    {
        ++FWriteRecursionCount;
        return;
    }
    FReadSignal.Reset();
    TOWThreadLocalCounter::TNode* node = FThreadCounters.Open();
    const bool upgrade = node->HoldsShare;
    if (upgrade)
        FSentinel.fetch_add(1, std::memory_order_acq_rel);
    for (;;)
    {
        if (FSentinel.fetch_add(-kFree, std::memory_order_acq_rel) == kFree)
            break;
        if (FSentinel.fetch_add(kFree, std::memory_order_acq_rel) != 0)
            FWriteSignal.Wait();
    }
    FReadSignal.Reset();
    if (upgrade)
        FSentinel.fetch_sub(1, std::memory_order_acq_rel);
    FWriterID.store(me, std::memory_order_release);
    ++FWriteRecursionCount;
}

void TOWMultiReadExclusiveWriteSynchronizer::EndWrite()
{
    const std::uint32_t me = CurrentThreadId();
    if (FWriterID.load(std::memory_order_acquire) != me)
    {
        // A contract violation, not a runtime condition: stop here in every build rather than corrupt the
        // lock word for every other thread.
        std::fprintf(stderr, "OWMultiReadLock: EndWrite by thread %u, which is not the writer (%u)\n", me,
                     FWriterID.load(std::memory_order_relaxed));
        assert(false && "OWMultiReadLock: EndWrite by a thread that is not the writer");
        std::abort();
    }
    TOWThreadLocalCounter::TNode* node = FThreadCounters.Open();
    if (--FWriteRecursionCount == 0)
    {
        FWriterID.store(0, std::memory_order_release);
        // Reads begun inside the write and still held become an ordinary reader share, or the lock would
        // look free to the next writer while this thread still reads.
        const bool keepsReading = node->RecursionCount > 0 && !node->HoldsShare;
        if (keepsReading)
            node->HoldsShare = true;
        FSentinel.fetch_add(keepsReading ? kFree - 1 : kFree, std::memory_order_acq_rel);
        FWriteSignal.Set();
        FReadSignal.Set();
    }
    if (node->RecursionCount == 0)
        TOWThreadLocalCounter::Delete(node);
}

TRefPtr<IOWLockSection> TOWGlobalLockObject::GetReadLockSection()
{
    return MakeRef<TOWGlobalReadLockSection>();
}

TRefPtr<IOWLockSection> TOWGlobalLockObject::GetWriteLockSection()
{
    return MakeRef<TOWGlobalWriteLockSection>();
}

TOWGlobalLockObject& GlobalLock()
{
    static const TRefPtr<TOWGlobalLockObject> instance = MakeRef<TOWGlobalLockObject>();
    return *instance;
}

TOWGlobalReadLockSection::TOWGlobalReadLockSection()
{
    GlobalLock().BeginRead();
}

TOWGlobalReadLockSection::~TOWGlobalReadLockSection()
{
    GlobalLock().EndRead();
}

TOWGlobalWriteLockSection::TOWGlobalWriteLockSection()
{
    GlobalLock().BeginWrite();
}

TOWGlobalWriteLockSection::~TOWGlobalWriteLockSection()
{
    GlobalLock().EndWrite();
}

}   // namespace harvolin
