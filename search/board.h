#pragma once

// A board is boardSize row pointers to boardSize int cells, board[row][col]:
// 0 empty, 1 CROSS, -1 CIRCLE. Any other non-zero value (a position given
// whole may hold one) is an occupied cell that belongs to neither side.

namespace mcts {

constexpr int CROSS  = 1;
constexpr int CIRCLE = -1;

// Local five test: returns sign when five or more stones of sign run through
// (row, col), else 0. Reads only the 9 x 9 window around the point, and reads
// nothing at all when sign is 0 or the point lies off the board.
int whoWins(int** board, int boardSize, int row, int col, int sign);

// Whole-board referee: 1 when CROSS has five in a row anywhere, -1 when CIRCLE
// has, 0 when neither. When both have one, the first met in scan order wins.
int whoWins(int** board, int boardSize);

// Pair helpers for the square grids the search works on. The rows share one
// block, so a whole board copies in one go; free only with the matching call.
int**   newBoard(int boardSize);
void    freeBoard(int** board, int boardSize);
float** newPolicy(int boardSize);
void    freePolicy(float** policy, int boardSize);

} // namespace mcts
