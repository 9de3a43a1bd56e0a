#include "player_helpers.h"
#include "util/platform.h"

#include <gtest/gtest.h>

using mcts::LearningPlayer;
using playertest::buildRoot;

namespace {

class TimeManagement : public ::testing::Test {
  protected:
    LearningPlayer player{20, playertest::SMALL_POOL};

    void setTimes(int timeoutTurn, int timeLeft) { player.setTimeouts(timeoutTurn, 0, timeLeft); }

    // A root of 10 visits (its statistics belong to the opponent, so the
    // engine's winning rate is 1 - valueSum / 10) whose first child is both
    // the most visited and the best valued one.
    void settledRoot(float rootValueSum) { buildRoot(&player, 10, rootValueSum, {{6, 4}, {4, 1}}); }

    // The most visited child (first) is not the best valued one (second).
    void unclearRoot() { buildRoot(&player, 100, 40, {{60, 30}, {40, 30}}); }
};

TEST_F(TimeManagement, BaseBudgetFromTimeLeftAndRootSettlement) {
    setTimes(10000, 100000000);
    buildRoot(&player, 0, 0, {{0, 0}, {0, 0}});
    EXPECT_EQ(player.manageTime(), 9700) << "3% of 100000000 capped at timeoutTurn - 300";

    setTimes(100000, 100000);
    buildRoot(&player, 100, 50, {{50, 25}, {50, 25}});
    EXPECT_EQ(player.manageTime(), 3000);
    buildRoot(&player, 100, 50, {{95, 25}, {5, 2}});
    EXPECT_EQ(player.manageTime(), 100);

    setTimes(100000, 999);
    buildRoot(&player, 100, 50, {{50, 25}, {50, 25}});
    EXPECT_EQ(player.manageTime(), 29);
    buildRoot(&player, 100, 50, {{95, 25}, {5, 2}});
    EXPECT_EQ(player.manageTime(), 0);
}

TEST_F(TimeManagement, NinetyPercentExactlyCountsAsSettled) {
    setTimes(100000, 100000);
    buildRoot(&player, 100, 50, {{90, 45}, {10, 5}});
    EXPECT_EQ(player.manageTime(), 100);
    buildRoot(&player, 100, 50, {{89, 45}, {11, 5}});
    EXPECT_EQ(player.manageTime(), 3000);
    // The ratio uses the most visited child even when it is not the first.
    buildRoot(&player, 100, 50, {{10, 5}, {90, 45}});
    EXPECT_EQ(player.manageTime(), 100);
}

TEST_F(TimeManagement, BudgetCapStartsAtTimeoutTurnMinus299) {
    buildRoot(&player, 100, 50, {{50, 25}, {50, 25}});
    setTimes(3299, 100000);
    EXPECT_EQ(player.manageTime(), 2999);
    setTimes(3300, 100000);
    EXPECT_EQ(player.manageTime(), 3000);
    setTimes(0, 100000);
    EXPECT_EQ(player.manageTime(), -300);
}

TEST_F(TimeManagement, LosingExtensionGrantsOneToThreeStepsOncePerMove) {
    setTimes(100000, 100000);
    // Engine winning rates 0.45, 0.41, 0.4, 0.35, 0.3 and 0.25: the
    // boundaries 0.4 and 0.3 fall below their single-precision thresholds.
    const struct {
        float rootValueSum;
        int   steps;
    } cases[] = {{5.5f, 1}, {5.9f, 1}, {6, 2}, {6.5f, 2}, {7, 3}, {7.5f, 3}};
    for (const auto& c : cases) {
        settledRoot(c.rootValueSum);
        player.losingExtensionUsed = 0;
        player.extensionCount      = 0;
        int budget                 = 3000;
        EXPECT_TRUE(player.extendSearch(budget)) << c.rootValueSum;
        EXPECT_EQ(budget, 3000 + 1000 * c.steps) << c.rootValueSum;
        EXPECT_EQ(player.losingExtensionUsed, 1);
        EXPECT_EQ(player.extensionCount, 0);
        // Once granted, the position counts like any other: with a settled
        // choice of move there is nothing more to gain.
        EXPECT_FALSE(player.extendSearch(budget)) << c.rootValueSum;
        EXPECT_EQ(budget, 3000 + 1000 * c.steps);
    }
}

TEST_F(TimeManagement, LosingExactlyFiftyPercentIsNotLosing) {
    setTimes(100000, 100000);
    settledRoot(5);
    int budget = 3000;
    EXPECT_FALSE(player.extendSearch(budget));
    EXPECT_EQ(budget, 3000);
    EXPECT_EQ(player.losingExtensionUsed, 0);
}

TEST_F(TimeManagement, AfterLosingExtensionAnUnclearOneMayFollow) {
    setTimes(100000, 100000);
    buildRoot(&player, 100, 65, {{60, 30}, {40, 30}}); // engine wins 35%
    int budget = 3000;
    EXPECT_TRUE(player.extendSearch(budget));
    EXPECT_EQ(budget, 5000);
    EXPECT_TRUE(player.extendSearch(budget));
    EXPECT_EQ(budget, 6000);
    EXPECT_EQ(player.extensionCount, 1);
}

TEST_F(TimeManagement, UnclearExtensionAtMostTwice) {
    setTimes(100000, 100000);
    unclearRoot();
    int budget = 3000;
    EXPECT_TRUE(player.extendSearch(budget));
    EXPECT_EQ(budget, 4000);
    EXPECT_TRUE(player.extendSearch(budget));
    EXPECT_EQ(budget, 5000);
    EXPECT_FALSE(player.extendSearch(budget));
    EXPECT_EQ(budget, 5000);
    EXPECT_EQ(player.extensionCount, 2);
}

TEST_F(TimeManagement, StepIsOnePercentOfTimeLeft) {
    setTimes(100000, 999);
    unclearRoot();
    int budget = 29;
    EXPECT_TRUE(player.extendSearch(budget));
    EXPECT_EQ(budget, 38);
}

TEST_F(TimeManagement, ExtensionsNeverPassTimeoutTurnMinus300) {
    setTimes(3800, 100000);
    settledRoot(8);
    int budget = 3000;
    EXPECT_TRUE(player.extendSearch(budget));
    EXPECT_EQ(budget, 3500);
    // Already at the cap: nothing is granted and nothing is used up.
    unclearRoot();
    player.extensionCount = 0;
    EXPECT_FALSE(player.extendSearch(budget));
    EXPECT_EQ(player.extensionCount, 0);
    budget = 3499;
    EXPECT_TRUE(player.extendSearch(budget));
    EXPECT_EQ(budget, 3500);
}

TEST_F(TimeManagement, SettledAndNotLosingGetsNoExtension) {
    setTimes(100000, 100000);
    settledRoot(4);
    int budget = 3000;
    EXPECT_FALSE(player.extendSearch(budget));
    EXPECT_EQ(player.extensionCount, 0);
    // A root without statistics is not losing either.
    buildRoot(&player, 0, 0, {{0, 0}});
    EXPECT_FALSE(player.extendSearch(budget));
    EXPECT_EQ(budget, 3000);
}

TEST_F(TimeManagement, DistributionIsVisitShareAndWinRateIsTheEngines) {
    buildRoot(&player, 10, 3, {{6, 4}, {2, 1}, {0, 0}});
    float* rows[20];
    float  cells[20][20];
    for (int r = 0; r < 20; ++r)
        rows[r] = cells[r];
    const float winRate = player.getDistribution(rows);
    EXPECT_FLOAT_EQ(winRate, 0.7f);
    EXPECT_FLOAT_EQ(cells[0][0], 0.75f);
    EXPECT_FLOAT_EQ(cells[0][1], 0.25f);
    EXPECT_EQ(cells[0][2], 0.0f);
    EXPECT_EQ(cells[19][19], 0.0f);

    buildRoot(&player, 0, 0, {{0, 0}});
    EXPECT_EQ(player.getDistribution(rows), 1.0f);
    EXPECT_EQ(cells[0][0], 0.0f);
}

// The clock-driven part of getMove. The start time is set back to simulate
// a command that arrived earlier.
TEST_F(TimeManagement, MoveTimeIsBookedAgainstTimeLeft) {
    player.START();
    player.setSign(1);
    player.setTimeouts(0, 100000, 100000);
    player.setStartTime(tovu::getTickCount() - 700);
    player.tree->cut(999, 999, -1);
    mcts::Move move;
    player.getMove(&move);
    EXPECT_LE(player.timeLeft, 100000 - 700);
    EXPECT_GT(player.timeLeft, 100000 - 900);
}

TEST_F(TimeManagement, TimeoutTurnZeroRunsOneBatch) {
    ASSERT_TRUE(playertest::attachTinyNetwork(&player));
    player.START();
    player.setSign(1);
    player.setTimeouts(0, 100000000, 100000000);
    player.setStartTime(tovu::getTickCount());
    player.tree->cut(999, 999, -1);
    mcts::Move move;
    player.getMove(&move);
    // One simulation expands the fresh root, then exactly one batch of eight.
    EXPECT_EQ(player.search->simulations, 9);
    EXPECT_EQ(player.extensionCount, 0);
    EXPECT_EQ(player.losingExtensionUsed, 0);
    EXPECT_EQ(move.sign, 1);
}

TEST(TimeManagementClock, SearchRunsForItsBudgetAndStops) {
    // A larger pool and a nearly full board (rows 0 and 1 empty), so that the
    // pool cannot fill before the budget is spent.
    LearningPlayer player(20, 1000000);
    ASSERT_TRUE(playertest::attachTinyNetwork(&player));
    player.START();
    for (int r = 2; r < 20; ++r)
        for (int c = 0; c < 20; ++c)
            player.board[r][c] = (c + 2 * r) % 4 < 2 ? 1 : -1;
    player.setSign(1);
    player.setTimeouts(500, 100000000, 100000000);
    const int start = tovu::getTickCount();
    player.setStartTime(start);
    player.tree->cut(999, 999, -1);
    mcts::Move move;
    player.getMove(&move);
    const int elapsed = tovu::getTickCount() - start;
    ASSERT_FALSE(player.tree->isFull);
    EXPECT_GE(elapsed, 200) << "budget: timeoutTurn - 300";
    EXPECT_LT(elapsed, 450);
    EXPECT_GT(player.search->simulations, 9);
    EXPECT_LT(move.row, 2);
    EXPECT_EQ(move.sign, 1);
}

} // namespace
