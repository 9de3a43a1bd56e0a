#pragma once

#include "tools/common/pattern.h"
#include "tools/solver/solver.h"

#include <cstdint>
#include <vector>

// The tactical teacher: the pattern teacher (tools/common/pattern.h) with the
// solver's exact tactics put first.
//
//   1. A VCF of its own (a five included): the line's first move.
//   2. Against a VCF of the opponent: one of its refutations, quiet ones
//      before counter-fours (a four spent now is lost for later), the best
//      one exchange on (below), ties played on. With none the game is lost
//      to the VCF, and the pattern teacher's move is as good as any.
//   3. A win by threats of its own (Solver::vct).
//   4. Otherwise the best one exchange on among the eight cells the pattern
//      teacher ranks highest (up to 24 while each leaves the opponent a win),
//      ties played on (below).
//
// "One exchange on": the move is played, the opponent answers as the pattern
// teacher would, and the position is judged from a VCF for us (best), a win
// by threats for us, nothing, a win by threats for the opponent that one of
// our answers holds (no four: its forced block leaves the threat standing), to
// lost (worst): a VCF of the opponent that we cannot refute, or its win by
// threats that none of our answers holds. A move after which the opponent has
// a VCF or a win by threats is lost, and the first move of the opponent's own
// win by threats (as if it moved next) is looked at first.
//
// "Played on": when the best is nothing decided, or an opponent's win by
// threats that we can hold, the moves tied with it are told apart by playing
// each one's game on for up to 40 moves: the opponent as the pattern teacher
// would, we by our VCF, else the refutation of the opponent's VCF the pattern
// teacher likes best, else as the pattern teacher would. A game won comes
// first, then one still open, a game lost last; remaining ties go to the
// pattern teacher's order. Every search and game stops at the move's time
// budget: the look-ahead keeps the best found so far, and a tied move not
// played on counts as open.

namespace solver {

class TacticalPlayer {
  public:
    enum class Reason { Vcf, Refutation, Threat, Lookahead, Pattern };

    explicit TacticalPlayer(uint64_t seed = 0, double randomness = 0.0, int budgetMs = 250);

    // The move for side `sign` (1 or -1). Returns false only on a full board.
    bool chooseMove(const tools::GameBoard& board, int sign, int* row, int* col);

    // Milliseconds every later move's searches may take.
    void setBudget(int ms) { budgetMs = ms; }

    // Which rule chose the last move.
    Reason lastReason() const { return reason; }

  private:
    int  choose(tools::GameBoard* board, int sign);
    int  lookAhead(tools::GameBoard* board, int sign, int move);
    bool canHold(tools::GameBoard* board, int sign, int threat);
    int  bestAhead(tools::GameBoard* board, int sign, const std::vector<int>& candidates,
                   size_t count, size_t more);
    int  bestPlayedOn(const tools::GameBoard& board, int sign, const std::vector<int>& tied);
    int  playOut(tools::GameBoard board, int sign, int move);
    bool timeLeft() const;

    Solver               solver;
    tools::PatternPlayer pattern;
    tools::PatternPlayer model; // the opponent's expected answers
    Limits               limits;
    VctLimits            vctLimits;
    int                  budgetMs;
    int                  startMs        = 0;
    Reason               reason         = Reason::Pattern;
    bool                 opponentThreat = true; // it may win by threats: moves are checked
};

} // namespace solver
