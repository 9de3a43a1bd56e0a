#include "boardPicture.h"
#include "search/NNCache.h"
#include "search/NNCacheEntry.h"
#include "search/board.h"

#include <gtest/gtest.h>

#include <vector>

using mcts::NNCache;
using mcts::NNCacheEntry;
using mcts_test::TestBoard;

namespace {

// A policy owned by a test, every cell a distinct value derived from `seed`.
class TestPolicy {
  public:
    int     size;
    float** cells;

    TestPolicy(int boardSize, float seed) : size(boardSize), cells(mcts::newPolicy(boardSize)) {
        for (int r = 0; r < size; ++r)
            for (int c = 0; c < size; ++c)
                cells[r][c] = seed + 0.001f * static_cast<float>(r * size + c);
    }
    ~TestPolicy() { mcts::freePolicy(cells, size); }
    TestPolicy(const TestPolicy&)            = delete;
    TestPolicy& operator=(const TestPolicy&) = delete;

    bool equals(const TestPolicy& other) const {
        for (int r = 0; r < size; ++r)
            for (int c = 0; c < size; ++c)
                if (cells[r][c] != other.cells[r][c])
                    return false;
        return true;
    }
};

} // namespace

TEST(CacheEntryTest, PackingRoundTripsAllColumns) {
    TestBoard board(20, "O..................X\n\n....X.O\n");
    board[19][19] = -1;
    board[19][0]  = 1;
    TestPolicy   policy(20, 0.5f);
    NNCacheEntry entry(20);
    entry.set(42, board, policy.cells, 0.75f, 1);
    EXPECT_TRUE(entry.isBoardEqual(board));

    TestBoard  out(20);
    TestPolicy outPolicy(20, 9.0f);
    EXPECT_FLOAT_EQ(entry.get(out, outPolicy.cells), 0.75f);
    for (int r = 0; r < 20; ++r)
        for (int c = 0; c < 20; ++c)
            EXPECT_EQ(out[r][c], board[r][c]) << r << "," << c;
    EXPECT_TRUE(outPolicy.equals(policy));

    entry.clear();
    EXPECT_EQ(entry.hash, -1);
    EXPECT_EQ(entry.sign, 0);
    EXPECT_FALSE(entry.isBoardEqual(board));
}

TEST(CacheEntryTest, OddCellsNeverMatch) {
    TestBoard    board(20, "X#O\n");
    TestPolicy   policy(20, 0);
    NNCacheEntry entry(20);
    entry.set(1, board, policy.cells, 0.5f, 1);
    EXPECT_FALSE(entry.isBoardEqual(board));
    EXPECT_FALSE(entry.isPossible(board));
    TestBoard asCircle(20, "XOO\n"); // the odd cell was stored as CIRCLE
    EXPECT_TRUE(entry.isBoardEqual(asCircle));
}

TEST(CacheTest, HitNeedsExactBoardAndSign) {
    NNCache    cache(8, 20);
    TestBoard  board(20, "\n..X\n...O\n");
    TestPolicy policy(20, 0.1f);
    cache.insert(board, policy.cells, 0.3f, -1);

    TestPolicy out(20, 5.0f);
    float      value = 0.5f;
    EXPECT_TRUE(cache.get(board, out.cells, value, -1));
    EXPECT_FLOAT_EQ(value, 0.3f);
    EXPECT_TRUE(out.equals(policy));

    TestPolicy untouched(20, 5.0f);
    TestPolicy out2(20, 5.0f);
    value = 0.5f;
    EXPECT_FALSE(cache.get(board, out2.cells, value, 1));
    EXPECT_FLOAT_EQ(value, 0.5f);
    EXPECT_TRUE(out2.equals(untouched));

    TestBoard swapped(20, "\n..O\n...O\n"); // one stone's colour differs
    EXPECT_FALSE(cache.get(swapped, out2.cells, value, -1));
    EXPECT_EQ(cache.lookups, 3);
    EXPECT_EQ(cache.hits, 1);
}

