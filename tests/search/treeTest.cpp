#include "search/Tree.h"
#include "search/Node.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <utility>
#include <vector>

using mcts::Node;
using mcts::Tree;

namespace {

// Gives `parent` one child per prior, taken from the pool, with the opposite sign.
std::vector<Node*> addChildren(Tree& tree, Node* parent, std::initializer_list<float> priors) {
    std::vector<Node*> made;
    Node**             children = new Node*[priors.size()];
    int                col      = 0;
    for (float prior : priors) {
        Node* child           = tree.nextNode(parent->row + 1, col++, -parent->sign, prior);
        child->parent         = parent;
        children[made.size()] = child;
        made.push_back(child);
    }
    EXPECT_TRUE(tree.expand(parent, children, static_cast<int>(made.size())));
    return made;
}

void setStats(Node* node, float visits, float valueSum) {
    node->visits   = visits;
    node->valueSum = valueSum;
}

int slotOf(const Tree& tree, const Node* node) {
    for (int i = 0; i < tree.poolSize; ++i)
        if (tree.nodes[i] == node)
            return i;
    return -1;
}

} // namespace

TEST(NodeTest, ExpandOnlyOnce) {
    Node   node;
    Node   a, b;
    Node** first  = new Node* [1] { &a };
    Node** second = new Node* [1] { &b };
    EXPECT_TRUE(node.expand(first, 1));
    EXPECT_FALSE(node.expand(second, 1));
    EXPECT_EQ(node.getChild(0), &a);
    EXPECT_EQ(node.getChild(1), nullptr);
    EXPECT_EQ(node.getChild(-1), nullptr);
    delete[] second; // refused, so still ours
}

TEST(NodeTest, PuctPicksLargestPriorFirstOnTies) {
    Tree  tree(100);
    Node* root = tree.nextNode(0, 0, -1, 0);
    auto  kids = addChildren(tree, root, {0.2f, 0.5f, 0.5f, 0.1f});
    setStats(root, 10, 5);
    EXPECT_EQ(root->selectPUCT(), kids[1]);

    // With no parent visits U is 0: unvisited children all score 0.5, so the
    // first wins unless a visited child beats 0.5.
    setStats(root, 0, 0);
    EXPECT_EQ(root->selectPUCT(), kids[0]);
    setStats(kids[2], 2, 1); // Q = 0.5 exactly: not strictly better
    EXPECT_EQ(root->selectPUCT(), kids[0]);
    setStats(kids[2], 2, 1.2f);
    EXPECT_EQ(root->selectPUCT(), kids[2]);
}

TEST(NodeTest, PuctBalancesPriorAgainstValue) {
    Tree  tree(100);
    Node* root = tree.nextNode(0, 0, 1, 0);
    auto  kids = addChildren(tree, root, {0.6f, 0.4f});
    setStats(root, 16, 8);
    setStats(kids[0], 15, 6); // U = 0.6*4/16 = 0.15, Q = 0.4  -> 0.55
    setStats(kids[1], 0, 0);  // U = 0.4*4/1  = 1.6,  Q = 0.5  -> 2.1
    EXPECT_EQ(root->selectPUCT(), kids[1]);
    setStats(kids[1], 15, 1); // U = 0.1, Q = 0.067 -> 0.167
    EXPECT_EQ(root->selectPUCT(), kids[0]);
}

TEST(NodeTest, NanScoresAreNeverChosen) {
    Tree        tree(100);
    Node*       root = tree.nextNode(0, 0, 1, 0);
    const float nan  = std::numeric_limits<float>::quiet_NaN();
    auto        kids = addChildren(tree, root, {nan, nan});
    setStats(root, 4, 2);
    EXPECT_EQ(root->selectPUCT(), nullptr);
    kids[1]->prior = 0.3f;
    EXPECT_EQ(root->selectPUCT(), kids[1]);
}

