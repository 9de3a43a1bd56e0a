#include "tools/common/pattern.h"

#include "toolsTestHelpers.h"

#include "util/platform.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

using tools::PatternPlayer;
using tools::Shape;
using toolstest::boardFrom;

namespace {

// The shape a stone of side 1 on '*' makes along the row. The line is drawn
// on row 10 from column `left`; X own stones, O the opponent's.
Shape rowShape(const std::string& line, int left = 3) {
    const tools::GameBoard board = boardFrom(line, 10, left);
    const int              col   = left + static_cast<int>(line.find('*'));
    return PatternPlayer::shapeAt(board, 10, col, 1, 0);
}

std::pair<int, int> moveFor(const tools::GameBoard& board, int sign, uint64_t seed = 0,
                            double randomness = 0.0) {
    PatternPlayer player(seed, randomness);
    int           row = -1, col = -1;
    EXPECT_TRUE(player.chooseMove(board, sign, &row, &col));
    return {row, col};
}

// The forced move must come out for either colour, deterministic or random.
void expectForced(const std::string& picture, int top, int left, int sideOfX, int toMove,
                  std::pair<int, int> expected) {
    for (int flip : {1, -1}) {
        const tools::GameBoard board = boardFrom(picture, top, left, sideOfX * flip);
        EXPECT_EQ(moveFor(board, toMove * flip), expected) << picture;
        for (uint64_t seed = 1; seed <= 20; ++seed)
            EXPECT_EQ(moveFor(board, toMove * flip, seed, 0.5), expected) << picture;
    }
}

} // namespace

TEST(PatternShapes, FivesAndFours) {
    EXPECT_EQ(rowShape(".XXXX*."), Shape::Five);
    EXPECT_EQ(rowShape("XX*XX"), Shape::Five);
    EXPECT_EQ(rowShape("XXX*XX"), Shape::Five); // six counts
    EXPECT_EQ(rowShape("..XXX*.."), Shape::OpenFour);
    EXPECT_EQ(rowShape("X.XX*.X"), Shape::OpenFour); // two separate gaps complete
    EXPECT_EQ(rowShape("OXXX*.."), Shape::Four);
    EXPECT_EQ(rowShape("OX.X*X."), Shape::Four);
    EXPECT_EQ(rowShape("*XXX..", 0), Shape::Four); // edge closes the left end
}

TEST(PatternShapes, ThreesTwosAndDeadLines) {
    EXPECT_EQ(rowShape("...XX*..."), Shape::OpenThree);
    EXPECT_EQ(rowShape("..X.X*..."), Shape::OpenThree);
    EXPECT_EQ(rowShape("OXX*...."), Shape::Three);
    EXPECT_EQ(rowShape("OX.X*.O"), Shape::Three);
    EXPECT_EQ(rowShape("...X*...."), Shape::OpenTwo);
    EXPECT_EQ(rowShape("OX*......"), Shape::Two);
    EXPECT_EQ(rowShape("....*...."), Shape::One);
    EXPECT_EQ(rowShape("O*XX.O"), Shape::None);    // four cells between blockers
    EXPECT_EQ(rowShape("O*X.X", 15), Shape::None); // edge on the right
}

TEST(PatternShapes, OtherDirectionsAndOccupiedCells) {
    const tools::GameBoard board = boardFrom("X....\n"
                                             ".X...\n"
                                             "..X..\n"
                                             ".X.X.\n"
                                             "X....\n",
                                             5, 5);
    EXPECT_EQ(PatternPlayer::shapeAt(board, 9, 9, 1, 2), Shape::Five);
    EXPECT_EQ(PatternPlayer::shapeAt(board, 9, 9, -1, 2), Shape::One);
    EXPECT_EQ(PatternPlayer::shapeAt(board, 6, 8, 1, 3), Shape::OpenFour);
    EXPECT_EQ(PatternPlayer::shapeAt(board, 5, 5, 1, 2), Shape::None); // occupied
}

TEST(PatternPlayer, CompletesOwnFive) {
    expectForced("XXXX.", 3, 0, 1, 1, {3, 4}); // edge closes the other end
    expectForced("OXXXX.", 3, 3, 1, 1, {3, 8});
    expectForced("X\nX\n.\nX\nX", 0, 19, 1, 1, {2, 19});
    expectForced("...X\n..X.\n.X..\nX...", 16, 0, 1, 1, {15, 4}); // anti-diagonal at a corner
}

TEST(PatternPlayer, PrefersOwnFiveOverBlocking) {
    expectForced("OOOO.\n"
                 ".....\n"
                 "XXXX.\n",
                 8, 0, 1, 1, {10, 4});
    expectForced("OOOO.\n"
                 ".....\n"
                 "XXXX.\n",
                 8, 0, 1, -1, {8, 4});
}

