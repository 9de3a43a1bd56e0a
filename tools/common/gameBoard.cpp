#include "tools/common/gameBoard.h"

namespace tools {

namespace {

constexpr int kDirections[4][2] = {{0, 1}, {1, 0}, {1, 1}, {1, -1}};

int countRun(const GameBoard& board, int row, int col, int dr, int dc, int sign) {
    int count = 0;
    for (int r = row + dr, c = col + dc; onBoard(r, c) && board.at(r, c) == sign; r += dr, c += dc)
        ++count;
    return count;
}

} // namespace

void GameBoard::clear() {
    for (int8_t& cell : cells)
        cell = 0;
    stones = 0;
}

bool GameBoard::place(int row, int col, int sign) {
    if (!isEmpty(row, col) || (sign != 1 && sign != -1))
        return false;
    cells[row * kBoardSize + col] = static_cast<int8_t>(sign);
    ++stones;
    return true;
}

void GameBoard::remove(int row, int col) {
    if (!onBoard(row, col) || at(row, col) == 0)
        return;
    cells[row * kBoardSize + col] = 0;
    --stones;
}

bool GameBoard::makesFive(int row, int col) const {
    if (!onBoard(row, col) || at(row, col) == 0)
        return false;
    const int sign = at(row, col);
    for (const auto& d : kDirections) {
        const int run = 1 + countRun(*this, row, col, d[0], d[1], sign) +
                        countRun(*this, row, col, -d[0], -d[1], sign);
        if (run >= 5)
            return true;
    }
    return false;
}

} // namespace tools
