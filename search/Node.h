#pragma once

namespace mcts {

// One position of the search tree, reached by the move (row, col, sign).
// Nodes live in the fixed pool of Tree; a node owns only its children array.
//
// Memory layout (x86-64), 64 bytes, one cache line:
//
//   0  row  col  sign  [pad]      16 parent      24 children
//  32  childCount prior visits valueSum
//  48  inUse [pad]  spare0  spare1  expansion
//
// The node is very size-sensitive: the pool holds 2,010,000 of them, so every
// added byte costs about 2 MB and a node past 64 bytes straddles cache lines.
class Node {
  public:
    int    row;
    int    col;
    int    sign;       // side that made the move; children carry -sign
    Node*  parent;     // borrowed; set when the node is made a child, null at the root
    Node** children;   // owned array; the child nodes belong to the pool
    int    childCount; // 0 for a leaf
    float  prior;
    float  visits;
    float  valueSum; // sum of results for `sign`, each in [0, 1]
    bool   inUse;    // marks the nodes Tree::organize keeps; false outside it
    int    spare0;   // set to -1, read by nothing
    int    spare1;   // set to -1, read by nothing
    // Index of this node's first children run in the pool's record of
    // expansions (Tree::expand); -1 while it has none recorded.
    int expansion;

    Node();
    ~Node();
    Node(const Node&)            = delete;
    Node& operator=(const Node&) = delete;

    void init();
    void free();
    int  getMemory() const;

    void update(float visitsDelta, float valueDelta);
    void updateRecursive(float visitsDelta, float valueDelta);

    // Takes ownership of `newChildren` only when the node has none yet;
    // returns whether it did. Pool nodes are given children through
    // Tree::expand, which records them for the cut.
    bool expand(Node** newChildren, int count);
    bool isLeaf() const { return childCount <= 0; }

    float getValue() const;
    Node* getChild(int index) const;

    // Selection rules. Each scans the children in order and keeps the first
    // of equal best scores; a score that is not a number is never chosen.
    Node* select_learn() const;
    Node* selectPUCT() const;
    Node* selectByWin() const;
    Node* selectByVisit() const;
    Node* selectByMove(int row, int col, int sign) const;

    // Marks this subtree in use and rewrites its parent links.
    void markUsedNodes(Node* newParent);

    // Reports. The node line on standard output or appended to the log
    // file; the sorts reorder the children (visits, then prior, both
    // descending) and list the first `count` of them under a header.
    void print() const;
    void log() const;
    void sortChildren(int count);
    void sortChildrenLog(int count);
};

static_assert(sizeof(Node) == 64, "Node must stay one cache line: the pool holds 2,010,000");

} // namespace mcts