TEST(CacheTest, CollidingHashesFallBackToBoardComparison) {
    NNCache   cache(4, 20);
    TestBoard a(20, "X\n"), b(20, ".X\n");
    // Force every key to zero: all positions share hash 0.
    for (int i = 0; i < 3 * 20 * 20; ++i)
        cache.keys[i] = 0;
    TestPolicy pa(20, 1.0f), pb(20, 2.0f);
    cache.insert(a, pa.cells, 0.1f, 1);
    cache.insert(b, pb.cells, 0.2f, 1);
    EXPECT_EQ(cache.seek(a, 1), 0);
    EXPECT_EQ(cache.seek(b, 1), 1);
    TestBoard c(20, "..X\n");
    EXPECT_EQ(cache.seek(c, 1), -1);
}

TEST(CacheTest, HashUsesOneKeyPerCellAndStaysInTheTable) {
    NNCache   cache(1, 20);
    TestBoard board(20, "XO\n");
    long long expected = 0;
    for (int r = 0; r < 20; ++r)
        for (int c = 0; c < 20; ++c)
            expected ^= cache.keys[3 * (r * 20 + c) + board[r][c] + 1];
    EXPECT_EQ(cache.getHash(board), expected);

    // Odd values, even huge ones in the last cell, take the CIRCLE key.
    TestBoard odd(20, "XO\n");
    odd[19][19] = 1000000;
    odd[0][5]   = -77;
    TestBoard circle(20, "XO\n");
    circle[19][19] = -1;
    circle[0][5]   = -1;
    EXPECT_EQ(cache.getHash(odd), cache.getHash(circle));
    TestPolicy policy(20, 0);
    cache.insert(odd, policy.cells, 0.5f, 1);
    float value = 0;
    EXPECT_FALSE(cache.get(odd, policy.cells, value, 1));
}

TEST(CacheTest, FullTableRefusesInserts) {
    NNCache    cache(3, 20);
    TestPolicy policy(20, 0);
    for (int i = 0; i < 4; ++i) {
        TestBoard board(20);
        board[0][i] = 1;
        cache.insert(board, policy.cells, 0.5f, -1);
    }
    EXPECT_EQ(cache.usedEntries, 3);
    TestBoard last(20);
    last[0][3] = 1;
    EXPECT_EQ(cache.seek(last, -1), -1);
    last[0][3] = 0;
    last[0][2] = 1;
    EXPECT_EQ(cache.seek(last, -1), 2);
}

TEST(CacheTest, CleanupKeepsExactlyThePossiblePositionsInOrder) {
    NNCache    cache(10, 20);
    TestPolicy policy(20, 0);
    // Entry i holds a CROSS at (5,5) when i is even, a CIRCLE there when i % 3
    // == 1, nothing there otherwise; plus a marker stone at (0, i).
    for (int i = 0; i < 8; ++i) {
        TestBoard board(20);
        board[0][i] = -1;
        board[5][5] = i % 2 == 0 ? 1 : i % 3 == 1 ? -1 : 0;
        cache.insert(board, policy.cells, static_cast<float>(i), 1);
    }
    float     value = 0;
    TestBoard probe(20);
    cache.get(probe, policy.cells, value, 1);
    EXPECT_EQ(cache.lookups, 1);

    TestBoard empty(20);
    cache.cleanup(empty);
    EXPECT_EQ(cache.usedEntries, 8);
    EXPECT_EQ(cache.lookups, 0);

    TestBoard game(20);
    game[5][5] = 1;
    cache.cleanup(game);
    ASSERT_EQ(cache.usedEntries, 4);
    for (int k = 0; k < 4; ++k)
        EXPECT_FLOAT_EQ(cache.entries[k]->value, static_cast<float>(2 * k));
    for (int k = 4; k < 8; ++k)
        EXPECT_EQ(cache.entries[k]->hash, -1);
    EXPECT_EQ(cache.hits, 0);

    // Room comes back: new inserts go after the kept entries.
    TestBoard next(20);
    next[5][5] = 1;
    next[9][9] = -1;
    cache.insert(next, policy.cells, 42.0f, -1);
    EXPECT_EQ(cache.seek(next, -1), 4);

    TestBoard withOdd(20);
    withOdd[5][5] = 1;
    withOdd[1][1] = 3;
    cache.cleanup(withOdd);
    EXPECT_EQ(cache.usedEntries, 0);
}