TEST(NodeTest, OtherSelectionRules) {
    Tree  tree(100);
    Node* root = tree.nextNode(0, 0, 1, 0);
    EXPECT_EQ(root->selectByVisit(), nullptr);
    EXPECT_EQ(root->selectPUCT(), nullptr);
    auto kids = addChildren(tree, root, {0.1f, 0.3f, 0.3f});
    setStats(kids[0], 3, 3);
    setStats(kids[1], 5, 1);
    setStats(kids[2], 5, 4);
    EXPECT_EQ(root->selectByVisit(), kids[1]);
    EXPECT_EQ(root->selectByWin(), kids[0]);
    // select_learn: 0.1/3.001 + 1 = 1.033; 0.3/5.001 + 0.2; 0.3/5.001 + 0.8
    EXPECT_EQ(root->select_learn(), kids[0]);

    EXPECT_EQ(root->selectByMove(1, 2, -1), kids[2]);
    EXPECT_EQ(root->selectByMove(1, 2, 1), nullptr);
    kids[1]->sign = 0;
    EXPECT_EQ(root->selectByMove(1, 1, 0), nullptr);
    root->sign = 0;
    EXPECT_EQ(root->selectByMove(1, 2, -1), nullptr);
}

TEST(NodeTest, UpdateRecursiveAlternatesSides) {
    Tree  tree(100);
    Node* root  = tree.nextNode(0, 0, 1, 0);
    Node* child = addChildren(tree, root, {1})[0];
    Node* grand = addChildren(tree, child, {1})[0];
    Node* leaf  = addChildren(tree, grand, {1})[0];
    leaf->updateRecursive(1, 0.75f);
    EXPECT_FLOAT_EQ(leaf->valueSum, 0.75f);
    EXPECT_FLOAT_EQ(grand->valueSum, 0.25f);
    EXPECT_FLOAT_EQ(child->valueSum, 0.75f);
    EXPECT_FLOAT_EQ(root->valueSum, 0.25f);
    for (Node* n : {root, child, grand, leaf})
        EXPECT_EQ(n->visits, 1);
    EXPECT_FLOAT_EQ(leaf->getValue(), 0.75f);
}

TEST(TreeTest, NextNodeFillsPastMaxNodesUntilPoolSize) {
    Tree tree(3);
    EXPECT_EQ(tree.poolSize, 3 + Tree::SPARE_NODES);
    for (int i = 0; i < 3; ++i)
        EXPECT_NE(tree.nextNode(i, i, 1, 0.5f), nullptr);
    EXPECT_FALSE(tree.isFull);
    Node* fourth = tree.nextNode(7, 8, -1, 0.25f);
    ASSERT_NE(fourth, nullptr);
    EXPECT_TRUE(tree.isFull);
    EXPECT_EQ(fourth, tree.nodes[3]);
    EXPECT_EQ(fourth->row, 7);
    EXPECT_EQ(fourth->col, 8);
    EXPECT_EQ(fourth->sign, -1);
    EXPECT_FLOAT_EQ(fourth->prior, 0.25f);
    while (tree.usedNodes < tree.poolSize)
        ASSERT_NE(tree.nextNode(0, 0, 1, 0), nullptr);
    EXPECT_EQ(tree.nextNode(0, 0, 1, 0), nullptr);
    EXPECT_EQ(tree.usedNodes, tree.poolSize + 1);

    // Compaction never walks past the pool, even with the count raised.
    for (int i = 0; i < tree.poolSize; ++i)
        tree.nodes[i]->inUse = true;
    tree.organize();
    EXPECT_EQ(tree.usedNodes, tree.poolSize);

    tree.free();
    EXPECT_EQ(tree.usedNodes, 0);
    EXPECT_FALSE(tree.isFull);
    EXPECT_EQ(tree.root, nullptr);
}

