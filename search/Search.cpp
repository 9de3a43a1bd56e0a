#include "search/Search.h"

#include "network/deployedNN.h"
#include "network/weightFile.h"
#include "search/board.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace mcts {

namespace {

// Cells whose policy value is below this get no child (unless they win at once).
constexpr float MIN_CHILD_PRIOR = 0.00002f;
// Added to the policy of a cell where the side to move completes five.
constexpr float WIN_BONUS = 2.0f;
// Prior of a root child the network gave no child; replaced by the averaged policy.
constexpr float WIDENED_PRIOR = 0.001f;
constexpr int   SYMMETRIES    = 8;
// Added to `evaluations` by a descent that finds no child to choose, so such
// failures stand out in the counters.
constexpr int FAILED_DESCENT_PENALTY = 1000000;

template <typename T> void copyGrid(T** dst, T** src, int n) {
    for (int r = 0; r < n; ++r)
        std::memcpy(dst[r], src[r], sizeof(T) * n);
}

// grid[i][j] = old[source(i, j)] over the whole grid.
template <typename T, typename Source> void remap(T** grid, T** old, int n, Source source) {
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            const auto [r, c] = source(i, j);
            grid[i][j]        = old[r][c];
        }
}

// new[i][j] = old[source] for one symmetry, m = n - 1. Inverse pairs share a
// case: 1 with -3, 3 with -1; the others are their own inverses. The symmetry
// is chosen once, outside the loop over the cells.
template <typename T> void transformGrid(T** grid, T** old, int n, int transform) {
    const int m = n - 1;
    using Cell  = std::pair<int, int>;
    // clang-format off
    switch (transform) {
    case  1: case -3: remap(grid, old, n, [m](int i, int j) { return Cell{m - j, i}; });     break; // quarter turn clockwise
    case  2: case -2: remap(grid, old, n, [m](int i, int j) { return Cell{m - i, m - j}; }); break; // half turn
    case  3: case -1: remap(grid, old, n, [m](int i, int j) { return Cell{j, m - i}; });     break; // quarter turn anticlockwise
    case  4: case -4: remap(grid, old, n, [m](int i, int j) { return Cell{m - i, j}; });     break; // rows reversed
    case  5: case -5: remap(grid, old, n, [m](int i, int j) { return Cell{i, m - j}; });     break; // columns reversed
    case  6: case -6: remap(grid, old, n, [](int i, int j) { return Cell{j, i}; });          break; // transpose
    case  7: case -7: remap(grid, old, n, [m](int i, int j) { return Cell{m - j, m - i}; }); break; // anti-transpose
    default: break;
    }
    // clang-format on
}

} // namespace

Search::Search(Tree* tree_, NNCache* cache_, int boardSize_)
    : tree(tree_), cache(cache_), boardSize(boardSize_) {
    allocate();
}

Search::~Search() {
    delete[] path;
    freePolicy(policy, boardSize);
    freeBoard(rootBoard, boardSize);
    freeBoard(board, boardSize);
    freeBoard(scratchBoard, boardSize);
    freePolicy(scratchPolicy, boardSize);
    delete[] timers;
    delete network;
}

void Search::allocate() {
    path          = new Node*[boardSize * boardSize + 1];
    policy        = newPolicy(boardSize);
    rootBoard     = newBoard(boardSize);
    board         = newBoard(boardSize);
    scratchBoard  = newBoard(boardSize);
    scratchPolicy = newPolicy(boardSize);
    timers        = new int[4]();
}

bool Search::loadFromChar(const char* data, long long length) {
    depnn::NetworkShape shape;
    const char*         reason = nullptr;
    if (!depnn::checkWeightImage(data, length, &shape, &reason))
        return false;
    if (shape.boardSize != boardSize)
        return false;
    if (network != nullptr && network->boardSize == shape.boardSize &&
        network->depth == shape.depth && network->filters == shape.filters &&
        network->valueHidden == shape.valueHidden) {
        return network->loadFromChar(data, length) > 0;
    }
    // The image has passed every check, so the build cannot be refused. The
    // old network goes first: two networks at the memory cap side by side
    // would push the brain past a tournament's memory limit.
    delete network;
    network = new depnn::QuoriboNetwork(data, length);
    return true;
}

void Search::setBoard(int** newRootBoard) {
    copyGrid(rootBoard, newRootBoard, boardSize);
    rootStones = 0;
    for (int r = 0; r < boardSize; ++r) {
        for (int c = 0; c < boardSize; ++c) {
            policy[r][c] = 0;
            if (rootBoard[r][c] != 0)
                ++rootStones;
        }
    }
    for (int i = 0; i < 4; ++i)
        timers[i] = 0;
    simulations = 0;
    expansions  = 0;
    evaluations = 0;
}

