#include "pins/OWPins.h"
#include "tests/pins/TestPins.h"
#include "tests/support/TestThreads.h"
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <gtest/gtest.h>
#include <latch>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace harvolin
{
namespace
{

// Rounds of each notifying thread and of the thread that reshapes the graph. Chosen so that the test takes
// well under three seconds under ThreadSanitizer on two cores, while the reshaping still interleaves with
// thousands of deliveries.
constexpr std::int32_t kNotifyRounds = 6000;
constexpr std::int32_t kReshapeRounds = 600;
// A deadlocked run fails here instead of running into the test driver's timeout.
constexpr std::chrono::seconds kRunBound{60};

// A small graph shaped like the program's: two sources with two sinks each, the first source depending
// functionally (and by lock) on a sink of the second, and three state pins in one group. The pins are made
// and linked by the fixture; the test owns their destruction so that it can check what is left afterwards.
class OWPinsStressConcurrencyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RegisterTestTypes();
        FLockObjectsBefore = TOWLockObject::LiveCount();
        FDispatchersBefore = TOWStateDispatcher::LiveCount();

        FForm = std::make_unique<TTestForm>(nullptr);
        FSourceA = std::make_unique<TTestSourcePin>(FForm.get(), std::initializer_list<TGUID>{kTestTypeA});
        FSourceB = std::make_unique<TTestSourcePin>(FForm.get(), std::initializer_list<TGUID>{kTestTypeA});
        for (auto& sink : FSinks)
            sink = std::make_unique<TTestSinkPin>(FForm.get(), std::initializer_list<TGUID>{kTestTypeA});
        for (std::int32_t i = 0; i < 3; ++i)
            FStates.push_back(std::make_unique<TTestStatePin>(FForm.get(), i));
        // Upstream results tell the senders whether the source was reached.
        FSourceA->Handled = true;
        FSourceB->Handled = true;

        ASSERT_TRUE(FSinks[0]->Connect(FSourceA.get()));
        ASSERT_TRUE(FSinks[1]->Connect(FSourceA.get()));
        ASSERT_TRUE(FSinks[2]->Connect(FSourceB.get()));
        ASSERT_TRUE(FSinks[3]->Connect(FSourceB.get()));
        FSourceA->FunctionSinks().Add(FSinks[2].get(), true);
        // The state pins share one group lock, as a component's state pins share the component's lock:
        // a state delivery locks only the sending pin.
        FStates[0]->AddDependency(FStates[1].get());
        FStates[1]->AddDependency(FStates[2].get());
        ASSERT_TRUE(FStates[0]->Connect(FStates[1].get()));
        ASSERT_TRUE(FStates[2]->Connect(FStates[0].get()));
    }

    void TearDown() override { DestroyPins(); }

    void DestroyPins()
    {
        FStates.clear();
        for (auto& sink : FSinks)
            sink.reset();
        FSourceB.reset();
        FSourceA.reset();
        FForm.reset();
    }

    std::vector<TOWPin*> AllPins() const
    {
        std::vector<TOWPin*> pins{FSourceA.get(), FSourceB.get()};
        for (const auto& sink : FSinks)
            pins.push_back(sink.get());
        for (const auto& state : FStates)
            pins.push_back(state.get());
        return pins;
    }

    static std::vector<TOWSinkPin*> SinksOf(TOWSourcePin& source)
    {
        std::vector<TOWSinkPin*> sinks;
        for (std::size_t i = 0; i < source.SinkCount(); ++i)
            sinks.push_back(source.Sinks(i));
        std::sort(sinks.begin(), sinks.end());
        return sinks;
    }

    static TOWLockObject* LockOf(const TOWObject& object) { return object.LockObject()->GetInstance(); }

    std::int32_t FLockObjectsBefore = 0;
    std::size_t FDispatchersBefore = 0;
    std::unique_ptr<TTestForm> FForm;
    std::unique_ptr<TTestSourcePin> FSourceA;
    std::unique_ptr<TTestSourcePin> FSourceB;
    std::array<std::unique_ptr<TTestSinkPin>, 4> FSinks;
    std::vector<std::unique_ptr<TTestStatePin>> FStates;
};

