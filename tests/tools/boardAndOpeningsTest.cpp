#include "tools/common/gameBoard.h"
#include "tools/common/openings.h"
#include "tools/common/protocolText.h"

#include "toolsTestHelpers.h"

#include <gtest/gtest.h>

using toolstest::boardFrom;

TEST(GameBoard, PlaceRefusesBadMoves) {
    tools::GameBoard board;
    EXPECT_TRUE(board.place(0, 0, 1));
    EXPECT_FALSE(board.place(0, 0, -1));
    EXPECT_FALSE(board.place(-1, 5, 1));
    EXPECT_FALSE(board.place(5, 20, 1));
    EXPECT_FALSE(board.place(5, 5, 0));
    EXPECT_FALSE(board.place(5, 5, 2));
    EXPECT_EQ(board.stoneCount(), 1);
    board.remove(0, 0);
    board.remove(0, 0);
    EXPECT_EQ(board.stoneCount(), 0);
}

TEST(GameBoard, FiveOrMoreInEveryDirection) {
    EXPECT_TRUE(boardFrom("XXXXX", 19, 15).makesFive(19, 17));
    EXPECT_TRUE(boardFrom("X\nX\nX\nX\nX", 0, 0).makesFive(4, 0));
    EXPECT_TRUE(boardFrom("X\n.X\n..X\n...X\n....X", 15, 15).makesFive(19, 19));
    EXPECT_TRUE(boardFrom("....X\n...X\n..X\n.X\nX", 0, 0).makesFive(2, 2));
    EXPECT_TRUE(boardFrom("XXXXXX", 5, 5).makesFive(5, 5)); // six wins too
    EXPECT_FALSE(boardFrom("XXXX.X", 5, 5).makesFive(5, 5));
    EXPECT_FALSE(boardFrom("XXXXO", 5, 5).makesFive(5, 5));
    EXPECT_FALSE(boardFrom("XXXXX", 5, 5).makesFive(6, 5)); // empty cell
    // Four on the board's last columns does not wrap onto the next row.
    EXPECT_FALSE(boardFrom("XXXX\nX", 5, 16).makesFive(5, 19));
}

TEST(ProtocolText, IntegersAndCoordinates) {
    int x = 0, y = 0;
    EXPECT_TRUE(tools::parseCoordinates(" 10 , 3 ", &x, &y));
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, 3);
    for (const char* bad : {"", "10", "10,", ",3", "10,3,1", "1a,3", "10;3", "99999999999,1"})
        EXPECT_FALSE(tools::parseCoordinates(bad, &x, &y)) << bad;
    EXPECT_TRUE(tools::parseInt("-2147483648", &x));
    EXPECT_EQ(x, -2147483647 - 1);
    EXPECT_FALSE(tools::parseInt("2147483648", &x));
    EXPECT_FALSE(tools::parseInt("-", &x));
    EXPECT_EQ(tools::commandWord("  turn 1,2"), "TURN");
    EXPECT_EQ(tools::commandWord("DONE\r"), "DONE");
}

TEST(Openings, ParseChecksEveryStone) {
    std::vector<tools::Stone> stones;
    std::string               error;
    ASSERT_TRUE(tools::parseOpening("9,9 10,10  9,10", &stones, &error));
    ASSERT_EQ(stones.size(), 3u);
    EXPECT_EQ(stones[0].sign, 1);
    EXPECT_EQ(stones[1].sign, -1);
    EXPECT_EQ(stones[2].row, 9);
    EXPECT_EQ(stones[2].col, 10);
    EXPECT_FALSE(tools::parseOpening("9,9 9,9", &stones, &error));
    EXPECT_FALSE(tools::parseOpening("9,9 20,1", &stones, &error));
    EXPECT_FALSE(tools::parseOpening("9,9 x", &stones, &error));
    EXPECT_FALSE(tools::parseOpening("0,0 1,0 0,1 1,1 0,2 1,2 0,3 1,3 0,4", &stones, &error));
    EXPECT_NE(error.find("five"), std::string::npos);
}

TEST(Openings, RandomOpeningsAreLegalAndSeeded) {
    for (int count : {0, 1, 4, 12, 60}) {
        std::mt19937_64           rng(count), again(count);
        std::vector<tools::Stone> stones = tools::randomOpening(count, &rng);
        ASSERT_EQ(static_cast<int>(stones.size()), count);
        tools::GameBoard board;
        ASSERT_TRUE(tools::setUpOpening(stones, &board));
        for (size_t i = 0; i < stones.size(); ++i) {
            EXPECT_EQ(stones[i].sign, i % 2 == 0 ? 1 : -1);
            EXPECT_FALSE(board.makesFive(stones[i].row, stones[i].col));
            EXPECT_LE(std::abs(stones[i].row - 9.5), 9.5);
        }
        std::vector<tools::Stone> repeat = tools::randomOpening(count, &again);
        for (size_t i = 0; i < stones.size(); ++i)
            EXPECT_TRUE(stones[i].row == repeat[i].row && stones[i].col == repeat[i].col);
    }
    std::mt19937_64 rng(3);
    for (const tools::Stone& s : tools::randomOpening(4, &rng)) {
        EXPECT_GE(s.row, 7);
        EXPECT_LE(s.row, 12);
        EXPECT_GE(s.col, 7);
        EXPECT_LE(s.col, 12);
    }
}
