#pragma once

#include <cstdint>

// The plain 20x20 board the tools play on: the teacher, the simple brains, the
// match referee and the teacher-game generator. Cells hold 0 (empty), 1 or -1
// (the two sides); (row, col) is the protocol's (x, y).

namespace tools {

constexpr int kBoardSize = 20;
constexpr int kCellCount = kBoardSize * kBoardSize;

struct Stone {
    int row  = -1;
    int col  = -1;
    int sign = 0;
};

inline bool onBoard(int row, int col) {
    return row >= 0 && row < kBoardSize && col >= 0 && col < kBoardSize;
}

class GameBoard {
  public:
    void clear();

    int  at(int row, int col) const { return cells[row * kBoardSize + col]; }
    bool isEmpty(int row, int col) const { return onBoard(row, col) && at(row, col) == 0; }

    // Puts a stone of side `sign` (1 or -1) on an empty cell. Off-board cells,
    // occupied cells and other signs are refused and leave the board unchanged.
    bool place(int row, int col, int sign);
    void remove(int row, int col);

    // Whether the stone on (row, col) is part of five or more in a row.
    bool makesFive(int row, int col) const;

    int  stoneCount() const { return stones; }
    bool isFull() const { return stones == kCellCount; }

  private:
    int8_t cells[kCellCount] = {};
    int    stones            = 0;
};

} // namespace tools
