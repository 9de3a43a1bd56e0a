#include "tools/common/brainProtocol.h"
#include "tools/common/gomocupClient.h"
#include "tools/common/pattern.h"

#include "toolsTestHelpers.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Plays the pattern teacher, as pbrain-pattern does.
tools::BrainProtocol patternProtocol(tools::PatternPlayer* teacher) {
    return tools::BrainProtocol(
        [teacher](const tools::GameBoard& board, int sign, int* row, int* col) {
            return teacher->chooseMove(board, sign, row, col);
        },
        "name=\"pattern\"");
}

// Feeds the lines and returns every answer, empty ones included.
std::vector<std::string> feed(tools::BrainProtocol*           protocol,
                              const std::vector<std::string>& lines) {
    std::vector<std::string> answers;
    std::string              answer;
    for (const std::string& line : lines) {
        protocol->handleLine(line, &answer);
        answers.push_back(answer);
    }
    return answers;
}

} // namespace

TEST(BrainProtocol, TranscriptBeforeAndAfterStart) {
    tools::PatternPlayer           teacher;
    tools::BrainProtocol           protocol = patternProtocol(&teacher);
    EXPECT_EQ(protocol.turnTimeMs(), -1);
    const std::vector<std::string> expected = {
        "name=\"pattern\"",
        "ERROR no game started",
        "ERROR no game started",
        "ERROR unsupported board size",
        "ERROR unsupported board size",
        "OK",
        "",
        "9,9",
        "UNKNOWN command not recognized",
        "ERROR command not supported",
        "OK",
    };
    EXPECT_EQ(
        feed(&protocol, {"ABOUT", "BEGIN", "TURN 1,1", "START 15", "START x", "START 20\r",
                         "INFO timeout_turn 1000", "BEGIN", "hello", "TAKEBACK 9,9", "RESTART"}),
        expected);
    EXPECT_EQ(protocol.currentBoard().stoneCount(), 0); // RESTART emptied it
    EXPECT_EQ(protocol.turnTimeMs(), 1000);
    // Other keys and malformed times leave the turn time as it was.
    feed(&protocol, {"INFO timeout_match 5000", "INFO timeout_turn", "INFO timeout_turn -3",
                     "INFO timeout_turn x"});
    EXPECT_EQ(protocol.turnTimeMs(), 1000);
    feed(&protocol, {"INFO timeout_turn 250"});
    EXPECT_EQ(protocol.turnTimeMs(), 250);
}

TEST(BrainProtocol, TurnRejectsBadMovesAndKeepsSides) {
    tools::PatternPlayer teacher;
    tools::BrainProtocol protocol = patternProtocol(&teacher);
    feed(&protocol, {"START 20"});
    const std::vector<std::string> answers =
        feed(&protocol, {"TURN 9,9", "TURN 9,9", "TURN 20,0", "TURN -1,3", "TURN 5", "TURN a,b"});
    EXPECT_EQ(answers[0], "9,10");
    for (size_t i = 1; i < answers.size(); ++i)
        EXPECT_EQ(answers[i], "ERROR invalid move") << i;
    EXPECT_EQ(protocol.currentBoard().at(9, 9), -1);
    EXPECT_EQ(protocol.currentBoard().at(9, 10), 1);
    EXPECT_EQ(protocol.currentBoard().stoneCount(), 2);
}

TEST(BrainProtocol, BoardBlocksTheOpponentsFour) {
    tools::PatternPlayer teacher;
    tools::BrainProtocol protocol = patternProtocol(&teacher);
    // The opponent (field 2) has four in a column closed at the top by the
    // edge; junk stone lines are skipped.
    const std::vector<std::string> answers =
        feed(&protocol, {"START 20", "BOARD", "0,5,2", "0,6,1", "1,5,2", "1,6,1", "2,5,2", "0,5,1",
                         "junk", "99,99,2", "10,10,3", "2,6,1", "3,5,2", "DONE"});
    EXPECT_EQ(answers.back(), "4,5");
    for (size_t i = 1; i + 1 < answers.size(); ++i)
        EXPECT_EQ(answers[i], "") << i;
    EXPECT_EQ(protocol.currentBoard().stoneCount(), 8);
    EXPECT_EQ(protocol.currentBoard().at(4, 5), 1);
}

