// quoribo-eval: evaluates positions with a network.bin exactly as the brain
// does, for analysing positions and for checking the trainer's copy of the
// network against the engine.
//
//   quoribo-eval [--pretty] [--fast] NETWORK.bin [POSITIONS_FILE|-]
//
// Positions are read one per line from the file, or from standard input when
// it is "-" or left out: the N*N cells row-major ('.' empty, 'x' CROSS, 'o'
// CIRCLE), a space, and the side to move ('x' or 'o'). Blank lines are
// skipped. For each position the tool prints "value V", the winning
// probability of the side to move, and a line of the N*N policy entries
// (zero on stones, summing to 1 over the empty cells). --pretty prints the
// board with the policy in per mille instead. The reference float pass is
// used unless --fast asks for the kernels the brain would pick on this
// processor.

#include "network/deployedNN.h"
#include "network/weightFile.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int EXIT_BAD_INPUT = 1;
constexpr int EXIT_USAGE     = 2;

const char* const USAGE =
    "usage: quoribo-eval [--pretty] [--fast] NETWORK.bin [POSITIONS_FILE|-]\n";

struct Options {
    bool        pretty = false;
    bool        fast   = false;
    std::string networkPath;
    std::string positionsPath = "-";
};

bool parseOptions(int argc, char** argv, Options* options) {
    std::vector<std::string> paths;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--pretty")
            options->pretty = true;
        else if (arg == "--fast")
            options->fast = true;
        else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "quoribo-eval: unknown option '%s'\n", arg.c_str());
            return false;
        } else
            paths.push_back(arg);
    }
    if (paths.empty() || paths.size() > 2) {
        std::fprintf(stderr, "quoribo-eval: expected a network file and at most one "
                             "positions file\n");
        return false;
    }
    options->networkPath = paths[0];
    if (paths.size() == 2)
        options->positionsPath = paths[1];
    return true;
}

// A board in the network's calling form: N row pointers into one cell array.
class Position {
  public:
    explicit Position(int boardSize)
        : size(boardSize), cells(boardSize * boardSize), rows(boardSize),
          policyCells(boardSize * boardSize), policyRows(boardSize) {
        for (int r = 0; r < size; r++) {
            rows[r]       = &cells[r * size];
            policyRows[r] = &policyCells[r * size];
        }
    }
    // The row tables point into this object's own arrays.
    Position(const Position&)            = delete;
    Position& operator=(const Position&) = delete;

    // Reads one line; false with *error set when it is malformed.
    bool parse(const std::string& line, std::string* error) {
        const int count = size * size;
        if (static_cast<int>(line.size()) != count + 2 || line[count] != ' ') {
            *error = "expected " + std::to_string(count) +
                     " cells of '.', 'x', 'o', a space and the side to move, got " +
                     std::to_string(line.size()) + " characters";
            return false;
        }
        for (int p = 0; p < count; p++) {
            int value = stoneValue(line[p]);
            if (value == BAD) {
                *error = "cell " + std::to_string(p) + " (row " + std::to_string(p / size) +
                         ", column " + std::to_string(p % size) + ") is '" + line[p] +
                         "', not '.', 'x' or 'o'";
                return false;
            }
            cells[p] = value;
        }
        side = stoneValue(line[count + 1]);
        if (side != 1 && side != -1) {
            *error = std::string("side to move is '") + line[count + 1] + "', not 'x' or 'o'";
            return false;
        }
        return true;
    }

    int**   board() { return rows.data(); }
    float** policy() { return policyRows.data(); }
    int     sideToMove() const { return side; }
    int     cell(int p) const { return cells[p]; }
    float   probability(int p) const { return policyCells[p]; }
    int     boardSize() const { return size; }

  private:
    static constexpr int BAD = 2;

    static int stoneValue(char c) {
        switch (c) {
        case '.':
            return 0;
        case 'x':
            return 1;
        case 'o':
            return -1;
        default:
            return BAD;
        }
    }

    int                 size;
    int                 side = 1;
    std::vector<int>    cells;
    std::vector<int*>   rows;
    std::vector<float>  policyCells;
    std::vector<float*> policyRows;
};

void printPlain(const Position& position, float value) {
    std::printf("value %.9g\n", value);
    const int count = position.boardSize() * position.boardSize();
    for (int p = 0; p < count; p++)
        std::printf(p ? " %.9g" : "%.9g", position.probability(p));
    std::printf("\n");
}