TEST(TreeTest, CutKeepsExactlyThePlayedSubtree) {
    Tree  tree(1000);
    Node* root  = tree.nextNode(999, 999, -1, 0);
    tree.root   = root;
    auto top    = addChildren(tree, root, {0.5f, 0.5f});   // slots 1, 2
    auto underB = addChildren(tree, top[1], {0.3f});       // slot 3: dropped
    auto underA = addChildren(tree, top[0], {0.3f, 0.7f}); // slots 4, 5: kept
    auto deep   = addChildren(tree, underA[1], {1.0f});    // slot 6: kept
    (void)underB;
    setStats(top[0], 7, 3);
    setStats(deep[0], 2, 1);

    tree.cut(top[0]->row, top[0]->col, top[0]->sign);
    EXPECT_EQ(tree.root, top[0]);
    EXPECT_EQ(tree.usedNodes, 4);
    EXPECT_FALSE(tree.isFull);
    // Kept nodes first, in their former order.
    EXPECT_EQ(tree.nodes[0], top[0]);
    EXPECT_EQ(tree.nodes[1], underA[0]);
    EXPECT_EQ(tree.nodes[2], underA[1]);
    EXPECT_EQ(tree.nodes[3], deep[0]);
    EXPECT_EQ(tree.root->parent, nullptr);
    EXPECT_EQ(underA[0]->parent, top[0]);
    EXPECT_EQ(deep[0]->parent, underA[1]);
    EXPECT_FLOAT_EQ(top[0]->visits, 7);
    EXPECT_FLOAT_EQ(deep[0]->valueSum, 1);
    // The rest is recycled and handed out again after the kept nodes.
    EXPECT_FALSE(root->inUse);
    EXPECT_EQ(top[1]->childCount, 0);
    EXPECT_GE(slotOf(tree, root), 4);
    Node* next = tree.nextNode(1, 1, 1, 0);
    EXPECT_EQ(slotOf(tree, next), 4);
    EXPECT_EQ(next->childCount, 0);
    EXPECT_EQ(next->visits, 0);
}

TEST(TreeTest, CutWithUnknownMoveOrSidelessRootStartsAfresh) {
    Tree tree(1000);
    tree.cut(3, 4, 1); // empty tree
    ASSERT_NE(tree.root, nullptr);
    EXPECT_EQ(tree.usedNodes, 1);
    EXPECT_EQ(tree.root->row, 3);
    EXPECT_EQ(tree.root->sign, 1);

    addChildren(tree, tree.root, {0.5f, 0.5f});
    tree.root->visits = 5;
    tree.cut(9, 9, -1); // not a child
    EXPECT_EQ(tree.usedNodes, 1);
    EXPECT_EQ(tree.root->row, 9);
    EXPECT_EQ(tree.root->visits, 0);
    EXPECT_EQ(tree.root->childCount, 0);
    EXPECT_EQ(tree.root, tree.nodes[0]);

    tree.cut(5, 5, 0); // a root without a side never reuses
    auto kids = addChildren(tree, tree.root, {0.5f});
    tree.cut(kids[0]->row, kids[0]->col, kids[0]->sign);
    EXPECT_EQ(tree.usedNodes, 1);
    EXPECT_EQ(tree.root->childCount, 0);
}

TEST(TreeTest, OrganizeCompactsInOrderAndRecomputesFull) {
    Tree               tree(4);
    std::vector<Node*> handed;
    for (int i = 0; i < 6; ++i)
        handed.push_back(tree.nextNode(i, 0, 1, 0));
    EXPECT_TRUE(tree.isFull);

    for (Node* node : handed)
        node->inUse = true;
    tree.organize(); // everything marked: nothing moves, and no mark is left
    EXPECT_EQ(tree.usedNodes, 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(tree.nodes[i], handed[i]);
        EXPECT_FALSE(handed[i]->inUse);
    }

    for (int i : {1, 2, 4, 5})
        handed[i]->inUse = true;
    tree.organize();
    EXPECT_EQ(tree.usedNodes, 4);
    EXPECT_FALSE(tree.isFull);
    const int keptOrder[] = {1, 2, 4, 5};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(tree.nodes[i], handed[keptOrder[i]]);
    EXPECT_EQ(handed[0]->row, 0);
    EXPECT_FALSE(handed[3]->inUse);
}

