#include "boardPicture.h"
#include "network/deployedNN.h"
#include "search/mcts.h"

#include <gtest/gtest.h>

#include <limits>
#include <tuple>
#include <utility>
#include <vector>

using mcts::NNCache;
using mcts::Node;
using mcts::Search;
using mcts::Tree;
using mcts_test::TestBoard;

namespace {

constexpr int N = 20;
constexpr int M = N - 1;

// Where a stone at (r, c) lands under symmetry t, written out independently
// of the search's own table.
std::pair<int, int> movedTo(int t, int r, int c) {
    switch (t) {
    case 1:
        return {c, M - r};
    case 2:
        return {M - r, M - c};
    case 3:
        return {M - c, r};
    case 4:
        return {M - r, c};
    case 5:
        return {r, M - c};
    case 6:
        return {c, r};
    case 7:
        return {M - c, M - r};
    default:
        return {r, c};
    }
}

// A full board without any line longer than two: pairs of equal stones
// shifted by one pair per row.
void fillWithoutFives(TestBoard& board) {
    for (int r = 0; r < N; ++r)
        for (int c = 0; c < N; ++c)
            board[r][c] = ((c + 2 * r) / 2) % 2 == 0 ? 1 : -1;
}

std::vector<char> randomImage(int depth, unsigned seed) {
    return depnn::makeRandomWeightImage(N, depth, 16, 8, seed);
}

class SearchTest : public ::testing::Test {
  protected:
    Tree    tree{200000};
    NNCache cache{2000, N};
    Search  search{&tree, &cache, N};

    void loadNetwork(int depth = 2, unsigned seed = 7) {
        std::vector<char> image = randomImage(depth, seed);
        ASSERT_TRUE(search.loadFromChar(image.data(), static_cast<long long>(image.size())));
    }

    // A fresh root for `board` whose move was made by `lastMover`.
    void startSearch(TestBoard& board, int lastMover) {
        tree.cut(999, 999, lastMover);
        search.setBoard(board);
    }

    Node* childAt(const Node* node, int row, int col) {
        for (int i = 0; i < node->childCount; ++i)
            if (node->children[i]->row == row && node->children[i]->col == col)
                return node->children[i];
        return nullptr;
    }

    Node* mostVisitedRootChild() { return tree.root->selectByVisit(); }
};

} // namespace

TEST_F(SearchTest, GameOverAndWinningMoveChecks) {
    TestBoard board(N, "\n.XXXX\n");
    EXPECT_TRUE(search.checkForWinningMove(board, 1, 5, 1));
    EXPECT_EQ(board[1][5], 0);
    EXPECT_TRUE(search.checkForWinningMove(board, 1, 0, 1));
    EXPECT_FALSE(search.checkForWinningMove(board, 1, 6, 1));
    EXPECT_FALSE(search.checkForWinningMove(board, 1, 5, -1));
    EXPECT_EQ(board[1][5], 0);
    EXPECT_FALSE(search.checkForWinningMove(board, 999, 999, 1));
    EXPECT_TRUE(search.checkForWinningMove(board, 1, 1, 0)); // no side: cell emptied
    EXPECT_EQ(board[1][1], 0);

    board[1][1] = 1;
    board[1][5] = 1;
    EXPECT_TRUE(search.isGameOver(board, 1, 3, 1, 50));
    EXPECT_FALSE(search.isGameOver(board, 1, 3, -1, 50));
    EXPECT_FALSE(search.isGameOver(board, 999, 999, 1, 1));
    EXPECT_TRUE(search.isGameOver(board, 999, 999, 1, 0));
}

