#pragma once

#include "tools/common/gameBoard.h"
#include "tools/solver/solver.h"

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

// The verified tactical suite: positions from real games, each in one of five
// groups with every correct answer, decided by the rules and the solver.
//
//   five       the side to move completes five; answers: every such cell
//   block      the opponent completes five at exactly one cell and the side
//              to move at none; answer: that cell
//   vcf-short  no five for either side; the side to move's shortest VCF has
//              2 to 4 attacker moves; answers: the first moves of all its
//              VCFs (a four after whose forced block a VCF remains, or a
//              double four)
//   vcf-long   as vcf-short, the shortest VCF having 5 or more moves
//   defend     no five for either side, no VCF for the side to move, the
//              opponent has one (2 or more moves) and it can be refuted;
//              answers: every refutation (any other move loses to a VCF)
//
// Every search runs on a fresh solver with kSuiteLimits, so a position's
// verdict does not depend on what was asked before; a position with any
// search out of its limits belongs to no group.
//
// File format (tests/tactics/suite.txt), one block per position:
//   <group> <name> X|O      X moved first; the side to move
//   20 lines of 20 of '.', 'X', 'O' (line r is row r, character c column c)
//   answers r,c [r,c ...]
// '#' lines and blank lines are ignored.

namespace solver {

enum class SuiteGroup : uint8_t { Five, Block, VcfShort, VcfLong, Defend, None };

constexpr int    kSuiteGroups = 5;
constexpr Limits kSuiteLimits{1000000, 30};

const char* groupName(SuiteGroup group);

struct SuiteVerdict {
    SuiteGroup       group = SuiteGroup::None;
    std::vector<int> answers;    // cells, increasing
    int              length = 0; // attacker moves of the deciding VCF
};

// The group and answers of `board` for `sign` (1 moved first), who moves next.
SuiteVerdict classifyPosition(const tools::GameBoard& board, int sign);

struct SuitePosition {
    SuiteGroup       group = SuiteGroup::None;
    std::string      name;
    int              sign = 1; // the side to move
    tools::GameBoard board;
    std::vector<int> answers; // cells, increasing
};

// The positions of a suite file; false with `error` set (line number and
// cause) on a malformed one.
bool readSuite(std::istream& in, std::vector<SuitePosition>* positions, std::string* error);
void writeSuitePosition(std::ostream& out, const SuitePosition& position);

// The faults of a position read from a file: stone counts that do not fit the
// side to move, a five already on the board, or a group and answers that
// differ from classifyPosition's. Empty when it holds.
std::vector<std::string> checkSuitePosition(const SuitePosition& position);

} // namespace solver
