#include "toolsTestHelpers.h"

#include "util/platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using toolstest::binPath;
using toolstest::runCommand;

namespace {

// A scratch folder for brain scripts and opening files, removed afterwards.
class MatchDriver : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/quoribo-match-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::string ignored;
        runCommand("rm -rf '" + dir + "'", &ignored);
    }

    std::string writeFile(const std::string& name, const std::string& text, bool executable) {
        const std::string path = dir + "/" + name;
        std::ofstream(path) << text;
        if (executable)
            chmod(path.c_str(), 0755);
        return path;
    }

    int match(const std::string& arguments, std::string* output) {
        return runCommand(binPath("quoribo-match") + " " + arguments + " 2>/dev/null", output);
    }

    // A brain that answers OK to START and RESTART (logging them with its
    // process id to log.txt), plays far-apart cells that never make a
    // threat, the same ones in every game, and runs `onEnd` at END.
    std::string spreadPlayer(const std::string& onEnd) {
        return "#!/bin/sh\ncells='0,0 19,19 0,19 19,0 0,10 19,10 10,0 10,19'\ni=1\n"
               "while read l; do\ncase \"$l\" in\n"
               "START*|RESTART*) echo \"$$ $l\" >> " +
               dir + "/log.txt; i=1; echo OK;;\n" +
               "BEGIN*|TURN*|DONE*) echo \"$cells\" | cut -d' ' -f$i; i=$((i+1));;\n"
               "END*) " +
               onEnd + ";;\nesac\ndone\n";
    }

    std::string dir;
};

// The wins on the summary line of brain `name`, or -1 without such a line.
int winsOf(const std::string& output, const std::string& name) {
    std::istringstream lines(output);
    std::string        line, first, word;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        int                wins = -1;
        if (words >> first >> word >> wins && first == name && word == "wins")
            return wins;
    }
    return -1;
}

} // namespace

TEST_F(MatchDriver, PatternBeatsRandom) {
    std::string output;
    ASSERT_EQ(
        match("--games 2 --quiet " + binPath("pbrain-pattern") + " " + binPath("pbrain-random"),
              &output),
        0)
        << output;
    EXPECT_EQ(winsOf(output, "pbrain-pattern"), 2) << output;
    EXPECT_EQ(winsOf(output, "pbrain-random"), 0) << output;
    EXPECT_NE(output.find("no illegal or late moves"), std::string::npos) << output;
}

TEST_F(MatchDriver, BrainsThatFailLoseWithoutHangingTheDriver) {
    const std::string hangs = writeFile("hangs.sh", "#!/bin/sh\nread l\necho OK\nsleep 30\n", true);
    const std::string crashes =
        writeFile("crashes.sh", "#!/bin/sh\nread l\necho OK\nexit 3\n", true);
    const std::string babbles = writeFile(
        "babbles.sh",
        "#!/bin/sh\nread l\necho OK\nwhile read l; do echo 'MESSAGE hi'; echo 'nonsense'; done\n",
        true);
    const std::string wrong = writeFile(
        "wrong.sh", "#!/bin/sh\nread l\necho OK\nwhile read l; do echo '25,3'; done\n", true);
    const std::string silent  = writeFile("silent.sh", "#!/bin/sh\nsleep 30\n", true);
    const std::string badExit = writeFile("bad-exit.sh", spreadPlayer("exit 3"), true);
    const std::pair<std::string, std::string> cases[] = {
        {hangs, "no answer within 1200 ms"}, {crashes, "exited"},
        {babbles, "answered \"nonsense\""},  {wrong, "illegal move 25,3"},
        {silent, "did not answer START"},    {badExit, "game 2: ended with exit status 3"},
    };
    for (const auto& c : cases) {
        std::string output;
        const int   start = tovu::getTickCount();
        ASSERT_EQ(match("--games 2 --turn 200 --start-timeout 300 --quiet " +
                            binPath("pbrain-pattern") + " " + c.first,
                        &output),
                  0)
            << output;
        EXPECT_EQ(winsOf(output, "pbrain-pattern"), 2) << output;
        EXPECT_NE(output.find(c.second), std::string::npos) << output;
        EXPECT_LT(tovu::getTickCount() - start, 15000) << c.first;
    }
}

