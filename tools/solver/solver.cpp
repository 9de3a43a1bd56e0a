#include "tools/solver/solver.h"

#include "util/platform.h"

#include <algorithm>

namespace solver {

namespace {

using tools::kCellCount;

constexpr int32_t  kExhausted   = 1 << 30;               // refuted whatever the depth
constexpr uint64_t kAttackerKey = 0x9e3779b97f4a7c15ULL; // told apart: who attacks

struct Scored {
    int cell;
    int score;
};

// Fours that also line up other fours or threes come first: they are the
// ones that lead to double threats.
int moveScore(const ThreatBoard& board, int side, int cell) {
    return 8 * board.fourCount(side, cell) + board.threeCount(side, cell);
}

} // namespace

Solver::Solver(int tableBits) {
    if (tableBits < 10)
        tableBits = 10;
    if (tableBits > 26)
        tableBits = 26;
    const uint64_t size = uint64_t{1} << tableBits;
    table               = new Entry[size]();
    tableMask           = size - 1;
}

Solver::~Solver() {
    delete[] table;
}

bool Solver::refuted(int attacker, int foursLeft) {
    const uint64_t key   = board.hash() ^ (attacker == 0 ? 0 : kAttackerKey);
    const Entry&   entry = table[key & tableMask];
    if (entry.key != key || entry.depth < foursLeft)
        return false;
    // A refutation found under a depth limit keeps this line's verdict
    // depth-limited too.
    if (entry.depth != kExhausted)
        ++depthHits;
    return true;
}

void Solver::store(int attacker, int depth) {
    const uint64_t key   = board.hash() ^ (attacker == 0 ? 0 : kAttackerKey);
    Entry&         entry = table[key & tableMask];
    entry.key            = key;
    entry.depth          = depth;
}

bool Solver::pastDeadline() const {
    return timed && tovu::ticksBetween(deadline, tovu::getTickCount()) >= 0;
}

// One attacker node with `foursLeft` fours allowed before the five. On a win
// the line from here is appended to `found` backwards.
bool Solver::attack(int attacker, int foursLeft) {
    if (++nodes > nodeLimit || pastDeadline()) {
        aborted = true;
        return false;
    }
    const int defender = 1 - attacker;
    int       cells[2];
    if (board.fiveThreats(attacker) > 0) {
        board.fiveCells(attacker, cells, 1);
        found.push_back(cells[0]);
        return true;
    }
    int forced = -1;
    if (board.fiveThreats(defender) > 0) {
        // The defender threatens five: only a block that is itself a four
        // keeps the attack going.
        if (board.fiveCells(defender, cells, 2) > 1 || board.fourCount(attacker, cells[0]) == 0)
            return false;
        forced = cells[0];
    }

    Scored moves[kCellCount];
    int    count = 0;
    if (forced >= 0) {
        moves[count++] = {forced, 0};
    } else {
        for (int cell = 0; cell < kCellCount; ++cell)
            if (board.fourCount(attacker, cell) > 0 && board.isEmpty(cell))
                moves[count++] = {cell, moveScore(board, attacker, cell)};
    }
    if (count == 0)
        return false;
    if (foursLeft == 0) {
        ++depthHits;
        return false;
    }
    if (refuted(attacker, foursLeft))
        return false;
    std::stable_sort(moves, moves + count,
                     [](const Scored& a, const Scored& b) { return a.score > b.score; });

    const int64_t hitsBefore = depthHits;
    for (int i = 0; i < count; ++i) {
        const int move = moves[i].cell;
        board.place(move, attacker);
        int       threats[2];
        const int n = board.fiveCellsThrough(move, attacker, threats, 2);
        if (n >= 2) {
            // Two cells complete five: the defender blocks one, the other wins.
            board.remove(move, attacker);
            found.insert(found.end(), {threats[1], threats[0], move});
            return true;
        }
        board.place(threats[0], defender);
        const bool win = attack(attacker, foursLeft - 1);
        board.remove(threats[0], defender);
        board.remove(move, attacker);
        if (win) {
            found.insert(found.end(), {threats[0], move});
            return true;
        }
        if (aborted)
            return false;
    }
    store(attacker, depthHits == hitsBefore ? kExhausted : foursLeft);
    return false;
}

// Deepens one four at a time, so the first line found is a shortest one. A
// pass that no depth limit cut proves there is no VCF at all.
Verdict Solver::searchVcf(int attacker, const Limits& searchLimits) {
    nodes     = 0;
    nodeLimit = searchLimits.maxNodes;
    timed     = searchLimits.timed;
    deadline  = searchLimits.deadlineMs;
    aborted   = false;
    found.clear();
    if (board.hasFive(0) || board.hasFive(1))
        return Verdict::None; // the game is over
    for (int depth = 0; depth <= searchLimits.maxFours; ++depth) {
        depthHits = 0;
        if (attack(attacker, depth)) {
            std::reverse(found.begin(), found.end());
            return Verdict::Win;
        }
        if (aborted)
            return Verdict::Unknown;
        if (depthHits == 0)
            return Verdict::None;
    }
    return Verdict::Unknown;
}

VcfResult Solver::vcf(const tools::GameBoard& position, int attackerSign,
                      const Limits& searchLimits) {
    board.load(position);
    VcfResult result;
    result.verdict = searchVcf(sideOf(attackerSign), searchLimits);
    result.nodes   = nodes;
    if (result.verdict == Verdict::Win) {
        result.line = found;
        // A line the referee refuses would be a fault of the solver: it is
        // never passed on as a win.
        if (!verifyVcf(position, attackerSign, result.line)) {
            result.verdict = Verdict::Unknown;
            result.line.clear();
        }
    }
    return result;
}

} // namespace solver
