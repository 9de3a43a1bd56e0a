#include "search/NNCache.h"

#include <cstdlib>
#include <cstring>
#include <utility>

namespace mcts {

namespace {

// Which of a cell's three keys it selects. Values other than 0, 1, -1 take
// the CIRCLE key, as they pack like CIRCLE; the index never leaves the cell's keys.
int keyOffset(int cell) {
    return cell == 0 ? 1 : cell == 1 ? 2 : 0;
}

// The digest a lookup compares first: equal hashes and sides give equal tags,
// and a tag match is confirmed on the entry itself.
std::uint32_t tagOf(long long hash, int sign) {
    const auto h = static_cast<std::uint64_t>(hash);
    return static_cast<std::uint32_t>(h ^ (h >> 32)) +
           static_cast<std::uint32_t>(sign) * 0x9e3779b9u;
}

// Tags are scanned in blocks of this many, without a branch inside a block.
constexpr int TAG_BLOCK = 16;

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
    tags     = new std::uint32_t[capacity]();
    slotRows = new std::uint64_t[static_cast<long long>(capacity) * boardSize]();
}

NNCache::~NNCache() {
    for (int i = 0; i < capacity; ++i)
        delete entries[i];
    delete[] entries;
    delete[] keys;
    delete[] tags;
    delete[] slotRows;
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

int NNCache::findTag(std::uint32_t tag, int from) const {
    int i = from;
    for (; i + TAG_BLOCK <= usedEntries; i += TAG_BLOCK) {
        unsigned any = 0;
        for (int j = 0; j < TAG_BLOCK; ++j)
            any |= tags[i + j] == tag ? 1u : 0u;
        if (any != 0)
            break;
    }
    for (; i < usedEntries; ++i)
        if (tags[i] == tag)
            return i;
    return usedEntries;
}

// The first entry in slot order with this hash, side and board, as a plain
// scan of the entries finds it; the tags only skip entries that cannot match.
int NNCache::seek(int** board, int sign) const {
    if (boardSize > NNCacheEntry::MAX_BOARD_SIZE)
        return -1;
    const long long     hash = getHash(board);
    const std::uint32_t tag  = tagOf(hash, sign);
    std::uint64_t       code[NNCacheEntry::MAX_BOARD_SIZE];
    std::uint64_t       mask[NNCacheEntry::MAX_BOARD_SIZE];
    bool                packed = false;
    for (int i = findTag(tag, 0); i < usedEntries; i = findTag(tag, i + 1)) {
        const NNCacheEntry* entry = entries[i];
        if (entry->hash != hash || entry->sign != sign)
            continue;
        if (!packed) {
            NNCacheEntry::packStones(board, boardSize, code, mask);
            packed = true;
        }
        const std::uint64_t* rows  = slotRows + static_cast<long long>(i) * boardSize;
        bool                 equal = true;
        for (int r = 0; r < boardSize && equal; ++r)
            equal = rows[r] == code[r];
        if (equal)
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
    const long long hash  = getHash(board);
    NNCacheEntry*   entry = entries[usedEntries];
    entry->set(hash, board, policy, value, sign);
    tags[usedEntries] = tagOf(hash, sign);
    std::memcpy(slotRows + static_cast<long long>(usedEntries) * boardSize, entry->packedRows,
                sizeof(std::uint64_t) * boardSize);
    ++usedEntries;
}

// Entry by entry as NNCacheEntry::isPossible decides it, on the slot-ordered
// packed rows: a row holds the board's stones when (row & mask) == code.
// A board too wide to pack makes every entry impossible, as isPossible says.
void NNCache::cleanup(int** board) {
    const bool    packable = boardSize <= NNCacheEntry::MAX_BOARD_SIZE;
    std::uint64_t code[NNCacheEntry::MAX_BOARD_SIZE];
    std::uint64_t mask[NNCacheEntry::MAX_BOARD_SIZE];
    if (packable)
        NNCacheEntry::packStones(board, boardSize, code, mask);
    int dropped = 0;
    for (int i = 0; i < usedEntries; ++i) {
        const std::uint64_t* rows     = slotRows + static_cast<long long>(i) * boardSize;
        std::uint64_t        mismatch = packable ? 0 : 1;
        for (int r = 0; r < boardSize && packable; ++r)
            mismatch |= (rows[r] & mask[r]) ^ code[r];
        if (mismatch != 0) {
            ++dropped;
        } else if (dropped > 0) {
            std::swap(entries[i], entries[i - dropped]);
            tags[i - dropped] = tags[i];
            std::memcpy(slotRows + static_cast<long long>(i - dropped) * boardSize, rows,
                        sizeof(std::uint64_t) * boardSize);
        }
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