TEST_F(MatchDriver, KeptBrainsBeginGamesWithStartAndRestart) {
    const std::string player = writeFile("spread.sh", spreadPlayer("exit 0"), true);
    const std::string memory = dir + "/rss.txt";
    std::string       output;
    ASSERT_EQ(match("--games 3 --keep-brains --quiet --rss-log " + memory + " " +
                        binPath("pbrain-pattern") + " " + player,
                    &output),
              0)
        << output;
    EXPECT_EQ(winsOf(output, "pbrain-pattern"), 3) << output;
    EXPECT_NE(output.find("no illegal or late moves"), std::string::npos) << output;

    // One process served all three games.
    std::ifstream            log(dir + "/log.txt");
    std::string              pid, command, size, firstPid;
    std::vector<std::string> commands;
    while (log >> pid >> command) {
        if (command == "START")
            log >> size;
        if (firstPid.empty())
            firstPid = pid;
        EXPECT_EQ(pid, firstPid);
        commands.push_back(command);
    }
    EXPECT_EQ(commands, (std::vector<std::string>{"START", "RESTART", "START"}));

    // A line per move: game, move number, brain, resident kB, wall and CPU ms.
    std::ifstream rss(memory);
    int           game = 0, moveNumber = 0, rows = 0, wallMs = 0;
    long          kb = 0, cpuMs = 0;
    std::string   brain;
    while (rss >> game >> moveNumber >> brain >> kb >> wallMs >> cpuMs) {
        ++rows;
        EXPECT_GT(kb, 0) << brain;
        EXPECT_GE(wallMs, 0) << brain;
        EXPECT_GE(cpuMs, 0) << brain;
    }
    EXPECT_EQ(game, 3);
    EXPECT_GE(rows, 3 * 9); // at least five moves of the pattern brain and four of the other
}

TEST_F(MatchDriver, MatchTimeIsEnforcedAcrossMoves) {
    // Half a second a move: late from the second move of a 600 ms game, and
    // out of time once the grace is used up as well.
    const std::string slow = writeFile("slow.sh",
                                       "#!/bin/sh\nread l\necho OK\ni=0\nwhile read l; do\n"
                                       "case \"$l\" in TURN*|BEGIN*|DONE*) sleep 0.5; "
                                       "echo \"0,$i\"; i=$((i+1));; esac\ndone\n",
                                       true);
    std::string       output;
    ASSERT_EQ(
        match("--games 1 --match 600 --quiet " + binPath("pbrain-pattern") + " " + slow, &output),
        0)
        << output;
    EXPECT_EQ(winsOf(output, "pbrain-pattern"), 1) << output;
    EXPECT_NE(output.find("slow.sh game 1 move 4: late"), std::string::npos) << output;
    EXPECT_NE(output.find("no answer within"), std::string::npos) << output;
}

TEST_F(MatchDriver, OpeningsFileWithSwapAndVerboseMoves) {
    const std::string openings =
        writeFile("openings.txt", "# two openings\n9,9 10,10 9,10\n\n5,5 6,6\n", false);
    std::string output;
    ASSERT_EQ(match("--games 4 --swap --verbose --max-move-ms-report --openings " + openings + " " +
                        binPath("pbrain-pattern") + " " + binPath("pbrain-pattern"),
                    &output),
              0)
        << output;
    // Game 1 starts after three opening stones, game 3 after two.
    EXPECT_NE(output.find("game 1 move 4: pbrain-pattern#2"), std::string::npos) << output;
    EXPECT_EQ(output.find("game 1 move 3:"), std::string::npos) << output;
    EXPECT_NE(output.find("game 3 move 3: pbrain-pattern#1"), std::string::npos) << output;
    EXPECT_NE(output.find("slowest move"), std::string::npos);
    const int first  = winsOf(output, "pbrain-pattern#1"),
              second = winsOf(output, "pbrain-pattern#2");
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    EXPECT_LE(first + second, 4);
    // The deterministic teacher plays the same game with colours swapped.
    EXPECT_EQ(first, second) << output;
}

TEST_F(MatchDriver, RefusesBadArguments) {
    std::string       output;
    const std::string bad = writeFile("bad.txt", "9,9 9,9\n", false);
    EXPECT_EQ(match(binPath("pbrain-pattern"), &output), 2);
    EXPECT_EQ(
        match("--games 0 " + binPath("pbrain-pattern") + " " + binPath("pbrain-random"), &output),
        2);
    EXPECT_EQ(match(binPath("pbrain-pattern") + " " + dir + "/missing", &output), 2);
    EXPECT_EQ(match("--openings " + bad + " " + binPath("pbrain-pattern") + " " +
                        binPath("pbrain-random"),
                    &output),
              2);
}
