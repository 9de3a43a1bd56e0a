#include "search/board.h"
#include "boardPicture.h"

#include <gtest/gtest.h>

using mcts::whoWins;
using mcts_test::TestBoard;

namespace {

// Every stone of `sign` on the board must answer `expected` from the local test.
void expectLocalAtStones(TestBoard& board, int sign, int expected) {
    for (int r = 0; r < board.size; ++r) {
        for (int c = 0; c < board.size; ++c) {
            if (board[r][c] == sign) {
                EXPECT_EQ(whoWins(board, board.size, r, c, sign), expected) << r << "," << c;
            }
        }
    }
}

} // namespace

TEST(LocalFiveTest, FivesAtEdgesAndCornersFoundFromEveryStone) {
    const char* pictures[] = {
        "XXXXX\n",                                    // row 0, corner
        "X\nX\nX\nX\nX\n",                            // column 0, corner
        "X\n.X\n..X\n...X\n....X\n",                  // falling diagonal from corner
        "...............XXXXX\n",                     // top-right corner
        "...................X\n..................X\n" // rising diagonal from
        ".................X\n................X\n"     // the top-right corner
        "...............X\n",
    };
    for (const char* picture : pictures) {
        TestBoard board(20, picture);
        expectLocalAtStones(board, 1, 1);
    }

    TestBoard bottom(20);
    for (int c = 15; c < 20; ++c)
        bottom[19][c] = -1; // bottom-right corner, CIRCLE
    expectLocalAtStones(bottom, -1, -1);
    EXPECT_EQ(whoWins(bottom, 20), -1);
}

TEST(LocalFiveTest, SixInARowWinsBrokenFourDoesNot) {
    TestBoard six(20, "\n\n..OOOOOO\n");
    expectLocalAtStones(six, -1, -1);
    EXPECT_EQ(whoWins(six, 20), -1);

    TestBoard broken(20, "\n\n..XXXX.X\n\n..X\n..X\n..X\n..X\n..O\n..X\n");
    expectLocalAtStones(broken, 1, 0);
    EXPECT_EQ(whoWins(broken, 20), 0);
}

TEST(LocalFiveTest, OtherColourAndOddCellsBreakRuns) {
    TestBoard board(20, "XXOXX\n\nXX#XX\n");
    expectLocalAtStones(board, 1, 0);
    EXPECT_EQ(whoWins(board, 20), 0);

    TestBoard circleFive(20, "\n.OOOOO\n");
    EXPECT_EQ(whoWins(circleFive, 20, 1, 3, 1), 0); // asks for the wrong side
    EXPECT_EQ(whoWins(circleFive, 20, 1, 3, -1), -1);
    EXPECT_EQ(whoWins(circleFive, 20, 1, 3, 0), 0);
}

TEST(LocalFiveTest, OffBoardPointsReadNothing) {
    // A null board would crash if the test read any cell.
    EXPECT_EQ(whoWins(nullptr, 20, 999, 999, 1), 0);
    EXPECT_EQ(whoWins(nullptr, 20, -1, 5, 1), 0);
    EXPECT_EQ(whoWins(nullptr, 20, 5, -1, -1), 0);
    EXPECT_EQ(whoWins(nullptr, 20, 20, 0, 1), 0);
    EXPECT_EQ(whoWins(nullptr, 20, 0, 20, 1), 0);
    EXPECT_EQ(whoWins(nullptr, 20, 3, 3, 0), 0);
}

TEST(LocalFiveTest, SmallBoards) {
    TestBoard tiny(5, "XXXXX\n");
    expectLocalAtStones(tiny, 1, 1);
    EXPECT_EQ(whoWins(tiny, 5), 1);
    TestBoard four(4, "XXXX\n");
    expectLocalAtStones(four, 1, 0);
    EXPECT_EQ(whoWins(four, 4), 0);
}

TEST(RefereeTest, ScanOrderDecidesWhenBothSidesHaveFive) {
    // CIRCLE five in column 0, CROSS five in the last row: column 0 comes first.
    TestBoard board(20);
    for (int r = 0; r < 5; ++r)
        board[r][0] = -1;
    for (int c = 5; c < 10; ++c)
        board[19][c] = 1;
    EXPECT_EQ(whoWins(board, 20), -1);

    // Row 0 (j = 0) is scanned before column 1 (j = 1).
    TestBoard rowFirst(20);
    for (int k = 0; k < 5; ++k) {
        rowFirst[0][10 + k] = 1;
        rowFirst[1 + k][1]  = -1;
    }
    EXPECT_EQ(whoWins(rowFirst, 20), 1);
}

TEST(RefereeTest, FindsEveryDiagonalDirection) {
    // Falling and rising diagonals away from the main ones, each on its own board.
    for (int start = 0; start < 16; ++start) {
        TestBoard falling(20), fallingLow(20), rising(20), risingLow(20);
        for (int k = 0; k < 5; ++k) {
            falling[k][start + k]        = 1;
            fallingLow[start + k][k]     = 1;
            rising[k][19 - start - k]    = -1;
            risingLow[19 - k][start + k] = -1;
        }
        EXPECT_EQ(whoWins(falling, 20), 1) << start;
        EXPECT_EQ(whoWins(fallingLow, 20), 1) << start;
        EXPECT_EQ(whoWins(rising, 20), -1) << start;
        EXPECT_EQ(whoWins(risingLow, 20), -1) << start;
    }
}

TEST(RefereeTest, OddCellsNeitherResetNorAdvanceCounts) {
    // The referee skips an odd cell, so XX#XXX counts five crosses, while the
    // local test sees the odd cell as a break.
    TestBoard board(20, "XX#XXX\n");
    EXPECT_EQ(whoWins(board, 20), 1);
    EXPECT_EQ(whoWins(board, 20, 0, 3, 1), 0);
    TestBoard four(20, "XX#XX\n");
    EXPECT_EQ(whoWins(four, 20), 0);
}