namespace {

// Every slot of the pool: which node it holds, then, for a slot in use, all of
// that node's fields, with pointers written as block indexes, and for a slot
// not in use whether the node holds a children array; then the pool's own
// fields. A node not in use may keep its other fields until it is handed out.
std::vector<long long> poolState(const Tree& tree) {
    auto index = [&tree](const Node* node) {
        return node == nullptr ? -1LL : static_cast<long long>(node - tree.block);
    };
    std::vector<long long> state{index(tree.root), tree.usedNodes, tree.isFull};
    for (int i = 0; i < tree.poolSize; ++i) {
        const Node* n = tree.nodes[i];
        state.push_back(index(n));
        if (i >= tree.usedNodes) {
            state.push_back(n->children != nullptr || n->childCount != 0);
            continue;
        }
        for (long long v : {static_cast<long long>(n->row), static_cast<long long>(n->col),
                            static_cast<long long>(n->sign), index(n->parent),
                            static_cast<long long>(n->childCount), static_cast<long long>(n->inUse),
                            static_cast<long long>(n->spare0), static_cast<long long>(n->spare1)})
            state.push_back(v);
        for (float f : {n->prior, n->visits, n->valueSum})
            state.push_back(static_cast<long long>(f * 1024));
        for (int c = 0; c < n->childCount; ++c)
            state.push_back(index(n->children[c]));
    }
    return state;
}

// The reference pool: nodes get children without the pool's record, and the
// tree is emptied and re-rooted by sweeps over the whole pool.
void sweepingFree(Tree& tree) {
    for (int i = 0; i < tree.poolSize; ++i)
        tree.block[i].free();
    tree.root      = nullptr;
    tree.usedNodes = 0;
    tree.isFull    = false;
}

// Re-rooting as a sweep over the whole pool does it: every mark cleared, the
// kept subtree marked, the used slots compacted; or every node freed.
void sweepingCut(Tree& tree, int row, int col, int sign) {
    Node* played = tree.root != nullptr && sign != 0 && tree.root->sign != 0
                       ? tree.root->selectByMove(row, col, sign)
                       : nullptr;
    if (played == nullptr) {
        sweepingFree(tree);
        tree.root = tree.nextNode(row, col, sign, 0);
        return;
    }
    tree.root = played;
    for (int i = 0; i < tree.poolSize; ++i)
        tree.block[i].inUse = false;
    played->markUsedNodes(nullptr);
    const int used    = std::min(tree.usedNodes, tree.poolSize);
    int       dropped = 0;
    for (int i = 0; i < used; ++i) {
        if (tree.nodes[i]->inUse)
            std::swap(tree.nodes[i], tree.nodes[i - dropped]);
        else
            ++dropped;
    }
    for (int i = used - dropped; i < used; ++i)
        tree.nodes[i]->free();
    for (int i = 0; i < used - dropped; ++i)
        tree.nodes[i]->inUse = false; // marks live only during a cut
    tree.usedNodes = used - dropped;
    tree.isFull    = tree.usedNodes > tree.maxNodes;
}

// Expands `node` with up to `count` children whose priors and statistics
// follow `seed`, through the pool's record when `recorded`. Like the search,
// it keeps the children made so far when the pool runs out, and leaves some
// children's statistics to the pool, which must hand them out at zero.
void grow(Tree& tree, bool recorded, Node* node, int count, int seed) {
    Node** children = new Node*[count];
    int    made     = 0;
    for (; made < count; ++made) {
        Node* child = tree.nextNode(made / 20, made % 20, -node->sign, 0.01f * (made + seed));
        if (child == nullptr)
            break;
        child->parent = node;
        if (made % 4 != 0) {
            child->visits   = static_cast<float>((made * seed) % 7);
            child->valueSum = static_cast<float>((made + seed) % 3);
        }
        children[made] = child;
    }
    // An expansion the node refuses leaves its nodes unreachable.
    const bool taken =
        made > 0 && (recorded ? tree.expand(node, children, made) : node->expand(children, made));
    if (!taken)
        delete[] children;
}

// Three levels below the root, plus one refused expansion.
void growGame(Tree& tree, bool recorded, int seed) {
    Node* root = tree.root;
    if (root->childCount == 0)
        grow(tree, recorded, root, 30, seed);
    for (int i = 0; i < 6; ++i) {
        Node* child = root->children[i];
        if (child->childCount == 0)
            grow(tree, recorded, child, 12, seed + i);
        grow(tree, recorded, child->children[0], 5, seed);
    }
    grow(tree, recorded, root, 4, seed);
}

} // namespace

