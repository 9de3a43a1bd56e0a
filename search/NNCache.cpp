#include "search/NNCache.h"

#include <cstdlib>
#include <utility>

namespace mcts {

namespace {

// Which of a cell's three keys it selects. Values other than 0, 1, -1 take
// the CIRCLE key, as they pack like CIRCLE; the index never leaves the cell's keys.
int keyOffset(int cell) {
    return cell == 0 ? 1 : cell == 1 ? 2 : 0;
}

long long randomKey() {
    const auto r1 = static_cast<unsigned long long>(std::rand());
    const auto r2 = static_cast<unsigned long long>(std::rand());
    const auto r3 = static_cast<unsigned long long>(std::rand());
    return static_cast<long long>((r1 << 32) | (r2 << 1) | (r3 & 1));
}

} // namespace

NNCache::NNCache(int capacity_, int boardSize_) : capacity(capacity_), boardSize(boardSize_) {
    entries = new NNCacheEntry*[capacity];
    for (int i = 0; i < capacity; ++i)
        entries[i] = new NNCacheEntry(boardSize);
    const int keyCount = 3 * boardSize * boardSize;
    keys               = new long long[keyCount];
    for (int i = 0; i < keyCount; ++i)
        keys[i] = randomKey();
}

NNCache::~NNCache() {
    for (int i = 0; i < capacity; ++i)
        delete entries[i];
    delete[] entries;
    delete[] keys;
}

int NNCache::getMemory() const {
    return capacity * (boardSize * (4 * boardSize + 4) + 32) + 12 * boardSize * boardSize + 28;
}

long long NNCache::getHash(int** board) const {
    unsigned long long hash = 0;
    for (int r = 0; r < boardSize; ++r)
        for (int c = 0; c < boardSize; ++c)
            hash ^= static_cast<unsigned long long>(
                keys[3 * (r * boardSize + c) + keyOffset(board[r][c])]);
    return static_cast<long long>(hash);
}

int NNCache::seek(int** board, int sign) const {
    const long long hash = getHash(board);
    for (int i = 0; i < usedEntries; ++i) {
        const NNCacheEntry* entry = entries[i];
        if (entry->hash == hash && entry->sign == sign && entry->isBoardEqual(board))
            return i;
    }
    return -1;
}

bool NNCache::get(int** board, float** policy, float& value, int sign) {
    ++lookups;
    const int index = seek(board, sign);
    if (index < 0)
        return false;
    ++hits;
    value = entries[index]->get(board, policy);
    return true;
}

void NNCache::insert(int** board, float** policy, float value, int sign) {
    if (usedEntries >= capacity || boardSize > NNCacheEntry::MAX_BOARD_SIZE)
        return;
    entries[usedEntries]->set(getHash(board), board, policy, value, sign);
    ++usedEntries;
}

void NNCache::cleanup(int** board) {
    int dropped = 0;
    for (int i = 0; i < usedEntries; ++i) {
        if (entries[i]->isPossible(board))
            std::swap(entries[i], entries[i - dropped]);
        else
            ++dropped;
    }
    for (int i = usedEntries - dropped; i < usedEntries; ++i)
        entries[i]->clear();
    usedEntries -= dropped;
    hits    = 0;
    lookups = 0;
}

void NNCache::clear() {
    usedEntries = 0;
    for (int i = 0; i < capacity; ++i)
        entries[i]->clear();
    hits    = 0;
    lookups = 0;
}

} // namespace mcts
