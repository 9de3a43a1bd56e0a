// Search benchmarks: building the node pool and the cache (time and resident
// memory), re-rooting a full-size tree, and simulations per second against
// the rate of bare network evaluations on the same positions.

#include "network/deployedNN.h"
#include "search/mcts.h"
#include "util/platform.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <malloc.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

constexpr int BOARD_SIZE = 20;
constexpr int MAX_NODES  = 2000000;

// Resident set size in bytes, from /proc/self/statm (second field, pages).
// Freed heap memory is handed back first, so a new allocation that reuses it
// still shows up as growth.
double residentBytes() {
    malloc_trim(0);
    long  pages = 0, resident = 0;
    FILE* file = std::fopen("/proc/self/statm", "r");
    if (file == nullptr)
        return 0;
    if (std::fscanf(file, "%ld %ld", &pages, &resident) != 2)
        resident = 0;
    std::fclose(file);
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

// Owns a board allocated with the search's helpers.
struct BenchBoard {
    int** cells = mcts::newBoard(BOARD_SIZE);
    ~BenchBoard() { mcts::freeBoard(cells, BOARD_SIZE); }
    BenchBoard()                             = default;
    BenchBoard(const BenchBoard&)            = delete;
    BenchBoard& operator=(const BenchBoard&) = delete;
};

// Whether either side could complete five with one more stone.
bool hasFour(int** board) {
    for (int r = 0; r < BOARD_SIZE; ++r) {
        for (int c = 0; c < BOARD_SIZE; ++c) {
            if (board[r][c] != 0)
                continue;
            for (int sign : {1, -1}) {
                board[r][c]     = sign;
                const bool wins = mcts::whoWins(board, BOARD_SIZE, r, c, sign) != 0;
                board[r][c]     = 0;
                if (wins)
                    return true;
            }
        }
    }
    return false;
}

// 0: the empty board. 1: a quiet middle game of 40 stones around the centre,
// alternating sides, where neither side can win with its next stone (so the
// search does not collapse onto one forced line). 2: a decided game, the same
// stones plus an open CROSS four on row 2: once CROSS finds the win, nearly
// every simulation ends on it without a network evaluation.
void fillPosition(int** board, int which) {
    for (int r = 0; r < BOARD_SIZE; ++r)
        for (int c = 0; c < BOARD_SIZE; ++c)
            board[r][c] = 0;
    if (which == 0)
        return;
    if (which == 2) {
        fillPosition(board, 1);
        for (int c = 2; c < 6; ++c)
            board[2][c] = 1;
        return;
    }
    unsigned state = 12345;
    int      sign  = 1;
    for (int placed = 0; placed < 40;) {
        state = state * 1103515245u + 12345u;
        int r = 5 + static_cast<int>((state >> 16) % 10);
        state = state * 1103515245u + 12345u;
        int c = 5 + static_cast<int>((state >> 16) % 10);
        if (board[r][c] != 0)
            continue;
        board[r][c] = sign;
        if (hasFour(board)) {
            board[r][c] = 0;
            continue;
        }
        sign = -sign;
        ++placed;
    }
}

void BM_BuildTree(benchmark::State& state) {
    double rss = 0;
    for (auto _ : state) {
        const double before = residentBytes();
        auto         tree   = std::make_unique<mcts::Tree>(MAX_NODES);
        rss                 = std::max(rss, residentBytes() - before);
        benchmark::DoNotOptimize(tree->nodes);
    }
    state.counters["rssMB"] = rss / (1024.0 * 1024.0);
}
BENCHMARK(BM_BuildTree)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_BuildCache(benchmark::State& state) {
    double rss = 0;
    for (auto _ : state) {
        const double before = residentBytes();
        auto         cache  = std::make_unique<mcts::NNCache>(10000, BOARD_SIZE);
        rss                 = std::max(rss, residentBytes() - before);
        benchmark::DoNotOptimize(cache->entries);
    }
    state.counters["rssMB"] = rss / (1024.0 * 1024.0);
}
BENCHMARK(BM_BuildCache)->Unit(benchmark::kMillisecond)->Iterations(5);

// Gives `node` `count` children from the pool, on distinct cells.
void addChildren(mcts::Tree* tree, mcts::Node* node, int count) {
    mcts::Node** children = new mcts::Node*[count];
    for (int i = 0; i < count; ++i) {
        children[i]         = tree->nextNode(i / BOARD_SIZE, i % BOARD_SIZE, -node->sign, 0.01f);
        children[i]->parent = node;
        children[i]->visits = 1;
    }
    if (!tree->expand(node, children, count))
        delete[] children;
}

// A root with 400 children, each with 70, each again with 70: 1,988,401 nodes.
void buildWideTree(mcts::Tree* tree) {
    tree->cut(999, 999, -1);
    mcts::Node* root = tree->root;
    addChildren(tree, root, 400);
    for (int i = 0; i < 400; ++i)
        addChildren(tree, root->children[i], 70);
    for (int i = 0; i < 400; ++i)
        for (int j = 0; j < 70; ++j)
            addChildren(tree, root->children[i]->children[j], 70);
}

// Times the cut of a tree that `build` makes, keeping the root's child
// `keepChild`; the build is outside the timing.
void timeCut(benchmark::State& state, void (*build)(mcts::Tree*), int keepChild) {
    mcts::Tree tree(MAX_NODES);
    tree.free();
    int before = 0;
    int after  = 0;
    for (auto _ : state) {
        state.PauseTiming();
        build(&tree);
        before                 = tree.usedNodes;
        const mcts::Node* keep = tree.root->children[keepChild];
        state.ResumeTiming();
        tree.cut(keep->row, keep->col, keep->sign);
        after = tree.usedNodes;
    }
    state.counters["nodesBefore"] = before;
    state.counters["nodesAfter"]  = after;
}

void BM_TreeCut(benchmark::State& state) {
    timeCut(state, buildWideTree, static_cast<int>(state.range(0)));
}
BENCHMARK(BM_TreeCut)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(5);

// One PUCT choice at a root of 400 children, 40 of them visited, as the root
// of a game's search looks.
void BM_SelectPuct(benchmark::State& state) {
    mcts::Tree tree(MAX_NODES);
    tree.free();
    tree.cut(999, 999, -1);
    mcts::Node* root = tree.root;
    addChildren(&tree, root, 400);
    root->visits = 1000;
    for (int i = 0; i < 400; ++i) {
        mcts::Node* child = root->children[i];
        child->prior      = 0.0001f * static_cast<float>((i * 37) % 101);
        child->visits     = i % 10 == 0 ? static_cast<float>(1 + i % 23) : 0.0f;
        child->valueSum   = child->visits * 0.01f * static_cast<float>(i % 97);
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(root->selectPUCT());
}
BENCHMARK(BM_SelectPuct);

// A tree of the size a one-second search leaves in a game: a root with 400
// children, the first 100 of them with 100 children each, and the first 400
// of those grandchildren with 100 children each (50,401 nodes).
void buildGameTree(mcts::Tree* tree) {
    tree->cut(999, 999, -1);
    mcts::Node* root = tree->root;
    addChildren(tree, root, 400);
    for (int i = 0; i < 100; ++i)
        addChildren(tree, root->children[i], 100);
    for (int i = 0; i < 400; ++i)
        addChildren(tree, root->children[i / 100]->children[i % 100], 100);
}

// Re-rooting a game-sized tree in the brain's pool, keeping the first child's
// subtree (10,101 nodes).
void BM_TreeCutGameTree(benchmark::State& state) {
    timeCut(state, buildGameTree, 0);
}
BENCHMARK(BM_TreeCutGameTree)->Unit(benchmark::kMillisecond)->Iterations(20);

// The tree a one-second search leaves on an empty board, the largest a cut
// meets in a game: every simulation expands a leaf with a child for nearly
// every empty cell. A root with 400 children, 380 of them with 399 children
// each (152,021 nodes); the cut keeps the first child's 400 nodes.
void buildOpeningTree(mcts::Tree* tree) {
    tree->cut(999, 999, -1);
    mcts::Node* root = tree->root;
    addChildren(tree, root, 400);
    for (int i = 0; i < 380; ++i)
        addChildren(tree, root->children[i], 399);
}

void BM_TreeCutOpeningTree(benchmark::State& state) {
    timeCut(state, buildOpeningTree, 0);
}
BENCHMARK(BM_TreeCutOpeningTree)->Unit(benchmark::kMillisecond)->Iterations(20);

// A full cache of 10,000 distinct positions of 30 stones, all holding a CROSS
// at (10, 10), each with its side to move.
void fillCache(mcts::NNCache* cache) {
    BenchBoard board;
    float**    policy = mcts::newPolicy(BOARD_SIZE);
    unsigned   state  = 777;
    for (int i = 0; i < cache->capacity; ++i) {
        for (int r = 0; r < BOARD_SIZE; ++r)
            for (int c = 0; c < BOARD_SIZE; ++c)
                board.cells[r][c] = 0;
        board.cells[10][10] = 1;
        for (int placed = 1; placed < 30;) {
            state       = state * 1103515245u + 12345u;
            const int p = static_cast<int>((state >> 8) % (BOARD_SIZE * BOARD_SIZE));
            if (board.cells[p / BOARD_SIZE][p % BOARD_SIZE] != 0)
                continue;
            board.cells[p / BOARD_SIZE][p % BOARD_SIZE] = placed % 2 == 0 ? 1 : -1;
            ++placed;
        }
        cache->insert(board.cells, policy, 0.5f, i % 2 == 0 ? 1 : -1);
    }
    mcts::freePolicy(policy, BOARD_SIZE);
}

// A lookup of a position the full cache does not hold: the whole table is scanned.
void BM_CacheMissFull(benchmark::State& state) {
    mcts::NNCache cache(10000, BOARD_SIZE);
    fillCache(&cache);
    BenchBoard board;
    fillPosition(board.cells, 1);
    float** policy = mcts::newPolicy(BOARD_SIZE);
    float   value  = 0;
    bool    hit    = false;
    for (auto _ : state)
        hit = cache.get(board.cells, policy, value, 1) || hit;
    mcts::freePolicy(policy, BOARD_SIZE);
    state.counters["hits"]    = hit ? 1 : 0;
    state.counters["entries"] = cache.usedEntries;
}
BENCHMARK(BM_CacheMissFull)->Unit(benchmark::kMicrosecond);

// Cleanup of a full cache after a stone that every entry holds: every entry
// is compared in full and kept, so the cache stays full.
void BM_CacheCleanupFull(benchmark::State& state) {
    mcts::NNCache cache(10000, BOARD_SIZE);
    fillCache(&cache);
    BenchBoard board;
    board.cells[10][10] = 1;
    for (auto _ : state)
        cache.cleanup(board.cells);
    state.counters["entries"] = cache.usedEntries;
}
BENCHMARK(BM_CacheCleanupFull)->Unit(benchmark::kMillisecond);

// The (6 blocks, 32 filters, 32 value units) network used by the rate benchmarks.
const std::vector<char>& benchImage() {
    static const std::vector<char> image =
        depnn::makeRandomWeightImage(BOARD_SIZE, 6, 32, 32, 2024);
    return image;
}

// Bare network evaluations of the position, with a policy, as the search makes them.
void BM_GetOutput(benchmark::State& state) {
    depnn::QuoriboNetwork network(benchImage().data(), static_cast<long long>(benchImage().size()));
    BenchBoard            board;
    fillPosition(board.cells, static_cast<int>(state.range(0)));
    float** policy = mcts::newPolicy(BOARD_SIZE);
    for (auto _ : state)
        benchmark::DoNotOptimize(network.getOutput(board.cells, 1, policy));
    mcts::freePolicy(policy, BOARD_SIZE);
    state.counters["evalsPerSec"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["simdType"] = network.simdType;
}
BENCHMARK(BM_GetOutput)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

// Simulations from the position, as the player runs them: setBoard, exploreRoot,
// then iterate. When the pool fills the search restarts (untimed) on a fresh
// tree and an empty cache, so every timed simulation does real work.
void simulate(benchmark::State& state, const std::vector<char>& image) {
    mcts::Tree    tree(MAX_NODES);
    mcts::NNCache cache(10000, BOARD_SIZE);
    mcts::Search  search(&tree, &cache, BOARD_SIZE);
    search.loadFromChar(image.data(), static_cast<long long>(image.size()));
    BenchBoard board;
    const int  position = static_cast<int>(state.range(0));
    fillPosition(board.cells, position);
    const int rootSign = position == 1 ? 1 : -1; // the side that made the last move

    long long simulations = 0, evaluations = 0;
    auto      restart = [&]() {
        simulations += search.simulations;
        evaluations += search.evaluations;
        cache.clear();
        tree.cut(999, 999, rootSign);
        search.setBoard(board.cells);
        search.exploreRoot();
    };
    restart();
    simulations = evaluations = 0;
    for (auto _ : state) {
        if (tree.isFull) {
            state.PauseTiming();
            restart();
            state.ResumeTiming();
        }
        search.iterate();
    }
    simulations += search.simulations;
    evaluations += search.evaluations;
    state.counters["simsPerSec"] =
        benchmark::Counter(static_cast<double>(simulations), benchmark::Counter::kIsRate);
    state.counters["evalsPerSec"] =
        benchmark::Counter(static_cast<double>(evaluations), benchmark::Counter::kIsRate);
    state.counters["usPerEval"] =
        benchmark::Counter(static_cast<double>(evaluations) * 1e-6,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
void BM_Simulations(benchmark::State& state) {
    simulate(state, benchImage());
}
BENCHMARK(BM_Simulations)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond)->MinTime(4.0);

// The decided position with a network of one 16-filter layer, so that the
// cost of the search itself shows: nearly every simulation descends to the
// winning line and ends on a five.
void BM_DecidedSimulationsSmallNetwork(benchmark::State& state) {
    static const std::vector<char> image = depnn::makeRandomWeightImage(BOARD_SIZE, 1, 16, 8, 5);
    simulate(state, image);
}
BENCHMARK(BM_DecidedSimulationsSmallNetwork)->Arg(2)->Unit(benchmark::kMicrosecond)->MinTime(4.0);

} // namespace
