#include "search/Tree.h"

#include <algorithm>

namespace mcts {

Tree::Tree(int maxNodes_) : maxNodes(maxNodes_), poolSize(maxNodes_ + SPARE_NODES) {
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

// The recorded nodes hold every children array but the root's after a
// widening that found no node to add; every other node is freed as it is
// handed out again.
void Tree::free() {
    for (const Expansion& expansion : expansions)
        expansion.node->free();
    expansions.clear();
    if (root != nullptr)
        root->free();
    root      = nullptr;
    isFull    = false;
    usedNodes = 0;
}

Node* Tree::nextNode(int row, int col, int sign, float prior) {
    ++usedNodes;
    if (usedNodes > maxNodes)
        isFull = true;
    if (usedNodes > poolSize)
        return nullptr;
    Node* node = nodes[usedNodes - 1];
    node->free(); // a node a cut dropped keeps its old fields until now
    node->row   = row;
    node->col   = col;
    node->sign  = sign;
    node->prior = prior;
    return node;
}

// Whether `children` are the last `count` nodes handed out, in order, after
// every recorded run.
bool Tree::isLastRun(Node* const* children, int count) const {
    const int end      = usedNodes < poolSize ? usedNodes : poolSize;
    const int first    = end - count;
    const int recorded = expansions.empty() ? 0 : expansions.back().first + expansions.back().count;
    if (count <= 0 || first < recorded)
        return false;
    for (int i = 0; i < count; ++i)
        if (children[i] != nodes[first + i])
            return false;
    return true;
}

void Tree::record(Node* node, int count) {
    const int end = usedNodes < poolSize ? usedNodes : poolSize;
    expansions.push_back({node, end - count, count, node->parent ? node->parent->expansion : -1});
    if (node->expansion < 0)
        node->expansion = static_cast<int>(expansions.size()) - 1;
}

bool Tree::expand(Node* node, Node** children, int count) {
    if (!isLastRun(children, count) || !node->expand(children, count))
        return false;
    record(node, count);
    return true;
}

bool Tree::widen(Node* node, Node** children, int count) {
    const int old = node->childCount > 0 ? node->childCount : 0;
    if (count < old || (count > old && !isLastRun(children + old, count - old)))
        return false;
    for (int i = 0; i < old; ++i)
        if (children[i] != node->children[i])
            return false;
    delete[] node->children;
    node->children   = children;
    node->childCount = count;
    if (count > old)
        record(node, count - old);
    return true;
}

// The slot of `child` from the runs recorded for `node`, whose children array
// holds them one after the other; -1 when they do not hold it.
int Tree::slotOfChild(const Node* node, const Node* child) const {
    int index = 0;
    while (index < node->childCount && node->children[index] != child)
        ++index;
    if (index == node->childCount || node->expansion < 0)
        return -1;
    for (std::size_t k = static_cast<std::size_t>(node->expansion); k < expansions.size(); ++k) {
        const Expansion& expansion = expansions[k];
        if (expansion.node != node)
            continue;
        if (index < expansion.count)
            return nodes[expansion.first + index] == child ? expansion.first + index : -1;
        index -= expansion.count;
    }
    return -1;
}

// Moves slots from .. from + count - 1 down to `to`, where the slots between
// hold dropped nodes, leaving those slots as organize's walk does when it
// swaps each kept node with the first dropped slot: the dropped nodes follow
// the run, rotated by its length.
void Tree::moveRun(int from, int count, int to) {
    const int dropped = from - to;
    if (dropped == 0)
        return;
    if (count <= dropped) {
        std::swap_ranges(nodes + from, nodes + from + count, nodes + to);
        return;
    }
    std::rotate(nodes + to, nodes + from, nodes + from + count);
    Node** droppedFirst = nodes + to + count;
    std::rotate(droppedFirst, droppedFirst + count % dropped, droppedFirst + dropped);
}

// Keeps the records numbered in `renumbered` (-1: dropped), in order, with
// their links renumbered; the node of a dropped record is freed.
void Tree::keepRenumbered() {
    std::size_t kept = 0;
    for (std::size_t k = 0; k < expansions.size(); ++k) {
        Expansion expansion = expansions[k];
        if (renumbered[k] < 0) {
            expansion.node->free();
            continue;
        }
        expansion.parent = expansion.parent >= 0 ? renumbered[expansion.parent] : -1;
        if (expansion.node->expansion == static_cast<int>(k))
            expansion.node->expansion = renumbered[k];
        expansions[kept++] = expansion;
    }
    expansions.resize(kept);
}

void Tree::organize() {
    // usedNodes counts refused requests too; only real slots are walked.
    const int used = usedNodes < poolSize ? usedNodes : poolSize;
    // A record survives with its node and its run (a marked node's children are marked).
    renumbered.assign(expansions.size(), -1);
    int kept = 0;
    for (std::size_t k = 0; k < expansions.size(); ++k)
        if (expansions[k].node->inUse && nodes[expansions[k].first]->inUse)
            renumbered[k] = kept++;

    int         dropped = 0;
    std::size_t next    = 0; // the record whose run starts next
    // A dropped node is freed as the walk reaches it, while its line is at
    // hand, and a kept node's mark is cleared the same way.
    for (int i = 0; i < used; ++i) {
        if (next < expansions.size() && expansions[next].first == i)
            expansions[next++].first = i - dropped;
        if (nodes[i]->inUse) {
            nodes[i]->inUse = false;
            std::swap(nodes[i], nodes[i - dropped]);
        } else {
            nodes[i]->free();
            ++dropped;
        }
    }
    keepRenumbered();
    usedNodes = used - dropped;
    isFull    = usedNodes > maxNodes;
}

// The played node's subtree is the played node and the runs of the records
// below it: a record is kept when it is the played node's or its parent's
// record is kept, and records come after their parents'. Those runs are moved
// to the front in slot order; nothing else is touched but the dropped nodes
// that hold children arrays.
void Tree::cut(int row, int col, int sign) {
    Node* played = nullptr;
    if (root != nullptr && sign != 0 && root->sign != 0)
        played = root->selectByMove(row, col, sign);
    const int playedSlot = played != nullptr ? slotOfChild(root, played) : -1;

    if (playedSlot < 0) {
        free();
        root = nextNode(row, col, sign, 0);
        return;
    }

    Node* oldRoot  = root;
    root           = played;
    played->parent = nullptr;
    moveRun(playedSlot, 1, 0);
    int used = 1;
    renumbered.assign(expansions.size(), -1);
    int kept = 0;
    for (std::size_t k = 0; k < expansions.size(); ++k) {
        Expansion& expansion = expansions[k];
        if (expansion.node != played && (expansion.parent < 0 || renumbered[expansion.parent] < 0))
            continue;
        moveRun(expansion.first, expansion.count, used);
        expansion.first = used;
        used += expansion.count;
        renumbered[k] = kept++;
    }
    keepRenumbered();
    oldRoot->free(); // it may hold an empty array no record names
    usedNodes = used;
    isFull    = usedNodes > maxNodes;
}

} // namespace mcts