TEST_F(SearchTest, AugmentMovesCellsAsTheTableSaysAndInvertsExactly) {
    search.setBoard(TestBoard(N));
    for (int t = 1; t <= 7; ++t) {
        TestBoard board(N);
        board[2][5] = 1;
        board[0][1] = -1;
        for (int r = 0; r < N; ++r)
            for (int c = 0; c < N; ++c)
                search.policy[r][c] = static_cast<float>(r * N + c);
        search.augment(board, search.policy, t);
        for (auto [r, c, stone] : {std::tuple{2, 5, 1}, std::tuple{0, 1, -1}}) {
            auto [nr, nc] = movedTo(t, r, c);
            EXPECT_EQ(board[nr][nc], stone) << "t=" << t;
            EXPECT_EQ(search.policy[nr][nc], static_cast<float>(r * N + c)) << "t=" << t;
        }
        search.augment(board, search.policy, -t);
        for (int r = 0; r < N; ++r) {
            for (int c = 0; c < N; ++c) {
                ASSERT_EQ(search.policy[r][c], static_cast<float>(r * N + c)) << "t=" << t;
                ASSERT_EQ(board[r][c], (r == 2 && c == 5) ? 1 : (r == 0 && c == 1) ? -1 : 0);
            }
        }
    }
    // The inverse pairs and the no-op values.
    for (auto [t, same] : {std::pair{1, -3}, std::pair{3, -1}, std::pair{5, -5}}) {
        TestBoard a(N), b(N);
        a[3][4] = b[3][4] = 1;
        search.augment(a, search.policy, t);
        search.augment(b, search.policy, same);
        auto [r, c] = movedTo(t, 3, 4);
        EXPECT_EQ(a[r][c], 1);
        EXPECT_EQ(b[r][c], 1);
    }
    for (int t : {0, 8, -8, 100}) {
        TestBoard board(N);
        board[3][4] = 1;
        search.augment(board, search.policy, t);
        EXPECT_EQ(board[3][4], 1) << t;
    }
}

TEST_F(SearchTest, LoadFromCharRefusesBadImagesAndRebuildsOnNewShape) {
    std::vector<char> image = randomImage(2, 1);
    EXPECT_FALSE(search.loadFromChar(image.data(), 100)); // truncated
    EXPECT_FALSE(search.loadFromChar(nullptr, 0));
    EXPECT_FALSE(search.hasNetwork());

    ASSERT_TRUE(search.loadFromChar(image.data(), static_cast<long long>(image.size())));
    const depnn::QuoriboNetwork* first = search.network;
    std::vector<char>            same  = randomImage(2, 2);
    ASSERT_TRUE(search.loadFromChar(same.data(), static_cast<long long>(same.size())));
    EXPECT_EQ(search.network, first); // same shape: reloaded in place

    std::vector<char> deeper = randomImage(3, 3);
    ASSERT_TRUE(search.loadFromChar(deeper.data(), static_cast<long long>(deeper.size())));
    EXPECT_EQ(search.network->depth, 3);

    std::vector<char> small = depnn::makeRandomWeightImage(16, 2, 16, 8, 4);
    EXPECT_FALSE(search.loadFromChar(small.data(), static_cast<long long>(small.size())));
    EXPECT_EQ(search.network->boardSize, N);
    EXPECT_EQ(search.network->depth, 3);

    // The rebuilt network evaluates like one built directly from the image.
    TestBoard             board(N, "\n\n...X.O\n");
    depnn::QuoriboNetwork direct(deeper.data(), static_cast<long long>(deeper.size()));
    EXPECT_FLOAT_EQ(search.network->getOutput(board, 1, nullptr),
                    direct.getOutput(board, 1, nullptr));
}

TEST_F(SearchTest, NothingHappensWithoutANetwork) {
    EXPECT_FALSE(search.selection()) << "no root yet";
    TestBoard board(N);
    startSearch(board, -1);
    search.exploreRoot();
    search.iterate();
    search.iterate2();
    EXPECT_EQ(tree.root->childCount, 0);
    EXPECT_EQ(tree.usedNodes, 1);
    EXPECT_EQ(search.simulations, 0);
}

