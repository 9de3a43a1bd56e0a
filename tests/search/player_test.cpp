#include "player_helpers.h"
#include "util/platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

using mcts::LearningPlayer;
using mcts::Move;

namespace {

// Fast games: a small pool, a tiny network and a per-move limit that ends the
// search after one batch.
class Player : public ::testing::Test {
  protected:
    LearningPlayer player{20, playertest::SMALL_POOL};

    void SetUp() override {
        player.setTimeouts(0, 100000000, 100000000);
        player.START();
    }

    bool isLegalFor(const Move& m, int side) const {
        return m.row >= 0 && m.row < 20 && m.col >= 0 && m.col < 20 && m.sign == side;
    }

    int stonesOnBoard() const {
        int count = 0;
        for (int r = 0; r < 20; ++r)
            for (int c = 0; c < 20; ++c)
                count += player.board[r][c] != 0;
        return count;
    }

    void fillBoardExcept(int keepRow, int keepCol) {
        for (int r = 0; r < 20; ++r)
            for (int c = 0; c < 20; ++c)
                player.board[r][c] = (r == keepRow && c == keepCol) ? 0 : ((r + c) % 2 ? 1 : -1);
    }
};

TEST(PlayerConstruction, BrainSizedPlayerTakesItsWholePoolAndCache) {
    LearningPlayer player(20, 2000000);
    EXPECT_EQ(player.tree->poolSize, 2010000);
    EXPECT_EQ(player.cache->capacity, 10000);
    EXPECT_EQ(player.sign, 0);
    EXPECT_EQ(player.timeoutTurn, 3000);
    EXPECT_EQ(player.timeLeft, 1000000000);
    EXPECT_FALSE(player.hasNetwork());
}

TEST_F(Player, SetSignTakesOnlyASide) {
    player.setSign(-1);
    player.setSign(0);
    player.setSign(2);
    EXPECT_EQ(player.sign, -1);
    player.setSign(1);
    EXPECT_EQ(player.sign, 1);
}

TEST_F(Player, UpdateBoardSkipsOffBoardAndOccupiedCells) {
    Move stone(3, 4, 1);
    EXPECT_TRUE(player.updateBoard(&stone));
    Move sameCell(3, 4, -1), offBoard(20, 0, 1), negative(0, -1, 1);
    EXPECT_FALSE(player.updateBoard(&sameCell));
    EXPECT_FALSE(player.updateBoard(&offBoard));
    EXPECT_FALSE(player.updateBoard(&negative));
    EXPECT_EQ(player.board[3][4], 1);
    EXPECT_EQ(player.stoneCount, 1);

    player.START();
    EXPECT_EQ(player.stoneCount, 0);
    EXPECT_EQ(stonesOnBoard(), 0);
    EXPECT_EQ(player.tree->root, nullptr);
}

TEST_F(Player, RandomMoveFollowsColumnMajorCountdown) {
    player.setSign(-1);
    player.board[0][0] = 1;
    player.board[1][0] = -1;
    for (unsigned seed : {1u, 2u, 3u, 99u}) {
        std::srand(seed);
        const int r = std::rand() % 398;
        // Cells in column-major order; counting down from 398, r picks the
        // (398 - r)-th empty cell.
        std::vector<std::pair<int, int>> order;
        for (int c = 0; c < 20; ++c)
            for (int row = 0; row < 20; ++row)
                if (player.board[row][c] == 0)
                    order.emplace_back(row, c);
        std::srand(seed);
        Move m;
        player.getRandomMove(&m);
        EXPECT_EQ(m.row, order[397 - r].first);
        EXPECT_EQ(m.col, order[397 - r].second);
        EXPECT_EQ(m.sign, -1);
    }
}

TEST_F(Player, RandomMoveOnLastCellAndFullBoard) {
    player.setSign(1);
    fillBoardExcept(13, 6);
    Move m;
    player.getRandomMove(&m);
    EXPECT_EQ(m.row, 13);
    EXPECT_EQ(m.col, 6);
    EXPECT_EQ(m.sign, 1);
    player.board[13][6] = 1;
    player.getRandomMove(&m);
    EXPECT_EQ(m.row, -1);
    EXPECT_EQ(m.col, -1);
    EXPECT_EQ(m.sign, 0);
}

TEST_F(Player, BoardWithDuplicateCellPlacesTheFirstStone) {
    ASSERT_TRUE(playertest::attachTinyNetwork(&player));
    player.setSign(1);
    Move  a(5, 5, 1), b(5, 5, -1), c(6, 6, -1);
    Move* stones[] = {&a, &b, &c};
    Move  answer;
    player.BOARD(&answer, stones, 3);
    EXPECT_EQ(player.board[5][5], 1);
    EXPECT_EQ(player.board[6][6], -1);
    EXPECT_TRUE(isLegalFor(answer, 1));
    EXPECT_EQ(player.stoneCount, 3) << "two stones and the engine's answer";
    EXPECT_EQ(player.board[answer.row][answer.col], 1);
    // The tree now stands at the engine's move.
    EXPECT_EQ(player.tree->root->row, answer.row);
    EXPECT_EQ(player.tree->root->col, answer.col);
}

TEST_F(Player, BeginOpensAsCrossAndTurnAnswersAfterTheOpponent) {
    ASSERT_TRUE(playertest::attachTinyNetwork(&player));
    player.setSign(1);
    Move first;
    player.BEGIN(&first);
    ASSERT_TRUE(isLegalFor(first, 1));

    int  row = first.row, col = first.col == 19 ? 0 : first.col + 1;
    Move reply(row, col, -1);
    Move answer;
    player.TURN(&answer, &reply);
    ASSERT_TRUE(isLegalFor(answer, 1));
    EXPECT_EQ(player.board[row][col], -1);
    EXPECT_EQ(player.stoneCount, 3);
    EXPECT_EQ(stonesOnBoard(), 3);
}

TEST_F(Player, TurnOnOccupiedCellKeepsBoardAndStillAnswers) {
    ASSERT_TRUE(playertest::attachTinyNetwork(&player));
    player.setSign(-1);
    Move opening(9, 9, 1), answer;
    player.TURN(&answer, &opening);
    ASSERT_TRUE(isLegalFor(answer, -1));

    Move occupied(answer.row, answer.col, 1), next;
    player.TURN(&next, &occupied);
    EXPECT_EQ(player.board[answer.row][answer.col], -1);
    EXPECT_TRUE(isLegalFor(next, -1));
    EXPECT_EQ(player.stoneCount, 3);

    Move offBoard(25, 3, 1), third;
    player.TURN(&third, &offBoard);
    EXPECT_TRUE(isLegalFor(third, -1));
    EXPECT_EQ(stonesOnBoard(), 4);
}

TEST_F(Player, SearchReusesTheSubtreeOfThePlayedMove) {
    ASSERT_TRUE(playertest::attachTinyNetwork(&player));
    player.setTimeouts(400, 100000000, 100000000);
    player.setSign(1);
    player.setStartTime(tovu::getTickCount());
    Move first;
    player.BEGIN(&first);
    ASSERT_TRUE(isLegalFor(first, 1));
    // The root is now the engine's own move, with the statistics gathered
    // below it during the search.
    const mcts::Node* root = player.tree->root;
    EXPECT_GT(root->visits, 0);
    EXPECT_GT(root->childCount, 0);
    EXPECT_EQ(root->sign, 1);
}

TEST_F(Player, NoNetworkStillGivesALegalMove) {
    player.setSign(1);
    Move first;
    player.BEGIN(&first);
    EXPECT_TRUE(isLegalFor(first, 1));
    Move opp(first.row == 0 ? 1 : 0, 0, -1), answer;
    player.TURN(&answer, &opp);
    EXPECT_TRUE(isLegalFor(answer, 1));
    EXPECT_EQ(stonesOnBoard(), 3);
}

TEST_F(Player, FullBoardAnswersNoMove) {
    ASSERT_TRUE(playertest::attachTinyNetwork(&player));
    player.setSign(1);
    std::vector<Move>  moves;
    std::vector<Move*> stones;
    moves.reserve(400);
    // A drawn pattern: no five for either side.
    for (int r = 0; r < 20; ++r)
        for (int c = 0; c < 20; ++c)
            moves.emplace_back(r, c, (c + 2 * r) % 4 < 2 ? 1 : -1);
    for (Move& m : moves)
        stones.push_back(&m);
    Move answer;
    player.BOARD(&answer, stones.data(), 400);
    EXPECT_EQ(answer.row, -1);
    EXPECT_EQ(answer.col, -1);
    EXPECT_EQ(answer.sign, 0);
}

TEST_F(Player, SidelessPlayerTakesTheSideToMove) {
    ASSERT_TRUE(playertest::attachTinyNetwork(&player));
    Move answer;
    player.BOARD(&answer, nullptr, 0);
    EXPECT_EQ(player.sign, 1) << "empty board: CROSS to move";
    EXPECT_TRUE(isLegalFor(answer, 1));

    LearningPlayer fresh(20, playertest::SMALL_POOL);
    ASSERT_TRUE(playertest::attachTinyNetwork(&fresh));
    fresh.setTimeouts(0, 100000000, 100000000);
    fresh.START();
    Move  odd(4, 4, 3);
    Move* stones[] = {&odd};
    fresh.BOARD(&answer, stones, 1);
    EXPECT_EQ(fresh.sign, -1) << "one stone on the board: CIRCLE to move";
    EXPECT_EQ(answer.sign, -1);
    EXPECT_NE(answer.row * 20 + answer.col, 4 * 20 + 4);
}

TEST_F(Player, RootThatDoesNotFitThePositionIsRefused) {
    ASSERT_TRUE(playertest::attachTinyNetwork(&player));
    player.setSign(1);
    playertest::buildRoot(&player, 1, 0, {{0, 0}, {0, 0}, {0, 0}});
    fillBoardExcept(19, 19);
    player.board[19][18] = 0;
    Move m(5, 5, 1);
    player.getMove(&m);
    EXPECT_EQ(m.row, -1);
    EXPECT_EQ(m.sign, 0);
}

TEST_F(Player, LoadingRefusesBrokenImagesAndKeepsEarlierWeights) {
    std::vector<char> image = playertest::tinyNetwork();
    EXPECT_FALSE(player.loadFromChar(image.data(), 100));
    EXPECT_FALSE(player.hasNetwork());
    EXPECT_TRUE(player.loadFromChar(image.data(), static_cast<long long>(image.size())));
    EXPECT_TRUE(player.hasNetwork());
    EXPECT_FALSE(player.loadFromChar(nullptr, 0));
    EXPECT_TRUE(player.hasNetwork());
    // Reloading the same weights in place keeps the engine playing.
    EXPECT_TRUE(player.loadFromChar(image.data(), static_cast<long long>(image.size())));
    player.setSign(1);
    Move first;
    player.BEGIN(&first);
    EXPECT_TRUE(isLegalFor(first, 1));
}

} // namespace
