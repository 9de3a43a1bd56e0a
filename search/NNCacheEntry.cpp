#include "search/NNCacheEntry.h"

#include "search/board.h"

#include <cstring>

namespace mcts {

namespace {

// Two-bit cell codes. A value other than 0, 1, -1 packs like CIRCLE, so it
// unpacks as -1 and never compares equal to the cell it came from.
constexpr std::uint64_t CODE_EMPTY  = 0;
constexpr std::uint64_t CODE_CROSS  = 1;
constexpr std::uint64_t CODE_CIRCLE = 2;

std::uint64_t packCell(int cell) {
    return cell == 0 ? CODE_EMPTY : cell == CROSS ? CODE_CROSS : CODE_CIRCLE;
}

// The code a cell must have in the stored word to equal `cell`; 3 is never
// stored, so odd values never match.
std::uint64_t matchCode(int cell) {
    return cell == 0 ? CODE_EMPTY : cell == CROSS ? CODE_CROSS : cell == CIRCLE ? CODE_CIRCLE : 3;
}

int unpackCell(std::uint64_t code) {
    return code == CODE_CROSS ? 1 : code == CODE_CIRCLE ? -1 : 0;
}

std::uint64_t codeAt(std::uint64_t word, int col) {
    return (word >> (2 * col)) & 3;
}

} // namespace

NNCacheEntry::NNCacheEntry(int boardSize_) : boardSize(boardSize_) {
    packedRows = new std::uint64_t[boardSize];
    policy     = newPolicy(boardSize);
    clear();
}

NNCacheEntry::~NNCacheEntry() {
    delete[] packedRows;
    freePolicy(policy, boardSize);
}

void NNCacheEntry::clear() {
    hash  = -1;
    sign  = 0;
    value = 0;
    for (int r = 0; r < boardSize; ++r) {
        packedRows[r] = 0;
        for (int c = 0; c < boardSize; ++c)
            policy[r][c] = 0;
    }
}

int NNCacheEntry::getMemory() const {
    return boardSize * (4 * boardSize + 4) + 32;
}

bool NNCacheEntry::isBoardEqual(int** board) const {
    if (boardSize > MAX_BOARD_SIZE)
        return false;
    for (int r = 0; r < boardSize; ++r) {
        const std::uint64_t word = packedRows[r];
        for (int c = 0; c < boardSize; ++c)
            if (codeAt(word, c) != matchCode(board[r][c]))
                return false;
    }
    return true;
}

bool NNCacheEntry::isPossible(int** board) const {
    if (boardSize > MAX_BOARD_SIZE)
        return false;
    for (int r = 0; r < boardSize; ++r) {
        const std::uint64_t word = packedRows[r];
        for (int c = 0; c < boardSize; ++c) {
            const int cell = board[r][c];
            if (cell != 0 && codeAt(word, c) != matchCode(cell))
                return false;
        }
    }
    return true;
}

void NNCacheEntry::set(long long hash_, int** board, float** policy_, float value_, int sign_) {
    if (boardSize > MAX_BOARD_SIZE)
        return;
    hash  = hash_;
    value = value_;
    sign  = sign_;
    for (int r = 0; r < boardSize; ++r) {
        std::memcpy(policy[r], policy_[r], sizeof(float) * boardSize);
        std::uint64_t word = 0;
        for (int c = 0; c < boardSize; ++c)
            word |= packCell(board[r][c]) << (2 * c);
        packedRows[r] = word;
    }
}

void NNCacheEntry::packStones(int** board, int boardSize_, std::uint64_t* code,
                              std::uint64_t* mask) {
    for (int r = 0; r < boardSize_; ++r) {
        std::uint64_t rowCode = 0, rowMask = 0;
        for (int c = 0; c < boardSize_; ++c) {
            const int cell = board[r][c];
            if (cell == 0)
                continue;
            rowCode |= matchCode(cell) << (2 * c);
            rowMask |= std::uint64_t{3} << (2 * c);
        }
        code[r] = rowCode;
        mask[r] = rowMask;
    }
}

float NNCacheEntry::get(int** board, float** policy_) const {
    for (int r = 0; r < boardSize; ++r) {
        std::memcpy(policy_[r], policy[r], sizeof(float) * boardSize);
        const std::uint64_t word = packedRows[r];
        for (int c = 0; c < boardSize; ++c)
            board[r][c] = unpackCell(codeAt(word, c));
    }
    return value;
}

} // namespace mcts