TEST(BrainProtocol, EndStopsTheLoop) {
    tools::PatternPlayer teacher;
    tools::BrainProtocol protocol = patternProtocol(&teacher);
    std::string          answer;
    EXPECT_TRUE(protocol.handleLine("START 20", &answer));
    EXPECT_FALSE(protocol.handleLine("END", &answer));
    EXPECT_EQ(answer, "");
}

// The real executable, driven through pipes as the match driver drives it.
TEST(BrainExecutables, PatternBrainAnswersATranscript) {
    tools::BrainProcess brain;
    ASSERT_TRUE(brain.start(toolstest::binPath("pbrain-pattern")));
    std::string                                            line;
    const std::vector<std::pair<std::string, std::string>> transcript = {
        {"START 20", "OK"}, {"BEGIN", "9,9"},
        {"TURN 10,10", ""}, {"START 19", "ERROR unsupported board size"},
        {"RESTART", "OK"},
    };
    for (const auto& step : transcript) {
        ASSERT_TRUE(brain.send(step.first));
        ASSERT_EQ(brain.readLine(&line, 5000), tools::ReadStatus::Line) << step.first;
        if (!step.second.empty())
            EXPECT_EQ(line, step.second) << step.first;
        else
            EXPECT_TRUE(line.find(',') != std::string::npos) << line;
    }
    ASSERT_TRUE(brain.send("INFO time_left 1000"));
    ASSERT_TRUE(brain.send("BOARD"));
    for (const char* stone : {"5,5,2", "5,6,2", "5,7,2", "5,8,2", "4,4,1", "6,6,1", "7,7,1"})
        ASSERT_TRUE(brain.send(stone));
    ASSERT_TRUE(brain.send("DONE"));
    ASSERT_EQ(brain.readLine(&line, 5000), tools::ReadStatus::Line);
    EXPECT_TRUE(line == "5,4" || line == "5,9") << line;
    ASSERT_TRUE(brain.send("END"));
    EXPECT_EQ(brain.readLine(&line, 5000), tools::ReadStatus::Closed);
}

TEST(BrainExecutables, RandomBrainPlaysLegalMoves) {
    tools::BrainProcess brain;
    ASSERT_TRUE(brain.start(toolstest::binPath("pbrain-random")));
    std::string line;
    ASSERT_TRUE(brain.send("START 20"));
    ASSERT_EQ(brain.readLine(&line, 5000), tools::ReadStatus::Line);
    EXPECT_EQ(line, "OK");
    tools::GameBoard board;
    ASSERT_TRUE(brain.send("BEGIN"));
    for (int move = 0; move < 30; ++move) {
        ASSERT_EQ(brain.readLine(&line, 5000), tools::ReadStatus::Line);
        int x = -1, y = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "%d,%d", &x, &y), 2) << line;
        ASSERT_TRUE(board.place(x, y, 1)) << line;
        // Answer with the first empty cell.
        int cell = 0;
        while (!board.isEmpty(cell / 20, cell % 20))
            ++cell;
        board.place(cell / 20, cell % 20, -1);
        ASSERT_TRUE(
            brain.send("TURN " + std::to_string(cell / 20) + "," + std::to_string(cell % 20)));
    }
    brain.stop(1000);
    EXPECT_FALSE(brain.isRunning());
}

TEST(BrainProcess, MissingExecutableAndHangingBrainDoNotBlock) {
    tools::BrainProcess missing;
    ASSERT_TRUE(missing.start("/nonexistent/brain"));
    std::string line;
    EXPECT_EQ(missing.readLine(&line, 2000), tools::ReadStatus::Closed);

    tools::BrainProcess silent;
    ASSERT_TRUE(silent.start("/bin/sleep")); // exits at once without arguments
    EXPECT_EQ(silent.readLine(&line, 2000), tools::ReadStatus::Closed);

    tools::BrainProcess hanging;
    ASSERT_TRUE(hanging.start("/bin/cat")); // echoes, never answers OK, never exits
    ASSERT_TRUE(hanging.send("START 20"));
    ASSERT_EQ(hanging.readLine(&line, 2000), tools::ReadStatus::Line);
    EXPECT_EQ(line, "START 20");
    EXPECT_EQ(hanging.readLine(&line, 100), tools::ReadStatus::Timeout);
    hanging.stop(100); // cat exits on END's closed input; either way it is reaped
    EXPECT_FALSE(hanging.isRunning());
}
