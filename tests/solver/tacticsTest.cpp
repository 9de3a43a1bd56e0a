#include "tools/solver/labels.h"
#include "tools/solver/tacticalPlayer.h"
#include "tools/solver/tacticalSuite.h"

#include "tools/toolsTestHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using solver::SuiteGroup;
using solver::Verdict;
using toolstest::boardFrom;
using toolstest::cellAt;
using toolstest::kThreeMoveVcf;

namespace {

// Sanitizer builds run the solver an order of magnitude slower: there a
// sample of the suite is re-derived, in release builds all of it.
#ifdef __SANITIZE_ADDRESS__
constexpr size_t kSuiteStride = 10;
#else
constexpr size_t kSuiteStride = 1;
#endif

std::vector<solver::SuitePosition> readShippedSuite() {
    std::ifstream                      in(QUORIBO_SOURCE_DIR "/tests/tactics/suite.txt");
    std::vector<solver::SuitePosition> positions;
    std::string                        error;
    EXPECT_TRUE(in && solver::readSuite(in, &positions, &error)) << error;
    return positions;
}

bool contains(const std::vector<int>& cells, int cell) {
    return std::find(cells.begin(), cells.end(), cell) != cells.end();
}

} // namespace

// The shipped suite is large, covers every group, and every position's group
// and full answer set are what the rules and the solver say today.
TEST(TacticalSuite, ShippedFileIsVerified) {
    const std::vector<solver::SuitePosition> positions = readShippedSuite();
    EXPECT_GE(positions.size(), 400u);
    int counts[solver::kSuiteGroups] = {};
    for (size_t i = 0; i < positions.size(); ++i) {
        ++counts[static_cast<int>(positions[i].group)];
        if (i % kSuiteStride == 0) {
            EXPECT_EQ(solver::checkSuitePosition(positions[i]), std::vector<std::string>{})
                << positions[i].name;
        }
    }
    for (int count : counts)
        EXPECT_GE(count, 40);
}

// The check catches a missing answer, a wrong group and a board that does not
// fit the side to move; the reader refuses malformed blocks.
TEST(TacticalSuite, CheckAndReaderCatchFaults) {
    const std::vector<solver::SuitePosition> positions = readShippedSuite();
    auto vcf = std::find_if(positions.begin(), positions.end(), [](const auto& p) {
        return p.group == SuiteGroup::VcfShort && p.answers.size() > 1;
    });
    ASSERT_NE(vcf, positions.end());
    solver::SuitePosition doctored = *vcf;
    doctored.answers.pop_back();
    EXPECT_EQ(solver::checkSuitePosition(doctored).size(), 1u);
    doctored       = *vcf;
    doctored.group = SuiteGroup::VcfLong;
    EXPECT_EQ(solver::checkSuitePosition(doctored).size(), 1u);
    doctored.group = vcf->group;
    doctored.sign  = -vcf->sign;
    EXPECT_FALSE(solver::checkSuitePosition(doctored).empty());

    std::ostringstream written;
    solver::writeSuitePosition(written, *vcf);
    std::vector<solver::SuitePosition> back;
    std::string                        error;
    std::istringstream                 same(written.str());
    ASSERT_TRUE(solver::readSuite(same, &back, &error)) << error;
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].answers, vcf->answers);
    EXPECT_EQ(back[0].name, vcf->name);
    for (const std::string& bad :
         {std::string("vcf-medium"), std::string("20,0"), std::string("\n#cut")}) {
        std::string text = written.str();
        if (bad == "vcf-medium")
            text.replace(0, text.find(' '), bad);
        else if (bad == "20,0")
            text.insert(text.find("answers") + 7, " " + bad);
        else
            text = text.substr(0, text.find('\n') + 42) + bad;
        std::istringstream in(text);
        back.clear();
        EXPECT_FALSE(solver::readSuite(in, &back, &error)) << bad;
    }
}

