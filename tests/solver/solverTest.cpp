#include "tools/solver/solver.h"
#include "tools/common/openings.h"
#include "util/platform.h"

#include "tools/toolsTestHelpers.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using solver::Verdict;
using toolstest::boardFrom;
using toolstest::cellAt;
using toolstest::kThreeMoveVcf;

namespace {

// X (side 1) makes a four on row 10 and one on column 8 with the same stone
// at 10,8; either line alone is a single, blockable four.
const char* const kCrossingFours = "....O.\n"
                                   "....X.\n"
                                   "....X.\n"
                                   "....X.\n"
                                   "OXXX..";

} // namespace

TEST(Vcf, FindsShortestLinesThroughCrossingFours) {
    solver::Solver         s;
    const tools::GameBoard crossing = boardFrom(kCrossingFours, 6, 4);
    solver::VcfResult      win      = s.vcf(crossing, 1);
    ASSERT_EQ(win.verdict, Verdict::Win);
    EXPECT_EQ(win.length(), 2);
    EXPECT_EQ(win.line[0], cellAt(10, 8));
    EXPECT_TRUE(solver::verifyVcf(crossing, 1, win.line));

    const tools::GameBoard chain = boardFrom(kThreeMoveVcf, 6, 4);
    win                          = s.vcf(chain, 1);
    ASSERT_EQ(win.verdict, Verdict::Win);
    EXPECT_EQ(win.length(), 3);
    EXPECT_TRUE(solver::verifyVcf(chain, 1, win.line));
    // The same stones for the other side: O has no four to make at all.
    EXPECT_EQ(s.vcf(chain, -1).verdict, Verdict::None);
    // One four short of the limit is none found, not none at all.
    EXPECT_EQ(s.vcf(chain, 1, {200000, 1}).verdict, Verdict::Unknown);
    // So is a search whose deadline has passed.
    solver::Limits late{200000, 24, true, tovu::getTickCount()};
    EXPECT_EQ(s.vcf(chain, 1, late).verdict, Verdict::Unknown);
    late.deadlineMs += 60000;
    EXPECT_EQ(s.vcf(chain, 1, late).verdict, Verdict::Win);
}

TEST(Vcf, DefenderFivesAndOverlines) {
    solver::Solver s;
    // O has four on row 10. X's double four at 11,14 would threaten 10,14, but
    // O completes five there first; X's block at 10,14 is a four, but O's
    // forced reply 11,14 ends the attack.
    const tools::GameBoard defenderFive = boardFrom(".....O....\n"
                                                    ".....X....\n"
                                                    ".....X....\n"
                                                    ".....X....\n"
                                                    "XOOOO.....\n"
                                                    "......XXX.",
                                                    6, 9);
    EXPECT_EQ(s.vcf(defenderFive, 1).verdict, Verdict::None);
    const solver::DefenceResult block = s.defences(defenderFive, 1);
    EXPECT_TRUE(block.threatened && block.exact);
    EXPECT_EQ(block.moves, std::vector<int>{cellAt(10, 14)});

    // XXX.XX: the gap makes six in a row, which wins.
    const tools::GameBoard  overline = boardFrom("OXXX.XXO", 5, 0);
    const solver::VcfResult six      = s.vcf(overline, 1);
    ASSERT_EQ(six.verdict, Verdict::Win);
    EXPECT_EQ(six.line, std::vector<int>{cellAt(5, 4)});
    EXPECT_EQ(s.defences(overline, -1).moves, std::vector<int>{cellAt(5, 4)});
}

TEST(Defence, OnlyACounterFourHolds) {
    // O has open threes on row 10 and column 3: a quiet block stops only one.
    // X's four at 10,11 also blocks the row; after O's forced reply 9,11, X
    // blocks the column. The four at 9,11 instead forces O onto 10,11, which
    // turns the row into an open four.
    const tools::GameBoard      board = boardFrom(".O.........\n"
                                                       ".O.........\n"
                                                       ".O.........\n"
                                                       "...........\n"
                                                       "......OOO..\n"
                                                       ".........X.\n"
                                                       ".........X.\n"
                                                       ".........X.\n"
                                                       ".........O.",
                                                  6, 2);
    solver::Solver              s;
    const solver::DefenceResult result = s.defences(board, 1);
    EXPECT_TRUE(result.threatened);
    EXPECT_TRUE(result.exact);
    EXPECT_EQ(result.moves, std::vector<int>{cellAt(10, 11)});

    // Without X's column the position is lost; with O's row gone, a single
    // open three has its two adjacent blocks.
    const tools::GameBoard lost = boardFrom(".O.........\n"
                                            ".O.........\n"
                                            ".O.........\n"
                                            "...........\n"
                                            "......OOO..",
                                            6, 2);
    EXPECT_TRUE(s.defences(lost, 1).moves.empty());
    const tools::GameBoard single = boardFrom("......OOO..", 10, 2);
    EXPECT_EQ(s.defences(single, 1).moves, (std::vector<int>{cellAt(10, 7), cellAt(10, 11)}));
}

