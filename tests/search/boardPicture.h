#pragma once

#include "search/board.h"

#include <string>

namespace mcts_test {

// A board owned by a test, filled from a picture: one text line per row,
// 'X' CROSS, 'O' CIRCLE, '#' an odd cell value (7), anything else empty.
// Every line feed ends a row; cells past the picture stay empty.
class TestBoard {
  public:
    int   size;
    int** cells;

    explicit TestBoard(int boardSize = 20) : size(boardSize), cells(mcts::newBoard(boardSize)) {}
    TestBoard(int boardSize, const std::string& picture) : TestBoard(boardSize) { draw(picture); }
    ~TestBoard() { mcts::freeBoard(cells, size); }
    TestBoard(const TestBoard&)            = delete;
    TestBoard& operator=(const TestBoard&) = delete;

    void draw(const std::string& picture) {
        int row = 0, col = 0;
        for (char ch : picture) {
            if (ch == '\n') {
                ++row;
                col = 0;
                continue;
            }
            if (ch == ' ')
                continue;
            if (row < size && col < size)
                cells[row][col] = ch == 'X' ? 1 : ch == 'O' ? -1 : ch == '#' ? 7 : 0;
            ++col;
        }
    }

    int* operator[](int row) { return cells[row]; }
         operator int**() { return cells; }
};

} // namespace mcts_test