TEST(CacheTest, BoardsWiderThanAWordAreNeverStored) {
    NNCache    cache(2, 33);
    TestBoard  board(33);
    TestPolicy policy(33, 0);
    board[0][32] = 1;
    cache.insert(board, policy.cells, 0.5f, 1);
    EXPECT_EQ(cache.usedEntries, 0);
    EXPECT_EQ(cache.seek(board, 1), -1);
}

namespace {

// The plain scan that the cache's lookups and cleanups must agree with: the
// entries in slot order, compared on the entry objects themselves.
int plainSeek(const NNCache& cache, int** board, int sign) {
    const long long hash = cache.getHash(board);
    for (int i = 0; i < cache.usedEntries; ++i) {
        const NNCacheEntry* entry = cache.entries[i];
        if (entry->hash == hash && entry->sign == sign && entry->isBoardEqual(board))
            return i;
    }
    return -1;
}

std::vector<const NNCacheEntry*> plainSurvivors(const NNCache& cache, int** board) {
    std::vector<const NNCacheEntry*> kept;
    for (int i = 0; i < cache.usedEntries; ++i)
        if (cache.entries[i]->isPossible(board))
            kept.push_back(cache.entries[i]);
    return kept;
}

// A game of random stones near the centre; around it, positions a few stones
// further on, looked up with either side to move, stored on a miss and now
// and then stored twice. The table is small, so it is often full.
void playAgainstPlainScan(NNCache& cache, unsigned seed) {
    TestBoard  game(20);
    TestPolicy policy(20, 0.5f);
    unsigned   state = seed;
    auto       next  = [&state](int range) {
        state = state * 1103515245u + 12345u;
        return static_cast<int>((state >> 16) % static_cast<unsigned>(range));
    };
    int hits = 0, fullLookups = 0;
    for (int step = 0; step < 600; ++step) {
        TestBoard position(20);
        for (int r = 0; r < 20; ++r)
            for (int c = 0; c < 20; ++c)
                position[r][c] = game[r][c];
        for (int extra = next(3); extra > 0; --extra)
            position[7 + next(6)][7 + next(6)] = next(2) == 0 ? 1 : -1;
        const int sign = next(2) == 0 ? 1 : -1;
        const int seen = cache.seek(position, sign);
        ASSERT_EQ(seen, plainSeek(cache, position, sign)) << "step " << step;
        hits += seen >= 0;
        fullLookups += cache.usedEntries == cache.capacity;
        if (seen < 0 || next(8) == 0)
            cache.insert(position, policy.cells, 0.25f, sign);
        if (step % 40 == 39) {
            game[7 + next(6)][7 + next(6)]                  = next(2) == 0 ? 1 : -1;
            const std::vector<const NNCacheEntry*> expected = plainSurvivors(cache, game);
            cache.cleanup(game);
            ASSERT_EQ(cache.usedEntries, static_cast<int>(expected.size()));
            for (int i = 0; i < cache.usedEntries; ++i)
                ASSERT_EQ(cache.entries[i], expected[i]) << "step " << step << " slot " << i;
        }
    }
    EXPECT_GT(hits, 50);         // the comparison covered hits as well as misses
    EXPECT_GT(fullLookups, 100); // and lookups in a full table
}

} // namespace

TEST(CacheTest, LookupsAndCleanupsAgreeWithAPlainScan) {
    NNCache cache(20, 20);
    playAgainstPlainScan(cache, 1);
    // Keys of two bits: nearly every position collides with many others.
    NNCache colliding(20, 20);
    for (int i = 0; i < 3 * 20 * 20; ++i)
        colliding.keys[i] &= 3;
    playAgainstPlainScan(colliding, 2);
}
