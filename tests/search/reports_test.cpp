#include "player_helpers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include <unistd.h>

using mcts::Node;
using mcts::Tree;

namespace {

// Everything written to std::cout while the object lives.
class CoutCapture {
  public:
    CoutCapture() : saved(std::cout.rdbuf(captured.rdbuf())) {}
    ~CoutCapture() { std::cout.rdbuf(saved); }
    std::string text() const { return captured.str(); }

  private:
    std::ostringstream captured;
    std::streambuf*    saved;
};

// Runs the test body in a fresh temporary directory, where the log reports
// create their file, and removes it afterwards.
class InTempDir : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/quoribo-reports-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        ASSERT_NE(getcwd(previous, sizeof(previous)), nullptr);
        ASSERT_EQ(chdir(dir.c_str()), 0);
    }
    void TearDown() override {
        std::remove(mcts::log_file);
        ASSERT_EQ(chdir(previous), 0);
        rmdir(dir.c_str());
    }

    std::string logText() const {
        std::ifstream     in(mcts::log_file);
        std::stringstream content;
        content << in.rdbuf();
        return content.str();
    }

    std::string dir;
    char        previous[4096] = {};
};

// The 3 x 3 position of the report examples: CROSS at [0][0], CIRCLE at
// [1][1], a few probabilities elsewhere.
struct SmallPosition {
    int    cells[3][3]   = {{1, 0, 0}, {0, -1, 0}, {0, 0, 0}};
    float  policy[3][3]  = {{0, 0.25f, 0.0625f}, {0.0078125f, 0, 0}, {0, 0, 0}};
    int*   boardRows[3]  = {cells[0], cells[1], cells[2]};
    float* policyRows[3] = {policy[0], policy[1], policy[2]};
};

Node* makeNode(Tree* tree, int row, int col, int sign, float prior, float visits, float valueSum) {
    Node* node     = tree->nextNode(row, col, sign, prior);
    node->visits   = visits;
    node->valueSum = valueSum;
    return node;
}

void attach(Node* parent, std::initializer_list<Node*> children) {
    auto** array = new Node*[children.size()];
    int    i     = 0;
    for (Node* child : children)
        array[i++] = child;
    parent->expand(array, i);
}

TEST(Reports, BoardAndDistributionGrids) {
    SmallPosition p;
    {
        CoutCapture out;
        mcts::printBoard(p.boardRows, 3);
        EXPECT_EQ(out.text(), " X _ _\n _ O _\n _ _ _\n\n");
    }
    {
        CoutCapture out;
        mcts::printDistribution(p.boardRows, p.policyRows, 3);
        EXPECT_EQ(out.text(), "  X  250  62\n"
                              "   7  O   _ \n"
                              "  _   _   _ \n"
                              "\n");
    }
}

TEST(Reports, DistributionCellWidths) {
    int         cells[2][2]  = {{0, 0}, {0, 5}};
    float       policy[2][2] = {{1.0f, 0.1f}, {0.0009f, 0}};
    int*        board[2]     = {cells[0], cells[1]};
    float*      probs[2]     = {policy[0], policy[1]};
    CoutCapture out;
    mcts::printDistribution(board, probs, 2);
    // A certain move takes five characters; an odd cell value reads as CIRCLE.
    EXPECT_EQ(out.text(), " 1000 100\n  _   O \n\n");
}

TEST_F(InTempDir, LogDistributionIsTransposedAndAppends) {
    SmallPosition p;
    mcts::logDistribution(p.boardRows, p.policyRows, 3);
    const std::string once = "  X    7  _ \n"
                             " 250  O   _ \n"
                             "  62  _   _ \n"
                             "\n";
    EXPECT_EQ(logText(), once);
    mcts::logDistribution(p.boardRows, p.policyRows, 3);
    EXPECT_EQ(logText(), once + once);
}

TEST(Reports, MoveLines) {
    const struct {
        mcts::Move  move;
        const char* text;
    } cases[] = {{mcts::Move(), "none (-1,-1)"},
                 {mcts::Move(3, 17, 1), "CROSS (3,17)"},
                 {mcts::Move(0, 4, -1), "CIRCLE (0,4)"},
                 {mcts::Move(1, 1, 5), ""}};
    for (const auto& c : cases) {
        CoutCapture out;
        c.move.print();
        EXPECT_EQ(out.text(), c.text);
    }
}

