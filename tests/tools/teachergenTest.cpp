#include "tools/common/teacherGames.h"

#include "toolsTestHelpers.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <unistd.h>

using toolstest::binPath;
using toolstest::runCommand;

namespace {

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

int stonesOf(const tools::TeacherRecord& record, int value) {
    int count = 0;
    for (int8_t cell : record.cells)
        count += cell == value;
    return count;
}

// Checks one game's records: legal moves, consecutive positions, and a
// result that matches how the game ended.
void checkGame(const std::vector<tools::TeacherRecord>& game) {
    ASSERT_FALSE(game.empty());
    for (size_t i = 0; i < game.size(); ++i) {
        const tools::TeacherRecord& r = game[i];
        ASSERT_TRUE(r.move >= 0 && r.move < tools::kCellCount);
        EXPECT_EQ(r.cells[r.move], 0) << "move on a taken cell";
        EXPECT_TRUE(r.colour == 1 || r.colour == -1);
        // The first mover is to move when both have as many stones.
        EXPECT_EQ(stonesOf(r, -1) - stonesOf(r, 1), r.colour == 1 ? 0 : 1);
        if (i + 1 < game.size()) {
            const tools::TeacherRecord& next = game[i + 1];
            EXPECT_EQ(next.colour, -r.colour);
            EXPECT_EQ(next.result, 2 - r.result);
            for (int cell = 0; cell < tools::kCellCount; ++cell)
                EXPECT_EQ(next.cells[cell], cell == r.move ? -1 : -r.cells[cell]);
        }
    }
    const tools::TeacherRecord& last = game.back();
    tools::GameBoard            board;
    for (int cell = 0; cell < tools::kCellCount; ++cell)
        if (last.cells[cell] != 0)
            board.place(cell / 20, cell % 20, last.cells[cell]);
    board.place(last.move / 20, last.move % 20, 1);
    if (last.result == 1) {
        EXPECT_TRUE(board.isFull());
    } else {
        EXPECT_EQ(last.result, board.makesFive(last.move / 20, last.move % 20) ? 2 : 0);
    }
}

} // namespace

TEST(TeacherRecords, EncodeDecodeRoundTrip) {
    tools::TeacherRecord record;
    for (int cell = 0; cell < tools::kCellCount; ++cell)
        record.cells[cell] = static_cast<int8_t>(cell % 3 - 1);
    record.move   = 399;
    record.result = 2;
    record.colour = -1;
    uint8_t bytes[tools::kTeacherRecordBytes];
    tools::encodeTeacherRecord(record, bytes);
    EXPECT_EQ(bytes[400], 399 & 0xff); // little-endian int16
    EXPECT_EQ(bytes[401], 399 >> 8);
    EXPECT_EQ(bytes[403], 0xff);
    const tools::TeacherRecord back = tools::decodeTeacherRecord(bytes);
    EXPECT_EQ(back.move, 399);
    EXPECT_EQ(back.result, 2);
    EXPECT_EQ(back.colour, -1);
    for (int cell = 0; cell < tools::kCellCount; ++cell)
        ASSERT_EQ(back.cells[cell], record.cells[cell]);
}

TEST(TeacherRecords, GamesAreConsistentAndSeeded) {
    tools::TeacherGameSettings settings;
    settings.openingStones = 5;
    for (uint64_t seed = 0; seed < 20; ++seed) {
        std::vector<tools::TeacherRecord> game, again;
        const int                         winner = tools::playTeacherGame(seed, settings, &game);
        tools::playTeacherGame(seed, settings, &again);
        ASSERT_EQ(game.size(), again.size());
        EXPECT_EQ(stonesOf(game.front(), 1) + stonesOf(game.front(), -1), 5);
        EXPECT_EQ(game.front().colour, -1); // five opening stones: second mover to move
        if (winner != 0) {
            EXPECT_EQ(game.back().colour, winner);
        }
        checkGame(game);
    }
}

TEST(TeacherGenerator, WritesDocumentedRecordsIndependentOfThreads) {
    const std::string out1 = "/tmp/quoribo-teachergen-test-" + std::to_string(getpid()) + "-1.bin";
    const std::string out2 = "/tmp/quoribo-teachergen-test-" + std::to_string(getpid()) + "-2.bin";
    std::string       output;
    ASSERT_EQ(runCommand(binPath("quoribo-teachergen") + " " + out1 +
                             " --games 12 --seed 5 --threads 2 --random-openings 3 2>/dev/null",
                         &output),
              0);
    ASSERT_EQ(runCommand(binPath("quoribo-teachergen") + " " + out2 +
                             " --games 12 --seed 5 --threads 1 --random-openings 3 2>/dev/null",
                         &output),
              0);
    const std::vector<uint8_t> bytes = readFile(out1);
    EXPECT_EQ(bytes, readFile(out2));
    std::remove(out1.c_str());
    std::remove(out2.c_str());
    ASSERT_FALSE(bytes.empty());
    ASSERT_EQ(bytes.size() % tools::kTeacherRecordBytes, 0u);

    // Split into games: each starts from the three opening stones.
    std::vector<std::vector<tools::TeacherRecord>> games;
    for (size_t offset = 0; offset < bytes.size(); offset += tools::kTeacherRecordBytes) {
        const tools::TeacherRecord r = tools::decodeTeacherRecord(&bytes[offset]);
        for (int8_t cell : r.cells)
            ASSERT_TRUE(cell >= -1 && cell <= 1);
        ASSERT_TRUE(r.result >= 0 && r.result <= 2);
        if (stonesOf(r, 1) + stonesOf(r, -1) == 3)
            games.emplace_back();
        ASSERT_FALSE(games.empty());
        games.back().push_back(r);
    }
    EXPECT_EQ(games.size(), 12u);
    for (const auto& game : games)
        checkGame(game);
}

TEST(TeacherGenerator, RefusesBadArguments) {
    std::string       output;
    const std::string tool = binPath("quoribo-teachergen");
    EXPECT_EQ(runCommand(tool + " 2>/dev/null", &output), 2);
    EXPECT_EQ(runCommand(tool + " /tmp/x.bin --games 5 2>/dev/null", &output), 2); // no seed
    EXPECT_EQ(runCommand(tool + " /tmp/x.bin --games 0 --seed 1 2>/dev/null", &output), 2);
    EXPECT_EQ(runCommand(tool + " /nonexistent/dir/x.bin --games 1 --seed 1 2>/dev/null", &output),
              1);
}