TEST(PatternPlayer, BlocksEveryFourIncludingBrokenOnesAndEdges) {
    expectForced("XOOOO.", 10, 4, 1, 1, {10, 9});
    expectForced("XOO.OO", 10, 4, 1, 1, {10, 7}); // X X _ X X seen from the defender
    expectForced("O.OOO", 10, 0, -1, 1, {10, 1});
    expectForced("O\nO\nO\nO\n.", 0, 0, -1, 1, {4, 0});                     // corner column
    expectForced("O...\n.O..\n..O.\n....\n....O", 15, 15, -1, 1, {18, 18}); // gap at a corner
    expectForced("....O\n...O.\n..O..\n.O...\n.....", 0, 15, -1, 1, {4, 15});
}

TEST(PatternPlayer, BlocksFiveBeforeMakingOpenFour) {
    // Side 1 has an open three but the opponent's four must be blocked first.
    expectForced("..XXX..\n"
                 ".......\n"
                 "XOOOO..\n",
                 6, 6, 1, 1, {8, 11});
}

TEST(PatternPlayer, OpenFourBeforeDefence) {
    // Both sides have open threes; the side to move wins with an open four.
    const tools::GameBoard board = boardFrom("........\n"
                                             "..XXX...\n"
                                             "........\n"
                                             "..OOO...\n",
                                             6, 6);
    const auto             move  = moveFor(board, 1);
    EXPECT_EQ(move.first, 7);
    EXPECT_TRUE(move.second == 7 || move.second == 11);
}

TEST(PatternPlayer, BlocksOpenThree) {
    const tools::GameBoard board = boardFrom("........\n"
                                             "..OOO...\n"
                                             "........\n"
                                             "....X...\n",
                                             6, 6);
    for (uint64_t seed = 0; seed < 10; ++seed) {
        const auto move = moveFor(board, 1, seed, 0.1);
        EXPECT_EQ(move.first, 7);
        EXPECT_TRUE(move.second == 7 || move.second == 11 || move.second == 6 || move.second == 12)
            << move.second;
    }
}

TEST(PatternPlayer, OpeningMoveAndVariety) {
    tools::GameBoard empty;
    EXPECT_EQ(moveFor(empty, 1), std::make_pair(9, 9));
    std::set<std::pair<int, int>> openings;
    for (uint64_t seed = 0; seed < 50; ++seed) {
        const auto move = moveFor(empty, 1, seed, 0.2);
        EXPECT_TRUE(move.first >= 8 && move.first <= 11 && move.second >= 8 && move.second <= 11);
        openings.insert(move);
    }
    EXPECT_GT(openings.size(), 4u);

    // A quiet middle game: deterministic without randomness, varied with it,
    // and always an empty cell near the stones.
    const tools::GameBoard board = boardFrom("X.O\n.X.\nO..", 8, 8);
    EXPECT_EQ(moveFor(board, -1), moveFor(board, -1));
    std::set<std::pair<int, int>> replies;
    for (uint64_t seed = 0; seed < 50; ++seed) {
        const auto move = moveFor(board, -1, seed, 0.3);
        EXPECT_TRUE(board.isEmpty(move.first, move.second));
        EXPECT_LE(std::abs(move.first - 9), 3);
        EXPECT_LE(std::abs(move.second - 9), 3);
        replies.insert(move);
    }
    EXPECT_GT(replies.size(), 1u);
}

TEST(PatternPlayer, FullBoardAndNearlyFullBoard) {
    tools::GameBoard board;
    for (int cell = 0; cell < tools::kCellCount - 1; ++cell) {
        // Rows of alternating pairs keep any line below five.
        const int r = cell / tools::kBoardSize, c = cell % tools::kBoardSize;
        board.place(r, c, ((c / 2) + r) % 2 == 0 ? 1 : -1);
    }
    int           row = -1, col = -1;
    PatternPlayer player;
    ASSERT_TRUE(player.chooseMove(board, 1, &row, &col));
    EXPECT_EQ(std::make_pair(row, col), std::make_pair(19, 19));
    board.place(19, 19, 1);
    EXPECT_FALSE(player.chooseMove(board, -1, &row, &col));
}

TEST(PatternPlayer, SelfPlayIsFastAndLegal) {
    PatternPlayer    player(7, 0.1);
    tools::GameBoard board;
    int              sign = 1, moves = 0, row = -1, col = -1;
    const int        start = tovu::getTickCount();
    for (int game = 0; game < 10; ++game) {
        board.clear();
        while (player.chooseMove(board, sign, &row, &col)) {
            ASSERT_TRUE(board.place(row, col, sign));
            ++moves;
            if (board.makesFive(row, col))
                break;
            sign = -sign;
        }
    }
    const int elapsed = tovu::getTickCount() - start;
    EXPECT_LT(elapsed, moves * 10) << moves << " moves";
}