TEST_F(SearchTest, ExploreRootWidensKeepingOldChildrenFirstAndAveragesPriors) {
    loadNetwork();
    TestBoard board(N);
    fillWithoutFives(board);
    const std::vector<std::pair<int, int>> empties = {
        {0, 3}, {2, 2}, {4, 17}, {7, 7}, {9, 0}, {11, 11}, {13, 4}, {15, 15}, {18, 9}, {19, 19}};
    for (auto [r, c] : empties)
        board[r][c] = 0;
    ASSERT_EQ(mcts::whoWins(board, N), 0);
    startSearch(board, -1);

    Node*     root = tree.root;
    Node*     old[3];
    const int oldCells[3] = {7, 2, 5}; // indexes into empties, deliberately out of order
    Node**    kids        = new Node*[3];
    for (int i = 0; i < 3; ++i) {
        auto [r, c] = empties[oldCells[i]];
        old[i] = kids[i] = tree.nextNode(r, c, 1, 0.3f);
    }
    ASSERT_TRUE(tree.expand(root, kids, 3));

    search.exploreRoot();
    ASSERT_EQ(root->childCount, 10);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(root->children[i], old[i]);
    int k = 3;
    for (int e = 0; e < 10; ++e) {
        if (e == 7 || e == 2 || e == 5)
            continue;
        EXPECT_EQ(root->children[k]->row, empties[e].first);
        EXPECT_EQ(root->children[k]->col, empties[e].second);
        EXPECT_EQ(root->children[k]->sign, 1);
        ++k;
    }

    // Priors: the network's policy averaged over the eight symmetries.
    std::vector<float> expected(10, 0.0f);
    float              valueSum = 0;
    TestBoard          turned(N);
    float**            out = mcts::newPolicy(N);
    for (int t = 0; t < 8; ++t) {
        for (int r = 0; r < N; ++r) {
            for (int c = 0; c < N; ++c) {
                auto [nr, nc]  = movedTo(t, r, c);
                turned[nr][nc] = board[r][c];
            }
        }
        valueSum += 1.0f - search.network->getOutput(turned, 1, out);
        for (int i = 0; i < 10; ++i) {
            auto [nr, nc] = movedTo(t, root->children[i]->row, root->children[i]->col);
            expected[i] += out[nr][nc];
        }
    }
    mcts::freePolicy(out, N);
    float priorSum = 0;
    for (int i = 0; i < 10; ++i) {
        EXPECT_NEAR(root->children[i]->prior, expected[i] * 0.125f, 1e-6f) << i;
        priorSum += root->children[i]->prior;
    }
    EXPECT_NEAR(priorSum, 1.0f, 1e-4f);
    EXPECT_FLOAT_EQ(root->visits, 8);
    EXPECT_NEAR(root->valueSum, valueSum, 1e-5f);
    EXPECT_EQ(search.evaluations, 0);

    // A second call keeps the array and only recomputes the priors.
    Node** array = root->children;
    search.exploreRoot();
    EXPECT_EQ(root->children, array);
    EXPECT_FLOAT_EQ(root->visits, 16);
}

TEST_F(SearchTest, ExploreRootOnAnEmptyBoardExpandsEveryCell) {
    loadNetwork();
    TestBoard board(N);
    startSearch(board, -1);
    search.exploreRoot();
    EXPECT_EQ(tree.root->childCount, N * N);
    EXPECT_EQ(search.simulations, 1); // the expanding simulation
    EXPECT_EQ(search.evaluations, 1);
    EXPECT_FLOAT_EQ(tree.root->visits, 9);
    for (int i = 0; i < tree.root->childCount; ++i)
        ASSERT_LT(tree.root->children[i]->prior, 1.0f);
}

TEST_F(SearchTest, FiveAtTheLeafScoresAWinAndIsNeverExpanded) {
    loadNetwork();
    TestBoard board(N, "\n\n..XXXX\n..OOO\n");
    startSearch(board, -1);
    Node* win = tree.nextNode(2, 6, 1, 1.0f);
    ASSERT_TRUE(tree.expand(
        tree.root, new Node* [1] { win }, 1));

    for (int i = 0; i < 5; ++i)
        search.iterate();
    EXPECT_EQ(win->childCount, 0);
    EXPECT_FLOAT_EQ(win->visits, 5);
    EXPECT_FLOAT_EQ(win->valueSum, 5);
    EXPECT_FLOAT_EQ(tree.root->visits, 5);
    EXPECT_FLOAT_EQ(tree.root->valueSum, 0);
    EXPECT_EQ(search.evaluations, 0);
    EXPECT_EQ(search.expansions, 0);
    EXPECT_EQ(search.simulations, 5);
}

