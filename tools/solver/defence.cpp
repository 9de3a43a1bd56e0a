#include "tools/solver/solver.h"

namespace solver {

namespace {

using tools::kCellCount;

} // namespace

// Whether the opponent's `line` still wins on the board as it stands, checked
// move by move with the board's own threat counts. Only ever a shortcut: when
// it says no, the full search decides.
bool Solver::lineStillWins(int attacker, const std::vector<int>& line) {
    const int defender = 1 - attacker;
    size_t    played   = 0;
    bool      wins     = false;
    while (played < line.size() && board.isEmpty(line[played])) {
        const int cell = line[played];
        if (played % 2 == 0) {
            board.place(cell, attacker);
            ++played;
            if (board.hasFive(attacker)) {
                wins = true;
                break;
            }
            // Not a four, or the defender keeps a five of its own.
            if (played == line.size() || board.fiveThreats(attacker) == 0 ||
                board.fiveThreats(defender) > 0)
                break;
        } else {
            if (board.fiveCount(attacker, cell) == 0)
                break; // the reply is no longer forced
            board.place(cell, defender);
            ++played;
            if (board.hasFive(defender))
                break;
        }
    }
    for (size_t i = played; i-- > 0;)
        board.remove(line[i], i % 2 == 0 ? attacker : defender);
    return wins;
}

// The moves that could refute the opponent's `threat`: any other move leaves
// every step of the line as it was, so the line still wins after it. A stone
// can only change the line by taking one of its cells, by taking a cell that
// one of its fours threatens to complete, or by lining up with the
// defender's forced replies into a four of its own; or it is a four itself.
void Solver::candidates(int defender, const std::vector<int>& threat, std::vector<int>* moves) {
    const int attacker           = 1 - defender;
    bool      marked[kCellCount] = {};
    for (size_t i = 0; i < threat.size(); ++i) {
        const int cell = threat[i];
        marked[cell]   = true;
        if (i % 2 == 0) {
            board.place(cell, attacker);
            int       threats[8];
            const int n = board.fiveCellsThrough(cell, attacker, threats, 8);
            for (int k = 0; k < n; ++k)
                marked[threats[k]] = true;
        } else {
            const int* windows = nullptr;
            const int  count   = ThreatBoard::windowsThrough(cell, &windows);
            for (int w = 0; w < count; ++w)
                for (int k = 0; k < kWindowCells; ++k)
                    marked[ThreatBoard::windowCells(windows[w])[k]] = true;
            board.place(cell, defender);
        }
    }
    for (size_t i = threat.size(); i-- > 0;)
        board.remove(threat[i], i % 2 == 0 ? attacker : defender);
    moves->clear();
    for (int cell = 0; cell < kCellCount; ++cell)
        if (board.isEmpty(cell) && (marked[cell] || board.fourCount(defender, cell) > 0 ||
                                    board.fiveCount(defender, cell) > 0))
            moves->push_back(cell);
}

// Whether `move` by the defender refutes the opponent's VCF. A counter-four
// forces the block; if the threat survives the exchange, the defender needs a
// refutation again, with one counter-four fewer to spend.
bool Solver::refutes(int defender, int move, int tempoLeft, bool* exact) {
    const int attacker = 1 - defender;
    board.place(move, defender);
    bool result = false;
    int  threats[2];
    if (board.hasFive(defender)) {
        result = true;
    } else if (board.fiveThreats(attacker) > 0) {
        result = false; // the opponent completes five at once
    } else {
        const int n = board.fiveCellsThrough(move, defender, threats, 2);
        if (n >= 2) {
            result = true; // an open or double four: the opponent cannot block both
        } else {
            const Verdict verdict = searchVcf(attacker, limits);
            totalNodes += nodes;
            if (verdict != Verdict::Win) {
                *exact &= verdict == Verdict::None;
                result = true;
                // After a counter-four, a block that is no four hands the move
                // back: the threat may still stand.
                if (n == 1 && board.fourCount(attacker, threats[0]) == 0) {
                    board.place(threats[0], attacker);
                    const Verdict again = searchVcf(attacker, limits);
                    totalNodes += nodes;
                    if (again == Verdict::Win)
                        result = tempoLeft > 0 && anyRefutation(defender, tempoLeft - 1, exact);
                    else
                        *exact &= again == Verdict::None;
                    board.remove(threats[0], attacker);
                }
            }
        }
    }
    board.remove(move, defender);
    return result;
}

// Whether the defender, to move, has any refutation of the line in `found`.
bool Solver::anyRefutation(int defender, int tempoLeft, bool* exact) {
    const std::vector<int> threat = found;
    std::vector<int>       moves;
    candidates(defender, threat, &moves);
    for (int move : moves) {
        board.place(move, defender);
        const bool stillWins = !board.hasFive(defender) && lineStillWins(1 - defender, threat);
        board.remove(move, defender);
        if (stillWins)
            continue;
        bool moveExact = true;
        if (refutes(defender, move, tempoLeft, &moveExact)) {
            *exact &= moveExact;
            return true;
        }
        *exact &= moveExact;
    }
    return false;
}

// The defender's refutations of the attacker's line in `found`.
void Solver::listRefutations(int defender, std::vector<int>* moves, bool* exact) {
    const int              attacker = 1 - defender;
    const std::vector<int> threat   = found;
    std::vector<int>       cells;
    candidates(defender, threat, &cells);
    moves->clear();
    for (int move : cells) {
        board.place(move, defender);
        const bool stillWins = !board.hasFive(defender) && lineStillWins(attacker, threat);
        board.remove(move, defender);
        if (!stillWins && refutes(defender, move, kTempoMoves, exact))
            moves->push_back(move);
    }
}

DefenceResult Solver::defences(const tools::GameBoard& position, int defenderSign,
                               const Limits& searchLimits) {
    board.load(position);
    limits                 = searchLimits;
    totalNodes             = 0;
    const int     defender = sideOf(defenderSign);
    const int     attacker = 1 - defender;
    DefenceResult result;
    const Verdict verdict = searchVcf(attacker, limits);
    totalNodes += nodes;
    if (verdict == Verdict::Win && verifyVcf(position, signOf(attacker), found)) {
        result.threatened     = true;
        result.threat.verdict = Verdict::Win;
        result.threat.line    = found;
        result.threat.nodes   = nodes;
        int fives[kCellCount];
        if (board.fiveThreats(defender) > 0) {
            // A five of its own answers any threat.
            result.moves.assign(fives, fives + board.fiveCells(defender, fives, kCellCount));
            result.nodes = totalNodes;
            return result;
        }
        listRefutations(defender, &result.moves, &result.exact);
    } else {
        result.exact          = verdict == Verdict::None;
        result.threat.verdict = verdict == Verdict::Win ? Verdict::Unknown : verdict;
    }
    result.nodes = totalNodes;
    return result;
}

} // namespace solver
