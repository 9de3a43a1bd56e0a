#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "frontend/gameCommands.h"
#include "frontend/protocol.h"
#include "util/platform.h"

namespace {

std::string text(const tovu::String& s) {
    return std::string(s.buffer, s.length);
}

std::string networkPath(const char* executable) {
    std::unique_ptr<char[]> path(buildNetworkPath(executable));
    return path.get();
}

int codeOf(const char* line) {
    tovu::String s(line);
    return whichCommand(&s);
}

// Runs a handler on a line and returns what it left there; `ran` receives
// its result.
template <typename Handler> std::string answer(Handler handler, const char* line, bool& ran) {
    tovu::String s(line);
    ran = handler(&s);
    return text(s);
}

// Feeds bytes to readLine through a temporary file and collects the lines it
// returns before reporting end of input.
std::vector<std::string> readAll(const std::string& bytes) {
    std::FILE* in = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), in);
    std::rewind(in);
    std::vector<std::string> lines;
    tovu::String             line(1024);
    while (readLine(in, &line))
        lines.push_back(text(line));
    std::fclose(in);
    return lines;
}

void sendInfo(const char* line) {
    bool ran = false;
    EXPECT_EQ(answer(INFO, line, ran), "") << line;
    EXPECT_TRUE(ran) << line;
}

} // namespace

TEST(ProtocolTest, NetworkPathKeepsDirectoryOfExecutable) {
    EXPECT_EQ(networkPath("C:\\games\\brains\\pbrain-quoribo.exe"),
              "C:\\games\\brains\\network.bin");
    EXPECT_EQ(networkPath("/usr/local/bin/pbrain-quoribo"), "/usr/local/bin/network.bin");
    EXPECT_EQ(networkPath("C:\\brains/quoribo\\x64/pbrain.exe"),
              "C:\\brains/quoribo\\x64/network.bin");
    EXPECT_EQ(networkPath("/dir\\sub\\pbrain"), "/dir\\sub\\network.bin");
    EXPECT_EQ(networkPath("pbrain-quoribo"), "network.bin");
    EXPECT_EQ(networkPath("./pbrain"), "./network.bin");
    EXPECT_EQ(networkPath(""), "network.bin");
    EXPECT_EQ(networkPath(nullptr), "network.bin");
    EXPECT_EQ(networkPath("dir/"), "dir/network.bin");
}

TEST(ProtocolTest, NetworkPathLooksAtFirst10000Characters) {
    std::string longPath(9998, 'a');
    longPath += "/x";
    EXPECT_EQ(networkPath(longPath.c_str()), longPath.substr(0, 9999) + "network.bin");

    std::string tooLong(10000, 'a');
    tooLong += "/x";
    EXPECT_EQ(networkPath(tooLong.c_str()), "network.bin");
}

TEST(ProtocolTest, WhichCommandMatchesWordPrefixes) {
    EXPECT_EQ(codeOf("START 20"), CMD_START);
    EXPECT_EQ(codeOf("TURN 10,10"), CMD_TURN);
    EXPECT_EQ(codeOf("BEGIN"), CMD_BEGIN);
    EXPECT_EQ(codeOf("BOARD"), CMD_BOARD);
    EXPECT_EQ(codeOf("INFO timeout_turn 1000"), CMD_INFO);
    EXPECT_EQ(codeOf("END"), CMD_END);
    EXPECT_EQ(codeOf("ABOUT"), CMD_ABOUT);
    EXPECT_EQ(codeOf("RECSTART 20"), CMD_RECSTART);
    EXPECT_EQ(codeOf("RESTART"), CMD_RESTART);
    EXPECT_EQ(codeOf("TAKEBACK 1,1"), CMD_TAKEBACK);
    EXPECT_EQ(codeOf("PLAY 1,1"), CMD_PLAY);

    EXPECT_EQ(codeOf("ENDGAME"), CMD_END);
    EXPECT_EQ(codeOf("ABOUTX"), CMD_ABOUT);
    EXPECT_EQ(codeOf("PLAYER"), CMD_PLAY);
    EXPECT_EQ(codeOf("STARTING"), CMD_START);

    for (const char* unknown : {"", " ", "   ", "about", "Start 20", " ABOUT", "STAR", "EN",
                                "\tEND", "\rABOUT", "DONE", "10,10,1"})
        EXPECT_EQ(codeOf(unknown), CMD_UNKNOWN) << '"' << unknown << '"';
}

TEST(ProtocolTest, ReadLineStripsLineEnds) {
    const auto                     lines = readAll("ABOUT\nABOUT\r\nABOUT\r\r\nA\rB\n\n\r\n\r\r\n");
    const std::vector<std::string> expected = {"ABOUT", "ABOUT", "ABOUT\r", "A\rB", "", "", "\r"};
    EXPECT_EQ(lines, expected);
}

TEST(ProtocolTest, ReadLineDropsPartialLastLine) {
    EXPECT_EQ(readAll("END"), std::vector<std::string>{});
    EXPECT_EQ(readAll("ABOUT\nEND"), std::vector<std::string>{"ABOUT"});
    EXPECT_EQ(readAll(""), std::vector<std::string>{});
}

TEST(ProtocolTest, ReadLineKeepsBinaryBytes) {
    const std::string bytes("\0A\xff\x01\r\0\n", 7);
    const auto        lines = readAll(bytes);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], std::string("\0A\xff\x01\r\0", 6));
}

