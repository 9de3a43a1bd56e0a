#include "tools/solver/threatBoard.h"

#include <random>

namespace solver {

namespace {

using tools::kBoardSize;
using tools::kCellCount;

constexpr int kMaxWindowsPerCell = 20;

struct WindowTables {
    int      cells[kWindowCount][kWindowCells];
    int      through[kCellCount][kMaxWindowsPerCell];
    int      throughCount[kCellCount] = {};
    uint64_t keys[2][kCellCount];

    WindowTables() {
        constexpr int directions[4][2] = {{0, 1}, {1, 0}, {1, 1}, {1, -1}};
        int           window           = 0;
        for (const auto& d : directions)
            for (int row = 0; row < kBoardSize; ++row)
                for (int col = 0; col < kBoardSize; ++col) {
                    const int lastRow = row + 4 * d[0], lastCol = col + 4 * d[1];
                    if (!tools::onBoard(lastRow, lastCol))
                        continue;
                    for (int k = 0; k < kWindowCells; ++k) {
                        const int cell   = (row + k * d[0]) * kBoardSize + col + k * d[1];
                        cells[window][k] = cell;
                        through[cell][throughCount[cell]++] = window;
                    }
                    ++window;
                }
        // Fixed seed: hashes, and so the search's node counts, repeat exactly.
        std::mt19937_64 rng(0x5eed);
        for (auto& side : keys)
            for (uint64_t& k : side)
                k = rng();
    }
};

const WindowTables& tables() {
    static const WindowTables t; // built once, thread-safe
    return t;
}

} // namespace

uint64_t stoneKey(int side, int cell) {
    return tables().keys[side][cell];
}

int ThreatBoard::windowsThrough(int cell, const int** windows) {
    *windows = tables().through[cell];
    return tables().throughCount[cell];
}

const int* ThreatBoard::windowCells(int window) {
    return tables().cells[window];
}

ThreatBoard::ThreatBoard() {
    load(tools::GameBoard());
}

void ThreatBoard::load(const tools::GameBoard& board) {
    for (int8_t& s : stones)
        s = -1;
    for (auto& side : counts)
        for (uint8_t& c : side)
            c = 0;
    for (auto& side : levelCount)
        for (auto& level : side)
            for (uint8_t& c : level)
                c = 0;
    levelFourWindows[0] = levelFourWindows[1] = 0;
    fives[0] = fives[1] = 0;
    key                 = 0;
    for (int cell = 0; cell < kCellCount; ++cell) {
        const int sign = board.at(cell / kBoardSize, cell % kBoardSize);
        if (sign != 0)
            place(cell, sideOf(sign));
    }
}

// Adds (delta 1) or withdraws (delta -1) a live window of `side` at `level`.
void ThreatBoard::setLevel(int side, int window, int level, int delta) {
    if (level < 2)
        return;
    if (level == 5) {
        fives[side] += delta;
        return;
    }
    if (level == 4)
        levelFourWindows[side] += delta;
    uint8_t*   count = levelCount[side][level - 2];
    const int* cells = tables().cells[window];
    for (int k = 0; k < kWindowCells; ++k)
        count[cells[k]] = static_cast<uint8_t>(count[cells[k]] + delta);
}

void ThreatBoard::place(int cell, int side) {
    const int           other = 1 - side;
    const WindowTables& t     = tables();
    for (int i = 0; i < t.throughCount[cell]; ++i) {
        const int w   = t.through[cell][i];
        const int own = counts[side][w], opp = counts[other][w];
        if (opp == 0) {
            setLevel(side, w, own, -1);
            setLevel(side, w, own + 1, 1);
        } else if (own == 0) {
            setLevel(other, w, opp, -1); // the other side's window dies
        }
        counts[side][w] = static_cast<uint8_t>(own + 1);
    }
    stones[cell] = static_cast<int8_t>(side);
    key ^= t.keys[side][cell];
}

void ThreatBoard::remove(int cell, int side) {
    const int           other = 1 - side;
    const WindowTables& t     = tables();
    for (int i = 0; i < t.throughCount[cell]; ++i) {
        const int w   = t.through[cell][i];
        const int own = counts[side][w] - 1, opp = counts[other][w];
        counts[side][w] = static_cast<uint8_t>(own);
        if (opp == 0) {
            setLevel(side, w, own + 1, -1);
            setLevel(side, w, own, 1);
        } else if (own == 0) {
            setLevel(other, w, opp, 1);
        }
    }
    stones[cell] = -1;
    key ^= t.keys[side][cell];
}

int ThreatBoard::fiveCells(int side, int* cells, int max) const {
    int found = 0;
    for (int cell = 0; cell < kCellCount && found < max; ++cell)
        if (levelCount[side][2][cell] > 0 && stones[cell] < 0)
            cells[found++] = cell;
    return found;
}

int ThreatBoard::fiveCellsThrough(int cell, int side, int* cells, int max) const {
    const WindowTables& t     = tables();
    const int           other = 1 - side;
    int                 found = 0;
    for (int i = 0; i < t.throughCount[cell] && found < max; ++i) {
        const int w = t.through[cell][i];
        if (counts[side][w] != 4 || counts[other][w] != 0)
            continue;
        for (int k = 0; k < kWindowCells; ++k) {
            const int c = t.cells[w][k];
            if (stones[c] >= 0)
                continue;
            bool seen = false;
            for (int j = 0; j < found; ++j)
                seen |= cells[j] == c;
            if (!seen)
                cells[found++] = c;
        }
    }
    return found;
}

} // namespace solver
