#pragma once

namespace mcts {

// One stone: where it goes and which side plays it. The empty move is
// (-1, -1, 0); a protocol pair x,y is carried as row = x, col = y.
class Move {
  public:
    int row;
    int col;
    int sign; // 1 CROSS, -1 CIRCLE, 0 no side

    Move();
    Move(int row, int col, int sign);

    void set(int row, int col, int sign);
    void set(const Move* other);
    bool equals(const Move* other) const;

    // "CROSS (row,col)", "CIRCLE (...)" or "none (...)" on standard output,
    // no line end; a move of any other sign writes nothing.
    void print() const;
};

} // namespace mcts