// What one thread did: its completed rounds, the upstream deliveries that reached a source, and the first
// exception that escaped its work.
struct TThreadRecord
{
    std::int32_t Rounds = 0;
    std::int32_t ReachedA = 0;
    std::int32_t ReachedB = 0;
    std::int32_t Refused = 0;
    std::string Failure;
};

// Runs body on a new thread after the start latch opens; records an escaping exception and signals Done.
class TStressThread
{
public:
    TStressThread(std::latch& start, std::function<void(TThreadRecord&)> body)
        : FThread(
              [this, &start, body = std::move(body)]
              {
                  start.arrive_and_wait();
                  try
                  {
                      body(Record);
                  }
                  catch (const std::exception& error)
                  {
                      Record.Failure = error.what();
                  }
                  catch (...)
                  {
                      Record.Failure = "unknown exception";
                  }
                  Done.Set();
              })
    {
    }
    TStressThread(const TStressThread&) = delete;
    TStressThread& operator=(const TStressThread&) = delete;
    ~TStressThread()
    {
        if (FThread.joinable())
            FThread.join();
    }

    // Joins once the thread has ended within the bound. A deadlock cannot be unwound: the process stops
    // with a message rather than hang until the driver's timeout.
    void Join()
    {
        if (!Done.WaitFor(kRunBound))
        {
            std::fprintf(stderr, "stress thread did not finish within %lld s: deadlock\n",
                         static_cast<long long>(kRunBound.count()));
            std::abort();
        }
        FThread.join();
    }

    TThreadRecord Record;
    TEvent Done{TEventMode::ManualReset};
private:
    std::thread FThread;   // last: starts once the record and the event exist
};

