#include "search/LearningPlayer.h"

#include "search/NNCache.h"
#include "search/Node.h"
#include "search/Search.h"
#include "search/Tree.h"
#include "search/board.h"
#include "util/platform.h"

#include <climits>
#include <cstdlib>

namespace mcts {

namespace {

constexpr int CACHE_ENTRIES = 10000;

// A root standing for "no last move": off the board, so no five test fires.
constexpr int PLACEHOLDER = 999;

// Simulations between two readings of the clock.
constexpr int BATCH           = 8;
constexpr int MAX_SIMULATIONS = 1000000;

// No plan may reach closer than this to the per-move limit: the answer still
// has to travel back to the manager.
constexpr int SAFETY_MS = 300;

// The single-precision constants the budget rules are stated in. 0.9f lies
// slightly below 0.9 and 0.4f, 0.3f slightly above their decimals, which
// decides the exact boundary cases.
constexpr float SETTLED_RATIO = 0.9f;
constexpr float LOSING        = 0.5f;
constexpr float LOSING_BADLY  = 0.4f;
constexpr float LOSING_FAST   = 0.3f;

int clampToInt(long long v) {
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return static_cast<int>(v);
}

// timeLeft times a single-precision share, rounded to single precision and
// truncated toward zero.
int shareOf(int timeLeft, float share) {
    const float product = static_cast<float>(timeLeft) * share;
    return static_cast<int>(product);
}

// The first child with the strictly largest visit count, or null.
Node* mostVisitedChild(const Node* node) {
    Node*  best      = nullptr;
    double bestScore = -1;
    for (int i = 0; i < node->childCount; ++i) {
        Node* child = node->children[i];
        if (child->visits > bestScore) {
            bestScore = child->visits;
            best      = child;
        }
    }
    return best;
}

// The first child with the strictly largest mean value (0 while unvisited).
Node* bestValuedChild(const Node* node) {
    Node*  best      = nullptr;
    double bestScore = -1;
    for (int i = 0; i < node->childCount; ++i) {
        Node*        child = node->children[i];
        const double q =
            child->visits != 0 ? static_cast<double>(child->valueSum) / child->visits : 0.0;
        if (q > bestScore) {
            bestScore = q;
            best      = child;
        }
    }
    return best;
}

bool hasChildren(const Node* node) {
    return node != nullptr && node->childCount > 0;
}

} // namespace

LearningPlayer::LearningPlayer(int boardSize_, int maxNodes_)
    : maxNodes(maxNodes_), boardSize(boardSize_) {
    tree         = new Tree(maxNodes);
    cache        = new NNCache(CACHE_ENTRIES, boardSize);
    search       = new Search(tree, cache, boardSize);
    distribution = newPolicy(boardSize);
    board        = newBoard(boardSize);
}

LearningPlayer::~LearningPlayer() {
    // The search may still point into the tree and the cache: it goes first.
    delete search;
    delete tree;
    delete cache;
    freeBoard(board, boardSize);
    freePolicy(distribution, boardSize);
}

void LearningPlayer::setSign(int s) {
    if (s == 1 || s == -1)
        sign = s;
}

bool LearningPlayer::loadFromChar(const char* data, long long length) {
    return search->loadFromChar(data, length);
}

bool LearningPlayer::hasNetwork() const {
    return search->hasNetwork();
}

void LearningPlayer::START() {
    tree->free();
    tree->organize();
    clearBoard();
}

void LearningPlayer::clearBoard() {
    stoneCount = 0;
    for (int r = 0; r < boardSize; ++r)
        for (int c = 0; c < boardSize; ++c)
            board[r][c] = 0;
}

bool LearningPlayer::updateBoard(const Move* m) {
    if (m->row < 0 || m->row >= boardSize || m->col < 0 || m->col >= boardSize)
        return false;
    if (board[m->row][m->col] != 0)
        return false;
    ++stoneCount;
    board[m->row][m->col] = m->sign;
    cache->cleanup(board);
    return true;
}

int LearningPlayer::countEmptyCells() const {
    int empty = 0;
    for (int r = 0; r < boardSize; ++r)
        for (int c = 0; c < boardSize; ++c)
            if (board[r][c] == 0)
                ++empty;
    return empty;
}

void LearningPlayer::getRandomMove(Move* m) {
    int remaining = countEmptyCells();
    if (remaining == 0) {
        m->set(-1, -1, 0);
        return;
    }
    const int r = std::rand() % remaining;
    // Columns outside, rows inside, counting the empty cells down to r.
    for (int col = 0; col < boardSize; ++col) {
        for (int row = 0; row < boardSize; ++row) {
            if (board[row][col] != 0)
                continue;
            if (--remaining == r) {
                m->set(row, col, sign);
                return;
            }
        }
    }
}

// A player that was never told its side plays the side whose turn it is:
// CROSS moves first, so an even number of stones means CROSS to move.
void LearningPlayer::takeSideFromStones() {
    if (sign == 0)
        sign = (boardSize * boardSize - countEmptyCells()) % 2 == 0 ? 1 : -1;
}

void LearningPlayer::BEGIN(Move* answer) {
    clearBoard();
    takeSideFromStones();
    tree->cut(PLACEHOLDER, PLACEHOLDER, -sign);
    getMove(answer);
    updateBoard(answer);
    tree->cut(answer->row, answer->col, answer->sign);
}

void LearningPlayer::TURN(Move* answer, Move* opponentMove) {
    if (sign == 0) {
        // The opponent's stone is still to come: take the side after it.
        sign = (boardSize * boardSize - countEmptyCells()) % 2 == 0 ? -1 : 1;
        if (opponentMove->sign == 0)
            opponentMove->sign = -sign;
    }
    updateBoard(opponentMove);
    tree->cut(opponentMove->row, opponentMove->col, opponentMove->sign);
    getMove(answer);
    updateBoard(answer);
    tree->cut(answer->row, answer->col, answer->sign);
}

void LearningPlayer::BOARD(Move* answer, Move** stones, int count) {
    clearBoard();
    for (int i = 0; i < count; ++i)
        updateBoard(stones[i]);
    takeSideFromStones();
    tree->cut(PLACEHOLDER, PLACEHOLDER, -sign);
    getMove(answer);
    updateBoard(answer);
    tree->cut(answer->row, answer->col, answer->sign);
}

void LearningPlayer::setTimeouts(int timeoutTurn_, int timeoutMatch_, int timeLeft_) {
    timeoutTurn  = timeoutTurn_;
    timeoutMatch = timeoutMatch_;
    timeLeft     = timeLeft_;
}

void LearningPlayer::setStartTime(int ticks) {
    startTime = ticks;
}

int LearningPlayer::stepOfTimeLeft() const {
    return shareOf(timeLeft, 0.01f);
}

int LearningPlayer::manageTime() {
    // A root without children (never the case in getMove) counts as unsettled.
    const Node*  root  = tree->root;
    const Node*  child = hasChildren(root) ? mostVisitedChild(root) : nullptr;
    const double ratio = child != nullptr && root->visits != 0
                             ? static_cast<double>(child->visits) / root->visits
                             : 0.0;
    int budget = ratio > SETTLED_RATIO ? shareOf(timeLeft, 0.001f) : shareOf(timeLeft, 0.03f);
    const long long cap = static_cast<long long>(timeoutTurn) - SAFETY_MS;
    if (budget >= cap + 1)
        budget = clampToInt(cap);
    return budget;
}

bool LearningPlayer::extendSearch(int& budget) {
    const long long cap  = static_cast<long long>(timeoutTurn) - SAFETY_MS;
    const Node*     root = tree->root;
    if (budget >= cap || root == nullptr)
        return false;
    const Node* mostVisited = mostVisitedChild(root);
    const Node* bestValued  = bestValuedChild(root);

    long long    extended = budget;
    const double winRate =
        root->visits != 0 ? 1.0 - static_cast<double>(root->valueSum) / root->visits : 1.0;
    if (root->visits != 0 && winRate < LOSING && losingExtensionUsed == 0) {
        losingExtensionUsed = 1;
        extended += stepOfTimeLeft();
        if (winRate < LOSING_BADLY)
            extended += stepOfTimeLeft();
        if (winRate < LOSING_FAST)
            extended += stepOfTimeLeft();
    } else {
        if (mostVisited == bestValued)
            return false;
        if (extensionCount > 1)
            return false;
        ++extensionCount;
        extended += stepOfTimeLeft();
    }
    if (extended >= cap + 1)
        extended = cap;
    budget = clampToInt(extended);
    return true;
}

float LearningPlayer::getDistribution(float** out) {
    for (int r = 0; r < boardSize; ++r)
        for (int c = 0; c < boardSize; ++c)
            out[r][c] = 0;
    const Node* root = tree->root;
    float       sum  = 0;
    if (root != nullptr) {
        for (int i = 0; i < root->childCount; ++i) {
            const Node* child = root->children[i];
            if (child->row < 0 || child->row >= boardSize || child->col < 0 ||
                child->col >= boardSize)
                continue;
            out[child->row][child->col] = child->visits;
            sum += child->visits;
        }
    }
    const float scale = sum != 0 ? 1.0f / sum : 1.0f / static_cast<float>(boardSize * boardSize);
    for (int r = 0; r < boardSize; ++r)
        for (int c = 0; c < boardSize; ++c)
            out[r][c] *= scale;
    if (root == nullptr || root->visits == 0)
        return 1;
    return static_cast<float>(1.0 - static_cast<double>(root->valueSum) / root->visits);
}

void LearningPlayer::getMove(Move* m) {
    m->set(-1, -1, 0);
    Node* root = tree->root;
    // A root with more children than empty cells belongs to another position.
    if (root != nullptr && root->childCount > countEmptyCells())
        return;

    search->setBoard(board);
    search->exploreRoot();
    root = tree->root;

    int budget          = hasChildren(root) ? manageTime() : 0;
    extensionCount      = 0;
    losingExtensionUsed = 0;

    // Without a child there is nothing to search (full board, full pool, or
    // no network): the move then comes from the fallback below.
    while (hasChildren(root)) {
        for (int i = 0; i < BATCH; ++i)
            search->iterate();
        if (search->simulations > MAX_SIMULATIONS || tree->isFull)
            break;
        const int elapsed = tovu::ticksBetween(startTime, tovu::getTickCount());
        if (elapsed <= budget)
            continue;
        if (budget < static_cast<long long>(timeoutTurn) - SAFETY_MS && extendSearch(budget))
            continue;
        break;
    }

    const int elapsed = tovu::ticksBetween(startTime, tovu::getTickCount());
    timeLeft          = clampToInt(static_cast<long long>(timeLeft) - elapsed);

    const Node* chosen = root != nullptr ? mostVisitedChild(root) : nullptr;
    if (chosen == nullptr || chosen->sign == 0)
        getRandomMove(m);
    else
        m->set(chosen->row, chosen->col, chosen->sign);

    rootWinRate = getDistribution(distribution);
}

} // namespace mcts
