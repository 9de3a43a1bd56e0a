// Signatures of whole searches: every node of the tree after a search (move,
// visits, value sum, prior, bit for bit), the cache's entries in order and the
// moves the player chooses, hashed and compared with values recorded from the
// engine. Any change to the search, the cache, the pool or the network's
// arithmetic that alters a single result changes a signature; changes that
// only make the engine faster must leave them all alone.

#include "boardPicture.h"
#include "network/deployedNN.h"
#include "search/mcts.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using mcts::LearningPlayer;
using mcts::Move;
using mcts::NNCache;
using mcts::Node;
using mcts::Search;
using mcts::Tree;
using mcts_test::TestBoard;

namespace {

constexpr int N = 20;

// FNV-1a over 32-bit words.
class Signature {
  public:
    void add(std::uint32_t word) {
        for (int i = 0; i < 4; ++i) {
            value ^= (word >> (8 * i)) & 0xff;
            value *= 1099511628211ull;
        }
    }
    void addInt(int v) { add(static_cast<std::uint32_t>(v)); }
    void addFloat(float f) {
        std::uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        add(bits);
    }
    void add64(std::uint64_t v) {
        add(static_cast<std::uint32_t>(v));
        add(static_cast<std::uint32_t>(v >> 32));
    }
    std::uint64_t value = 14695981039346656037ull;
};

// Every node reachable from the root, depth first in child order, then the
// pool's fill.
std::uint64_t treeSignature(const Tree& tree) {
    Signature                sig;
    std::vector<const Node*> stack;
    if (tree.root != nullptr)
        stack.push_back(tree.root);
    while (!stack.empty()) {
        const Node* node = stack.back();
        stack.pop_back();
        for (int v : {node->row, node->col, node->sign, node->childCount})
            sig.addInt(v);
        for (float f : {node->prior, node->visits, node->valueSum})
            sig.addFloat(f);
        for (int i = node->childCount - 1; i >= 0; --i)
            stack.push_back(node->children[i]);
    }
    sig.addInt(tree.usedNodes);
    sig.addInt(tree.isFull ? 1 : 0);
    return sig.value;
}

// The filled entries in slot order: hash, side, value, board and policy.
std::uint64_t cacheSignature(const NNCache& cache) {
    Signature sig;
    sig.addInt(cache.usedEntries);
    for (int i = 0; i < cache.usedEntries; ++i) {
        const mcts::NNCacheEntry* entry = cache.entries[i];
        sig.add64(static_cast<std::uint64_t>(entry->hash));
        sig.addInt(entry->sign);
        sig.addFloat(entry->value);
        for (int r = 0; r < cache.boardSize; ++r) {
            sig.add64(entry->packedRows[r]);
            for (int c = 0; c < cache.boardSize; ++c)
                sig.addFloat(entry->policy[r][c]);
        }
    }
    return sig.value;
}

std::uint64_t searchSignature(const Search& search) {
    Signature sig;
    sig.add64(treeSignature(*search.tree));
    sig.add64(cacheSignature(*search.cache));
    for (int v : {search.simulations, search.expansions, search.evaluations})
        sig.addInt(v);
    return sig.value;
}

// A random network whose policy biases spread over a wide range, so that, as
// with a trained network, most cells fall below the child threshold and the
// tree grows deep rather than wide.
std::vector<char> narrowNetwork(int n, int depth, int filters, int hidden, unsigned seed) {
    std::vector<char> image      = depnn::makeRandomWeightImage(n, depth, filters, hidden, seed);
    const int         firstLayer = filters * (1 + 3 * 25);
    const int         conv3x3    = filters * (1 + filters * 9); // hidden and policy features
    const int policyBiases       = depnn::WEIGHT_HEADER_BYTES + 4 * (firstLayer + depth * conv3x3);
    unsigned  state              = seed;
    for (int p = 0; p < n * n; ++p) {
        state = state * 1103515245u + 12345u;
        depnn::convertFloatToChar4(&image[policyBiases + 4 * p],
                                   -40.0f * static_cast<float>((state >> 16) & 0x7fff) / 32768.0f);
    }
    return image;
}

const char* const MIDDLE_GAME = "\n"
                                "\n"
                                "\n"
                                "\n"
                                "\n"
                                "\n"
                                "......X\n"
                                ".......OX\n"
                                "......XOO\n"
                                ".......XOX\n"
                                "........O\n"
                                "......X..O\n";

// A search whose tree, cache and network stay put between its stages. The
// random generator is seeded first: the cache draws its hash keys from it.
class SignatureSearch {
  public:
    Tree    tree;
    NNCache cache;
    Search  search;

    SignatureSearch(int n, int poolSize, unsigned seed, const std::vector<char>& image)
        : tree((std::srand(seed), poolSize)), cache(10000, n), search(&tree, &cache, n) {
        EXPECT_TRUE(search.loadFromChar(image.data(), static_cast<long long>(image.size())));
    }

    void run(int** board, int simulations) {
        search.setBoard(board);
        search.exploreRoot();
        for (int i = 0; i < simulations; ++i)
            search.iterate();
    }

    // Plays the root's most visited move on the board, as the player does.
    void playBest(int** board) {
        const Node* best = tree.root->selectByVisit();
        ASSERT_NE(best, nullptr);
        const int row = best->row, col = best->col, sign = best->sign;
        board[row][col] = sign;
        cache.cleanup(board);
        tree.cut(row, col, sign);
        ASSERT_EQ(tree.root->row, row);
    }
};

std::string hex(std::uint64_t v) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%016llx", static_cast<unsigned long long>(v));
    return text;
}

} // namespace

