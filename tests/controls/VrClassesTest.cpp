#include "controls/VrClasses.h"
#include "controls/VrSysUtils.h"
#include <gtest/gtest.h>
#include <vector>

namespace harvolin
{
namespace
{

TEST(VrSysUtilsTest, PercentIsZeroForNoWholeAndRoundsOtherwise)
{
    EXPECT_EQ(SolveForPercent(1, 0), 0);
    EXPECT_EQ(SolveForPercent(1, 3), 33);
}

// Records what its items report, as a control that redraws one item at a time does.
class TRecordingCollection final : public TVrCollection
{
public:
    std::vector<TVrCollectionItem*> Reports;
protected:
    void Changed(TVrCollectionItem* item) override { Reports.push_back(item); }
};

class TTouchableItem final : public TVrCollectionItem
{
public:
    using TVrCollectionItem::TVrCollectionItem;
    void Touch() { Changed(); }
};

TEST(VrCollectionTest, AnItemReportsItselfOutsideAnUpdateAndTheUpdatesEndReportsTheWhole)
{
    TRecordingCollection collection;
    auto& first = collection.Add<TTouchableItem>();
    auto& second = collection.Add<TTouchableItem>();
    second.Touch();
    ASSERT_EQ(collection.Reports, std::vector<TVrCollectionItem*>{&second});
    collection.Reports.clear();
    collection.BeginUpdate();
    first.Touch();
    second.Touch();
    EXPECT_TRUE(collection.Reports.empty());
    collection.EndUpdate();
    EXPECT_EQ(collection.Reports, std::vector<TVrCollectionItem*>{nullptr});
}

}   // namespace
}   // namespace harvolin
