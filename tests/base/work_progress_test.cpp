// Cancelling and finishing long work: whichever comes first holds.
#include "platform/base/work_progress.h"

#include <gtest/gtest.h>

TEST(WorkProgress, ACancelBeforeThePointOfNoReturnStopsTheWorkThere)
{
    TWorkProgress progress;
    TWorkScope scope(progress);
    EXPECT_TRUE(progress.Cancel());
    EXPECT_THROW(BeginFinishing(), ECancelled);
    EXPECT_TRUE(progress.Cancelled());
    EXPECT_FALSE(progress.Finishing());
}

TEST(WorkProgress, PastThePointOfNoReturnACancelIsRefusedAndNeverReported)
{
    TWorkProgress progress;
    TWorkScope scope(progress);
    EXPECT_NO_THROW(BeginFinishing());
    EXPECT_FALSE(progress.Cancel());
    EXPECT_FALSE(progress.Cancelled());
    EXPECT_TRUE(progress.Finishing());
    EXPECT_NO_THROW(CheckCancelled());
    EXPECT_NO_THROW(ReportProgress(1, 2));
}