bool Search::onBoard(int row, int col) const {
    return row >= 0 && col >= 0 && row < boardSize && col < boardSize;
}

// Replays the PUCT choices from the root onto `board`. False when a node on
// the way has children but none can be chosen, or the tree does not fit the
// board (a child off the board, or a path longer than the board allows).
bool Search::descend(int* emptyCells) {
    copyGrid(board, rootBoard, boardSize);
    path[0]           = tree->root;
    pathLength        = 1;
    *emptyCells       = boardSize * boardSize - rootStones;
    const int maxPath = boardSize * boardSize + 1;
    for (Node* node = tree->root; !node->isLeaf();) {
        Node* child = node->selectPUCT();
        if (child == nullptr) {
            countFailedDescent();
            return false;
        }
        if (pathLength >= maxPath || !onBoard(child->row, child->col))
            return false;
        path[pathLength++]            = child;
        board[child->row][child->col] = child->sign;
        --*emptyCells;
        node = child;
    }
    return true;
}

// A broken network (a NaN policy) makes every descent fail, and a long search
// fails millions of times: the count stops at the largest int instead of
// overflowing.
void Search::countFailedDescent() {
    evaluations = evaluations > INT_MAX - FAILED_DESCENT_PENALTY
                      ? INT_MAX
                      : evaluations + FAILED_DESCENT_PENALTY;
}

bool Search::selection() {
    if (tree->root == nullptr)
        return false;
    int emptyCells = 0;
    return descend(&emptyCells);
}

// A finished game at the leaf: the leaf's move made five (a win for its side)
// or filled the board (a draw).
bool Search::leafResult(const Node* leaf, int emptyCells, float* result) const {
    if (whoWins(board, boardSize, leaf->row, leaf->col, leaf->sign) != 0) {
        *result = 1.0f;
        return true;
    }
    if (emptyCells == 0) {
        *result = 0.5f;
        return true;
    }
    return false;
}

// The network's value for the side that did not move, i.e. for the leaf's
// side, with the position seen under a random symmetry. The policy comes
// back in the board's own orientation.
float Search::evaluateWithSymmetry(int** evalBoard, float** evalPolicy, int sideToMove) {
    const int transform = std::rand() % SYMMETRIES;
    augment(evalBoard, evalPolicy, transform);
    const float result = 1.0f - network->getOutput(evalBoard, sideToMove, evalPolicy);
    ++evaluations;
    augment(evalBoard, evalPolicy, -transform);
    return result;
}

void Search::iterate() {
    if (network == nullptr || tree->root == nullptr)
        return;
    int emptyCells = 0;
    if (!descend(&emptyCells))
        return;
    if (tree->isFull)
        return;

    Node* leaf   = path[pathLength - 1];
    float result = 0.5f;
    if (!leafResult(leaf, emptyCells, &result)) {
        const int sideToMove = -leaf->sign;
        if (!cache->get(board, policy, result, sideToMove)) {
            result = evaluateWithSymmetry(board, policy, sideToMove);
            cache->insert(board, policy, result, sideToMove);
        }
        expandNode(leaf, board, policy);
        ++expansions;
    }
    backup(1.0f, result, pathLength);
    ++simulations;
}

void Search::iterate2() {
    if (network == nullptr || tree->root == nullptr)
        return;
    selection(); // a failed descent goes on from the node where it stopped
    if (tree->isFull)
        return;

    Node*     leaf       = path[pathLength - 1];
    const int emptyCells = boardSize * boardSize - rootStones - (pathLength - 1);
    float     result     = 0.5f;
    if (leafResult(leaf, emptyCells, &result))
        backup(1.0f, result, pathLength);
    else
        evaluate(leaf);
    ++simulations;
}

void Search::evaluate(Node* leaf) {
    const int transform = std::rand() % SYMMETRIES;
    augment(board, policy, transform);
    const float result = 1.0f - network->getOutput(board, -leaf->sign, policy);
    augment(board, policy, -transform);
    expandNode(leaf, board, policy);
    ++expansions;
    backup(1.0f, result, pathLength);
    ++evaluations;
}

