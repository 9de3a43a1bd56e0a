#include "tools/solver/referee.h"

#include <algorithm>

namespace solver {

namespace {

using tools::kBoardSize;
using tools::kCellCount;

std::string cellName(int cell) {
    return std::to_string(cell / kBoardSize) + "," + std::to_string(cell % kBoardSize);
}

bool refuse(std::string* fault, const std::string& why) {
    if (fault != nullptr)
        *fault = why;
    return false;
}

bool anyFive(const tools::GameBoard& board) {
    for (int cell = 0; cell < kCellCount; ++cell)
        if (board.makesFive(cell / kBoardSize, cell % kBoardSize))
            return true;
    return false;
}

bool contains(const std::vector<int>& cells, int cell) {
    return std::find(cells.begin(), cells.end(), cell) != cells.end();
}

} // namespace

std::vector<int> fiveCellsOf(const tools::GameBoard& board, int sign) {
    tools::GameBoard copy = board;
    std::vector<int> cells;
    for (int cell = 0; cell < kCellCount; ++cell) {
        const int row = cell / kBoardSize, col = cell % kBoardSize;
        if (!copy.place(row, col, sign))
            continue;
        if (copy.makesFive(row, col))
            cells.push_back(cell);
        copy.remove(row, col);
    }
    return cells;
}

bool verifyVcf(const tools::GameBoard& board, int attackerSign, const std::vector<int>& line,
               std::string* fault) {
    const int attacker = attackerSign > 0 ? 1 : -1, defender = -attacker;
    if (line.empty() || line.size() % 2 == 0)
        return refuse(fault, "a line has an odd number of moves, the attacker's five last");
    if (anyFive(board))
        return refuse(fault, "the game is already over");
    tools::GameBoard game = board;
    for (size_t i = 0; i < line.size(); ++i) {
        const int         cell      = line[i];
        const bool        attacking = i % 2 == 0;
        const bool        last      = i + 1 == line.size();
        const int         sign      = attacking ? attacker : defender;
        const std::string at        = "move " + std::to_string(i + 1);
        if (cell < 0 || cell >= kCellCount)
            return refuse(fault, at + " is off the board");
        const std::vector<int> defenderFives = fiveCellsOf(game, defender);
        if (attacking && !last && !defenderFives.empty() &&
            (defenderFives.size() > 1 || defenderFives[0] != cell))
            return refuse(fault,
                          at + " leaves the defender a five at " + cellName(defenderFives[0]));
        if (!attacking && !defenderFives.empty())
            return refuse(fault, at + ": the defender has a five at " + cellName(defenderFives[0]) +
                                     " instead");
        const std::vector<int> threats =
            attacking ? std::vector<int>() : fiveCellsOf(game, attacker);
        if (!attacking && !contains(threats, cell))
            return refuse(fault, at + " at " + cellName(cell) + " does not stop a five");
        if (!game.place(cell / kBoardSize, cell % kBoardSize, sign))
            return refuse(fault, at + " at " + cellName(cell) + " is not an empty cell");
        const bool five = game.makesFive(cell / kBoardSize, cell % kBoardSize);
        if (last)
            return five ? true : refuse(fault, "the last move " + cellName(cell) + " is no five");
        if (five)
            return refuse(fault, at + " at " + cellName(cell) + " makes five before the end");
        if (attacking && fiveCellsOf(game, attacker).empty())
            return refuse(fault, at + " at " + cellName(cell) + " is not a four");
    }
    return false; // not reached: the last move returns
}

} // namespace solver