// A few hundred simulations in every pass variant this processor runs: the
// float reference, SSE and AVX passes and the two fixed-point ones (which
// agree bit for bit with each other).
TEST(SearchSignature, EveryPassVariant) {
    const std::uint64_t     expected[5] = {0xc1668e91deeccedeull, 0x8533a66e08f70098ull,
                                           0x836f0e0c1171430cull, 0x248297ed065234eeull,
                                           0x248297ed065234eeull};
    const std::vector<char> image       = narrowNetwork(N, 2, 16, 16, 5);
    for (int type = 0; type < 5; ++type) {
        SignatureSearch s(N, 100000, 3, image);
        if (!s.search.network->canRun(type))
            continue;
        s.search.network->simdType = type;
        TestBoard board(N, MIDDLE_GAME);
        s.tree.cut(999, 999, -1);
        s.run(board, 300);
        EXPECT_EQ(hex(searchSignature(s.search)), hex(expected[type])) << "pass " << type;
    }
}

// 25,000 simulations through a filling and then full cache of 10,000
// entries: a tree re-rooted twice after moves (keeping deep subtrees), a
// position given whole afterwards (a fresh root, as BOARD makes) and its tree
// re-rooted twice again, with the processor's float pass.
TEST(SearchSignature, LongSearchWithFullCacheAndReRootedTrees) {
    constexpr int   n = 12; // a small board keeps the sanitizer build quick
    SignatureSearch s(n, 600000, 11, narrowNetwork(n, 1, 16, 8, 9));
    const int       type = s.search.network->simdType;
    if (type != 1 && type != 2)
        GTEST_SKIP() << "signatures recorded for the SSE and AVX float passes";
    const std::uint64_t expected[2][4] = {{0xd9434996ec0e10e6ull, 0x485635c6cfa07678ull,
                                           0x5d6d1edbde219400ull, 0xfd84cb19b3d287d6ull}, // SSE
                                          {0xad91e495dc1b1afcull, 0x1520a2a98c4d16adull,
                                           0x0c7e3fdaf7a0e9b0ull, 0xdf20f0b33d34f61cull}}; // AVX

    TestBoard board(n, MIDDLE_GAME);
    s.tree.cut(999, 999, -1);
    s.run(board, 12000);
    EXPECT_EQ(s.cache.usedEntries, s.cache.capacity);
    EXPECT_EQ(hex(searchSignature(s.search)), hex(expected[type - 1][0]));

    s.playBest(board);
    s.playBest(board);
    EXPECT_GT(s.tree.usedNodes, 1000); // a deep subtree survived both moves
    s.run(board, 3000);
    EXPECT_EQ(hex(searchSignature(s.search)), hex(expected[type - 1][1]));

    // The same position given whole, stone by stone: a fresh root, while the
    // cache keeps what the searches before found.
    TestBoard given(n);
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c)
            if (board[r][c] != 0) {
                given[r][c] = board[r][c];
                s.cache.cleanup(given);
            }
    s.tree.cut(999, 999, 1);
    s.run(given, 2000);
    EXPECT_EQ(hex(searchSignature(s.search)), hex(expected[type - 1][2]));

    s.playBest(given);
    s.playBest(given);
    s.run(given, 8000);
    EXPECT_EQ(hex(searchSignature(s.search)), hex(expected[type - 1][3]));
}

// The player with generation 0's network (weights/history/, fixed for good
// while weights/network.bin moves on with training): the moves it chooses and
// its tree after a BOARD and two TURNs. The clock never ends a search here: the
// start time lies in the future, so each search runs until its small node
// pool is full, a fixed number of simulations.
TEST(SearchSignature, PlayerMovesWithGenerationZero) {
    long long length = 0;
    char* data = depnn::readWeightFile(QUORIBO_SOURCE_DIR "/weights/history/gen-000.bin", &length);
    ASSERT_NE(data, nullptr);
    std::srand(17);
    LearningPlayer player(N, 6000);
    const bool     loaded = player.loadFromChar(data, length);
    delete[] data;
    ASSERT_TRUE(loaded);
    const int type = player.search->network->simdType;
    if (type != 1 && type != 2)
        GTEST_SKIP() << "signatures recorded for the SSE and AVX float passes";
    const std::uint64_t expected[2] = {0xf159c9d06dd83fbdull, 0x9f114cce2c00b20full}; // SSE, AVX

    player.setTimeouts(5000, 1000000000, 1000000000);
    player.START();
    Signature   sig;
    std::string moves;
    auto        record = [&](const Move& m) {
        moves += std::to_string(m.row) + "," + std::to_string(m.col) + " after " +
                 std::to_string(player.search->simulations) + "; ";
        sig.add64(treeSignature(*player.tree));
        sig.add64(cacheSignature(*player.cache));
    };

    // A middle game given whole, then two replies next to the engine's moves.
    Move  stones[] = {Move(10, 10, 1), Move(9, 9, -1), Move(10, 11, 1),
                      Move(8, 8, -1),  Move(9, 10, 1), Move(11, 12, -1)};
    Move* given[]  = {&stones[0], &stones[1], &stones[2], &stones[3], &stones[4], &stones[5]};
    Move  answer;
    player.setStartTime(INT_MAX);
    player.BOARD(&answer, given, 6);
    record(answer);
    for (Move reply : {Move(10, 12, -1), Move(12, 10, -1)}) {
        player.setStartTime(INT_MAX);
        player.TURN(&answer, &reply);
        record(answer);
    }

    EXPECT_EQ(moves, "10,9 after 468; 11,10 after 273; 9,12 after 208; ");
    EXPECT_EQ(hex(sig.value), hex(expected[type - 1]));
}
