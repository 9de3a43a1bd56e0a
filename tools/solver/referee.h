#pragma once

#include "tools/common/gameBoard.h"

#include <string>
#include <vector>

// The referee: replays a claimed winning sequence with nothing but the rules
// of the game (GameBoard's five test, checked on every empty cell), so that a
// fault in the solver's bookkeeping can never turn into a false win.

namespace solver {

// The empty cells where a stone of `sign` would make five or more in a row.
std::vector<int> fiveCellsOf(const tools::GameBoard& board, int sign);

// Checks `line` (cells row * 20 + col) as a win by continuous fours for
// `attackerSign`, who moves first: attacker, reply, attacker, ..., and the
// attacker's five last. Every attacker move before the last makes a four and
// leaves the defender no five of its own; every reply is a cell the attacker
// threatened to complete and does not make five; the last move makes five.
// On a fault returns false and says why in `fault` (when not null).
bool verifyVcf(const tools::GameBoard& board, int attackerSign, const std::vector<int>& line,
               std::string* fault = nullptr);

} // namespace solver
