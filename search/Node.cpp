#include "search/Node.h"

#include <cmath>

namespace mcts {

namespace {

// Shared scan of the selection rules: the first child with the strictly
// greatest score, starting from -1. NaN scores never compare greater.
template <typename Score> Node* selectBest(Node* const* children, int childCount, Score score) {
    Node* best      = nullptr;
    auto  bestScore = decltype(score(children[0]))(-1);
    for (int i = 0; i < childCount; ++i) {
        const auto s = score(children[i]);
        if (s > bestScore) {
            bestScore = s;
            best      = children[i];
        }
    }
    return best;
}

} // namespace

Node::Node() {
    init();
}

// A node expanded with no candidate moves holds an empty array; it is freed
// too, whatever childCount says.
Node::~Node() {
    delete[] children;
}

void Node::init() {
    row        = -1;
    col        = -1;
    sign       = 0;
    parent     = nullptr;
    children   = nullptr;
    childCount = 0;
    prior      = 0;
    visits     = 0;
    valueSum   = 0;
    inUse      = true;
    spare0     = -1;
    spare1     = -1;
}

void Node::free() {
    spare0 = -1;
    spare1 = -1;
    row    = 0;
    col    = 0;
    sign   = 0;
    parent = nullptr;
    delete[] children;
    children   = nullptr;
    childCount = 0;
    prior      = 0;
    visits     = 0;
    valueSum   = 0;
    inUse      = false;
}

int Node::getMemory() const {
    return 48 + 48 * childCount;
}

void Node::update(float visitsDelta, float valueDelta) {
    visits += visitsDelta;
    valueSum += valueDelta;
}

void Node::updateRecursive(float visitsDelta, float valueDelta) {
    update(visitsDelta, valueDelta);
    // Ancestors alternate sides, so each one is credited with the other side's result.
    bool sameSide = false;
    for (Node* node = parent; node != nullptr; node = node->parent) {
        node->update(visitsDelta, sameSide ? valueDelta : visitsDelta - valueDelta);
        sameSide = !sameSide;
    }
}

bool Node::expand(Node** newChildren, int count) {
    if (childCount > 0)
        return false;
    delete[] children; // an earlier expansion without candidates left an empty array
    children   = newChildren;
    childCount = count;
    return true;
}

float Node::getValue() const {
    return visits != 0 ? valueSum / visits : 0.0f;
}

Node* Node::getChild(int index) const {
    if (index < 0 || index >= childCount)
        return nullptr;
    return children[index];
}

Node* Node::select_learn() const {
    if (childCount <= 0)
        return nullptr;
    return selectBest(children, childCount, [](const Node* c) {
        return c->prior / (c->visits + 0.001) + (c->visits != 0 ? c->valueSum / c->visits : 0.0f);
    });
}

namespace {

// The PUCT score U + Q of a child, U = prior * sqrt(Np) / (1 + N) in double
// rounded to float, or -1 (which never replaces a best score) when the child
// cannot beat `threshold`. Both shortcuts leave every choice as it was:
// - an unvisited child divides by exactly 1, so U is the product itself;
// - with a product x >= 0 and N >= 0, U <= float(x), so float(x) + Q bounds
//   the score from above, and a child whose bound does not beat the best so
//   far needs no division: only a strictly greater score replaces the best.
//   A NaN bound means a NaN score, which is never chosen either.
float puctScore(const Node* c, double sqrtParent, float threshold) {
    const double x = c->prior * sqrtParent;
    if (c->visits == 0)
        return static_cast<float>(x) + 0.5f; // an unvisited child counts as an even game
    const float q = c->valueSum / c->visits;
    if (x >= 0 && c->visits >= 0 && !(static_cast<float>(x) + q > threshold))
        return -1;
    return static_cast<float>(x / (1.0 + c->visits)) + q;
}

} // namespace

// The first child with the strictly greatest score; a NaN score never
// compares greater.
Node* Node::selectPUCT() const {
    if (childCount <= 0)
        return nullptr;
    const double sqrtParent = std::sqrt(static_cast<double>(visits));
    Node*        best       = nullptr;
    float        bestScore  = -1;
    for (int i = 0; i < childCount; ++i) {
        const float score = puctScore(children[i], sqrtParent, bestScore);
        if (score > bestScore) {
            bestScore = score;
            best      = children[i];
        }
    }
    return best;
}

Node* Node::selectByWin() const {
    if (childCount <= 0)
        return nullptr;
    return selectBest(children, childCount, [](const Node* c) {
        return c->visits != 0 ? c->valueSum / c->visits : 0.0f;
    });
}

Node* Node::selectByVisit() const {
    if (childCount <= 0)
        return nullptr;
    return selectBest(children, childCount, [](const Node* c) { return c->visits; });
}

Node* Node::selectByMove(int row_, int col_, int sign_) const {
    if (sign_ == 0 || sign == 0)
        return nullptr;
    for (int i = 0; i < childCount; ++i) {
        const Node* c = children[i];
        if (c->row == row_ && c->col == col_ && c->sign == sign_)
            return children[i];
    }
    return nullptr;
}

void Node::markUsedNodes(Node* newParent) {
    parent = newParent;
    inUse  = true;
    for (int i = 0; i < childCount; ++i)
        children[i]->markUsedNodes(this);
}

} // namespace mcts
