#pragma once

#include "search/NNCacheEntry.h"

namespace mcts {

// Fixed table of network evaluations keyed by a position hash plus the side
// to move, confirmed by exact board comparison. Filled in order, never
// overwritten while in use, and pruned after every stone really played.
class NNCache {
  public:
    int            capacity;
    int            boardSize;
    NNCacheEntry** entries     = nullptr; // owned, with every entry
    int            usedEntries = 0;
    long long*     keys        = nullptr; // owned; three per cell: CIRCLE, empty, CROSS
    int            hits        = 0;
    int            lookups     = 0;

    NNCache(int capacity, int boardSize);
    ~NNCache();
    NNCache(const NNCache&)            = delete;
    NNCache& operator=(const NNCache&) = delete;

    int getMemory() const;

    long long getHash(int** board) const;
    int       seek(int** board, int sign) const;
    // On a hit fills `policy`, rewrites `board` with the stored (identical)
    // position and sets `value`; on a miss touches nothing.
    bool get(int** board, float** policy, float& value, int sign);
    // Stores a new evaluation while there is room; a full cache refuses it.
    void insert(int** board, float** policy, float value, int sign);
    // Drops the entries that can no longer occur once `board` is on the game board.
    void cleanup(int** board);
    void clear();
};

} // namespace mcts
