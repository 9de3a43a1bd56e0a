#include <climits>

#include <gtest/gtest.h>

#include "util/platform.h"

// A tick count read into an int wraps from its largest value to its
// smallest; the time between two readings must still be the short one.
TEST(TickCount, DifferencesAreTakenModulo2To32) {
    EXPECT_EQ(tovu::ticksBetween(1000, 1700), 700);
    EXPECT_EQ(tovu::ticksBetween(INT_MAX - 5, INT_MIN + 4), 10);
    EXPECT_EQ(tovu::ticksBetween(-10, 10), 20);
    EXPECT_EQ(tovu::ticksBetween(INT_MIN + 4, INT_MAX - 5), -10);
    const int start = tovu::getTickCount();
    EXPECT_GE(tovu::ticksBetween(start, tovu::getTickCount()), 0);
}