TEST_F(SearchTest, FillingTheLastCellIsADrawWithoutNetworkCall) {
    loadNetwork();
    TestBoard board(N);
    fillWithoutFives(board);
    board[10][10] = 0;
    startSearch(board, -1);
    Node* last = tree.nextNode(10, 10, 1, 1.0f);
    ASSERT_TRUE(tree.expand(
        tree.root, new Node* [1] { last }, 1));
    search.iterate();
    search.iterate2();
    EXPECT_FLOAT_EQ(last->valueSum, 1.0f);
    EXPECT_FLOAT_EQ(tree.root->valueSum, 1.0f);
    EXPECT_FLOAT_EQ(last->visits, 2);
    EXPECT_EQ(search.evaluations, 0);
    EXPECT_EQ(last->childCount, 0);
}

TEST_F(SearchTest, ExpansionGivesWinningCellsABonusAndDropsTinyPriors) {
    loadNetwork();
    TestBoard board(N, "\n.XXXX\n");
    startSearch(board, -1);
    for (int r = 0; r < N; ++r)
        for (int c = 0; c < N; ++c)
            search.policy[r][c] = 0.00001f;
    search.policy[5][5] = 0.5f;
    search.policy[1][0] = 0.0f;
    search.expandNode(tree.root, board, search.policy);
    Node* root = tree.root;
    ASSERT_EQ(root->childCount, 3);
    // Row-major: (1,0) and (1,5) win for CROSS, (5,5) passes on its policy.
    EXPECT_EQ(root->children[0]->col, 0);
    EXPECT_FLOAT_EQ(root->children[0]->prior, 2.0f);
    EXPECT_EQ(root->children[1]->col, 5);
    EXPECT_FLOAT_EQ(root->children[1]->prior, 2.00001f);
    EXPECT_EQ(root->children[2]->row, 5);
    EXPECT_EQ(root->children[2]->sign, 1);
    EXPECT_EQ(root->children[2]->parent, root);
    EXPECT_EQ(board[1][0], 0);

    // A second expansion of the same node is discarded.
    const int used = tree.usedNodes;
    search.expandNode(root, board, search.policy);
    EXPECT_EQ(root->childCount, 3);
    EXPECT_GT(tree.usedNodes, used);
}

TEST_F(SearchTest, CountersAndCacheHits) {
    loadNetwork();
    TestBoard board(N, "\n\n\n...X\n....O\n");
    startSearch(board, -1);
    search.iterate();
    EXPECT_EQ(search.evaluations, 1);
    EXPECT_EQ(search.expansions, 1);
    EXPECT_EQ(cache.usedEntries, 1);
    const int   children = tree.root->childCount;
    const float value    = tree.root->valueSum;

    startSearch(board, -1); // same position, fresh tree: the cache answers
    EXPECT_EQ(search.simulations, 0);
    EXPECT_EQ(search.evaluations, 0);
    search.iterate();
    EXPECT_EQ(search.evaluations, 0);
    EXPECT_EQ(search.expansions, 1);
    EXPECT_EQ(search.simulations, 1);
    EXPECT_EQ(tree.root->childCount, children);
    EXPECT_FLOAT_EQ(tree.root->valueSum, value);
}

TEST_F(SearchTest, UncachedSimulationAndFailedDescents) {
    loadNetwork();
    TestBoard board(N, "\n\n\n...X\n....O\n");
    startSearch(board, -1);
    search.iterate2();
    EXPECT_EQ(search.evaluations, 1);
    EXPECT_EQ(search.expansions, 1);
    EXPECT_EQ(search.simulations, 1);
    EXPECT_EQ(cache.usedEntries, 0);
    ASSERT_GT(tree.root->childCount, 0);
    EXPECT_FLOAT_EQ(tree.root->visits, 1);

    // Broken priors: no child can be chosen.
    for (int i = 0; i < tree.root->childCount; ++i)
        tree.root->children[i]->prior = std::numeric_limits<float>::quiet_NaN();
    const int children = tree.root->childCount;
    search.iterate();
    EXPECT_EQ(search.evaluations, 1 + 1000000);
    EXPECT_EQ(search.simulations, 1);
    EXPECT_FLOAT_EQ(tree.root->visits, 1);

    // Without the cache the simulation goes on at the root: its expansion is
    // discarded, the evaluation is backed up.
    search.iterate2();
    EXPECT_EQ(search.evaluations, 2 + 2000000);
    EXPECT_EQ(search.simulations, 2);
    EXPECT_EQ(tree.root->childCount, children);
    EXPECT_FLOAT_EQ(tree.root->visits, 2);

    // A long search with a broken network fails thousands of times: the
    // count stops at the largest int instead of overflowing.
    for (int i = 0; i < 3000; ++i)
        search.iterate();
    EXPECT_EQ(search.evaluations, std::numeric_limits<int>::max());
    EXPECT_EQ(search.simulations, 2);
}