TEST(Reports, NodeLines) {
    Tree tree(100);
    struct {
        Node*       node;
        const char* text;
    } cases[] = {
        {makeNode(&tree, 7, 8, 1, 0.25f, 40, 22),
         "CROSS  (7, 8) Q=55% + 0.6% : H=0.25 : Visit=40\n"},
        {makeNode(&tree, -1, -1, 0, 0, 0, 0), "none           Q=0% + 0% : H=0 : Visit=0\n"},
        {makeNode(&tree, 12, 3, -1, 0.1234f, 3, 1),
         "CIRCLE (12, 3) Q=33.3% + 4.1% : H=0.123 : Visit=3\n"},
        {makeNode(&tree, 0, 0, -1, 0.5f, 0, 0), "CIRCLE (0, 0) Q=0% + 50000% : H=0.5 : Visit=0\n"},
    };
    for (const auto& c : cases) {
        CoutCapture out;
        c.node->print();
        EXPECT_EQ(out.text(), c.text);
    }
}

TEST_F(InTempDir, NodeLogAppendsTheSameLine) {
    Tree  tree(100);
    Node* node = makeNode(&tree, 7, 8, 1, 0.25f, 40, 22);
    node->log();
    node->log();
    const std::string line = "CROSS  (7, 8) Q=55% + 0.6% : H=0.25 : Visit=40\n";
    EXPECT_EQ(logText(), line + line);
}

TEST(Reports, SortChildrenByVisitsThenPrior) {
    Tree  tree(100);
    Node* root = makeNode(&tree, 5, 5, -1, 0, 23, 10);
    Node* a    = makeNode(&tree, 0, 0, 1, 0.1f, 5, 1);
    Node* b    = makeNode(&tree, 0, 1, 1, 0.2f, 9, 3);
    Node* c    = makeNode(&tree, 0, 2, 1, 0.3f, 9, 3);
    attach(root, {a, b, c});
    std::string text;
    {
        CoutCapture out;
        root->sortChildren(3);
        text = out.text();
    }
    EXPECT_EQ(root->children[0], c);
    EXPECT_EQ(root->children[1], b);
    EXPECT_EQ(root->children[2], a);
    EXPECT_EQ(text, "Overall 3 children\n"
                    "CROSS  (0, 2) Q=33.3% + 3.3% : H=0.3 : Visit=9\n"
                    "CROSS  (0, 1) Q=33.3% + 2.2% : H=0.2 : Visit=9\n"
                    "CROSS  (0, 0) Q=20% + 1.9% : H=0.1 : Visit=5\n");

    CoutCapture headerOnly;
    root->sortChildren(0);
    a->sortChildren(5);
    EXPECT_EQ(headerOnly.text(), "Overall 3 children\n");
}

TEST(Reports, SortKeepsCompleteTiesInOrder) {
    Tree  tree(100);
    Node* root = makeNode(&tree, 5, 5, -1, 0, 0, 0);
    Node* a    = makeNode(&tree, 0, 0, 1, 0.2f, 1, 0);
    Node* b    = makeNode(&tree, 0, 1, 1, 0.2f, 1, 0);
    Node* c    = makeNode(&tree, 0, 2, 1, 0.9f, 0, 0);
    Node* d    = makeNode(&tree, 0, 3, 1, 0.1f, 7, 0);
    attach(root, {a, b, c, d});
    CoutCapture out;
    root->sortChildren(1);
    EXPECT_EQ(root->children[0], d);
    EXPECT_EQ(root->children[1], a);
    EXPECT_EQ(root->children[2], b);
    EXPECT_EQ(root->children[3], c);
    EXPECT_EQ(out.text(), "Overall 4 children\nCROSS  (0, 3) Q=0% + 1.4% : H=0.1 : Visit=7\n");
}

TEST_F(InTempDir, SortChildrenLogWritesHeaderThenLines) {
    Tree  tree(100);
    Node* root = makeNode(&tree, 5, 5, -1, 0, 14, 7);
    Node* a    = makeNode(&tree, 0, 0, 1, 0.1f, 5, 1);
    Node* b    = makeNode(&tree, 0, 1, 1, 0.2f, 9, 3);
    attach(root, {a, b});
    root->sortChildrenLog(2);
    a->sortChildrenLog(2);
    EXPECT_EQ(logText(), "Overall 2 children\n"
                         "CROSS  (0, 1) Q=33.3% + 2.2% : H=0.2 : Visit=9\n"
                         "CROSS  (0, 0) Q=20% + 1.9% : H=0.1 : Visit=5\n");
}

TEST(Reports, LogReportsWithoutWritableFileDoNothing) {
    const char* saved = mcts::log_file;
    mcts::log_file    = "/nonexistent-quoribo-dir/log.txt";
    SmallPosition p;
    Tree          tree(100);
    Node*         node = makeNode(&tree, 1, 1, 1, 0.5f, 2, 1);
    CoutCapture   out;
    mcts::logDistribution(p.boardRows, p.policyRows, 3);
    node->log();
    node->sortChildrenLog(3);
    mcts::log_file = saved;
    EXPECT_EQ(out.text(), "");
}

