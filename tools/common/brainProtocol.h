#pragma once

#include "tools/common/gameBoard.h"

#include <functional>
#include <iosfwd>
#include <string>

// The brain side of the protocol for the tool brains (the pattern teacher and
// the random player): START, BEGIN, TURN, BOARD ... DONE, INFO, END, ABOUT and
// RESTART. The board is kept from the brain's own view: its stones are 1, the
// opponent's -1. Handlers write their answer into a string; only the loop
// prints, so the handlers are testable without capturing stdout.

namespace tools {

// Picks a move for side `sign` on `board`; false when there is none.
using MoveChooser = std::function<bool(const GameBoard& board, int sign, int* row, int* col)>;

class BrainProtocol {
  public:
    BrainProtocol(MoveChooser moveChooser, std::string aboutLine);

    // Handles one input line and leaves the answer in `answer` (empty for
    // none). Returns false once END has been handled.
    bool handleLine(const std::string& line, std::string* answer);

    const GameBoard& currentBoard() const { return board; }

    // The time per move from INFO timeout_turn in milliseconds, -1 until given.
    int turnTimeMs() const { return turnMs; }

  private:
    void start(const std::string& line, std::string* answer);
    void restart(std::string* answer);
    void begin(std::string* answer);
    void turn(const std::string& line, std::string* answer);
    void boardLine(const std::string& line, std::string* answer);
    void play(std::string* answer);
    void info(const std::string& line);

    MoveChooser chooser;
    std::string about;
    GameBoard   board;
    bool        started      = false;
    bool        readingBoard = false;
    int         turnMs       = -1;
};

// Reads lines from `in` until END or end of input, printing each non-empty
// answer on its own line to `out` and flushing it. Returns the exit status.
int runBrainLoop(BrainProtocol* protocol, std::istream& in, std::ostream& out);

} // namespace tools