TEST_F(SearchTest, BackupCreditsEachSide) {
    loadNetwork();
    TestBoard board(N);
    startSearch(board, -1);
    for (int i = 0; i < 4; ++i)
        search.iterate(); // a path of some depth
    search.selection();
    ASSERT_GE(search.pathLength, 2);
    std::vector<std::pair<float, float>> before;
    for (int i = 0; i < search.pathLength; ++i)
        before.push_back({search.path[i]->visits, search.path[i]->valueSum});
    search.backup(2.0f, 0.5f, search.pathLength);
    const int leafSign = search.path[search.pathLength - 1]->sign;
    for (int i = 0; i < search.pathLength; ++i) {
        EXPECT_FLOAT_EQ(search.path[i]->visits, before[i].first + 2);
        const float gain = search.path[i]->sign == leafSign ? 0.5f : 1.5f;
        EXPECT_FLOAT_EQ(search.path[i]->valueSum, before[i].second + gain);
    }
}

TEST_F(SearchTest, FullTreeStopsSimulations) {
    loadNetwork();
    Tree              small(50);
    Search            limited(&small, &cache, N);
    std::vector<char> image = randomImage(2, 7);
    ASSERT_TRUE(limited.loadFromChar(image.data(), static_cast<long long>(image.size())));
    TestBoard board(N);
    small.cut(999, 999, -1);
    limited.setBoard(board);
    limited.iterate(); // crosses the limit while expanding
    ASSERT_TRUE(small.isFull);
    const float visits = small.root->visits;
    limited.iterate();
    limited.exploreRoot();
    EXPECT_FLOAT_EQ(small.root->visits, visits);
    EXPECT_EQ(limited.simulations, 1);
}

// The root is expanded by the first simulation, which gives the winning cell
// a prior above 2. (exploreRoot would replace that with the network's own
// prior, about 1/400 for an untrained network, and the win would then wait
// for its turn among hundreds of moves.)
TEST_F(SearchTest, SearchPlaysTheWinningCell) {
    loadNetwork(1);
    // CROSS to move has a four closed at one end; CIRCLE has nothing.
    TestBoard board(N, "\n\n\n\n\n\n\n\n.....OXXXX\n\n.....OO..O\n");
    startSearch(board, -1);
    for (int i = 0; i < 2000; ++i)
        search.iterate();
    Node* best = mostVisitedRootChild();
    ASSERT_NE(best, nullptr);
    EXPECT_EQ(best->row, 8);
    EXPECT_EQ(best->col, 10);
    EXPECT_GT(best->visits, 0.9f * tree.root->visits);
    EXPECT_EQ(best->childCount, 0);
}

// Every other reply lets CROSS complete five one move later, where the bonus
// finds it at once, so each of them soon scores near 0 for CIRCLE.
TEST_F(SearchTest, SearchBlocksTheOpponentsFour) {
    loadNetwork(1);
    // CIRCLE to move; CROSS threatens five at (8, 10) only.
    TestBoard board(N, "\n\n\n\n\n\n\n\n.....OXXXX\n\n....OO.O\n");
    startSearch(board, 1);
    search.exploreRoot();
    for (int i = 0; i < 3000 && !tree.isFull; ++i)
        search.iterate();
    Node* best = mostVisitedRootChild();
    ASSERT_NE(best, nullptr);
    EXPECT_EQ(best->row, 8);
    EXPECT_EQ(best->col, 10);
    EXPECT_GT(search.simulations, 300);
}
