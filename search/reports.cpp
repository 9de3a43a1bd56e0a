#include "search/reports.h"

#include "search/LearningPlayer.h"
#include "search/Move.h"
#include "search/Node.h"
#include "search/Search.h"
#include "search/Tree.h"

#include <climits>
#include <cmath>
#include <fstream>
#include <iostream>
#include <string>

namespace mcts {

const char* log_file = "D:\\log_kesh.txt";

namespace {

constexpr const char* RULE = "------------------------";

// A product truncated in single precision: stored as a float first, then cut
// toward zero. Values that are not numbers or do not fit an int give 0 and
// the int limits, so a broken statistic cannot make a report misbehave.
int truncSingle(float value) {
    if (std::isnan(value))
        return 0;
    if (value >= 2147483520.0f)
        return INT_MAX;
    if (value <= -2147483648.0f)
        return INT_MIN;
    return static_cast<int>(value);
}

// Each log report opens the file for appending, writes and closes it, so
// nothing holds the file open between reports.
std::ofstream openLog() {
    return std::ofstream(log_file, std::ios::out | std::ios::app);
}

void writeBoardCell(std::ostream& out, int cell) {
    if (cell == 0)
        out << " _";
    else if (cell == 1)
        out << " X";
    else if (cell == -1)
        out << " O";
}

// Four characters per cell (five for a certain move of 1000 per mille).
void writeDistributionCell(std::ostream& out, int cell, float probability) {
    if (cell == 1) {
        out << "  X ";
        return;
    }
    if (cell != 0) {
        out << "  O ";
        return;
    }
    const int perMille = truncSingle(1000 * probability);
    out << " ";
    if (perMille == 0) {
        out << " _ ";
        return;
    }
    if (perMille <= 99)
        out << " ";
    if (perMille <= 9)
        out << " ";
    out << perMille;
}

// The cells [r][c] with `outer` as the line index; transposed when the log
// report runs its lines along the second index.
void writeDistribution(std::ostream& out, const int* const* board, const float* const* policy,
                       int boardSize, bool linePerColumn) {
    for (int line = 0; line < boardSize; ++line) {
        for (int k = 0; k < boardSize; ++k) {
            const int r = linePerColumn ? k : line;
            const int c = linePerColumn ? line : k;
            writeDistributionCell(out, board[r][c], policy[r][c]);
        }
        out << std::endl;
    }
    out << std::endl;
}

void writeNodeLine(std::ostream& out, const Node* node) {
    if (node->sign == 0) {
        out << "none           ";
    } else {
        out << (node->sign == 1 ? "CROSS " : "CIRCLE");
        out << " (" << node->row << ", " << node->col << ")"
            << " ";
    }
    const double q =
        node->visits != 0 ? truncSingle(node->valueSum / node->visits * 1000) / 10.0 : 0.0;
    const double u =
        truncSingle(static_cast<float>(node->prior / (node->visits + 0.001) * 1000)) / 10.0;
    const double h = truncSingle(node->prior * 1000) / 1000.0;
    out << "Q=" << q << "% + " << u << "% : H=" << h << " : Visit=" << truncSingle(node->visits)
        << std::endl;
}

// Visits descending, ties by prior descending, complete ties kept in order.
void sortByVisitsThenPrior(Node* node) {
    Node** children = node->children;
    for (int pass = 0; pass < node->childCount; ++pass) {
        bool swapped = false;
        for (int j = 1; j < node->childCount; ++j) {
            Node* a = children[j - 1];
            Node* b = children[j];
            if (b->visits > a->visits || (b->visits == a->visits && b->prior > a->prior)) {
                children[j - 1] = b;
                children[j]     = a;
                swapped         = true;
            }
        }
        if (!swapped)
            break;
    }
}

int shownChildren(const Node* node, int count) {
    if (count < 0)
        return 0;
    return count < node->childCount ? count : node->childCount;
}

} // namespace

void printBoard(const int* const* board, int boardSize) {
    for (int r = 0; r < boardSize; ++r) {
        for (int c = 0; c < boardSize; ++c)
            writeBoardCell(std::cout, board[r][c]);
        std::cout << std::endl;
    }
    std::cout << std::endl;
}

void printDistribution(const int* const* board, const float* const* policy, int boardSize) {
    writeDistribution(std::cout, board, policy, boardSize, false);
}

void logDistribution(const int* const* board, const float* const* policy, int boardSize) {
    std::ofstream log = openLog();
    if (!log)
        return;
    writeDistribution(log, board, policy, boardSize, true);
}

std::string usedMemoryText(long long bytes) {
    if (bytes > 4194303)
        return "Used memory = " + std::to_string(bytes / 1048576) + " MB";
    return "Used memory = " + std::to_string(bytes / 1024) + " kB";
}

void Move::print() const {
    if (sign == 1)
        std::cout << "CROSS (";
    else if (sign == -1)
        std::cout << "CIRCLE (";
    else if (sign == 0)
        std::cout << "none (";
    else
        return;
    std::cout << row << "," << col << ")";
}

void Node::print() const {
    writeNodeLine(std::cout, this);
}

void Node::log() const {
    std::ofstream log = openLog();
    if (log)
        writeNodeLine(log, this);
}

void Node::sortChildren(int count) {
    if (childCount <= 0)
        return;
    sortByVisitsThenPrior(this);
    std::cout << "Overall " << childCount << " children" << std::endl;
    for (int i = 0; i < shownChildren(this, count); ++i)
        children[i]->print();
}

void Node::sortChildrenLog(int count) {
    std::ofstream log = openLog();
    if (childCount <= 0)
        return;
    sortByVisitsThenPrior(this);
    if (log)
        log << "Overall " << childCount << " children" << std::endl;
    // Every child line appends through a handle of its own, after the header.
    for (int i = 0; i < shownChildren(this, count); ++i)
        children[i]->log();
}

void Tree::printData() const {
    const long long percent =
        maxNodes != 0 ? static_cast<long long>(usedNodes) * 100 / maxNodes : 0;
    std::cout << percent << " % nodes used (" << usedNodes / 1000 << "k)" << std::endl;
    std::cout << usedMemoryText(getMemory()) << std::endl;
    if (root == nullptr)
        return;
    std::cout << "0 : ";
    root->print();
    int         depth = 0;
    const Node* node  = root->selectByVisit();
    while (node != nullptr) {
        ++depth;
        if (depth <= 10) {
            std::cout << depth << " : ";
            node->print();
        }
        node = node->selectByVisit();
    }
    std::cout << "Total " << depth << (depth == 1 ? " move ahead" : " moves ahead") << std::endl;
}

void Tree::logData() const {}

void Search::getStatus(bool withTimes) const {
    std::cout << "Search stats" << std::endl;
    std::cout << evaluations << " network evaluations" << std::endl;
    std::cout << simulations << " simulations" << std::endl;
    std::cout << expansions << " expansions" << std::endl;
    if (!withTimes)
        return;
    const auto mean = [](int total, int count) {
        return count != 0 ? static_cast<double>(total) / count : 0.0;
    };
    std::cout << "selection  " << mean(timers[0], simulations) << " us" << std::endl;
    std::cout << "network    " << mean(timers[1], evaluations) << " us" << std::endl;
    std::cout << "expansion  " << mean(timers[2], expansions) << " us" << std::endl;
    std::cout << "backup     " << mean(timers[3], simulations) << " us" << std::endl;
}

void LearningPlayer::printData() const {
    std::cout << RULE << std::endl;
    std::cout << "Quoribo " << (sign == 1 ? "CROSS" : "CIRCLE") << std::endl;
    search->getStatus(true);
    std::cout << RULE << std::endl;
    std::cout << std::endl;
}

} // namespace mcts
