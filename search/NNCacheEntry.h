#pragma once

#include <cstdint>

namespace mcts {

// One stored network evaluation: the position (packed two bits per cell),
// the side to move, the policy over the board and the value.
class NNCacheEntry {
  public:
    // Each row packs into one 64-bit word, so a wider entry stores nothing and
    // matches nothing.
    static constexpr int MAX_BOARD_SIZE = 32;

    int            boardSize;
    long long      hash;                 // all ones when the entry is empty
    int            sign;                 // side to move; 0 when empty
    std::uint64_t* packedRows = nullptr; // owned; cell (r, c) in bits 2c, 2c + 1 of word r
    float**        policy     = nullptr; // owned; boardSize rows of boardSize
    float          value;                // winning probability of -sign

    explicit NNCacheEntry(int boardSize);
    ~NNCacheEntry();
    NNCacheEntry(const NNCacheEntry&)            = delete;
    NNCacheEntry& operator=(const NNCacheEntry&) = delete;

    void clear();
    int  getMemory() const;

    bool isBoardEqual(int** board) const;
    // True when every stone of `board` stands, in the same colour, in the
    // stored position: the stored position can still arise from `board`.
    bool isPossible(int** board) const;

    void set(long long hash, int** board, float** policy, float value, int sign);

    // The stones of `board` as stored rows hold them, one word per row:
    // `code` has each stone's two-bit code (3, which is never stored, for a
    // cell value other than 0, 1, -1) and `mask` ones over the stones' bits.
    // A stored row equals the board's row exactly when it equals code, and
    // holds the row's stones when (row & mask) == code. At most MAX_BOARD_SIZE.
    static void packStones(int** board, int boardSize, std::uint64_t* code, std::uint64_t* mask);
    // Writes the stored policy and board into the arguments; returns the value.
    float get(int** board, float** policy) const;
};

} // namespace mcts
