#include "controls/VrClasses.h"
#include "controls/VrSysUtils.h"
#include <gtest/gtest.h>

namespace harvolin
{
namespace
{

TEST(VrSysUtilsTest, PercentIsZeroForNoWholeAndRoundsOtherwise)
{
    EXPECT_EQ(SolveForPercent(1, 0), 0);
    EXPECT_EQ(SolveForPercent(1, 3), 33);
}

}   // namespace
}   // namespace harvolin