// The cut touches only the runs of slots it keeps; the pool must end exactly
// as a sweep over all of it leaves it: straight after the pool was built (its
// unused nodes still fresh), after moves keeping a deep subtree or a leaf, a
// move outside the tree, a full pool, a new game, a re-rooting by marks and
// organize, wide subtrees, and an expansion cut short by the exhausted pool.
TEST(TreeTest, CutLeavesThePoolAsAWholePoolSweepDoes) {
    Tree fast(120), plain(120);
    auto compare = [&] { ASSERT_EQ(poolState(fast), poolState(plain)); };
    auto grow    = [&](int seed) {
        growGame(fast, true, seed);
        growGame(plain, false, seed);
        compare();
    };
    // Cuts to the move of the root's child `index`, or to (row, col, sign) when index < 0.
    auto cut = [&](int index, int row = 0, int col = 0, int sign = 0) {
        for (Tree* t : {&fast, &plain}) {
            const Node* to = index >= 0 ? t->root->children[index] : nullptr;
            const int   r = to ? to->row : row, c = to ? to->col : col, s = to ? to->sign : sign;
            if (t == &fast)
                t->cut(r, c, s);
            else
                sweepingCut(*t, r, c, s);
        }
        compare();
    };
    // Gives each of the root's children from `index` on `count` children of
    // its own, until `times` are done or the pool runs out.
    auto growWide = [&](int index, int count, int times = 1) {
        for (Tree* t : {&fast, &plain}) {
            for (int i = index; i < index + times && t->usedNodes < t->poolSize; ++i)
                ::grow(*t, t == &fast, t->root->children[i], count, 6);
        }
        compare();
    };

    for (Tree* t : {&fast, &plain})
        t->root = t->nextNode(999, 999, -1, 0);
    grow(1);
    EXPECT_TRUE(fast.isFull);
    cut(0); // a deep subtree
    EXPECT_GT(fast.usedNodes, 12);
    grow(2);
    cut(7); // a leaf
    EXPECT_EQ(fast.usedNodes, 1);
    grow(3);
    cut(-1, 19, 19, fast.root->sign); // a move outside the tree
    grow(4);
    cut(1);
    // A new game.
    fast.free();
    fast.organize();
    sweepingFree(plain);
    compare();
    cut(-1, 999, 999, 1);
    grow(5);
    // Re-rooting by marks and organize, then cuts again.
    Node* played = fast.root->children[2];
    fast.root    = played;
    played->markUsedNodes(nullptr);
    fast.organize();
    sweepingCut(plain, played->row, played->col, played->sign);
    compare();
    grow(6);
    cut(1);

    growWide(3, 1500);
    EXPECT_GT(fast.usedNodes, fast.poolSize / 8);
    cut(3); // keeps the wide subtree
    growWide(0, 400, 400);
    EXPECT_GT(fast.usedNodes, fast.poolSize); // the last expansion was cut short
    int cutShort = 0;                         // the root's child it expanded
    while (fast.root->children[cutShort]->childCount == 400)
        ++cutShort;
    ASSERT_GT(fast.root->children[cutShort]->childCount, 0);
    cut(cutShort);
    EXPECT_GT(fast.usedNodes, 1);
    grow(7);
    growWide(1, 300);
    cut(1);
    cut(-1, 99, 99, -fast.root->sign); // outside the tree: frees every node
    EXPECT_EQ(fast.usedNodes, 1);
}
