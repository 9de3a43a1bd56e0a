#pragma once

#include "tools/common/gameBoard.h"

#include <cstdint>

// The solver's board: besides the stones it keeps, for every five-cell
// window of the board (a run of five cells along a row, column or diagonal),
// how many stones each side has in it. A window that holds stones of one side
// only is "live" for that side at the level of its stone count, and every
// cell of a live window at level 2, 3 or 4 counts it:
//
//   level 4: the window's empty cell completes five (overlines included,
//            since a longer run always contains a full window);
//   level 3: a stone on either empty cell makes a four;
//   level 2: a stone on either empty cell makes a three.
//
// Placing or removing a stone touches the at most 20 windows through its
// cell, so the four-making cells of a side are known at once.

namespace solver {

constexpr int kWindowCount = 1152; // 4 directions: 320 + 320 + 256 + 256
constexpr int kWindowCells = 5;

// Sides are 0 (the tools' sign 1) and 1 (sign -1).
inline int sideOf(int sign) {
    return sign > 0 ? 0 : 1;
}
inline int signOf(int side) {
    return side == 0 ? 1 : -1;
}

class ThreatBoard {
  public:
    ThreatBoard();

    void load(const tools::GameBoard& board);

    // Both assume a legal change: an empty cell for place, a stone of
    // `side` for remove.
    void place(int cell, int side);
    void remove(int cell, int side);

    bool isEmpty(int cell) const { return stones[cell] < 0; }
    int  stoneAt(int cell) const { return stones[cell]; } // -1 empty, else the side

    // Windows of `side` at level 4: the side has a cell completing five.
    int  fiveThreats(int side) const { return levelFourWindows[side]; }
    bool hasFive(int side) const { return fives[side] > 0; }

    // Live windows of `side` at level 4, 3 and 2 through `cell`.
    int fiveCount(int side, int cell) const { return levelCount[side][2][cell]; }
    int fourCount(int side, int cell) const { return levelCount[side][1][cell]; }
    int threeCount(int side, int cell) const { return levelCount[side][0][cell]; }

    // The distinct empty cells completing five for `side`, at most `max`;
    // returns how many were written. The whole board is scanned.
    int fiveCells(int side, int* cells, int max) const;

    // The same, but only cells of windows through `cell`: after a move on
    // `cell` by a side that had no five threat, all its threats are there.
    int fiveCellsThrough(int cell, int side, int* cells, int max) const;

    uint64_t hash() const { return key; }

    // The windows through `cell` (at most 20) and the five cells of a window.
    static int        windowsThrough(int cell, const int** windows);
    static const int* windowCells(int window);

  private:
    void setLevel(int side, int window, int level, int delta);

    int8_t   stones[tools::kCellCount];
    uint8_t  counts[2][kWindowCount];
    uint8_t  levelCount[2][3][tools::kCellCount]; // levels 2, 3, 4
    int      levelFourWindows[2] = {0, 0};
    int      fives[2]            = {0, 0}; // windows holding five stones of a side
    uint64_t key                 = 0;
};

// Zobrist key of `side` owning `cell`; the solver adds its own keys on top.
uint64_t stoneKey(int side, int cell);

} // namespace solver
