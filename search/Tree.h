#pragma once

#include "search/Node.h"

namespace mcts {

// Fixed pool of search nodes plus the current root. All nodes are allocated
// once; they are handed out in slot order and recycled by compaction after
// every move, so play causes no heap traffic for nodes.
class Tree {
  public:
    static constexpr int SPARE_NODES = 10000; // covers the expansion under way when full

    Node*  root      = nullptr; // borrowed from the pool
    Node** nodes     = nullptr; // owned; slots 0 .. usedNodes - 1 are in use
    int    maxNodes  = 0;
    int    poolSize  = 0; // maxNodes + SPARE_NODES
    int    usedNodes = 0;
    bool   isFull    = false;
    Node*  block     = nullptr; // owned; the poolSize nodes themselves
    // Slots from here to the end of the pool hold recycled nodes (as
    // Node::free leaves them), so pool-wide sweeps can stop here: a cut then
    // costs the nodes in use, not the whole pool. Fresh nodes are not
    // recycled ones, so a new pool starts with this at poolSize.
    int recycledFrom = 0;

    explicit Tree(int maxNodes);
    ~Tree();
    Tree(const Tree&)            = delete;
    Tree& operator=(const Tree&) = delete;

    int getMemory() const;

    void free();
    // Next pool node with this move, or null once the pool is exhausted.
    Node* nextNode(int row, int col, int sign, float prior);
    // Moves the marked nodes to the front slots, in slot order, and clears
    // their marks; frees the rest.
    void organize();
    // Re-roots at the move just played, keeping its subtree when the root has it.
    void cut(int row, int col, int sign);

    // Pool use, memory and the line of most visited moves on standard
    // output. logData is kept for symmetry and writes nothing.
    void printData() const;
    void logData() const;
};

} // namespace mcts
