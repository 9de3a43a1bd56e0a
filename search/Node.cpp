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
    inUse      = false;
    spare0     = -1;
    spare1     = -1;
    expansion  = -1;
}

void Node::free() {
    spare0    = -1;
    spare1    = -1;
    expansion = -1;
    row       = 0;
    col       = 0;
    sign      = 0;
    parent    = nullptr;
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

Node* Node::selectPUCT() const {
    if (childCount <= 0)
        return nullptr;
    const double sqrtParent = std::sqrt(static_cast<double>(visits));
    return selectBest(children, childCount, [sqrtParent](const Node* c) {
        const float u = static_cast<float>(c->prior * sqrtParent / (1.0 + c->visits));
        const float q = c->visits != 0 ? c->valueSum / c->visits : 0.5f;
        return u + q;
    });
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
