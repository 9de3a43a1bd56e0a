#pragma once

// Small fixtures for the player tests: a tiny random network image and search
// roots built by hand in the player's own node pool.

#include "network/weightFile.h"
#include "search/mcts.h"

#include <initializer_list>
#include <vector>

namespace playertest {

// A node pool far below the brain's, so a player builds in milliseconds.
constexpr int SMALL_POOL = 20000;

inline std::vector<char> tinyNetwork(unsigned seed = 7) {
    return depnn::makeRandomWeightImage(20, 2, 16, 8, seed);
}

inline bool attachTinyNetwork(mcts::LearningPlayer* player, unsigned seed = 7) {
    const std::vector<char> image = tinyNetwork(seed);
    return player->loadFromChar(image.data(), static_cast<long long>(image.size()));
}

struct ChildStats {
    float visits;
    float valueSum;
};

// Makes the player's root (the opponent's last move, CIRCLE) with one CROSS
// child per entry, on cells (0, 0), (0, 1), ... in order.
inline mcts::Node* buildRoot(mcts::LearningPlayer* player, float rootVisits, float rootValueSum,
                             std::initializer_list<ChildStats> children) {
    mcts::Tree* tree = player->tree;
    tree->cut(999, 999, -1);
    mcts::Node* root = tree->root;
    root->visits     = rootVisits;
    root->valueSum   = rootValueSum;
    auto** array     = new mcts::Node*[children.size()];
    int    count     = 0;
    for (const ChildStats& stats : children) {
        mcts::Node* child = tree->nextNode(count / 20, count % 20, 1, 0.01f);
        child->visits     = stats.visits;
        child->valueSum   = stats.valueSum;
        array[count++]    = child;
    }
    if (!tree->expand(root, array, count))
        delete[] array;
    return root;
}

} // namespace playertest
