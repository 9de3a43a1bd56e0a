// The game command handlers called directly, to look at the state they leave:
// the player's side and times, the match settings, the hand-over.

#include "frontend/gameCommands.h"
#include "frontend/networkLoader.h"
#include "frontend/protocol.h"
#include "game_session.h"
#include "search/mcts.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

namespace {

class GameHandlers : public ::testing::Test {
  protected:
    gametest::BrainDir dir;
    std::string        path;
    std::string        stdinFile;

    void SetUp() override {
        ASSERT_TRUE(dir.writeNetwork());
        path          = dir.networkPath();
        pathToNetwork = &path[0];
        stdinFile     = dir.dir + "/stdin.txt";
        resetMatchSettings();
        // Fast moves: one batch of simulations each.
        info_timeout_turn = 0;
        firstMove         = true;
    }

    void TearDown() override {
        destroyPlayer();
        pathToNetwork = nullptr;
        std::remove(stdinFile.c_str());
    }

    static void resetMatchSettings() {
        info_timeout_turn       = 10000;
        info_timeout_match      = 100000000;
        info_time_left          = 100000000;
        specified_time_left     = false;
        specified_timeout_turn  = false;
        specified_timeout_match = false;
        specified_memory        = false;
        info_max_memory         = 0;
        info_game_type          = 1;
        info_exact5             = 0;
        info_continuous         = 0;
        info_renju              = 0;
    }

    // Runs a handler on a command line; the answer, or "FAILED".
    static std::string command(bool (*handler)(tovu::String*), const char* text) {
        tovu::String line(text);
        if (!handler(&line))
            return "FAILED";
        return std::string(line.buffer, static_cast<size_t>(line.length));
    }

