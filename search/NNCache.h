#pragma once

#include "search/NNCacheEntry.h"

#include <cstdint>

namespace mcts {

// Fixed table of network evaluations keyed by a position hash plus the side
// to move, confirmed by exact board comparison. Filled in order, never
// overwritten while in use, and pruned after every stone really played.
//
// Each entry is a heap object of its own, about 2 KB from the next, so the
// scans of a lookup and of a cleanup read two slot-ordered copies instead:
// `tags` (a 32-bit digest of each entry's hash and side, so a lookup that
// misses reads 4 bytes per entry) and `slotRows` (each entry's packed board).
// Entries change only through this class, which keeps both copies in step.
class NNCache {
  public:
    int            capacity;
    int            boardSize;
    NNCacheEntry** entries     = nullptr; // owned, with every entry
    int            usedEntries = 0;
    long long*     keys        = nullptr; // owned; three per cell: CIRCLE, empty, CROSS
    int            hits        = 0;
    int            lookups     = 0;
    std::uint32_t* tags        = nullptr; // owned; [capacity], slot order
    std::uint64_t* slotRows    = nullptr; // owned; [capacity][boardSize], slot order

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

  private:
    // First slot from `from` on whose tag equals `tag`, or usedEntries.
    int findTag(std::uint32_t tag, int from) const;
};

} // namespace mcts
