#pragma once

#include "tools/common/gameBoard.h"
#include "tools/solver/referee.h"
#include "tools/solver/threatBoard.h"

#include <cstdint>
#include <vector>

// Threat-space solver for the 20x20 board where five or more in a row win.
// This is the header tools include; it is never linked into the brain.
//
//   solver::Solver s;                                  // one per thread
//   solver::VcfResult win = s.vcf(board, sign);        // sign: 1 or -1, to move
//   if (win.verdict == solver::Verdict::Win) play(win.line[0]);
//   solver::DefenceResult d = s.defences(board, sign); // against the other side
//
// Cells are row * 20 + col, as in the teacher records. Every win the solver
// reports has been replayed by the referee (referee.h).
//
// A VCF (victory by continuous fours): each attacker move makes a four, so the
// defender must block it (or make a five of its own, which ends the line); the
// last attacker move makes five. The search deepens one four at a time, so
// the line found is a shortest one, and remembers refuted positions in a
// transposition table kept across queries.

namespace solver {

struct Limits {
    int64_t maxNodes = 200000; // attacker positions visited, per query
    int     maxFours = 24;     // longest line searched, in attacker fours
    // With `timed`, searches give up (none found within the limits) once the
    // millisecond clock (tovu::getTickCount) reaches `deadlineMs`.
    bool timed      = false;
    int  deadlineMs = 0;
};

// Win: a verified line. None: no VCF of any length exists. Unknown: none found
// within the limits.
enum class Verdict : uint8_t { Win, None, Unknown };

struct VcfResult {
    Verdict          verdict = Verdict::Unknown;
    std::vector<int> line; // attacker, reply, attacker, ..., the attacker's five
    int64_t          nodes = 0;

    int length() const { return static_cast<int>(line.size() + 1) / 2; } // attacker moves
};

// The answer to an opponent's VCF, for the side to move. `threatened` says
// whether the opponent has a VCF (as if it moved next); `threat` is its line.
// `moves` are the refutations: the moves after which the opponent has no VCF
// within the limits and that do not lose to a five at once, a winning five and
// counter-fours that gain tempo included. Empty while threatened: the position
// is lost to the VCF. `exact` is false when some verdict was Unknown (such
// moves are counted as refutations) or the opponent's VCF itself was Unknown.
struct DefenceResult {
    bool             threatened = false;
    bool             exact      = true;
    VcfResult        threat;
    std::vector<int> moves;
    int64_t          nodes = 0;
};

struct VctLimits {
    int     threats  = 2;       // quiet threats along any line of play
    int     fours    = 3;       // fours played on the way to them, along any line
    int64_t maxNodes = 2000000; // attacker positions over all the VCF searches
    Limits  vcf;                // for each VCF search
};

struct VctResult {
    Verdict verdict = Verdict::Unknown; // None: no win within `threats` threats
    int     move    = -1;
    int64_t nodes   = 0;
};

class Solver {
  public:
    // The transposition table holds 2^tableBits entries of 16 bytes.
    explicit Solver(int tableBits = 20);
    ~Solver();
    Solver(const Solver&)            = delete;
    Solver& operator=(const Solver&) = delete;

    // A VCF for `attackerSign`, who moves next on `board`.
    VcfResult vcf(const tools::GameBoard& board, int attackerSign, const Limits& limits = {});

    // The refutations for `defenderSign`, who moves next, of the other side's
    // VCF. Each check of a move runs under `limits`.
    DefenceResult defences(const tools::GameBoard& board, int defenderSign,
                           const Limits& limits = {});

    // A win by threats for `attackerSign`, who moves next: a VCF, or a quiet
    // move making a three after which the attacker threatens a VCF, the
    // defender has none, and every refutation of the threat (a counter-four
    // among them counts as holding) meets such a win again, with at most
    // `threats` quiet threats in all; or a four whose forced block leaves such
    // a win (at most `fours` of them along a line). `move` is the first move
    // of the win.
    VctResult vct(const tools::GameBoard& board, int attackerSign, const VctLimits& limits = {});

  private:
    static constexpr int kTempoMoves = 2; // counter-fours a refutation may start with

    struct Entry {
        uint64_t key;
        int32_t  depth; // refuted with this many fours left (kExhausted: at any depth)
    };
    static_assert(sizeof(Entry) == 16, "the table's size is stated in entries of 16 bytes");

    // On the board as it stands: the line in `found`, or the verdict.
    Verdict searchVcf(int attacker, const Limits& limits);
    bool    attack(int attacker, int foursLeft);
    void    store(int attacker, int depth);
    bool    refuted(int attacker, int foursLeft);
    bool    pastDeadline() const;

    bool refutes(int defender, int move, int tempoLeft, bool* exact);
    bool anyRefutation(int defender, int tempoLeft, bool* exact);
    void candidates(int defender, const std::vector<int>& threat, std::vector<int>* moves);
    bool lineStillWins(int attacker, const std::vector<int>& line);
    void listRefutations(int defender, std::vector<int>* moves, bool* exact);
    bool vctAttack(int attacker, int threatsLeft, int foursLeft, int* move);
    bool vctFour(int attacker, int threatsLeft, int foursLeft, int* move);
    bool vctDefends(int defender, int threatsLeft, int foursLeft);
    bool vctOutOfBudget();

    ThreatBoard      board;
    Entry*           table = nullptr; // owned
    uint64_t         tableMask;
    int64_t          nodes      = 0;
    int64_t          nodeLimit  = 0;
    bool             aborted    = false;
    bool             timed      = false; // the search under way has a deadline
    int              deadline   = 0;
    int64_t          depthHits  = 0; // attacker nodes cut by the depth limit
    int64_t          totalNodes = 0; // over the searches of one defence query
    int64_t          vctLimit   = 0; // on totalNodes during a VCT query
    bool             vctAborted = false;
    std::vector<int> found;  // the winning line (built backwards, then turned)
    Limits           limits; // of the defence query under way
};

} // namespace solver