    // The lines that BOARD reads after its command line.
    void feedStdin(const char* text) {
        std::FILE* f = std::fopen(stdinFile.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs(text, f);
        std::fclose(f);
        ASSERT_NE(std::freopen(stdinFile.c_str(), "r", stdin), nullptr);
    }

    static bool isMove(const std::string& answer) {
        int x = -1, y = -1;
        return gametest::parseMove(answer, &x, &y);
    }
};

TEST_F(GameHandlers, SecondStartReusesThePlayerAndReloadsWeights) {
    EXPECT_EQ(command(START, "START 20"), "OK");
    mcts::LearningPlayer* first = player;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->boardSize, 20);
    EXPECT_EQ(first->maxNodes, 2000000);
    EXPECT_EQ(first->tree->poolSize, 2010000);
    // Another seed: the same shape, so the weights reload in place.
    ASSERT_TRUE(dir.writeNetwork(gametest::tinyNetworkImage(99)));
    EXPECT_TRUE(loadNetwork(20));
    EXPECT_EQ(command(START, "START 20"), "OK");
    EXPECT_EQ(player, first);
    EXPECT_EQ(command(START, "START 19"), "ERROR unspported board size");
    EXPECT_EQ(width, 19);
    EXPECT_EQ(height, 19);
    EXPECT_EQ(player, first);
    EXPECT_TRUE(firstMove);
}

TEST_F(GameHandlers, BeginMakesCrossAndTurnOnEmptyBoardMakesCircle) {
    ASSERT_EQ(command(START, "START 20"), "OK");
    EXPECT_TRUE(isMove(command(BEGIN, "BEGIN")));
    EXPECT_EQ(player->sign, 1);
    EXPECT_EQ(player->stoneCount, 1);

    ASSERT_EQ(command(START, "START 20"), "OK");
    EXPECT_TRUE(isMove(command(TURN, "TURN 7,12")));
    EXPECT_EQ(player->sign, -1);
    EXPECT_EQ(player->board[7][12], 1) << "the opponent opened, as CROSS";
    EXPECT_EQ(player->stoneCount, 2);
}

TEST_F(GameHandlers, BoardFixesSidesByTheFirstStone) {
    ASSERT_EQ(command(START, "START 20"), "OK");
    feedStdin("10,10,2\n10,11,1\nDONE\n");
    EXPECT_TRUE(isMove(command(BOARD, "BOARD")));
    EXPECT_EQ(player->sign, -1);
    EXPECT_EQ(player->board[10][10], 1);
    EXPECT_EQ(player->board[10][11], -1);

    feedStdin("10,10,1\nDONE\n");
    EXPECT_TRUE(isMove(command(BOARD, "BOARD")));
    EXPECT_EQ(player->sign, 1);
    EXPECT_EQ(player->board[10][10], 1);

    // No stones: the side stays as it was.
    feedStdin("DONE\n");
    EXPECT_TRUE(isMove(command(BOARD, "BOARD")));
    EXPECT_EQ(player->sign, 1);
    EXPECT_EQ(player->stoneCount, 1);

    // Another field value is stored as it is and fixes no side.
    feedStdin("4,4,3\n5,5,1\nDONE\n");
    EXPECT_TRUE(isMove(command(BOARD, "BOARD")));
    EXPECT_EQ(player->board[4][4], 3);
    EXPECT_EQ(player->sign, 1);
}

TEST_F(GameHandlers, SidelessPlayerPlaysTheSideToMove) {
    ASSERT_EQ(command(START, "START 20"), "OK");
    feedStdin("4,4,3\nDONE\n");
    EXPECT_TRUE(isMove(command(BOARD, "BOARD")));
    EXPECT_EQ(player->sign, -1) << "one stone on the board: the second player moves";

    destroyPlayer();
    ASSERT_EQ(command(START, "START 20"), "OK");
    feedStdin("DONE\n");
    EXPECT_TRUE(isMove(command(BOARD, "BOARD")));
    EXPECT_EQ(player->sign, 1);
}

TEST_F(GameHandlers, InfoStoresSettingsAndNeverAnswers) {
    const struct {
        const char* line;
        int*        setting;
        int         expected;
    } cases[] = {
        {"INFO timeout_turn 20000000", &info_timeout_turn, 10000},
        {"INFO timeout_turn 10000000", &info_timeout_turn, 10000000},
        {"INFO timeout_turn -5", &info_timeout_turn, 10000},
        {"INFO timeout_turn 0", &info_timeout_turn, 0},
        {"INFO timeout_turn 1.5", &info_timeout_turn, 10000},
        {"INFO timeout_match -1", &info_timeout_match, 100000000},
        {"INFO timeout_match 0", &info_timeout_match, 100000000},
        {"INFO timeout_match 180000", &info_timeout_match, 180000},
        {"INFO time_left abc", &info_time_left, -1},
        {"INFO time_left -7", &info_time_left, -7},
        {"INFO time_left 2147483647", &info_time_left, 2147483647},
        {"INFO max_memory 83886080", &info_max_memory, 83886080},
        {"INFO game_type 0", &info_game_type, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(command(INFO, c.line), "") << c.line;
        EXPECT_EQ(*c.setting, c.expected) << c.line;
    }
    EXPECT_TRUE(specified_timeout_turn && specified_timeout_match && specified_time_left &&
                specified_memory);

    EXPECT_EQ(command(INFO, "INFO rule 4"), "");
    EXPECT_EQ(info_renju, 1);
    EXPECT_EQ(info_exact5 + info_continuous, 0);
    EXPECT_EQ(command(INFO, "INFO rule -1"), "");
    EXPECT_EQ(info_exact5 + info_continuous + info_renju, 3);

    EXPECT_EQ(command(INFO, "INFO folder /data/games more"), "");
    ASSERT_NE(dataFolder, nullptr);
    EXPECT_TRUE(dataFolder->equals("/data/games"));
    EXPECT_EQ(command(INFO, "INFO unknown 5"), "");
}

TEST_F(GameHandlers, InfoDuringAGameWritesThePlayersTimes) {
    ASSERT_EQ(command(START, "START 20"), "OK");
    command(INFO, "INFO timeout_turn 1234");
    command(INFO, "INFO timeout_match 0");
    command(INFO, "INFO time_left 5555");
    EXPECT_EQ(player->timeoutTurn, 1234);
    EXPECT_EQ(player->timeoutMatch, 100000000);
    EXPECT_EQ(player->timeLeft, 5555);
}

TEST_F(GameHandlers, HandOverWithoutTimeLeftTakesTheMatchTime) {
    // Only the per-move limit is set (to keep the move short): the match time
    // and the time left are the defaults, and the start time is not shifted.
    ASSERT_EQ(command(START, "START 20"), "OK");
    ASSERT_TRUE(isMove(command(TURN, "TURN 3,3")));
    EXPECT_EQ(player->timeoutTurn, 0);
    EXPECT_EQ(player->timeoutMatch, 100000000);
    EXPECT_EQ(info_time_left, 100000000);
    EXPECT_FALSE(firstMove);
    EXPECT_GT(player->timeLeft, 100000000 - 500);
    EXPECT_LE(player->timeLeft, 100000000);
}

TEST_F(GameHandlers, HandOverCountsMatchTimeAlreadyUsed) {
    command(INFO, "INFO timeout_turn 0");
    command(INFO, "INFO timeout_match 100000");
    command(INFO, "INFO time_left 90000");
    ASSERT_EQ(command(START, "START 20"), "OK");
    ASSERT_TRUE(isMove(command(TURN, "TURN 9,9")));
    // The move started 10000 ms before the command arrived.
    EXPECT_LE(player->timeLeft, 80000);
    EXPECT_GT(player->timeLeft, 80000 - 500);
    // Later moves are not shifted again.
    command(INFO, "INFO time_left 50000");
    ASSERT_TRUE(isMove(command(TURN, "TURN 9,10")));
    EXPECT_GT(player->timeLeft, 50000 - 500);
}

TEST_F(GameHandlers, HandOverNeverMovesTheStartForward) {
    // Unlimited match as managers send it: no match limit, all the time left.
    command(INFO, "INFO timeout_turn 0");
    command(INFO, "INFO timeout_match 0");
    command(INFO, "INFO time_left 2147483647");
    ASSERT_EQ(command(START, "START 20"), "OK");
    ASSERT_TRUE(isMove(command(BEGIN, "BEGIN")));
    EXPECT_GT(player->timeLeft, INT_MAX - 500);
}

TEST_F(GameHandlers, HandOverWithExtremeTimesDoesNotOverflow) {
    command(INFO, "INFO timeout_turn 0");
    command(INFO, "INFO timeout_match 2147483647");
    command(INFO, "INFO time_left -2147483647");
    ASSERT_EQ(command(START, "START 20"), "OK");
    ASSERT_TRUE(isMove(command(BEGIN, "BEGIN")));
    EXPECT_LT(player->timeLeft, 0);
}

TEST_F(GameHandlers, RestartAndEndWithThePlayer) {
    ASSERT_EQ(command(START, "START 20"), "OK");
    ASSERT_TRUE(isMove(command(BEGIN, "BEGIN")));
    firstMove = false;
    EXPECT_TRUE(restartPlayer());
    EXPECT_EQ(player->stoneCount, 0);
    destroyPlayer();
    EXPECT_EQ(player, nullptr);
    EXPECT_FALSE(restartPlayer());
    EXPECT_EQ(command(TURN, "TURN 1,1"), "FAILED");
}

} // namespace
