#pragma once

#include "search/NNCache.h"
#include "search/Node.h"
#include "search/Tree.h"

namespace depnn {
class QuoriboNetwork;
}

namespace mcts {

// Monte-Carlo tree search of one position, guided by the policy-and-value
// network. Simulations descend by PUCT on a working board, score a five or a
// full board directly, otherwise evaluate the leaf (cache or network under a
// random symmetry), expand it and back the result up the path.
//
// Results are winning probabilities in [0, 1] for the side that made the
// leaf's move; a node on the path gets r when it has the leaf's sign, 1 - r
// otherwise.
class Search {
  public:
    Tree*    tree;  // borrowed from the player
    NNCache* cache; // borrowed from the player
    int      boardSize;
    int**    rootBoard     = nullptr; // owned; position at the root
    int**    board         = nullptr; // owned; working board of one simulation
    float**  policy        = nullptr; // owned; written by network and cache, read by expandNode
    int      rootStones    = 0;
    int*     timers        = nullptr; // owned; four report slots, never advanced
    int      simulations   = 0;
    int      expansions    = 0;
    int      evaluations   = 0;       // plus 1,000,000 per failed descent, at most INT_MAX
    int**    scratchBoard  = nullptr; // owned; transform scratch, empty-cell mask
    float**  scratchPolicy = nullptr; // owned; transform scratch
    Node**   path          = nullptr; // owned array; nodes borrowed from the tree
    int      pathLength    = 0;
    depnn::QuoriboNetwork* network = nullptr; // owned; null until weights load

    Search(Tree* tree, NNCache* cache, int boardSize);
    ~Search();
    Search(const Search&)            = delete;
    Search& operator=(const Search&) = delete;

    void allocate();

    // Loads a weight-file image. False, with the current network untouched,
    // when the image is malformed or made for another board size.
    bool loadFromChar(const char* data, long long length);
    bool hasNetwork() const { return network != nullptr; }

    void setBoard(int** board);
    void exploreRoot();
    void iterate();
    void iterate2();

    // Descends from the root to a leaf along the PUCT choices, filling the
    // path and the working board. False when there is no root or a node on
    // the way has no child to choose.
    bool selection();
    void evaluate(Node* leaf);
    void expandNode(Node* node, int** board, float** policy);
    void backup(float visitsDelta, float value, int pathLength);

    // Board symmetry `transform` (1..7, or -1..-7 for the inverse) applied
    // to both arrays in place; anything else leaves them alone.
    void augment(int** board, float** policy, int transform);

    bool isGameOver(int** board, int row, int col, int sign, int emptyCells) const;
    bool checkForWinningMove(int** board, int row, int col, int sign) const;

    // Counters of the current search on standard output, with the mean
    // step times when asked.
    void getStatus(bool withTimes) const;

  private:
    bool  onBoard(int row, int col) const;
    bool  descend(int* emptyCells);
    void  countFailedDescent();
    float evaluateWithSymmetry(int** board, float** policy, int sideToMove);
    bool  leafResult(const Node* leaf, int emptyCells, float* result) const;
    void  widenRoot(Node* root);
};

} // namespace mcts
