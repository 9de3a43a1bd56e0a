#include "tools/common/openings.h"

#include "tools/common/protocolText.h"

#include <cstdio>
#include <sstream>

namespace tools {

bool parseOpening(const std::string& text, std::vector<Stone>* stones, std::string* error) {
    stones->clear();
    GameBoard          board;
    std::istringstream words(text);
    std::string        word;
    while (words >> word) {
        Stone stone;
        stone.sign = stones->size() % 2 == 0 ? 1 : -1;
        if (!parseCoordinates(word, &stone.row, &stone.col)) {
            *error = "not a move: \"" + word + "\"";
            return false;
        }
        if (!board.place(stone.row, stone.col, stone.sign)) {
            *error = "off the board or taken: \"" + word + "\"";
            return false;
        }
        if (board.makesFive(stone.row, stone.col)) {
            *error = "contains five: \"" + word + "\"";
            return false;
        }
        stones->push_back(stone);
    }
    return true;
}

std::vector<Stone> randomOpening(int count, std::mt19937_64* rng) {
    std::vector<Stone> stones;
    if (count <= 0)
        return stones;
    if (count > kCellCount / 2)
        count = kCellCount / 2;
    // Room for about three cells per stone, at least a 5x5 square.
    int side = 5;
    while (side < kBoardSize && side * side < 3 * count)
        ++side;
    const int                          low = (kBoardSize - side) / 2;
    std::uniform_int_distribution<int> pick(low, low + side - 1);
    GameBoard                          board;
    for (int tries = 0; static_cast<int>(stones.size()) < count && tries < 100 * count; ++tries) {
        Stone stone{pick(*rng), pick(*rng), stones.size() % 2 == 0 ? 1 : -1};
        if (!board.place(stone.row, stone.col, stone.sign))
            continue;
        if (board.makesFive(stone.row, stone.col)) {
            board.remove(stone.row, stone.col);
            continue;
        }
        stones.push_back(stone);
    }
    return stones;
}

bool setUpOpening(const std::vector<Stone>& stones, GameBoard* board) {
    board->clear();
    for (const Stone& stone : stones)
        if (!board->place(stone.row, stone.col, stone.sign))
            return false;
    return true;
}

std::string boardPicture(const GameBoard& board) {
    std::string picture = "   ";
    char        number[8];
    for (int col = 0; col < kBoardSize; ++col) {
        std::snprintf(number, sizeof number, "%3d", col);
        picture += number;
    }
    picture += '\n';
    for (int row = 0; row < kBoardSize; ++row) {
        std::snprintf(number, sizeof number, "%2d ", row);
        picture += number;
        for (int col = 0; col < kBoardSize; ++col) {
            const int v = board.at(row, col);
            picture += "  ";
            picture += v == 1 ? 'X' : (v == -1 ? 'O' : '.');
        }
        picture += '\n';
    }
    return picture;
}

} // namespace tools
