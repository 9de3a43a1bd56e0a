#include "search/Move.h"

namespace mcts {

Move::Move() : row(-1), col(-1), sign(0) {}

Move::Move(int row_, int col_, int sign_) : row(row_), col(col_), sign(sign_) {}

void Move::set(int row_, int col_, int sign_) {
    row  = row_;
    col  = col_;
    sign = sign_;
}

void Move::set(const Move* other) {
    set(other->row, other->col, other->sign);
}

bool Move::equals(const Move* other) const {
    return row == other->row && col == other->col && sign == other->sign;
}

} // namespace mcts
