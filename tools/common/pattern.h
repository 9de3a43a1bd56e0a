#pragma once

#include "tools/common/gameBoard.h"

#include <cstdint>
#include <random>

// The teacher: a fast tactical move chooser. Every empty cell is scored by the
// line shapes that a stone there would make, for the side to move (attack) and
// for the opponent (defence), in the four directions. The forcing moves come
// in a strict order that no score can overturn:
//
//   1. complete an own five;
//   2. block the opponent's five (any cell where the opponent would make five);
//   3. make an own open four or double four, which wins next move;
//   4. otherwise the best combined attack and defence score.
//
// With randomness on, the move is drawn uniformly among the cells that score
// within that fraction of the best one; the first two steps never change.

namespace tools {

// What one stone makes on one line, weakest first. A four has one way to five,
// an open four two or more; an open three becomes an open four with one more
// stone, a three only a four; the twos likewise one step further away. None
// means there is no room for five on that line at all.
enum class Shape : uint8_t { None, One, Two, OpenTwo, Three, OpenThree, Four, OpenFour, Five };

class PatternPlayer {
  public:
    // randomness 0 makes the player deterministic; 0.1 lets it pick among the
    // cells scoring at least 90% of the best.
    explicit PatternPlayer(uint64_t seed = 0, double randomness = 0.0);

    void setRandomness(double value) { randomness = value < 0.0 ? 0.0 : value; }
    void seed(uint64_t value) { rng.seed(value); }

    // The move for side `sign` (1 or -1). Returns false only on a full board.
    bool chooseMove(const GameBoard& board, int sign, int* row, int* col);

    // The shape a stone of `sign` on the empty cell (row, col) would make along
    // direction `dir`: 0 horizontal, 1 vertical, 2 diagonal, 3 anti-diagonal.
    static Shape shapeAt(const GameBoard& board, int row, int col, int sign, int dir);

    // The combined attack and defence score step 4 ranks the empty cell
    // (row, col) by, for side `sign`; occupied cells score -1e18.
    static double cellScore(const GameBoard& board, int row, int col, int sign);

  private:
    bool pickRandomly(int count);
    int  drawIndex(int count);

    std::mt19937_64 rng;
    double          randomness;
};

} // namespace tools
