#include "platform/clock.h"

#include <gtest/gtest.h>

using namespace vantrel::platform;

TEST(Clock, VirtualClockSleepsAdvanceTimeAtOnceAndUninstallRestoresRealTime) {
    VirtualClock virtual_clock(5'000'000'000);
    {
        ScopedClock use(virtual_clock);
        EXPECT_EQ(now_ns(), 5'000'000'000);
        sleep_ms(60'000);  // a minute, at once
        EXPECT_EQ(now_ns(), 65'000'000'000);
    }
    const auto a = now_ns();
    SystemClock().sleep_ms(2);
    EXPECT_GE(now_ns() - a, 2'000'000);
}