// The teacher plays a VCF whenever it has one, and a refutation whenever the
// opponent's VCF has one: on the suite's own positions, where either is one
// of the listed answers.
TEST(TacticalPlayer, PlaysItsVcfAndRefutesTheOpponents) {
    const std::vector<solver::SuitePosition> positions = readShippedSuite();
    solver::TacticalPlayer                   teacher(0, 0.0, 500);
    int                                      asked[solver::kSuiteGroups] = {};
    for (const solver::SuitePosition& p : positions) {
        int& count = asked[static_cast<int>(p.group)];
        if (count >= static_cast<int>(6 / kSuiteStride) + 2)
            continue;
        ++count;
        int row = -1, col = -1;
        ASSERT_TRUE(teacher.chooseMove(p.board, p.sign, &row, &col));
        EXPECT_TRUE(contains(p.answers, cellAt(row, col)))
            << solver::groupName(p.group) << " " << p.name << ": played " << row << "," << col;
    }
    // A hand-made pair: the VCF's first move, then the side facing it refutes.
    const tools::GameBoard chain = boardFrom(kThreeMoveVcf, 6, 4);
    int                    row = -1, col = -1;
    ASSERT_TRUE(teacher.chooseMove(chain, 1, &row, &col));
    EXPECT_EQ(teacher.lastReason(), solver::TacticalPlayer::Reason::Vcf);
    EXPECT_TRUE(contains(solver::classifyPosition(chain, 1).answers, cellAt(row, col)));
    ASSERT_TRUE(teacher.chooseMove(chain, -1, &row, &col));
    EXPECT_EQ(teacher.lastReason(), solver::TacticalPlayer::Reason::Refutation);
    solver::Solver s;
    EXPECT_TRUE(contains(s.defences(chain, -1).moves, cellAt(row, col)));
}

// Labels: a VCF's first move with value 1, the refutations of the opponent's,
// a lost position, and the 54-byte encoding read back unchanged.
TEST(Labels, KindsTargetsAndEncoding) {
    solver::Solver              s;
    const tools::GameBoard      chain = boardFrom(kThreeMoveVcf, 6, 4);
    const solver::PositionLabel win   = solver::labelPosition(&s, chain, 1);
    EXPECT_EQ(win.kind, solver::LabelKind::Win);
    EXPECT_EQ(win.length, 3);
    ASSERT_EQ(win.targets.size(), 1u);
    EXPECT_EQ(win.targets[0], s.vcf(chain, 1).line[0]);

    const solver::PositionLabel defend = solver::labelPosition(&s, chain, -1);
    EXPECT_EQ(defend.kind, solver::LabelKind::Defend);
    EXPECT_EQ(defend.length, 3);
    EXPECT_EQ(defend.targets, solver::classifyPosition(chain, -1).answers);

    // O's open three on row 10 and three on column 3 meet no X stone.
    const tools::GameBoard lostBoard = boardFrom(".O.........\n"
                                                 ".O.........\n"
                                                 ".O.........\n"
                                                 "...........\n"
                                                 "......OOO..",
                                                 6, 2);
    EXPECT_EQ(solver::labelPosition(&s, lostBoard, 1).kind, solver::LabelKind::Lost);
    EXPECT_EQ(solver::labelPosition(&s, boardFrom("XO", 9, 9), 1).kind, solver::LabelKind::None);

    for (const solver::PositionLabel& label : {win, defend}) {
        uint8_t bytes[solver::kLabelBytes];
        solver::encodeLabel(label, bytes);
        EXPECT_EQ(bytes[2] | bytes[3] << 8, static_cast<int>(label.targets.size()));
        const solver::PositionLabel back = solver::decodeLabel(bytes);
        EXPECT_EQ(back.kind, label.kind);
        EXPECT_EQ(back.length, label.length);
        EXPECT_EQ(back.targets, label.targets);
    }
}

// A win by threats: two open twos crossing at an empty cell make a double
// open three there, which no single block stops; a lone open two does not win.
TEST(Vct, FindsDoubleThreesAndWinsFromGames) {
    solver::Solver         s;
    const tools::GameBoard crossing = boardFrom("..X\n"
                                                "..X\n"
                                                "XX.\n"
                                                "...\n"
                                                "...\n"
                                                "O.O",
                                                8, 8);
    EXPECT_EQ(s.vcf(crossing, 1).verdict, Verdict::None);
    const solver::VctResult win = s.vct(crossing, 1);
    ASSERT_EQ(win.verdict, Verdict::Win);
    EXPECT_EQ(win.move, cellAt(10, 10));
    EXPECT_NE(s.vct(boardFrom("XX.O\nO...", 9, 9), 1).verdict, Verdict::Win);

    // From a game the tactician lost: a win by threats with no VCF.
    const tools::GameBoard fromGame = boardFrom(".....X.O.\n"
                                                "......X..\n"
                                                ".....X.X.\n"
                                                "....XXOOO\n"
                                                "...O.O...",
                                                7, 3);
    EXPECT_EQ(s.vcf(fromGame, 1).verdict, Verdict::None);
    EXPECT_EQ(s.vct(fromGame, 1).verdict, Verdict::Win);
}
