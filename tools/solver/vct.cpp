#include "tools/solver/solver.h"

#include <algorithm>

namespace solver {

namespace {

using tools::kCellCount;

} // namespace

// The defender, to move, faces the attacker's VCF in `found`: whether every
// refutation meets a win by threats again. A counter-four among them holds.
bool Solver::vctDefends(int defender, int threatsLeft, int foursLeft) {
    const int        attacker = 1 - defender;
    std::vector<int> replies;
    bool             exact = true;
    listRefutations(defender, &replies, &exact);
    if (!exact)
        return true;
    for (int reply : replies) {
        if (board.fourCount(defender, reply) > 0 || board.fiveCount(defender, reply) > 0)
            return true;
        board.place(reply, defender);
        int        unused = -1;
        const bool lost   = vctAttack(attacker, threatsLeft, foursLeft, &unused);
        board.remove(reply, defender);
        if (!lost)
            return true;
    }
    return false;
}

// Whether the query's node budget or deadline is spent; once it is, the
// query's "no win" becomes "unknown".
bool Solver::vctOutOfBudget() {
    if (totalNodes > vctLimit || pastDeadline())
        vctAborted = true;
    return vctAborted;
}

// A four of the attacker, the forced block, and a win by threats after it.
bool Solver::vctFour(int attacker, int threatsLeft, int foursLeft, int* move) {
    const int defender = 1 - attacker;
    for (int cell = 0; cell < kCellCount; ++cell) {
        if (!board.isEmpty(cell) || board.fourCount(attacker, cell) == 0)
            continue;
        board.place(cell, attacker);
        int       threats[2];
        bool      wins = false;
        const int n    = board.fiveCellsThrough(cell, attacker, threats, 2);
        if (n == 1) {
            board.place(threats[0], defender);
            int unused = -1;
            wins       = !board.hasFive(defender) &&
                   vctAttack(attacker, threatsLeft, foursLeft - 1, &unused);
            board.remove(threats[0], defender);
        }
        board.remove(cell, attacker);
        if (wins) {
            *move = cell;
            return true;
        }
        if (vctOutOfBudget())
            return false;
    }
    return false;
}

bool Solver::vctAttack(int attacker, int threatsLeft, int foursLeft, int* move) {
    const int     defender = 1 - attacker;
    const Verdict own      = searchVcf(attacker, limits);
    totalNodes += nodes;
    if (own == Verdict::Win) {
        *move = found[0];
        return true;
    }
    if (vctOutOfBudget() || threatsLeft == 0)
        return false;
    // Quiet moves that make a three, most lines first.
    std::vector<std::pair<int, int>> threes;
    for (int cell = 0; cell < kCellCount; ++cell)
        if (board.isEmpty(cell) && board.threeCount(attacker, cell) > 0 &&
            board.fourCount(attacker, cell) == 0)
            threes.push_back({-board.threeCount(attacker, cell), cell});
    std::stable_sort(threes.begin(), threes.end());
    for (const auto& three : threes) {
        const int cell = three.second;
        board.place(cell, attacker);
        bool wins = false;
        if (searchVcf(attacker, limits) == Verdict::Win) {
            const std::vector<int> threat = found;
            totalNodes += nodes;
            if (searchVcf(defender, limits) == Verdict::None) {
                found = threat;
                wins  = !vctDefends(defender, threatsLeft - 1, foursLeft);
            }
        }
        totalNodes += nodes;
        board.remove(cell, attacker);
        if (wins) {
            *move = cell;
            return true;
        }
        if (vctOutOfBudget())
            return false;
    }
    // Fours first, then the threats: only while the defender has no four of
    // its own, which a quiet three would ignore.
    return foursLeft > 0 && board.fiveThreats(defender) == 0 &&
           vctFour(attacker, threatsLeft, foursLeft, move);
}

VctResult Solver::vct(const tools::GameBoard& position, int attackerSign,
                      const VctLimits& vctLimits) {
    board.load(position);
    limits     = vctLimits.vcf;
    totalNodes = 0;
    vctLimit   = vctLimits.maxNodes;
    vctAborted = false;
    VctResult result;
    if (vctAttack(sideOf(attackerSign), vctLimits.threats, vctLimits.fours, &result.move))
        result.verdict = Verdict::Win;
    else
        result.verdict = vctAborted ? Verdict::Unknown : Verdict::None;
    result.nodes = totalNodes;
    return result;
}

} // namespace solver
