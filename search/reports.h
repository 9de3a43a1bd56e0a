#pragma once

#include <string>

// Plain-text reports of boards, move distributions and the search, for
// standard output or appended to the log file. Nothing on the protocol path
// calls them: during a match standard output carries only protocol answers.
// The member reports live with their classes' declarations (Move::print,
// Node::print, Tree::printData, Search::getStatus, LearningPlayer::printData).

namespace mcts {

// Path of the file the log reports append to. Each report opens it, writes
// and closes it again; when it cannot be opened the report writes nothing.
extern const char* log_file;

// The board as a grid: " X", " O", " _" per cell, an empty line at the end.
void printBoard(const int* const* board, int boardSize);

// Stones and per-mille probabilities, one line per row.
void printDistribution(const int* const* board, const float* const* policy, int boardSize);

// The same cells appended to the log file, one line per column.
void logDistribution(const int* const* board, const float* const* policy, int boardSize);

// "Used memory = N kB" below 4 MB, else "Used memory = N MB", as the pool
// report writes it (without line end).
std::string usedMemoryText(long long bytes);

} // namespace mcts
