#include "tools/solver/tacticalPlayer.h"

#include "util/platform.h"

#include <algorithm>

namespace solver {

namespace {

using tools::kBoardSize;
using tools::kCellCount;

// Quiet moves looked at: the cells the pattern teacher likes best, and more
// while every one looked at so far loses.
constexpr size_t kQuietCandidates = 8;
constexpr size_t kMoreCandidates  = 24;

// Answers tried against a win by threats the opponent threatens: its first
// move and the cells the pattern teacher likes best.
constexpr size_t kHoldCandidates = 8;

// A win by threats is sought with a small budget: the teacher asks many.
constexpr int64_t kVctNodes = 50000;

// Moves a tied candidate's game is played on for (both sides' moves).
constexpr int kPlayOutMoves = 40;

struct Ranked {
    int    cell;
    double score;
};

// `cells`, best first for the pattern teacher.
std::vector<int> ranked(const tools::GameBoard& board, int sign, const std::vector<int>& cells) {
    std::vector<Ranked> list;
    for (int cell : cells)
        list.push_back({cell, tools::PatternPlayer::cellScore(board, cell / kBoardSize,
                                                              cell % kBoardSize, sign)});
    std::stable_sort(list.begin(), list.end(),
                     [](const Ranked& a, const Ranked& b) { return a.score > b.score; });
    std::vector<int> order;
    for (const Ranked& r : list)
        order.push_back(r.cell);
    return order;
}

bool nearStone(const tools::GameBoard& board, int cell) {
    const int row = cell / kBoardSize, col = cell % kBoardSize;
    for (int r = row - 2; r <= row + 2; ++r)
        for (int c = col - 2; c <= col + 2; ++c)
            if (tools::onBoard(r, c) && board.at(r, c) != 0)
                return true;
    return false;
}

// Empty cells within two steps of a stone, best first for the pattern teacher.
std::vector<int> rankedNearStones(const tools::GameBoard& board, int sign) {
    std::vector<int> cells;
    for (int cell = 0; cell < kCellCount; ++cell)
        if (board.at(cell / kBoardSize, cell % kBoardSize) == 0 && nearStone(board, cell))
            cells.push_back(cell);
    return ranked(board, sign, cells);
}

} // namespace

// The table is small: the teacher asks many queries a move, each on a new board.
TacticalPlayer::TacticalPlayer(uint64_t seed, double randomness, int budget)
    : solver(18), pattern(seed, randomness), model(0, 0.0), budgetMs(budget) {
    vctLimits.maxNodes = kVctNodes;
}

bool TacticalPlayer::timeLeft() const {
    return tovu::getTickCount() - startMs < budgetMs;
}

// How `move` looks one exchange on, with the opponent answering as the
// pattern teacher would: 2 a VCF for us, 1 a win by threats, 0 nothing
// decided, -1 a win by threats for the opponent, -2 lost. A move after which
// the opponent, to move, wins by fours or threats is lost whatever it answers;
// that is asked only while the opponent threatens one (a stone of ours never
// gives the opponent a win it did not have).
int TacticalPlayer::lookAhead(tools::GameBoard* board, int sign, int move) {
    const int row = move / kBoardSize, col = move % kBoardSize;
    board->place(row, col, sign);
    int value = 0, replyRow = -1, replyCol = -1;
    if (opponentThreat && solver.vct(*board, -sign, vctLimits).verdict == Verdict::Win) {
        value = -2;
    } else if (model.chooseMove(*board, -sign, &replyRow, &replyCol)) {
        board->place(replyRow, replyCol, -sign);
        if (board->makesFive(replyRow, replyCol)) {
            value = -2;
        } else if (solver.vcf(*board, sign, limits).verdict == Verdict::Win) {
            value = 2;
        } else {
            const DefenceResult defence = solver.defences(*board, sign, limits);
            if (defence.threatened && defence.moves.empty())
                value = -2;
            else if (!defence.threatened &&
                     solver.vct(*board, sign, vctLimits).verdict == Verdict::Win)
                value = 1;
            else if (const VctResult theirs = solver.vct(*board, -sign, vctLimits);
                     theirs.verdict == Verdict::Win)
                value = canHold(board, sign, theirs.move) ? -1 : -2;
        }
        board->remove(replyRow, replyCol);
    }
    board->remove(row, col);
    return value;
}

// Whether `sign`, to move against the opponent's win by threats starting at
// `threat`, has an answer after which the opponent wins by neither fours nor
// threats. Out of time, it is assumed to have one.
bool TacticalPlayer::canHold(tools::GameBoard* board, int sign, int threat) {
    std::vector<int> tries = rankedNearStones(*board, sign);
    if (tries.size() > kHoldCandidates)
        tries.resize(kHoldCandidates);
    if (std::find(tries.begin(), tries.end(), threat) == tries.end())
        tries.insert(tries.begin(), threat);
    for (int move : tries) {
        if (!timeLeft())
            return true;
        board->place(move / kBoardSize, move % kBoardSize, sign);
        // A four only delays: the forced block leaves the threat standing.
        const bool lost = !fiveCellsOf(*board, sign).empty() ||
                          solver.vct(*board, -sign, vctLimits).verdict == Verdict::Win;
        board->remove(move / kBoardSize, move % kBoardSize);
        if (!lost)
            return true;
    }
    return false;
}

// The candidate that looks best one exchange on. Past the first `count`,
// candidates are looked at only while all so far lose. Ties go to the earlier
// one, but when nothing is decided for the best (or the opponent's win by
// threats can be held), the games of the candidates tied with it, played on,
// decide first.
int TacticalPlayer::bestAhead(tools::GameBoard* board, int sign, const std::vector<int>& candidates,
                              size_t count, size_t more) {
    int              best = -1, bestValue = -3;
    std::vector<int> values;
    for (size_t i = 0; i < candidates.size() && (i < count || (i < more && bestValue < 0)); ++i) {
        if (best >= 0 && !timeLeft())
            return best;
        const int value = lookAhead(board, sign, candidates[i]);
        values.push_back(value);
        if (value > bestValue) {
            bestValue = value;
            best      = candidates[i];
        }
        if (value == 2)
            return best;
    }
    if (bestValue > 0 || bestValue == -2)
        return best;
    std::vector<int> tied;
    for (size_t i = 0; i < values.size(); ++i)
        if (values[i] == bestValue)
            tied.push_back(candidates[i]);
    return tied.size() > 1 ? bestPlayedOn(*board, sign, tied) : best;
}

// Of `tied`, the move whose game played on goes best, ties to the earlier one.
// Those left unplayed when time runs out count as games still open.
int TacticalPlayer::bestPlayedOn(const tools::GameBoard& board, int sign,
                                 const std::vector<int>& tied) {
    int    best = tied[0], bestValue = -2;
    size_t played = 0;
    for (; played < tied.size() && timeLeft(); ++played) {
        const int found = playOut(board, sign, tied[played]);
        if (found > bestValue) {
            bestValue = found;
            best      = tied[played];
        }
        if (found == 1)
            break;
    }
    return played < tied.size() && bestValue < 0 ? tied[played] : best;
}

// The game after `move`, played on for at most kPlayOutMoves moves: the
// opponent as the pattern teacher would, we by our VCF, else the refutation of
// the opponent's VCF the pattern teacher likes best, else as the pattern
// teacher would. 1 we win, -1 we lose, 0 still open (or out of time).
int TacticalPlayer::playOut(tools::GameBoard board, int sign, int move) {
    int side = sign, row = move / kBoardSize, col = move % kBoardSize;
    for (int ply = 0; ply < kPlayOutMoves; ++ply) {
        board.place(row, col, side);
        if (board.makesFive(row, col))
            return side == sign ? 1 : -1;
        side = -side;
        if (board.isFull() || !timeLeft())
            return 0;
        int next = -1;
        if (side == sign) {
            const VcfResult own = solver.vcf(board, side, limits);
            if (own.verdict == Verdict::Win) {
                next = own.line[0];
            } else {
                const DefenceResult defence = solver.defences(board, side, limits);
                if (defence.threatened && defence.moves.empty())
                    return -1;
                if (defence.threatened)
                    next = ranked(board, side, defence.moves)[0];
            }
        }
        if (next >= 0) {
            row = next / kBoardSize;
            col = next % kBoardSize;
        } else if (!model.chooseMove(board, side, &row, &col)) {
            return 0;
        }
    }
    return 0;
}

int TacticalPlayer::choose(tools::GameBoard* board, int sign) {
    const VcfResult own = solver.vcf(*board, sign, limits);
    if (own.verdict == Verdict::Win) {
        reason = Reason::Vcf;
        return own.line[0];
    }
    const DefenceResult defence = solver.defences(*board, sign, limits);
    if (defence.threatened) {
        reason         = Reason::Refutation;
        opponentThreat = true;
        if (defence.moves.empty())
            return -1;
        // Quiet refutations first: a counter-four spent now is lost for later.
        std::vector<int> quiet, fours;
        for (int move : ranked(*board, sign, defence.moves)) {
            const int row = move / kBoardSize, col = move % kBoardSize;
            board->place(row, col, sign);
            (fiveCellsOf(*board, sign).empty() ? quiet : fours).push_back(move);
            board->remove(row, col);
        }
        quiet.insert(quiet.end(), fours.begin(), fours.end());
        return bestAhead(board, sign, quiet, quiet.size(), quiet.size());
    }
    const VctResult wins = solver.vct(*board, sign, vctLimits);
    if (wins.verdict == Verdict::Win) {
        reason = Reason::Threat;
        return wins.move;
    }
    // The opponent's own win by threats, as if it moved next: its first move
    // is looked at first.
    reason                      = Reason::Lookahead;
    const VctResult  theirs     = solver.vct(*board, -sign, vctLimits);
    std::vector<int> candidates = rankedNearStones(*board, sign);
    opponentThreat              = theirs.verdict != Verdict::None;
    if (theirs.verdict == Verdict::Win) {
        const auto listed = std::find(candidates.begin(), candidates.end(), theirs.move);
        if (listed != candidates.end())
            candidates.erase(listed);
        candidates.insert(candidates.begin(), theirs.move);
    }
    return bestAhead(board, sign, candidates, kQuietCandidates, kMoreCandidates);
}

bool TacticalPlayer::chooseMove(const tools::GameBoard& position, int sign, int* row, int* col) {
    if (position.isFull())
        return false;
    startMs = tovu::getTickCount();
    // Every search of the move stops at its budget: the answer is never late.
    limits.timed            = true;
    limits.deadlineMs       = startMs + budgetMs;
    vctLimits.vcf           = limits;
    tools::GameBoard board  = position;
    const int        chosen = position.stoneCount() == 0 ? -1 : choose(&board, sign);
    if (chosen < 0) {
        reason = Reason::Pattern;
        return pattern.chooseMove(position, sign, row, col);
    }
    *row = chosen / kBoardSize;
    *col = chosen % kBoardSize;
    return true;
}

} // namespace solver
