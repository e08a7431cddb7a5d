#include "media/RunningObjectTable.h"
#include "media/Monikers.h"
#include <gtest/gtest.h>

#include <latch>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace harvolin
{
namespace
{

// An object whose end the test can see.
class TWatched final : public TComObject<IBindCtx>
{
public:
    explicit TWatched(bool& gone) : FGone(gone) {}
private:
    ~TWatched() override { FGone = true; }
    bool& FGone;
};

TRefPtr<IMoniker> ItemMoniker(const std::string& item)
{
    IMoniker* moniker = nullptr;
    EXPECT_EQ(CreateItemMoniker("!", item.c_str(), &moniker), S_OK);
    return AdoptRef(moniker);
}

class RunningObjectTableTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        IRunningObjectTable* table = nullptr;
        ASSERT_EQ(GetRunningObjectTable(0, &table), S_OK);
        FTable = AdoptRef(table);
    }

    TRefPtr<IRunningObjectTable> FTable;
};

TEST_F(RunningObjectTableTest, ARegisteredObjectIsFoundByDisplayNameUntilRevoked)
{
    bool gone = false;
    const auto object = MakeComObject<TWatched, IBindCtx>(gone);
    std::uint32_t cookie = 0;
    ASSERT_EQ(FTable->Register(0, object.Get(), ItemMoniker("FilterGraph found").Get(), &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    // Another moniker of the same name finds it.
    const auto sameName = ItemMoniker("FilterGraph found");
    EXPECT_EQ(FTable->IsRunning(sameName.Get()), S_OK);
    IUnknown* found = nullptr;
    ASSERT_EQ(FTable->GetObject(sameName.Get(), &found), S_OK);
    EXPECT_EQ(AdoptRef(found), QueryAs<IUnknown>(object.Get()));
    EXPECT_EQ(FTable->IsRunning(ItemMoniker("FilterGraph other").Get()), S_FALSE);

    EXPECT_EQ(FTable->Revoke(cookie), S_OK);
    EXPECT_EQ(FTable->IsRunning(sameName.Get()), S_FALSE);
    EXPECT_EQ(FTable->GetObject(sameName.Get(), &found), MK_E_UNAVAILABLE);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(FTable->Revoke(cookie), E_INVALIDARG);
    EXPECT_EQ(FTable->Revoke(0), E_INVALIDARG);
    EXPECT_FALSE(gone);
}

TEST_F(RunningObjectTableTest, KeepAliveHoldsTheObjectUntilRevoked)
{
    bool gone = false;
    auto object = MakeComObject<TWatched, IBindCtx>(gone);
    std::uint32_t cookie = 0;
    ASSERT_EQ(
        FTable->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, object.Get(), ItemMoniker("kept").Get(), &cookie),
        S_OK);
    object.Reset();
    EXPECT_FALSE(gone);
    IUnknown* found = nullptr;
    ASSERT_EQ(FTable->GetObject(ItemMoniker("kept").Get(), &found), S_OK);
    AdoptRef(found).Reset();
    EXPECT_FALSE(gone);
    ASSERT_EQ(FTable->Revoke(cookie), S_OK);
    EXPECT_TRUE(gone);

    // Without the flag the table holds no reference: the registrant's release is the last.
    gone = false;
    object = MakeComObject<TWatched, IBindCtx>(gone);
    ASSERT_EQ(FTable->Register(0, object.Get(), ItemMoniker("weak").Get(), &cookie), S_OK);
    object.Reset();
    EXPECT_TRUE(gone);
    EXPECT_EQ(FTable->Revoke(cookie), S_OK);
}

TEST_F(RunningObjectTableTest, ASecondRegistrationOfANameSaysSoAndTheFirstIsFound)
{
    bool firstGone = false;
    bool secondGone = false;
    const auto first = MakeComObject<TWatched, IBindCtx>(firstGone);
    const auto second = MakeComObject<TWatched, IBindCtx>(secondGone);
    std::uint32_t firstCookie = 0;
    std::uint32_t secondCookie = 0;
    ASSERT_EQ(FTable->Register(0, first.Get(), ItemMoniker("twice").Get(), &firstCookie), S_OK);
    ASSERT_EQ(FTable->Register(0, second.Get(), ItemMoniker("twice").Get(), &secondCookie),
              MK_S_MONIKERALREADYREGISTERED);
    EXPECT_NE(firstCookie, secondCookie);
    IUnknown* found = nullptr;
    ASSERT_EQ(FTable->GetObject(ItemMoniker("twice").Get(), &found), S_OK);
    EXPECT_EQ(AdoptRef(found), QueryAs<IUnknown>(first.Get()));
    ASSERT_EQ(FTable->Revoke(firstCookie), S_OK);
    ASSERT_EQ(FTable->GetObject(ItemMoniker("twice").Get(), &found), S_OK);
    EXPECT_EQ(AdoptRef(found), QueryAs<IUnknown>(second.Get()));
    ASSERT_EQ(FTable->Revoke(secondCookie), S_OK);
}

// Threads registering and revoking at once each get cookies of their own and leave the table as it was.
TEST(RunningObjectTableConcurrency, RegistrationsFromManyThreadsKeepTheirOwnCookies)
{
    constexpr int kThreads = 4;
    constexpr int kRounds = 200;
    IRunningObjectTable* made = nullptr;
    ASSERT_EQ(GetRunningObjectTable(0, &made), S_OK);
    const auto table = AdoptRef(made);
    std::latch start(kThreads);
    std::vector<std::vector<std::uint32_t>> cookies(kThreads);
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(
            [&, t]
            {
                IBindCtx* context = nullptr;
                CreateBindCtx(0, &context);
                const auto object = AdoptRef(context);
                const auto name = ItemMoniker("thread " + std::to_string(t));
                start.arrive_and_wait();
                for (int round = 0; round < kRounds; ++round)
                {
                    std::uint32_t cookie = 0;
                    if (table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, object.Get(), name.Get(), &cookie) !=
                            S_OK ||
                        table->IsRunning(name.Get()) != S_OK)
                        ++failures[t];
                    cookies[t].push_back(cookie);
                    if (table->Revoke(cookie) != S_OK)
                        ++failures[t];
                }
            });
    for (auto& thread : threads)
        thread.join();
    std::set<std::uint32_t> distinct;
    for (int t = 0; t < kThreads; ++t)
    {
        EXPECT_EQ(failures[t], 0) << "thread " << t;
        distinct.insert(cookies[t].begin(), cookies[t].end());
        EXPECT_EQ(table->IsRunning(ItemMoniker("thread " + std::to_string(t)).Get()), S_FALSE);
    }
    EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kThreads * kRounds));
}

}   // namespace
}   // namespace harvolin