TEST(Reports, UsedMemoryUnitsSwitchAtFourMegabytes) {
    EXPECT_EQ(mcts::usedMemoryText(4194303), "Used memory = 4095 kB");
    EXPECT_EQ(mcts::usedMemoryText(4194304), "Used memory = 4 MB");
    EXPECT_EQ(mcts::usedMemoryText(1023), "Used memory = 0 kB");
}

// A chain of `length` moves below the root, each the most visited child.
Node* buildLine(Tree* tree, int length) {
    Node* root = makeNode(tree, -1, -1, 0, 0, 0, 0);
    tree->root = root;
    Node* node = root;
    for (int d = 1; d <= length; ++d) {
        const int sign  = d % 2 ? 1 : -1;
        Node*     best  = makeNode(tree, d, d, sign, 0.5f, 2, 1);
        Node*     other = makeNode(tree, d, 0, sign, 0.5f, 1, 1);
        attach(node, {other, best});
        node = best;
    }
    return root;
}

TEST(Reports, TreeDataFollowsTheMostVisitedLine) {
    Tree tree(1000);
    buildLine(&tree, 14);
    std::string text;
    {
        CoutCapture out;
        tree.printData();
        text = out.text();
    }
    std::istringstream lines(text);
    std::string        line;
    std::getline(lines, line);
    EXPECT_EQ(line, "2 % nodes used (0k)");
    std::getline(lines, line);
    EXPECT_EQ(line, mcts::usedMemoryText(tree.getMemory()));
    std::getline(lines, line);
    EXPECT_EQ(line, "0 : none           Q=0% + 0% : H=0 : Visit=0");
    std::getline(lines, line);
    EXPECT_EQ(line, "1 : CROSS  (1, 1) Q=50% + 24.9% : H=0.5 : Visit=2");
    for (int d = 2; d <= 10; ++d)
        std::getline(lines, line);
    EXPECT_EQ(line, "10 : CIRCLE (10, 10) Q=50% + 24.9% : H=0.5 : Visit=2");
    std::getline(lines, line);
    EXPECT_EQ(line, "Total 14 moves ahead");
    EXPECT_FALSE(std::getline(lines, line));
}

TEST(Reports, TreeDataEndings) {
    Tree tree(1000);
    {
        CoutCapture out;
        tree.printData();
        EXPECT_EQ(out.text(),
                  "0 % nodes used (0k)\n" + mcts::usedMemoryText(tree.getMemory()) + "\n");
    }
    const struct {
        int         length;
        const char* last;
    } cases[] = {
        {0, "Total 0 moves ahead\n"}, {1, "Total 1 move ahead\n"}, {2, "Total 2 moves ahead\n"}};
    for (const auto& c : cases) {
        tree.free();
        buildLine(&tree, c.length);
        CoutCapture out;
        tree.printData();
        const std::string text = out.text();
        ASSERT_GE(text.size(), std::string(c.last).size());
        EXPECT_EQ(text.substr(text.size() - std::string(c.last).size()), c.last);
    }
}

TEST(Reports, SearchStatusAndPlayerBanner) {
    mcts::LearningPlayer player(20, playertest::SMALL_POOL);
    player.search->evaluations = 12;
    player.search->simulations = 20;
    player.search->expansions  = 0;
    for (int i = 0; i < 4; ++i)
        player.search->timers[i] = 0;
    {
        CoutCapture out;
        player.search->getStatus(false);
        EXPECT_EQ(out.text(),
                  "Search stats\n12 network evaluations\n20 simulations\n0 expansions\n");
    }
    player.search->timers[0] = 50;
    player.search->timers[1] = 3;
    const std::string times  = "selection  2.5 us\n"
                               "network    0.25 us\n"
                               "expansion  0 us\n"
                               "backup     0 us\n";
    {
        CoutCapture out;
        player.search->getStatus(true);
        EXPECT_EQ(out.text(),
                  "Search stats\n12 network evaluations\n20 simulations\n0 expansions\n" + times);
    }
    {
        CoutCapture out;
        player.printData();
        EXPECT_EQ(out.text().substr(0, 40), "------------------------\nQuoribo CIRCLE\n")
            << "a player without a side is named CIRCLE";
    }
    player.setSign(1);
    CoutCapture out;
    player.printData();
    EXPECT_EQ(out.text(), "------------------------\nQuoribo CROSS\nSearch stats\n"
                          "12 network evaluations\n20 simulations\n0 expansions\n" +
                              times + "------------------------\n\n");
}

} // namespace
