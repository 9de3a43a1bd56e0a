#pragma once

#include "search/Node.h"

#include <vector>

namespace mcts {

// Fixed pool of search nodes plus the current root. All nodes are allocated
// once; they are handed out in slot order and recycled by compaction after
// every move, so play causes no heap traffic for nodes.
//
// Every expansion takes its children as one run of consecutive slots, and a
// cut keeps or drops a node's children together. The pool records each run
// (Tree::expand, Tree::widen), so a cut finds the kept runs from that record
// and moves their slots as blocks: its cost follows the expansions, not the
// nodes. A dropped node is not touched at all; it is reset when nextNode
// hands it out again, and only the dropped nodes that hold a children array
// are freed by the cut itself.
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

    explicit Tree(int maxNodes);
    ~Tree();
    Tree(const Tree&)            = delete;
    Tree& operator=(const Tree&) = delete;

    int getMemory() const;

    // Empties the tree. Only the nodes holding children arrays are freed
    // here; the others are reset as they are handed out again.
    void free();
    // Next pool node, reset, with this move; null once the pool is exhausted.
    Node* nextNode(int row, int col, int sign, float prior);
    // Gives `node` its first children. `children` must be the last `count`
    // nodes handed out, in order. False, with the array still the caller's,
    // when it is not such a run or the node has children already.
    bool expand(Node* node, Node** children, int count);
    // Replaces the children array of `node` by `children` (`count` entries):
    // its current children first, in order, then nodes handed out last, in
    // order. False, with the array still the caller's, when it is not so.
    bool widen(Node* node, Node** children, int count);
    // Moves the marked nodes to the front slots, in slot order, and clears
    // their marks; frees the rest. A marked node's children must be marked.
    void organize();
    // Re-roots at the move just played, keeping its subtree when the root has it.
    void cut(int row, int col, int sign);

    // Pool use, memory and the line of most visited moves on standard
    // output. logData is kept for symmetry and writes nothing.
    void printData() const;
    void logData() const;

  private:
    // One run of children: node->children holds nodes[first .. first + count
    // - 1] (after the runs recorded for it before, for a widened node).
    // `parent` is the index of the record of node->parent's children, or -1.
    struct Expansion {
        Node* node;
        int   first;
        int   count;
        int   parent;
    };
    // In slot order of their runs, which is the order they were made in.
    std::vector<Expansion> expansions;
    std::vector<int>       renumbered; // scratch of cut and organize

    bool isLastRun(Node* const* children, int count) const;
    void record(Node* node, int count);
    int  slotOfChild(const Node* node, const Node* child) const;
    void moveRun(int from, int count, int to);
    void keepRenumbered();
};

} // namespace mcts