TEST_F(OWPinsStressConcurrencyTest, GraphStaysConsistentWhileDeliveriesRaceWithReshaping)
{
    TTestSourcePin& a = *FSourceA;
    TTestSourcePin& b = *FSourceB;
    TTestSinkPin& s0 = *FSinks[0];
    TTestSinkPin& s1 = *FSinks[1];
    TTestSinkPin& s2 = *FSinks[2];
    TTestSinkPin& s3 = *FSinks[3];

    std::latch start(5);
    auto count = [](TThreadRecord& record, bool reached, std::int32_t& counter)
    { reached ? ++counter : ++record.Refused; };
    TStressThread first(start,
                        [&](TThreadRecord& record)
                        {
                            for (std::int32_t i = 0; i < kNotifyRounds; ++i)
                            {
                                a.Notify(MakeRef<TOWSuppliedIntegerOperation>(i));
                                count(record, s0.Notify(MakeRef<TOWSuppliedIntegerOperation>(i)),
                                      record.ReachedA);
                                FStates[0]->SetValue(i);
                                ++record.Rounds;
                            }
                        });
    TStressThread second(start,
                         [&](TThreadRecord& record)
                         {
                             for (std::int32_t i = 0; i < kNotifyRounds; ++i)
                             {
                                 b.Notify(MakeRef<TOWSuppliedIntegerOperation>(i));
                                 count(record, s3.Notify(MakeRef<TOWSuppliedIntegerOperation>(i)),
                                       record.ReachedB);
                                 FStates[1]->SetValue(1000 + i);
                                 ++record.Rounds;
                             }
                         });
    TStressThread third(start,
                        [&](TThreadRecord& record)
                        {
                            const auto operation = MakeRef<TOWSuppliedIntegerOperation>(7);
                            for (std::int32_t i = 0; i < kNotifyRounds; ++i)
                            {
                                a.Notify(operation);
                                b.Notify(operation);
                                count(record, s2.Notify(operation), record.ReachedB);
                                FStates[2]->SetValue(2000 + i);
                                ++record.Rounds;
                            }
                        });
    // Every change is undone within the round, so the graph ends as it started.
    TStressThread reshaper(start,
                           [&](TThreadRecord& record)
                           {
                               for (std::int32_t i = 0; i < kReshapeRounds; ++i)
                               {
                                   if (!s1.Connect(&b) || !s1.Connect(&a))
                                       throw EOWException("s1 refused a source");
                                   s0.Disconnect();
                                   if (!s0.Connect(&a))
                                       throw EOWException("s0 refused its source");
                                   FStates[2]->Disconnect();
                                   if (!FStates[2]->Connect(FStates[0].get()))
                                       throw EOWException("state pin refused its group");
                                   a.AddDependency(&b);
                                   a.RemoveDependency(&b);
                                   ++record.Rounds;
                               }
                           });
    start.arrive_and_wait();
    for (TStressThread* thread : {&first, &second, &third, &reshaper})
        thread->Join();

    for (TStressThread* thread : {&first, &second, &third})
    {
        EXPECT_EQ(thread->Record.Failure, "");
        EXPECT_EQ(thread->Record.Rounds, kNotifyRounds);
    }
    EXPECT_EQ(reshaper.Record.Failure, "");
    EXPECT_EQ(reshaper.Record.Rounds, kReshapeRounds);

    // Links: back where they started.
    EXPECT_EQ(s0.GetSourcePin(), &a);
    EXPECT_EQ(s1.GetSourcePin(), &a);
    EXPECT_EQ(s2.GetSourcePin(), &b);
    EXPECT_EQ(s3.GetSourcePin(), &b);
    EXPECT_EQ(SinksOf(a), (std::vector<TOWSinkPin*>{std::min(&s0, &s1), std::max(&s0, &s1)}));
    EXPECT_EQ(SinksOf(b), (std::vector<TOWSinkPin*>{std::min(&s2, &s3), std::max(&s2, &s3)}));
    EXPECT_TRUE(a.FunctionSinks().Contains(&s2));
    EXPECT_EQ(s2.FunctionSources(), std::vector<TOWSourcePin*>{&a});
    ASSERT_EQ(FStates[0]->MemberCount(), 3u);
    for (const auto& state : FStates)
        EXPECT_EQ(state->Dispatcher(), FStates[0]->Dispatcher());
    // Lock groups: the function sink's lock dependency stays, the one added and removed left no trace.
    EXPECT_EQ(LockOf(a), LockOf(s2));
    EXPECT_NE(LockOf(a), LockOf(b));
    EXPECT_EQ(LockOf(*FStates[0]), LockOf(*FStates[2]));
    for (TOWPin* pin : AllPins())
    {
        EXPECT_EQ(pin->NotifyDepth(), 0);
        EXPECT_EQ(pin->ReadCount(), 0);
        EXPECT_EQ(pin->WriteCount(), 0);
        EXPECT_EQ(LockOf(*pin)->Lock().HoldCount(), 0);
    }
    EXPECT_EQ(GlobalLock().Sentinel(), TOWMultiReadExclusiveWriteSynchronizer::kFree);

    // Deliveries: the pins that were never unlinked received every operation sent their way.
    const std::int32_t bNotifies = 2 * kNotifyRounds;
    EXPECT_EQ(s2.ReceivedCount.load(), bNotifies);
    EXPECT_EQ(s3.ReceivedCount.load(), bNotifies);
    EXPECT_EQ(b.ReceivedCount.load(), second.Record.ReachedB + third.Record.ReachedB);
    EXPECT_EQ(second.Record.ReachedB + third.Record.ReachedB, bNotifies);
    EXPECT_EQ(a.ReceivedCount.load(), first.Record.ReachedA);
    EXPECT_GT(first.Record.ReachedA, 0);
    EXPECT_GT(s0.ReceivedCount.load(), 0);
    EXPECT_GT(s1.ReceivedCount.load(), 0);
    for (const auto& state : FStates)
        EXPECT_FALSE(state->Flags.empty());

    // Leaks: every lock object and the state group go with the pins.
    EXPECT_EQ(TOWStateDispatcher::LiveCount(), FDispatchersBefore + 1);
    DestroyPins();
    EXPECT_EQ(TOWLockObject::LiveCount(), FLockObjectsBefore);
    EXPECT_EQ(TOWStateDispatcher::LiveCount(), FDispatchersBefore);
}

}   // namespace
}   // namespace harvolin