void Search::expandNode(Node* node, int** nodeBoard, float** nodePolicy) {
    const int sideToMove = -node->sign;
    int       count      = 0;
    for (int r = 0; r < boardSize; ++r) {
        for (int c = 0; c < boardSize; ++c) {
            if (nodeBoard[r][c] != 0)
                continue;
            if (sideToMove == 0 || checkForWinningMove(nodeBoard, r, c, sideToMove))
                nodePolicy[r][c] += WIN_BONUS;
            if (nodePolicy[r][c] >= MIN_CHILD_PRIOR)
                ++count;
        }
    }
    if (count == 0)
        return; // nothing to expand into; the node stays a leaf

    Node** children = new Node*[count];
    int    made     = 0;
    for (int cell = 0; cell < boardSize * boardSize && made < count; ++cell) {
        const int r = cell / boardSize;
        const int c = cell % boardSize;
        if (nodeBoard[r][c] != 0 || !(nodePolicy[r][c] >= MIN_CHILD_PRIOR))
            continue;
        Node* child = tree->nextNode(r, c, sideToMove, nodePolicy[r][c]);
        if (child == nullptr)
            break; // pool exhausted: keep the children made so far
        child->parent    = node;
        children[made++] = child;
    }
    if (!tree->expand(node, children, made))
        delete[] children;
}

void Search::backup(float visitsDelta, float value, int length) {
    if (length < 1 || length > pathLength)
        return;
    const int leafSign = path[length - 1]->sign;
    for (int i = 0; i < length; ++i) {
        Node* node = path[i];
        node->visits += visitsDelta;
        node->valueSum += node->sign == leafSign ? value : visitsDelta - value;
    }
}

void Search::exploreRoot() {
    Node* root = tree->root;
    if (tree->isFull || root == nullptr || network == nullptr)
        return;
    if (root->childCount <= 0)
        iterate();
    widenRoot(root);

    for (int i = 0; i < root->childCount; ++i)
        root->children[i]->prior = 0;
    for (int t = 0; t < SYMMETRIES; ++t) {
        augment(rootBoard, policy, t);
        const float value = 1.0f - network->getOutput(rootBoard, -root->sign, policy);
        augment(rootBoard, policy, -t);
        root->valueSum += value;
        root->visits += 1;
        for (int i = 0; i < root->childCount; ++i) {
            Node* child = root->children[i];
            if (onBoard(child->row, child->col))
                child->prior += policy[child->row][child->col];
        }
    }
    for (int i = 0; i < root->childCount; ++i)
        root->children[i]->prior *= 0.125f;
}

// Gives the root a child for every empty cell: the existing children first,
// in their order, then new ones in row-major order.
void Search::widenRoot(Node* root) {
    int emptyCells = 0;
    for (int r = 0; r < boardSize; ++r) {
        for (int c = 0; c < boardSize; ++c) {
            scratchBoard[r][c] = rootBoard[r][c] == 0 ? 1 : 0;
            emptyCells += scratchBoard[r][c];
        }
    }
    const int oldCount = root->childCount > 0 ? root->childCount : 0;
    if (oldCount == emptyCells)
        return;

    int stillMarked = emptyCells;
    for (int i = 0; i < oldCount; ++i) {
        const Node* child = root->children[i];
        if (onBoard(child->row, child->col) && scratchBoard[child->row][child->col] == 1) {
            scratchBoard[child->row][child->col] = 0;
            --stillMarked;
        }
    }
    // Sized from what is really there, so a root whose children do not match
    // the position cannot overrun the array.
    Node** children = new Node*[oldCount + stillMarked];
    int    made     = 0;
    for (int i = 0; i < oldCount; ++i)
        children[made++] = root->children[i];
    for (int cell = 0; cell < boardSize * boardSize; ++cell) {
        const int r = cell / boardSize;
        const int c = cell % boardSize;
        if (scratchBoard[r][c] != 1)
            continue;
        Node* child = tree->nextNode(r, c, -root->sign, WIDENED_PRIOR);
        if (child == nullptr)
            break;
        children[made++] = child;
    }
    if (!tree->widen(root, children, made))
        delete[] children;
}

void Search::augment(int** augBoard, float** augPolicy, int transform) {
    if (transform == 0 || transform < -7 || transform > 7)
        return;
    copyGrid(scratchBoard, augBoard, boardSize);
    copyGrid(scratchPolicy, augPolicy, boardSize);
    transformGrid(augBoard, scratchBoard, boardSize, transform);
    transformGrid(augPolicy, scratchPolicy, boardSize, transform);
}

bool Search::isGameOver(int** gameBoard, int row, int col, int sign, int emptyCells) const {
    if (whoWins(gameBoard, boardSize, row, col, sign) != 0)
        return true;
    return emptyCells == 0;
}

bool Search::checkForWinningMove(int** gameBoard, int row, int col, int sign) const {
    if (sign == 0) {
        if (onBoard(row, col))
            gameBoard[row][col] = 0;
        return true;
    }
    if (!onBoard(row, col))
        return false;
    gameBoard[row][col] = sign;
    const bool wins     = whoWins(gameBoard, boardSize, row, col, sign) == sign;
    gameBoard[row][col] = 0;
    return wins;
}

} // namespace mcts
