#include "search/board.h"

#include <algorithm>

namespace mcts {

namespace {

// Counts runs of `sign` along the cells (row + k*dr, col + k*dc), k = kLo..kHi.
// Gives up early once fewer than five cells remain after a break.
bool hasFiveOnLine(int** board, int row, int col, int dr, int dc, int kLo, int kHi, int sign) {
    int count = 0;
    for (int k = kLo; k <= kHi; ++k) {
        if (board[row + k * dr][col + k * dc] == sign) {
            if (++count == 5)
                return true;
        } else {
            count = 0;
            if (kHi - k <= 4)
                return false;
        }
    }
    return false;
}

// Per-line counters of the referee. A cell that is neither side's stone nor
// empty leaves both counts as they are.
struct RunCounter {
    int crosses = 0;
    int circles = 0;

    // Returns the side that reached five with this cell, else 0.
    int add(int cell) {
        if (cell == 0) {
            crosses = circles = 0;
        } else if (cell == CROSS) {
            circles = 0;
            if (++crosses == 5)
                return CROSS;
        } else if (cell == CIRCLE) {
            crosses = 0;
            if (++circles == 5)
                return CIRCLE;
        }
        return 0;
    }
};

// A referee line: `length` cells from (row, col) in direction (dr, dc).
struct LineStart {
    int row, col, dr, dc, length;
};

int scanLine(int** board, const LineStart& line) {
    RunCounter counter;
    for (int k = 0; k < line.length; ++k) {
        const int winner = counter.add(board[line.row + k * line.dr][line.col + k * line.dc]);
        if (winner != 0)
            return winner;
    }
    return 0;
}

} // namespace

int whoWins(int** board, int boardSize, int row, int col, int sign) {
    if (sign == 0 || row < 0 || col < 0 || row >= boardSize || col >= boardSize)
        return 0;
    const int rlo = std::max(row - 4, 0);
    const int rhi = std::min(row + 4, boardSize - 1);
    const int clo = std::max(col - 4, 0);
    const int chi = std::min(col + 4, boardSize - 1);

    // Column, row, falling diagonal, rising diagonal; k is the offset from (row, col).
    if (hasFiveOnLine(board, row, col, 1, 0, rlo - row, rhi - row, sign) ||
        hasFiveOnLine(board, row, col, 0, 1, clo - col, chi - col, sign) ||
        hasFiveOnLine(board, row, col, 1, 1, std::max(rlo - row, clo - col),
                      std::min(rhi - row, chi - col), sign) ||
        hasFiveOnLine(board, row, col, 1, -1, std::max(rlo - row, col - chi),
                      std::min(rhi - row, col - clo), sign))
        return sign;
    return 0;
}

int whoWins(int** board, int boardSize) {
    const int m = boardSize - 1;
    for (int j = 0; j < boardSize; ++j) {
        const int full = boardSize;
        const int part = boardSize - j;
        // clang-format off
        const LineStart lines[6] = {
            {0,     j, 1,  0, full},  // column j
            {j,     0, 0,  1, full},  // row j
            {0,     j, 1,  1, part},  // falling diagonal from (0, j)
            {j,     0, 1,  1, part},  // falling diagonal from (j, 0)
            {j,     m, 1, -1, part},  // rising diagonal from (j, m), read down-left
            {m - j, 0, -1, 1, part},  // rising diagonal from (m - j, 0), read up-right
        };
        // clang-format on
        for (const LineStart& line : lines) {
            const int winner = scanLine(board, line);
            if (winner != 0)
                return winner;
        }
    }
    return 0;
}

int** newBoard(int boardSize) {
    int** board = new int*[boardSize];
    int*  cells = new int[boardSize * boardSize]();
    for (int r = 0; r < boardSize; ++r)
        board[r] = cells + r * boardSize;
    if (boardSize == 0)
        delete[] cells;
    return board;
}

void freeBoard(int** board, int boardSize) {
    if (board == nullptr)
        return;
    if (boardSize > 0)
        delete[] board[0];
    delete[] board;
}

float** newPolicy(int boardSize) {
    float** policy = new float*[boardSize];
    float*  cells  = new float[boardSize * boardSize]();
    for (int r = 0; r < boardSize; ++r)
        policy[r] = cells + r * boardSize;
    if (boardSize == 0)
        delete[] cells;
    return policy;
}

void freePolicy(float** policy, int boardSize) {
    if (policy == nullptr)
        return;
    if (boardSize > 0)
        delete[] policy[0];
    delete[] policy;
}

} // namespace mcts
