#pragma once

#include "tools/common/gameBoard.h"

#include <random>
#include <string>
#include <vector>

// Opening positions for matches and teacher games. Stones alternate in play
// order, the first one being side 1 (the side that moves first), so after an
// opening of k stones side 1 is to move when k is even.

namespace tools {

// Reads "x,y x,y ..." (blank-separated pairs). Refuses, with a reason in
// `error`, a malformed pair, a cell off the board or taken twice, and an
// opening that already contains five.
bool parseOpening(const std::string& text, std::vector<Stone>* stones, std::string* error);

// `count` random stones in a square around the centre just large enough to
// hold them comfortably; none of them completes a five.
std::vector<Stone> randomOpening(int count, std::mt19937_64* rng);

// Plays the stones on an empty board; false if one does not fit.
bool setUpOpening(const std::vector<Stone>& stones, GameBoard* board);

// The board as text, one line per row x, columns y left to right: X for
// side 1, O for side -1, . for empty.
std::string boardPicture(const GameBoard& board);

} // namespace tools
