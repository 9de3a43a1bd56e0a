// Game commands through the real brain executable, as a manager drives it.

#include "brainProcess.h"
#include "game_session.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using gametest::BrainDir;
using gametest::BrainSession;
using gametest::parseMove;

namespace {

// Sanitizer builds run the brain several times slower; time limits are
// scaled for them.
#ifdef __SANITIZE_ADDRESS__
constexpr int slowdown = 4;
#else
constexpr int slowdown = 1;
#endif

// Every test plays with a per-move limit that ends the search after one batch.
const std::string fastStart = "INFO timeout_turn 0\nSTART 20\n";

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream       in(text);
    std::string              line;
    while (std::getline(in, line))
        out.push_back(line);
    return out;
}

class BrainGame : public ::testing::Test {
  protected:
    BrainDir brain;

    void SetUp() override { ASSERT_TRUE(brain.writeNetwork()); }

    std::vector<std::string> run(const std::string& transcript) {
        const brainprocess::BrainRun result =
            brainprocess::runBrain(transcript, 60000, brain.executable());
        EXPECT_FALSE(result.timedOut);
        EXPECT_TRUE(result.exited);
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.err, "");
        return lines(result.out);
    }
};

TEST_F(BrainGame, StartAcceptsOnlyTwentyAndRestartKeepsThePlayer) {
    const auto out = run("START 15\nRESTART\nSTART 20\nSTART 15\nRESTART\nSTART 20\nSTART\nEND\n");
    const std::vector<std::string> expected = {"ERROR unspported board size",
                                               "ERROR something went wrong",
                                               "OK",
                                               "ERROR unspported board size",
                                               "OK",
                                               "OK",
                                               "ERROR unspported board size"};
    EXPECT_EQ(out, expected);
}

TEST_F(BrainGame, BeginAndTurnAnswerLegalMoves) {
    BrainSession session(brain.executable());
    session.send("INFO timeout_turn 0");
    ASSERT_EQ(session.ask("START 20"), "OK");
    std::set<std::pair<int, int>> taken;
    int                           x = -1, y = -1;
    ASSERT_TRUE(parseMove(session.ask("BEGIN"), &x, &y));
    taken.insert({x, y});
    // The opponent answers on the first free cell of the last row each time.
    for (int turn = 0; turn < 3; ++turn) {
        int oy = 0;
        while (taken.count({19, oy}) != 0)
            ++oy;
        taken.insert({19, oy});
        const std::string answer = session.ask("TURN 19," + std::to_string(oy));
        ASSERT_TRUE(parseMove(answer, &x, &y)) << answer;
        EXPECT_TRUE(taken.insert({x, y}).second) << "cell played twice: " << answer;
    }
    session.send("END");
    EXPECT_EQ(session.finish(), 0);
}

TEST_F(BrainGame, TurnOnOccupiedOrOffBoardCellStillAnswersAMove) {
    BrainSession session(brain.executable());
    session.send("INFO timeout_turn 0");
    ASSERT_EQ(session.ask("START 20"), "OK");
    std::set<std::pair<int, int>> taken;
    int                           x = -1, y = -1;
    ASSERT_TRUE(parseMove(session.ask("TURN 10,10"), &x, &y));
    taken = {{10, 10}, {x, y}};
    // The engine's own stone, the opponent's stone, and cells off the board.
    const std::string turns[] = {"TURN " + std::to_string(x) + "," + std::to_string(y),
                                 "TURN 10,10", "TURN 20,5", "TURN -1,3", "TURN a,b"};
    for (const std::string& turn : turns) {
        const std::string answer = session.ask(turn);
        ASSERT_TRUE(parseMove(answer, &x, &y)) << turn << " -> " << answer;
        EXPECT_TRUE(taken.insert({x, y}).second) << turn << " -> " << answer;
        // "TURN a,b" reads as 0,0: that cell is now the opponent's.
        if (turn == "TURN a,b") {
            EXPECT_FALSE(x == 0 && y == 0);
        }
    }
    session.send("END");
    EXPECT_EQ(session.finish(), 0);
}

TEST_F(BrainGame, BoardAnswersAMoveOnAnEmptyCell) {
    const auto out = run(fastStart + "BOARD\n10,10,2\n10,11,1\n9,9,2\nDONE\n" // engine CIRCLE
                                     "BOARD\n10,10,1\nDONE\n"                 // engine CROSS
                                     "BOARD\nDONE\n"                          // side kept
                                     "BOARD\n3,3,3\n25,25,2\nDONE\nEND\n");   // odd values
    ASSERT_EQ(out.size(), 5u);
    int x = -1, y = -1;
    ASSERT_TRUE(parseMove(out[1], &x, &y)) << out[1];
    EXPECT_FALSE((x == 10 && (y == 10 || y == 11)) || (x == 9 && y == 9)) << out[1];
    ASSERT_TRUE(parseMove(out[2], &x, &y)) << out[2];
    EXPECT_FALSE(x == 10 && y == 10);
    ASSERT_TRUE(parseMove(out[3], &x, &y)) << out[3];
    ASSERT_TRUE(parseMove(out[4], &x, &y)) << out[4];
    EXPECT_FALSE(x == 3 && y == 3);
}

TEST_F(BrainGame, BoardReadsAtMostOneLinePerCell) {
    std::string transcript = fastStart + "BOARD\n";
    // 400 stone lines on a handful of cells, so the board keeps empty cells.
    for (int i = 0; i < 400; ++i)
        transcript += std::to_string(i % 4) + ",0," + (i % 2 ? "2" : "1") + "\n";
    transcript += "DONE\nEND\n";
    const auto out = run(transcript);
    ASSERT_EQ(out.size(), 3u);
    int x = -1, y = -1;
    ASSERT_TRUE(parseMove(out[1], &x, &y)) << out[1];
    EXPECT_FALSE(y == 0 && x < 4);
    EXPECT_EQ(out[2], "UNKNOWN command not recognized");
}