TEST(Referee, RejectsDoctoredLines) {
    const tools::GameBoard board = boardFrom(kThreeMoveVcf, 6, 4);
    solver::Solver         s;
    const std::vector<int> line = s.vcf(board, 1).line;
    ASSERT_EQ(line.size(), 5u);
    std::string fault;
    EXPECT_TRUE(solver::verifyVcf(board, 1, line, &fault)) << fault;

    std::vector<int> quiet = line; // an attacker move that is no four
    quiet[0]               = cellAt(0, 0);
    EXPECT_FALSE(solver::verifyVcf(board, 1, quiet, &fault));
    EXPECT_NE(fault.find("not a four"), std::string::npos) << fault;
    std::vector<int> wrongReply = line;
    wrongReply[1]               = cellAt(0, 0);
    EXPECT_FALSE(solver::verifyVcf(board, 1, wrongReply, &fault));
    EXPECT_NE(fault.find("does not stop a five"), std::string::npos) << fault;
    EXPECT_FALSE(solver::verifyVcf(board, 1, {line.begin(), line.end() - 1}));
    EXPECT_FALSE(solver::verifyVcf(board, -1, line));                       // the other side's line
    EXPECT_FALSE(solver::verifyVcf(board, 1, {line[0], line[1], line[0]})); // taken cell
    std::vector<int> early = line;                                          // the five is not made
    early.back()           = cellAt(0, 0);
    EXPECT_FALSE(solver::verifyVcf(board, 1, early));
}

namespace {

// The empty cells within four steps of (row, col) along its lines where a
// stone of `sign` makes five: after a stone there, all the new threats.
std::vector<int> fivesAlongLines(tools::GameBoard* board, int row, int col, int sign) {
    constexpr int    directions[4][2] = {{0, 1}, {1, 0}, {1, 1}, {1, -1}};
    std::vector<int> cells;
    for (const auto& d : directions)
        for (int k = -4; k <= 4; ++k) {
            const int r = row + k * d[0], c = col + k * d[1];
            if (k == 0 || !board->place(r, c, sign))
                continue;
            if (board->makesFive(r, c))
                cells.push_back(r * tools::kBoardSize + c);
            board->remove(r, c);
        }
    return cells;
}

// A plain search of fours to `fours` moves, with nothing but GameBoard's five
// test: whether `attacker`, to move, wins by continuous fours.
bool plainFours(tools::GameBoard* board, int attacker, int fours) {
    if (!solver::fiveCellsOf(*board, attacker).empty())
        return true;
    const std::vector<int> defenderFives = solver::fiveCellsOf(*board, -attacker);
    if (defenderFives.size() > 1 || fours == 0)
        return false;
    for (int cell = 0; cell < tools::kCellCount; ++cell) {
        const int row = cell / tools::kBoardSize, col = cell % tools::kBoardSize;
        if (!defenderFives.empty() && cell != defenderFives[0])
            continue;
        if (!board->place(row, col, attacker))
            continue;
        const std::vector<int> threats = fivesAlongLines(board, row, col, attacker);
        bool                   win     = threats.size() > 1;
        if (threats.size() == 1) {
            const int r = threats[0] / tools::kBoardSize, c = threats[0] % tools::kBoardSize;
            board->place(r, c, -attacker);
            win = plainFours(board, attacker, fours - 1);
            board->remove(r, c);
        }
        board->remove(row, col);
        if (win)
            return true;
    }
    return false;
}

} // namespace

// Random crowded corners of the board, where fours are plentiful and the edge
// cuts lines short: the solver, limited to the same number of fours, must
// agree with the plain search on every one.
TEST(Vcf, AgreesWithPlainSearchOfFours) {
    constexpr int   kPositions = 300, kFours = 3, kSpan = 7;
    std::mt19937_64 rng(7);
    solver::Solver  s;
    int             wins = 0;
    for (int n = 0; n < kPositions; ++n) {
        tools::GameBoard board;
        const int        top = n % 2 == 0 ? 0 : 6 + static_cast<int>(rng() % 7);
        const int left       = n % 3 == 0 ? tools::kBoardSize - kSpan : static_cast<int>(rng() % 8);
        const int stones     = 10 + static_cast<int>(rng() % 12);
        for (int k = 0; k < stones; ++k) {
            const int row  = top + static_cast<int>(rng() % kSpan);
            const int col  = left + static_cast<int>(rng() % kSpan);
            const int sign = k % 2 == 0 ? 1 : -1;
            if (board.place(row, col, sign) && board.makesFive(row, col))
                board.remove(row, col);
        }
        const int               attacker = rng() % 2 == 0 ? 1 : -1;
        const solver::VcfResult result   = s.vcf(board, attacker, {200000, kFours});
        const bool              plain    = plainFours(&board, attacker, kFours);
        ASSERT_EQ(result.verdict == Verdict::Win, plain)
            << solver::fiveCellsOf(board, 1).size() << "\n"
            << tools::boardPicture(board);
        // And its line is a shortest one.
        if (plain && result.length() > 1) {
            EXPECT_FALSE(plainFours(&board, attacker, result.length() - 2));
        }
        wins += plain;
    }
    // Both verdicts occur often enough for the agreement to mean something.
    EXPECT_GT(wins, kPositions / 10);
    EXPECT_LT(wins, kPositions * 9 / 10);
}