// The board with the stones as X and O and every empty cell's probability in
// per mille ('.' below one half per mille), then the most likely move.
void printPretty(const Position& position, float value) {
    const int  n    = position.boardSize();
    const char side = position.sideToMove() == 1 ? 'x' : 'o';
    std::printf("side to move %c, value %.4f\n    ", side, value);
    for (int c = 0; c < n; c++)
        std::printf("%4d", c);
    std::printf("\n");
    int best = -1;
    for (int r = 0; r < n; r++) {
        std::printf("%4d", r);
        for (int c = 0; c < n; c++) {
            const int p = r * n + c;
            if (position.cell(p) != 0) {
                std::printf("%4c", position.cell(p) == 1 ? 'X' : 'O');
                continue;
            }
            const int perMille = static_cast<int>(position.probability(p) * 1000.0f + 0.5f);
            if (perMille > 0)
                std::printf("%4d", perMille);
            else
                std::printf("%4c", '.');
            if (best < 0 || position.probability(p) > position.probability(best))
                best = p;
        }
        std::printf("\n");
    }
    if (best >= 0)
        std::printf("best %d,%d (%.4f)\n\n", best / n, best % n, position.probability(best));
    else
        std::printf("no empty cell\n\n");
}

// Reads, checks and builds the network; nullptr after printing why not.
std::unique_ptr<depnn::QuoriboNetwork> loadNetwork(const std::string& path, bool fast,
                                                   int* boardSize) {
    long long                     length = 0;
    const char*                   reason = nullptr;
    const std::unique_ptr<char[]> image(depnn::readWeightFile(path.c_str(), &length, &reason));
    if (!image && reason == nullptr) {
        std::fprintf(stderr, "quoribo-eval: cannot read network file '%s'\n", path.c_str());
        return nullptr;
    }
    depnn::NetworkShape shape{};
    if (!image || !depnn::checkWeightImage(image.get(), length, &shape, &reason)) {
        std::fprintf(stderr, "quoribo-eval: '%s' is not a usable network: %s\n", path.c_str(),
                     reason);
        return nullptr;
    }
    auto network = std::make_unique<depnn::QuoriboNetwork>(image.get(), length);
    if (!fast)
        network->simdType = 0;
    *boardSize = shape.boardSize;
    return network;
}

void stripLineEnd(std::string* line) {
    while (!line->empty() && (line->back() == '\r' || line->back() == ' ' || line->back() == '\t'))
        line->pop_back();
}

int evaluateAll(std::istream& in, const char* source, depnn::QuoriboNetwork* network, int boardSize,
                bool pretty) {
    Position    position(boardSize);
    std::string line, error;
    for (long lineNumber = 1; std::getline(in, line); lineNumber++) {
        stripLineEnd(&line);
        if (line.empty())
            continue;
        if (!position.parse(line, &error)) {
            std::fflush(stdout);
            std::fprintf(stderr, "quoribo-eval: %s:%ld: %s\n", source, lineNumber, error.c_str());
            return EXIT_BAD_INPUT;
        }
        const float value =
            network->getOutput(position.board(), position.sideToMove(), position.policy());
        if (pretty)
            printPretty(position, value);
        else
            printPlain(position, value);
    }
    if (in.bad()) {
        std::fprintf(stderr, "quoribo-eval: error reading %s\n", source);
        return EXIT_BAD_INPUT;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::printf("%s", USAGE);
            return 0;
        }
    }
    Options options;
    if (!parseOptions(argc, argv, &options)) {
        std::fprintf(stderr, "%s", USAGE);
        return EXIT_USAGE;
    }
    int  boardSize = 0;
    auto network   = loadNetwork(options.networkPath, options.fast, &boardSize);
    if (!network)
        return EXIT_BAD_INPUT;
    if (options.positionsPath == "-")
        return evaluateAll(std::cin, "<stdin>", network.get(), boardSize, options.pretty);
    std::ifstream file(options.positionsPath);
    if (!file) {
        std::fprintf(stderr, "quoribo-eval: cannot open positions file '%s'\n",
                     options.positionsPath.c_str());
        return EXIT_BAD_INPUT;
    }
    return evaluateAll(file, options.positionsPath.c_str(), network.get(), boardSize,
                       options.pretty);
}
