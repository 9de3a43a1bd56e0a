#include "tools/common/searchAgent.h"

#include "search/mcts.h"

#include <algorithm>
#include <cmath>

namespace tools {

namespace {

// The brain's evaluation cache size: the agent searches as the brain does.
constexpr int kCacheEntries = 10000;
// Root of a position without a last move: off the board, so no five test fires.
constexpr int kPlaceholder = 999;
// Noise reaches the empty cells this close (in king moves) to a stone.
constexpr int kNoiseReach = 2;

} // namespace

SearchAgent::SearchAgent(int maxNodes) {
    tree   = new mcts::Tree(maxNodes);
    cache  = new mcts::NNCache(kCacheEntries, kBoardSize);
    search = new mcts::Search(tree, cache, kBoardSize);
    board  = mcts::newBoard(kBoardSize);
    newGame();
}

SearchAgent::~SearchAgent() {
    delete search; // it points into the tree and the cache
    delete tree;
    delete cache;
    mcts::freeBoard(board, kBoardSize);
}

bool SearchAgent::loadNetwork(const std::vector<char>& image) {
    return search->loadFromChar(image.data(), static_cast<long long>(image.size()));
}

void SearchAgent::newGame() {
    tree->free();
    tree->organize();
    cache->clear();
    game.clear();
    for (int r = 0; r < kBoardSize; ++r)
        for (int c = 0; c < kBoardSize; ++c)
            board[r][c] = 0;
}

void SearchAgent::play(int row, int col, int sign) {
    if (!game.place(row, col, sign))
        return;
    board[row][col] = sign;
    cache->cleanup(board);
    tree->cut(row, col, sign);
}

void SearchAgent::think(int sign, int simulations, const RootNoise* noise, std::mt19937_64* rng,
                        SearchResult* out) {
    if (tree->root == nullptr || tree->root->sign != -sign)
        tree->cut(kPlaceholder, kPlaceholder, -sign);
    search->setBoard(board);
    search->exploreRoot();
    if (noise != nullptr)
        addNoise(*noise, rng);
    // A descent that finds no selectable child counts no simulation: the
    // guard ends the loop on a broken network instead of spinning.
    for (int tries = 0;
         search->simulations < simulations && !tree->isFull && tries < 4 * simulations + 64;
         ++tries)
        search->iterate();

    const mcts::Node* root = tree->root;
    std::fill(std::begin(out->visits), std::end(out->visits), 0);
    out->bestCell  = -1;
    int bestVisits = 0;
    for (int i = 0; root != nullptr && i < root->childCount; ++i) {
        const mcts::Node* child = root->children[i];
        if (!onBoard(child->row, child->col))
            continue;
        const int cell    = child->row * kBoardSize + child->col;
        out->visits[cell] = static_cast<int>(child->visits);
        if (out->visits[cell] > bestVisits) {
            bestVisits    = out->visits[cell];
            out->bestCell = cell;
        }
    }
    out->rootValue =
        root != nullptr && root->visits > 0 ? 1.0f - root->valueSum / root->visits : 0.5f;
    out->simulations = search->simulations;
}

bool SearchAgent::nearStone(int row, int col) const {
    for (int r = row - kNoiseReach; r <= row + kNoiseReach; ++r)
        for (int c = col - kNoiseReach; c <= col + kNoiseReach; ++c)
            if (onBoard(r, c) && game.at(r, c) != 0)
                return true;
    return false;
}

void SearchAgent::addNoise(const RootNoise& noise, std::mt19937_64* rng) {
    mcts::Node* root = tree->root;
    if (root == nullptr || root->childCount <= 0)
        return;
    const bool          emptyBoard = game.stoneCount() == 0;
    std::vector<int>    noised;
    std::vector<double> share;
    for (int i = 0; i < root->childCount; ++i) {
        const mcts::Node* child = root->children[i];
        if (onBoard(child->row, child->col) && (emptyBoard || nearStone(child->row, child->col)))
            noised.push_back(i);
    }
    if (noised.empty())
        return;
    std::gamma_distribution<double> gamma(noise.totalAlpha / noised.size(), 1.0);
    double                          sum = 0;
    for (size_t k = 0; k < noised.size(); ++k) {
        share.push_back(gamma(*rng));
        sum += share.back();
    }
    if (!(sum > 0))
        return;
    for (int i = 0; i < root->childCount; ++i)
        root->children[i]->prior *= static_cast<float>(1.0 - noise.weight);
    for (size_t k = 0; k < noised.size(); ++k)
        root->children[noised[k]]->prior += static_cast<float>(noise.weight * share[k] / sum);
}

int sampleByVisits(const SearchResult& result, double temperature, double minShare,
                   std::mt19937_64* rng) {
    const int best = result.bestCell;
    if (best < 0 || !(temperature > 0))
        return best;
    const double floor = minShare * result.visits[best];
    double       weights[kCellCount];
    double       sum = 0;
    for (int cell = 0; cell < kCellCount; ++cell) {
        const int v   = result.visits[cell];
        weights[cell] = v > 0 && v >= floor ? std::pow(static_cast<double>(v) / result.visits[best],
                                                       1.0 / temperature)
                                            : 0.0;
        sum += weights[cell];
    }
    double pick = std::uniform_real_distribution<double>(0.0, sum)(*rng);
    for (int cell = 0; cell < kCellCount; ++cell) {
        if (weights[cell] <= 0)
            continue;
        if (pick < weights[cell])
            return cell;
        pick -= weights[cell];
    }
    return best;
}

} // namespace tools
