#include "search/Tree.h"

#include <utility>

namespace mcts {

Tree::Tree(int maxNodes_)
    : maxNodes(maxNodes_), poolSize(maxNodes_ + SPARE_NODES), recycledFrom(poolSize) {
    block = new Node[poolSize];
    nodes = new Node*[poolSize];
    for (int i = 0; i < poolSize; ++i)
        nodes[i] = &block[i];
}

// Deleting the block runs every node's destructor, which frees its children array.
Tree::~Tree() {
    delete[] block;
    delete[] nodes;
}

int Tree::getMemory() const {
    int memory = 72 + 48 * poolSize;
    for (int i = 0; i < poolSize; ++i)
        memory += block[i].getMemory();
    return memory;
}

namespace {

// Slots point anywhere in the block once compaction has moved them, so a
// walk over many slots costs more per node than a straight pass over the
// block. Beyond this share of the pool the straight pass over all of it is
// the cheaper way to reach every node in those slots.
constexpr int SLOT_WALK_SHARE = 8; // one eighth

} // namespace

// Freeing a recycled node changes nothing, so only the slots before
// recycledFrom need it.
void Tree::free() {
    root      = nullptr;
    isFull    = false;
    usedNodes = 0;
    if (recycledFrom > poolSize / SLOT_WALK_SHARE) {
        for (int i = 0; i < poolSize; ++i)
            block[i].free();
    } else {
        for (int i = 0; i < recycledFrom; ++i)
            nodes[i]->free();
    }
    recycledFrom = 0;
}

Node* Tree::nextNode(int row, int col, int sign, float prior) {
    ++usedNodes;
    if (usedNodes > maxNodes)
        isFull = true;
    if (usedNodes > poolSize)
        return nullptr;
    if (usedNodes > recycledFrom)
        recycledFrom = usedNodes;
    Node* node  = nodes[usedNodes - 1];
    node->row   = row;
    node->col   = col;
    node->sign  = sign;
    node->prior = prior;
    return node;
}

void Tree::organize() {
    // usedNodes counts refused requests too; only real slots are walked.
    const int used    = usedNodes < poolSize ? usedNodes : poolSize;
    int       dropped = 0;
    // A dropped node is freed as the walk reaches it, while its line is at
    // hand, and a kept node's mark is cleared the same way: with every node
    // unmarked between cuts, a cut needs no pass of its own to clear marks.
    for (int i = 0; i < used; ++i) {
        if (nodes[i]->inUse) {
            nodes[i]->inUse = false;
            std::swap(nodes[i], nodes[i - dropped]);
        } else {
            nodes[i]->free();
            ++dropped;
        }
    }
    usedNodes = used - dropped;
    isFull    = usedNodes > maxNodes;
    if (recycledFrom <= used)
        recycledFrom = usedNodes;
}

void Tree::cut(int row, int col, int sign) {
    Node* played = nullptr;
    if (root != nullptr && sign != 0 && root->sign != 0)
        played = root->selectByMove(row, col, sign);

    if (played != nullptr) {
        root = played;
        root->markUsedNodes(nullptr);
        organize();
        return;
    }

    free();
    root = nextNode(row, col, sign, 0);
}

} // namespace mcts
