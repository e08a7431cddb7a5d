#include "pins/OWPins.h"
#include "rtl/Threads.h"
#include "tests/support/TestThreads.h"
#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <thread>

namespace harvolin
{
namespace
{

using namespace std::chrono_literals;

class OWPinsTest : public ::testing::Test
{
protected:
    static TOWLockObject* LockOf(const TOWObject& object) { return object.LockObject()->GetInstance(); }
    static std::int32_t HoldsOf(const TOWObject& object) { return LockOf(object)->Lock().HoldCount(); }

    std::unique_ptr<TOWObject> FA = std::make_unique<TOWObject>();
    std::unique_ptr<TOWObject> FB = std::make_unique<TOWObject>();
    std::unique_ptr<TOWObject> FC = std::make_unique<TOWObject>();
};

TEST_F(OWPinsTest, DependentObjectsShareOneLockObjectUntilTheLinkIsRemoved)
{
    ASSERT_NE(LockOf(*FA), LockOf(*FB));
    FA->AddDependency(FB.get());
    EXPECT_EQ(LockOf(*FA), LockOf(*FB));
    EXPECT_EQ(FA->Dependencies(), std::vector<TOWObject*>{FB.get()});
    EXPECT_EQ(FB->Dependents(), std::vector<TOWObject*>{FA.get()});
    FA->RemoveDependency(FB.get());
    EXPECT_NE(LockOf(*FA), LockOf(*FB));
    EXPECT_TRUE(FA->Dependencies().empty());
    EXPECT_TRUE(FB->Dependents().empty());
}

TEST_F(OWPinsTest, AddingALinkTwiceOrANullLinkChangesNothing)
{
    FA->AddDependency(FB.get());
    TOWLockObject* shared = LockOf(*FA);
    FA->AddDependency(FB.get());
    FA->AddDependency(nullptr);
    FA->RemoveDependency(FC.get());
    EXPECT_EQ(FA->Dependencies().size(), 1u);
    EXPECT_EQ(FB->Dependents().size(), 1u);
    EXPECT_EQ(LockOf(*FA), shared);
}

TEST_F(OWPinsTest, GroupSpansLinksInBothDirectionsSelfFirst)
{
    FA->AddDependency(FB.get());
    FC->AddDependency(FB.get());
    std::vector<TOWObject*> group;
    FA->CollectGroup(group);
    EXPECT_EQ(group, (std::vector<TOWObject*>{FA.get(), FB.get(), FC.get()}));
    EXPECT_EQ(LockOf(*FA), LockOf(*FC));
}

TEST_F(OWPinsTest, RemovingALinkSplitsTheGroupWhereItHeldTogether)
{
    FA->AddDependency(FB.get());
    FC->AddDependency(FB.get());
    FA->RemoveDependency(FB.get());
    EXPECT_NE(LockOf(*FA), LockOf(*FB));
    EXPECT_EQ(LockOf(*FB), LockOf(*FC));
}

TEST_F(OWPinsTest, DestroyingAMemberUnlinksItAndSplitsItsGroup)
{
    FA->AddDependency(FB.get());
    FB->AddDependency(FC.get());
    FB.reset();
    EXPECT_TRUE(FA->Dependencies().empty());
    EXPECT_TRUE(FC->Dependents().empty());
    EXPECT_NE(LockOf(*FA), LockOf(*FC));
}

TEST_F(OWPinsTest, RegroupingMovesHoldsToTheNewLockAndFreesTheOldOne)
{
    FA->AcquireRead();
    FA->AcquireWrite();
    TRefPtr<IOWLockObject> old = FA->LockObject();
    FA->AddDependency(FB.get());
    EXPECT_EQ(old->GetInstance()->Lock().HoldCount(), 0);
    EXPECT_EQ(HoldsOf(*FA), 2);
    EXPECT_EQ(LockOf(*FA)->Lock().OwnerThreadId(), CurrentThreadId());
    FA->ReleaseWrite();
    FA->ReleaseRead();
    EXPECT_EQ(HoldsOf(*FB), 0);
    EXPECT_EQ(FA->ReadCount(), 0);
    EXPECT_EQ(FA->WriteCount(), 0);
}

TEST_F(OWPinsTest, LockObjectsGoWithTheirLastReference)
{
    const std::int32_t before = TOWLockObject::LiveCount();
    {
        TOWObject d;
        TOWObject e;
        d.AddDependency(&e);
        d.RemoveDependency(&e);
        EXPECT_EQ(TOWLockObject::LiveCount(), before + 2);
    }
    EXPECT_EQ(TOWLockObject::LiveCount(), before);
}

TEST_F(OWPinsTest, ObjectSectionHoldsTheGlobalReadLockAndTheGroupLock)
{
    {
        auto section = FA->GetWriteLockSection();
        EXPECT_EQ(HoldsOf(*FA), 1);
        EXPECT_EQ(FA->WriteCount(), 1);
        EXPECT_EQ(GlobalLock().ThreadReadCount(), 1);
    }
    EXPECT_EQ(HoldsOf(*FA), 0);
    EXPECT_EQ(GlobalLock().ThreadReadCount(), 0);
    EXPECT_EQ(GlobalLock().Sentinel(), TOWMultiReadExclusiveWriteSynchronizer::kFree);
}

TEST_F(OWPinsTest, SectionIsReleasedWhileAnExceptionUnwinds)
{
    try
    {
        auto section = FA->GetReadLockSection();
        ASSERT_EQ(HoldsOf(*FA), 1);
        throw std::runtime_error("delivery failed");
    }
    catch (const std::runtime_error&)
    {
    }
    EXPECT_EQ(HoldsOf(*FA), 0);
    EXPECT_EQ(FA->ReadCount(), 0);
    EXPECT_EQ(GlobalLock().Sentinel(), TOWMultiReadExclusiveWriteSynchronizer::kFree);
}

TEST_F(OWPinsTest, StreamSectionKeepsTheLockObjectItWasGivenAcrossARegroup)
{
    TRefPtr<IOWLockObject> captured = FA->LockObject();
    auto section = captured->GetWriteLockSection();
    // A structural change needs the global write lock; the section's global read lock is this thread's, so
    // the writer may come in (a reader upgrades).
    FA->AddDependency(FB.get());
    EXPECT_NE(LockOf(*FA), captured->GetInstance());
    EXPECT_EQ(captured->GetInstance()->Lock().HoldCount(), 1);
    section.Reset();
    EXPECT_EQ(captured->GetInstance()->Lock().HoldCount(), 0);
    EXPECT_EQ(GlobalLock().Sentinel(), TOWMultiReadExclusiveWriteSynchronizer::kFree);
}

TEST_F(OWPinsTest, LockObjectReleaseWithoutAHoldRaises)
{
    TRefPtr<IOWLockObject> lock = FA->LockObject();
    EXPECT_THROW(lock->ReleaseRead(), std::logic_error);
    EXPECT_EQ(lock->GetInstance()->Lock().HoldCount(), 0);
}

class OWPinsConcurrencyTest : public OWPinsTest
{
protected:
    // A thread that calls AcquireRead (or AcquireWrite) on the object outside any section, as a delivery
    // nested in a section that already holds GlobalLock would, and holds it until Leave().
    struct TReader : THoldingThread
    {
        explicit TReader(TOWObject& object, bool write = false)
            : THoldingThread([&object, write] { write ? object.AcquireWrite() : object.AcquireRead(); },
                             [&object, write] { write ? object.ReleaseWrite() : object.ReleaseRead(); })
        {
        }
    };
};

TEST_F(OWPinsConcurrencyTest, WriteHoldOnOneMemberBlocksReadersOfAnother)
{
    FA->AddDependency(FB.get());
    FA->AcquireWrite();
    TReader reader(*FB);
    EXPECT_FALSE(reader.Entered.WaitFor(kQuietWindow));
    FA->ReleaseWrite();
    EXPECT_TRUE(reader.Entered.WaitFor(kPatience));
}

TEST_F(OWPinsConcurrencyTest, ReaderWaitingThroughAGroupMergeEndsUpHoldingTheNewLockOnce)
{
    TRefPtr<IOWLockObject> old = FA->LockObject();
    FA->AcquireWrite();
    TReader reader(*FA);
    ASSERT_TRUE(Eventually([&] { return FA->ReadCount() == 1; }));

    FA->AddDependency(FB.get());   // rebuilds the group twice while the reader waits
    FA->ReleaseWrite();
    ASSERT_TRUE(reader.Entered.WaitFor(kPatience));

    TOWLockObject* current = LockOf(*FA);
    EXPECT_EQ(current, LockOf(*FB));
    EXPECT_EQ(current->Lock().HoldCount(), 1);
    EXPECT_EQ(current->Lock().OwnerThreadId(), reader.Id.load());
    EXPECT_EQ(old->GetInstance()->Lock().HoldCount(), 0);
    EXPECT_EQ(FA->ReadCount(), 1);

    reader.Leave();
    ASSERT_TRUE(Eventually([&] { return FA->ReadCount() == 0; }));
    EXPECT_EQ(current->Lock().HoldCount(), 0);
    // The whole group is free again for another thread.
    FB->AcquireWrite();
    EXPECT_EQ(HoldsOf(*FA), 1);
    FB->ReleaseWrite();
}

TEST_F(OWPinsConcurrencyTest, WriterWaitingThroughTwoMergesEndsUpHoldingTheNewLockOnce)
{
    FA->AcquireWrite();
    TReader writer(*FA, true);
    ASSERT_TRUE(Eventually([&] { return FA->WriteCount() == 2; }));

    FA->AddDependency(FB.get());
    FB->AddDependency(FC.get());
    FA->ReleaseWrite();
    ASSERT_TRUE(writer.Entered.WaitFor(kPatience));

    TOWLockObject* current = LockOf(*FC);
    EXPECT_EQ(current, LockOf(*FA));
    EXPECT_EQ(current->Lock().HoldCount(), 1);
    EXPECT_EQ(current->Lock().OwnerThreadId(), writer.Id.load());
    writer.Leave();
    ASSERT_TRUE(Eventually([&] { return FA->WriteCount() == 0; }));
    EXPECT_EQ(current->Lock().HoldCount(), 0);
}

TEST_F(OWPinsConcurrencyTest, ReaderWaitingThroughAGroupSplitEndsUpHoldingItsOwnNewLockOnce)
{
    FA->AddDependency(FB.get());
    FB->AcquireWrite();
    TReader reader(*FA);
    ASSERT_TRUE(Eventually([&] { return FA->ReadCount() == 1; }));

    FA->RemoveDependency(FB.get());
    // The split gave the reader's side a free lock of its own, while this thread still holds the other side.
    ASSERT_TRUE(reader.Entered.WaitFor(kPatience));
    EXPECT_EQ(HoldsOf(*FA), 1);
    EXPECT_EQ(LockOf(*FA)->Lock().OwnerThreadId(), reader.Id.load());
    EXPECT_EQ(HoldsOf(*FB), 1);
    FB->ReleaseWrite();
    reader.Leave();
    ASSERT_TRUE(Eventually([&] { return FA->ReadCount() == 0; }));
    EXPECT_EQ(HoldsOf(*FA), 0);
}

TEST_F(OWPinsConcurrencyTest, StructuralChangeWaitsForAThreadInASection)
{
    TEvent inSection(TEventMode::ManualReset);
    TEvent leave(TEventMode::ManualReset);
    std::thread holder(
        [&]
        {
            auto section = FB->GetReadLockSection();
            inSection.Set();
            leave.Wait();
        });
    ASSERT_TRUE(inSection.WaitFor(kPatience));
    TEvent linked(TEventMode::ManualReset);
    std::thread linker(
        [&]
        {
            FA->AddDependency(FB.get());
            linked.Set();
        });
    EXPECT_FALSE(linked.WaitFor(kQuietWindow));
    leave.Set();
    EXPECT_TRUE(linked.WaitFor(kPatience));
    holder.join();
    linker.join();
    EXPECT_EQ(LockOf(*FA), LockOf(*FB));
}

}   // namespace
}   // namespace harvolin
