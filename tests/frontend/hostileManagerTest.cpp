// The brain driven by a careless or hostile manager: truncated input, stones
// that make no sense, malformed numbers, junk settings, control bytes, wrong
// order and lines far too long. Every case must get its documented answer (or
// a clear error line), and the brain must keep answering afterwards: unless a
// case ends the input itself, an ABOUT line follows it and must be answered.

#include "brainProcess.h"
#include "frontend/protocol.h"
#include "game_session.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string about   = "name=\"Quoribo\", version=\"1.0\", author=\"Quoribo developers\", "
                            "country=\"International\", www=\"none\", email=\"none\"";
const std::string unknown = "UNKNOWN command not recognized";
const std::string failure = "ERROR something went wrong";
const std::string move    = "<a move>"; // any coordinate pair on the board

// Per-move limit that ends every search after one batch.
const std::string start = "INFO timeout_turn 0\nSTART 20\n";

const std::string overLong(maxLineLength + 1, 'x');

// A literal with NUL bytes inside, all of it.
template <size_t N> std::string bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

struct HostileCase {
    const char*              name;
    std::string              transcript;
    std::vector<std::string> answers;
    bool                     endsInput = false; // no ABOUT is appended
};

// ctest lists each case by its name rather than its bytes.
void PrintTo(const HostileCase& c, std::ostream* out) {
    *out << c.name;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream       in(text);
    std::string              line;
    while (std::getline(in, line))
        out.push_back(line);
    return out;
}

// clang-format off
const HostileCase cases[] = {
    {"BOARD cut off by the end of input", start + "BOARD\n10,10,1\n11,11,2\n", {"OK"}, true},
    {"BOARD cut off inside a stone line", start + "BOARD\n10,10,1\n11,1", {"OK"}, true},
    {"DONE without a line end", start + "BOARD\n10,10,1\nDONE", {"OK"}, true},
    {"end of input right after a move request", start + "BEGIN\n", {"OK", move}, true},
    {"move request without a line end", start + "TURN 10,10", {"OK"}, true},
    {"stones off the board or on occupied cells",
     start + "BOARD\n10,10,1\n10,10,2\n-1,5,2\n20,3,1\n3,20,2\n99999,0,2\nDONE\n"
             "TURN 10,10\nTURN 25,25\nTURN -3,-3\n",
     {"OK", move, move, move, move}},
    {"coordinates with spaces, signs, huge numbers or no comma",
     start + "TURN 10, 10\nTURN  4,4\nTURN +3,-4\nTURN 99999999999,1\nTURN 1010\nTURN\n"
             "TURN ,\nTURN 4,5,6\n"
             "BOARD\n 10 , 11 ,1\n+2,-2,2\n4294967306,3,1\n7;7;2\n\nDONE\n",
     {"OK", move, move, move, move, move, move, move, move, move}},
    {"INFO with junk values",
     "INFO timeout_turn abc\nINFO timeout_turn 99999999999999\nINFO timeout_match -\n"
     "INFO time_left 1e9\nINFO max_memory \x01\x02\nINFO rule\nINFO folder\nINFO\n"
     "INFO game_type 1 2 3\nINFO timeout_turn -0\nINFO time_left -2147483648\n" + start +
         "BEGIN\n",
     {"OK", move}},
    {"NUL bytes",
     bytes("AB\0OUT\n\0ABOUT\nABOUT\0junk\n") + start + bytes("TURN 1\0,2\nTURN 3,\0\n"),
     {unknown, unknown, about, "OK", move, move}},
    {"carriage returns alone do not end lines", "ABOUT\rABOUT\rEND\r\nABOUT\r\r\n",
     {about, about}},
    {"lower-case commands", "start 20\nbegin\nabout\nend\nStart 20\n",
     {unknown, unknown, unknown, unknown, unknown}},
    {"game commands before START",
     "TURN 10,10\nBEGIN\nBOARD\n10,10,1\nDONE\nRESTART\n" + start + "TURN 10,10\n",
     {failure, failure, failure, unknown, unknown, failure, "OK", move}},
    {"two STARTs in a row", start + "START 20\nBEGIN\nSTART 20\nSTART 20\nTURN 9,9\n",
     {"OK", "OK", move, "OK", "OK", move}},
    {"lines beyond the limit are never executed",
     overLong + "\nINFO folder " + overLong + "\nABOUT" + overLong + "\nINFO folder " +
         std::string(maxLineLength - 12, 'f') + "\n",
     {unknown, unknown, unknown}},
    {"an over-long stone line is skipped",
     start + "BOARD\n" + overLong + "\n10,10,1\n" + overLong + "\nDONE\nTURN 3,3\n",
     {"OK", move, move}},
    {"an over-long DONE line still ends BOARD",
     start + "BOARD\n10,10,1\nDONE" + overLong + "\nTURN 3,3\n", {"OK", move, move}},
};
// clang-format on

class HostileManager : public ::testing::TestWithParam<HostileCase> {
  protected:
    static void SetUpTestSuite() {
        brain = new gametest::BrainDir();
        ASSERT_TRUE(brain->writeNetwork());
    }
    static void TearDownTestSuite() {
        delete brain;
        brain = nullptr;
    }
    static gametest::BrainDir* brain;
};

gametest::BrainDir* HostileManager::brain = nullptr;

TEST_P(HostileManager, AnswersAsDocumentedAndKeepsWorking) {
    const HostileCase&       c          = GetParam();
    std::string              transcript = c.transcript;
    std::vector<std::string> expected   = c.answers;
    if (!c.endsInput) {
        transcript += "ABOUT\n";
        expected.push_back(about);
    }
    const brainprocess::BrainRun run =
        brainprocess::runBrain(transcript, 60000, brain->executable());
    EXPECT_FALSE(run.timedOut);
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.err, "");

    const std::vector<std::string> out = lines(run.out);
    ASSERT_EQ(out.size(), expected.size()) << run.out;
    for (size_t i = 0; i < out.size(); ++i) {
        if (expected[i] == move) {
            int x = -1, y = -1;
            EXPECT_TRUE(gametest::parseMove(out[i], &x, &y)) << "answer " << i << ": " << out[i];
        } else {
            EXPECT_EQ(out[i], expected[i]) << "answer " << i;
        }
    }
}

std::string caseName(const ::testing::TestParamInfo<HostileCase>& info) {
    std::string name;
    for (const char* p = info.param.name; *p != 0; ++p)
        if (std::isalnum(static_cast<unsigned char>(*p)))
            name += *p;
    return name;
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileManager, ::testing::ValuesIn(cases), caseName);

} // namespace