TEST(ProtocolTest, ReadLineKeepsAtMostTheLineLimit) {
    const std::string atLimit(maxLineLength, 'a');
    std::FILE*        in = std::tmpfile();
    for (const std::string& l :
         {atLimit + "\r", atLimit + "b", atLimit + "\r\r", atLimit + atLimit, std::string("ABOUT")})
        std::fprintf(in, "%s\n", l.c_str());
    std::rewind(in);
    // Length kept and whether the line was cut, line by line.
    const std::vector<std::pair<int, bool>> expected = {{maxLineLength, false},
                                                        {maxLineLength, true},
                                                        {maxLineLength, true},
                                                        {maxLineLength, true},
                                                        {5, false}};
    tovu::String                            line(1024);
    for (const auto& [length, cut] : expected) {
        bool tooLong = !cut;
        ASSERT_TRUE(readLine(in, &line, &tooLong));
        EXPECT_EQ(line.length, length);
        EXPECT_EQ(tooLong, cut);
        EXPECT_EQ(text(line).substr(0, 5), length == 5 ? "ABOUT" : "aaaaa");
        EXPECT_LE(line.capacity, maxLineLength + 2);
    }
    EXPECT_FALSE(readLine(in, &line));
    std::fclose(in);
}

TEST(ProtocolTest, ReadLineStaysFastOnLongLines) {
    std::string megabyte(1 << 20, 'x');
    const int   start = tovu::getTickCount();
    const auto  lines = readAll(megabyte + "\r\n" + megabyte + "\n");
    const int   used  = tovu::getTickCount() - start;
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], megabyte);
    EXPECT_EQ(lines[1], megabyte);
    // Growing by 10 bytes per character would copy about 50 GB here.
    EXPECT_LT(used, 5000);
}

TEST(ProtocolTest, FixedAnswers) {
    bool ran = false;
    EXPECT_EQ(answer(ABOUT, "ABOUT", ran),
              "name=\"Quoribo\", version=\"1.0\", author=\"Quoribo developers\", "
              "country=\"International\", www=\"none\", email=\"none\"");
    EXPECT_TRUE(ran);

    firstMove = false;
    EXPECT_EQ(answer(RECSTART, "RECSTART 20", ran), "ERROR command not supported");
    EXPECT_TRUE(ran);
    EXPECT_TRUE(firstMove);
}

TEST(ProtocolTest, CommandsThatNeedAPlayerFailWithoutOne) {
    ASSERT_EQ(player, nullptr);
    bool ran  = true;
    firstMove = false;
    answer(RESTART, "RESTART", ran);
    EXPECT_FALSE(ran);
    EXPECT_TRUE(firstMove);

    for (auto handler : {TAKEBACK, PLAY, TURN, BEGIN, BOARD}) {
        ran = true;
        answer(handler, "PLAY 10,10", ran);
        EXPECT_FALSE(ran);
    }
}

TEST(ProtocolTest, EndStopsTheLoopSilently) {
    terminateAI = false;
    bool ran    = false;
    EXPECT_EQ(answer(END, "END", ran), "");
    EXPECT_TRUE(ran);
    EXPECT_TRUE(terminateAI);
    EXPECT_EQ(player, nullptr);
    terminateAI = false;
}

TEST(ProtocolTest, StartRefusesOtherBoardSizes) {
    for (const char* line : {"START 15", "START", "START 20x", "START  20", "START -20"}) {
        firstMove = false;
        bool ran  = false;
        EXPECT_EQ(answer(START, line, ran), "ERROR unspported board size") << line;
        EXPECT_TRUE(ran);
        EXPECT_TRUE(firstMove);
    }
    bool ran = false;
    answer(START, "START 15", ran);
    EXPECT_EQ(width, 15);
    EXPECT_EQ(height, 15);
    answer(START, "START", ran);
    EXPECT_EQ(width, 0);
    EXPECT_EQ(height, 0);
}

TEST(ProtocolTest, InfoStoresMatchSettings) {
    // Applied in order; each row checks the setting its line changed.
    const struct {
        const char* line;
        const int*  setting;
        int         value;
    } cases[] = {
        {"INFO timeout_turn 20000000", &info_timeout_turn, 10000},
        {"INFO timeout_turn 10000000", &info_timeout_turn, 10000000},
        {"INFO timeout_turn -5", &info_timeout_turn, 10000},
        {"INFO timeout_turn 0", &info_timeout_turn, 0},
        {"INFO timeout_match -1", &info_timeout_match, 100000000},
        {"INFO timeout_match 180000", &info_timeout_match, 180000},
        {"INFO time_left soon", &info_time_left, -1},
        {"INFO time_left -300", &info_time_left, -300},
        {"INFO max_memory 83886080", &info_max_memory, 83886080},
        {"INFO game_type 0", &info_game_type, 0},
        {"INFO rule 4", &info_renju, 1},
        {"INFO rule 4", &info_exact5, 0},
        {"INFO rule 3", &info_continuous, 1},
        {"INFO rule 3", &info_renju, 0},
        {"INFO rule x", &info_exact5, 1},
        {"INFO Timeout_turn 77", &info_timeout_turn, 0},
        {"INFO unknown_key 77", &info_timeout_turn, 0},
        {"INFO", &info_timeout_turn, 0},
    };
    for (const auto& c : cases) {
        sendInfo(c.line);
        EXPECT_EQ(*c.setting, c.value) << c.line;
    }
    EXPECT_TRUE(specified_timeout_turn && specified_timeout_match && specified_time_left &&
                specified_memory);

    sendInfo("INFO folder C:\\data\\quoribo ignored");
    ASSERT_NE(dataFolder, nullptr);
    EXPECT_EQ(text(*dataFolder), "C:\\data\\quoribo");
    tovu::String* first = dataFolder;
    sendInfo("INFO folder /tmp");
    EXPECT_EQ(dataFolder, first);
    EXPECT_EQ(text(*dataFolder), "/tmp");
}
