#pragma once

#include "tools/common/gameBoard.h"

#include <cstdio>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace toolstest {

// A board from a picture: 'X' is side `xSign`, 'O' the other side, anything
// else empty. Picture line i is board row top + i, character j column left + j.
inline tools::GameBoard boardFrom(const std::string& picture, int top = 0, int left = 0,
                                  int xSign = 1) {
    tools::GameBoard   board;
    std::istringstream lines(picture);
    std::string        line;
    for (int row = top; std::getline(lines, line); ++row)
        for (int j = 0; j < static_cast<int>(line.size()); ++j) {
            if (line[j] == 'X')
                board.place(row, left + j, xSign);
            else if (line[j] == 'O')
                board.place(row, left + j, -xSign);
        }
    return board;
}

// The cell index of a board coordinate.
constexpr int cellAt(int row, int col) {
    return row * tools::kBoardSize + col;
}

// A VCF of three fours for X (four, block, double four, block, five), whose
// column's third stone must first come with a four on the row below; O to
// move faces it. The solver tests place it at row 6, column 4.
inline const char* const kThreeMoveVcf = "....O....\n"
                                         "....X....\n"
                                         "....X....\n"
                                         ".....XXXO\n"
                                         "OXXX.....";

inline std::string binPath(const std::string& tool) {
    return std::string(QUORIBO_BIN_DIR) + "/" + tool;
}

// Runs a shell command; returns its exit status and its stdout in `output`.
inline int runCommand(const std::string& command, std::string* output) {
    output->clear();
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return -1;
    char   chunk[4096];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
        output->append(chunk, n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace toolstest