TEST_F(BrainGame, FullBoardIsAnsweredWithoutMove) {
    std::string transcript = fastStart + "BOARD\n";
    for (int r = 0; r < 20; ++r)
        for (int c = 0; c < 20; ++c)
            transcript += std::to_string(r) + "," + std::to_string(c) + "," +
                          ((c + 2 * r) % 4 < 2 ? "1" : "2") + "\n";
    transcript += "DONE\nEND\n";
    const auto out = run(transcript);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[1], "-1,-1");
    EXPECT_EQ(out[2], "UNKNOWN command not recognized");
}

TEST_F(BrainGame, InfoNeverAnswers) {
    const auto out =
        run("INFO timeout_turn 20000000\nINFO timeout_turn -5\nINFO timeout_match -1\n"
            "INFO timeout_match 0\nINFO time_left abc\nINFO time_left 2147483647\n"
            "INFO max_memory 83886080\nINFO game_type 1\nINFO rule 4\nINFO rule x\n"
            "INFO folder /tmp/some where\nINFO unknown_key 3\nINFO\nINFO timeout_turn\n"
            "INFO timeout_turn 0\nSTART 20\nINFO timeout_turn 12.5\n"
            "INFO timeout_turn 0\nEND\n");
    const std::vector<std::string> expected = {"OK"};
    EXPECT_EQ(out, expected);
}

TEST(BrainWeights, MissingWeightsRefuseStartUntilAFileArrives) {
    BrainDir     brain;
    BrainSession session(brain.executable());
    session.send("INFO timeout_turn 0");
    EXPECT_EQ(session.ask("START 20"), "ERROR cannot load network.bin");
    // The player exists all the same and answers with a legal move.
    int x = -1, y = -1;
    EXPECT_TRUE(parseMove(session.ask("BEGIN"), &x, &y));
    EXPECT_EQ(session.ask("RESTART"), "OK");

    // A file that fails validation is no better than none.
    std::vector<char> image = gametest::tinyNetworkImage();
    std::vector<char> truncated(image.begin(), image.begin() + 1000);
    ASSERT_TRUE(brain.writeNetwork(truncated));
    EXPECT_EQ(session.ask("START 20"), "ERROR cannot load network.bin");

    ASSERT_TRUE(brain.writeNetwork(image));
    EXPECT_EQ(session.ask("START 20"), "OK");
    // Once loaded, weights stay when the file goes missing or goes bad.
    brain.removeNetwork();
    EXPECT_EQ(session.ask("START 20"), "OK");
    ASSERT_TRUE(brain.writeNetwork(truncated));
    EXPECT_EQ(session.ask("START 20"), "OK");
    EXPECT_TRUE(parseMove(session.ask("BEGIN"), &x, &y));
    session.send("END");
    EXPECT_EQ(session.finish(), 0);
}

// Five or more in a row through (x, y) for the stone there.
bool makesFive(const int board[20][20], int x, int y) {
    const int side       = board[x][y];
    const int dirs[4][2] = {{1, 0}, {0, 1}, {1, 1}, {1, -1}};
    for (const auto& d : dirs) {
        int run = 1;
        for (int s : {1, -1})
            for (int k = 1; k < 5; ++k) {
                const int r = x + s * k * d[0], c = y + s * k * d[1];
                if (r < 0 || r >= 20 || c < 0 || c >= 20 || board[r][c] != side)
                    break;
                ++run;
            }
        if (run >= 5)
            return true;
    }
    return false;
}

// A game against an opponent that plays random legal moves, until a five or
// 30 answers: every answer must be a legal move that arrives within the
// per-move limit.
TEST(BrainMatch, WholeGameAgainstRandomOpponentStaysLegalAndInTime) {
    BrainDir brain;
    ASSERT_TRUE(brain.writeNetwork());
    BrainSession session(brain.executable());
    const int    turnLimit = 200;
    session.send("INFO timeout_turn " + std::to_string(turnLimit));
    session.send("INFO timeout_match 0");
    session.send("INFO time_left 2147483647");
    ASSERT_EQ(session.ask("START 20"), "OK");

    int board[20][20] = {};
    std::srand(2024);
    auto randomEmptyCell = [&](int* x, int* y) {
        do {
            *x = std::rand() % 20;
            *y = std::rand() % 20;
        } while (board[*x][*y] != 0);
    };

    int  stones   = 0;
    int  answers  = 0;
    int  slowest  = 0;
    bool finished = false;
    while (!finished && answers < 30) {
        int ox = 0, oy = 0;
        randomEmptyCell(&ox, &oy);
        board[ox][oy] = 1;
        ++stones;
        if (makesFive(board, ox, oy) || stones == 400)
            break;
        const int         sent = tovu::getTickCount();
        const std::string answer =
            session.ask("TURN " + std::to_string(ox) + "," + std::to_string(oy));
        const int took = tovu::getTickCount() - sent;
        slowest        = std::max(slowest, took);
        int x = -1, y = -1;
        ASSERT_TRUE(parseMove(answer, &x, &y)) << "after " << stones << " stones: " << answer;
        ASSERT_EQ(board[x][y], 0) << "occupied cell " << answer;
        board[x][y] = -1;
        ++stones;
        ++answers;
        finished = makesFive(board, x, y);
    }
    EXPECT_LT(slowest, turnLimit * slowdown);
    EXPECT_GE(answers, 4);
    session.send("END");
    EXPECT_EQ(session.finish(), 0);
}

} // namespace
