// Transcripts sent to the real brain executable, compared with the exact
// answers a manager must receive.

#include <random>
#include <string>

#include <gtest/gtest.h>

#include "brainProcess.h"

using brainprocess::BrainRun;
using brainprocess::runBrain;

namespace {

const std::string about       = "name=\"Quoribo\", version=\"1.0\", author=\"Quoribo developers\", "
                                "country=\"International\", www=\"none\", email=\"none\"\n";
const std::string unknown     = "UNKNOWN command not recognized\n";
const std::string failure     = "ERROR something went wrong\n";
const std::string unsupported = "ERROR command not supported\n";
const std::string badSize     = "ERROR unspported board size\n";

// Runs the transcript and checks what every run must satisfy: a normal exit
// with status 0 and nothing on standard error. Returns standard output.
std::string answersTo(const std::string& transcript) {
    const BrainRun run = runBrain(transcript);
    EXPECT_FALSE(run.timedOut);
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.err, "");
    return run.out;
}

std::string repeat(const std::string& s, int times) {
    std::string all;
    for (int i = 0; i < times; i++)
        all += s;
    return all;
}

} // namespace

TEST(BrainTest, AboutAndEndBeforeStart) {
    EXPECT_EQ(answersTo("ABOUT\n"), about);
    EXPECT_EQ(answersTo("END\n"), "");
    EXPECT_EQ(answersTo("ABOUT\nEND\nABOUT\n"), about);
    EXPECT_EQ(answersTo(""), "");
}

TEST(BrainTest, UnrecognisedLines) {
    EXPECT_EQ(answersTo("\n \n   \nabout\n ABOUT\nStart 20\nDONE\n\tEND\n"), repeat(unknown, 8));
}

TEST(BrainTest, WordPrefixesSelectTheCommand) {
    EXPECT_EQ(answersTo("ABOUTX\nPLAYER\nENDING\nABOUT\n"), about + failure);
}

TEST(BrainTest, CommandsBeforeStart) {
    EXPECT_EQ(answersTo("RESTART\nTAKEBACK\nPLAY 10,10\nTURN 10,10\nBEGIN\nRECSTART 20\n"),
              repeat(failure, 5) + unsupported);
}

TEST(BrainTest, BoardWithoutPlayerLeavesStoneLinesToTheDispatcher) {
    EXPECT_EQ(answersTo("BOARD\n10,10,1\n10,11,2\nDONE\nABOUT\n"),
              failure + repeat(unknown, 3) + about);
}

TEST(BrainTest, StartRefusesOtherSizes) {
    EXPECT_EQ(answersTo("START 15\nSTART\nSTART abc\nABOUT\n"), repeat(badSize, 3) + about);
}

TEST(BrainTest, InfoAndEndAnswerNothing) {
    EXPECT_EQ(answersTo("INFO timeout_turn 5000\nINFO timeout_match 100000\nINFO time_left "
                        "100000\nINFO max_memory 83886080\nINFO game_type 1\nINFO rule 1\n"
                        "INFO folder /tmp\nINFO evaluate 10,10\nINFO\nABOUT\nEND\n"),
              about);
}

TEST(BrainTest, CarriageReturns) {
    EXPECT_EQ(answersTo("ABOUT\r\n\r\nABOUT\r\r\nABOUT\rX\n\rABOUT\n"),
              about + unknown + about + about + unknown);
    // Only the carriage return right before the line feed goes: the size
    // below reads as "20\r", which is no number.
    EXPECT_EQ(answersTo("START 20\r\r\n"), badSize);
    EXPECT_EQ(answersTo("START 15\r\n"), badSize);
}

TEST(BrainTest, LastLineWithoutLineFeedIsNotRun) {
    EXPECT_EQ(answersTo("ABOUT\nABOUT"), about);
    EXPECT_EQ(answersTo("ABOUT\r"), "");
    EXPECT_EQ(answersTo("garbage"), "");
}

TEST(BrainTest, BinaryInput) {
    // Every line starts with a byte that begins no command word, so each is
    // unknown whatever follows; NUL bytes included.
    std::mt19937 random(12345);
    std::string  transcript;
    int          lines = 0;
    for (int i = 0; i < 2000; i++) {
        transcript += static_cast<char>(random() % 32 == 0 ? 0 : 0x80 | (random() % 128));
        const int length = static_cast<int>(random() % 300);
        for (int j = 0; j < length; j++) {
            char c = static_cast<char>(random() % 256);
            if (c == '\n')
                c = 0;
            transcript += c;
        }
        transcript += '\n';
        lines++;
    }
    transcript += "ABOUT\n";
    EXPECT_EQ(answersTo(transcript), repeat(unknown, lines) + about);
}

TEST(BrainTest, RandomBytesOnlyGetProtocolAnswers) {
    std::mt19937 random(777);
    std::string  transcript;
    for (int i = 0; i < 200000; i++)
        transcript += static_cast<char>(random() % 256);
    const std::string out   = answersTo(transcript);
    size_t            start = 0;
    while (start < out.size()) {
        const size_t end = out.find('\n', start);
        ASSERT_NE(end, std::string::npos);
        const std::string line = out.substr(start, end + 1 - start);
        EXPECT_TRUE(line == unknown || line == failure || line == unsupported || line == badSize ||
                    line == about)
            << line;
        start = end + 1;
    }
}
