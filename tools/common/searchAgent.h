#pragma once

#include "tools/common/gameBoard.h"

#include <cstdint>
#include <random>
#include <vector>

namespace mcts {
class Tree;
class NNCache;
class Search;
} // namespace mcts

// A player made of the engine's own search machinery (node pool, evaluation
// cache, PUCT search with its symmetries and subtree reuse) that thinks for a
// fixed number of simulations instead of a time budget. The self-play and
// gating tools drive it; the brain never sees it. Exploration noise exists
// only here: it is mixed into the root priors after the search has set them.

namespace tools {

// Dirichlet noise on the root priors, spread over the cells where a move can
// matter: the empty cells within two of a stone (every cell of an empty board).
struct RootNoise {
    double weight     = 0.25; // share of the prior replaced by noise
    double totalAlpha = 10.0; // Dirichlet concentration, summed over the noised cells
};

struct SearchResult {
    int   visits[kCellCount] = {}; // root child visits per cell, 0 where none
    float rootValue          = 0;  // the side to move's winning rate at the root
    int   simulations        = 0;  // simulations run by this search
    int   bestCell           = -1; // the brain's choice: first most visited root child
};

class SearchAgent {
  public:
    explicit SearchAgent(int maxNodes);
    ~SearchAgent();
    SearchAgent(const SearchAgent&)            = delete;
    SearchAgent& operator=(const SearchAgent&) = delete;

    // The whole weight file; false when the engine refuses it.
    bool loadNetwork(const std::vector<char>& image);

    // Empty board, empty tree, empty cache.
    void newGame();
    // Puts the stone on the board and re-roots the tree at it, keeping the
    // subtree that was searched below it.
    void play(int row, int col, int sign);

    // Searches the current position for `sign` to move with `simulations`
    // new simulations; noise on the root priors when `noise` is given, drawn
    // from `rng`.
    void think(int sign, int simulations, const RootNoise* noise, std::mt19937_64* rng,
               SearchResult* out);

    const GameBoard& position() const { return game; }

  private:
    void addNoise(const RootNoise& noise, std::mt19937_64* rng);
    bool nearStone(int row, int col) const;

    mcts::Tree*    tree   = nullptr; // owned
    mcts::NNCache* cache  = nullptr; // owned
    mcts::Search*  search = nullptr; // owned; owns the network
    int**          board  = nullptr; // owned; the engine's view of the game
    GameBoard      game;
};

// A cell drawn with probability proportional to visits^(1 / temperature),
// among the cells holding at least `minShare` of the largest count;
// `bestCell` when the temperature is 0.
int sampleByVisits(const SearchResult& result, double temperature, double minShare,
                   std::mt19937_64* rng);

} // namespace tools
