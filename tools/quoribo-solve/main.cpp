// Runs the threat-space solver on positions, for analysis and as its speed
// benchmark:
//
//   quoribo-solve [--nodes N] [--fours F] [--vct] [--threats T] [POSITIONS|-]
//       one position per line: 400 characters of '.', 'x', 'o' row-major, a
//       blank and the side to move ('x' or 'o'); prints the side to move's
//       VCF and, failing that, its refutations of the opponent's VCF; with
//       --vct also the first move of its win by threats (Solver::vct), with
//       up to T quiet threats along a line (default 2)
//   quoribo-solve --bench RECORDS.bin [--positions P] [--nodes N] [--fours F]
//       one VCF query for the side to move in each of the first P teacher
//       records (tools/quoribo-teachergen/FORMAT.md); prints the spread of
//       the query times and what was found

#include "tools/common/protocolText.h"
#include "tools/common/teacherGames.h"
#include "tools/solver/solver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

struct Options {
    std::string    input     = "-";
    bool           bench     = false;
    bool           vct       = false;
    int            threats   = solver::VctLimits{}.threats;
    int            positions = 20000;
    solver::Limits limits;
};

void printUsage() {
    std::fprintf(stderr, "usage: quoribo-solve [--nodes N] [--fours F] [--vct] [--threats T] "
                         "[POSITIONS|-]\n"
                         "       quoribo-solve --bench RECORDS.bin [--positions P] [--nodes N] "
                         "[--fours F]\n");
}

bool parseOptions(int argc, char** argv, Options* options) {
    bool named = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg      = argv[i];
        const bool        hasValue = i + 1 < argc;
        int               value    = 0;
        if (arg == "--vct") {
            options->vct = true;
        } else if (arg == "--bench" && hasValue) {
            options->bench = true;
            options->input = argv[++i];
            named          = true;
        } else if ((arg == "--positions" || arg == "--nodes" || arg == "--fours" ||
                    arg == "--threats") &&
                   hasValue) {
            if (!tools::parseInt(argv[++i], &value) || value < 1)
                return false;
            if (arg == "--positions")
                options->positions = value;
            else if (arg == "--threats")
                options->threats = value;
            else if (arg == "--nodes")
                options->limits.maxNodes = value;
            else
                options->limits.maxFours = value;
        } else if (!named && (arg == "-" || arg[0] != '-')) {
            options->input = arg;
            named          = true;
        } else {
            return false;
        }
    }
    return true;
}

std::string cellText(int cell) {
    return std::to_string(cell / tools::kBoardSize) + "," +
           std::to_string(cell % tools::kBoardSize);
}

std::string cellsText(const std::vector<int>& cells) {
    std::string text;
    for (int cell : cells)
        text += (text.empty() ? "" : " ") + cellText(cell);
    return text.empty() ? "none" : text;
}

const char* verdictName(solver::Verdict verdict) {
    switch (verdict) {
    case solver::Verdict::Win:
        return "win";
    case solver::Verdict::None:
        return "none";
    default:
        return "unknown";
    }
}

// "x" moved first (sign 1), "o" second; false for a malformed line.
bool parsePosition(const std::string& line, tools::GameBoard* board, int* toMove) {
    const std::string text = tools::trim(line);
    if (text.size() != tools::kCellCount + 2 || text[tools::kCellCount] != ' ')
        return false;
    board->clear();
    for (int cell = 0; cell < tools::kCellCount; ++cell) {
        const char ch = text[cell];
        if (ch == 'x' || ch == 'o')
            board->place(cell / tools::kBoardSize, cell % tools::kBoardSize, ch == 'x' ? 1 : -1);
        else if (ch != '.')
            return false;
    }
    const char side = text[tools::kCellCount + 1];
    *toMove         = side == 'x' ? 1 : -1;
    return side == 'x' || side == 'o';
}

int analyse(const Options& options) {
    std::ifstream file;
    if (options.input != "-") {
        file.open(options.input);
        if (!file) {
            std::fprintf(stderr, "cannot read %s\n", options.input.c_str());
            return 1;
        }
    }
    std::istream&  in = options.input == "-" ? std::cin : file;
    solver::Solver s;
    std::string    line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (tools::trim(line).empty())
            continue;
        tools::GameBoard board;
        int              toMove = 1;
        if (!parsePosition(line, &board, &toMove)) {
            std::printf("%d: not a position\n", number);
            continue;
        }
        if (options.vct) {
            solver::VctLimits vctLimits;
            vctLimits.threats               = options.threats;
            const solver::VctResult threats = s.vct(board, toMove, vctLimits);
            std::printf("%d: vct %s", number, verdictName(threats.verdict));
            if (threats.verdict == solver::Verdict::Win)
                std::printf(" from %s", cellText(threats.move).c_str());
            std::printf(" (%lld nodes)\n", static_cast<long long>(threats.nodes));
        }
        const solver::VcfResult own = s.vcf(board, toMove, options.limits);
        std::printf("%d: vcf %s", number, verdictName(own.verdict));
        if (own.verdict == solver::Verdict::Win) {
            std::printf(" in %d: %s\n", own.length(), cellsText(own.line).c_str());
            continue;
        }
        const solver::DefenceResult defence = s.defences(board, toMove, options.limits);
        if (!defence.threatened)
            std::printf("; opponent vcf %s\n", verdictName(defence.threat.verdict));
        else
            std::printf("; opponent vcf in %d: %s; refutations%s: %s\n", defence.threat.length(),
                        cellsText(defence.threat.line).c_str(), defence.exact ? "" : " (inexact)",
                        cellsText(defence.moves).c_str());
    }
    return 0;
}

double percentile(const std::vector<double>& sorted, double p) {
    const size_t index = static_cast<size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[index];
}

int bench(const Options& options) {
    std::ifstream file(options.input, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "cannot read %s\n", options.input.c_str());
        return 1;
    }
    solver::Solver      s;
    std::vector<double> times;
    int                 wins = 0, unknown = 0, longest = 0;
    int64_t             nodes = 0;
    uint8_t             bytes[tools::kTeacherRecordBytes];
    while (static_cast<int>(times.size()) < options.positions &&
           file.read(reinterpret_cast<char*>(bytes), sizeof bytes)) {
        const tools::TeacherRecord record = tools::decodeTeacherRecord(bytes);
        tools::GameBoard           board;
        for (int cell = 0; cell < tools::kCellCount; ++cell)
            if (record.cells[cell] != 0)
                board.place(cell / tools::kBoardSize, cell % tools::kBoardSize, record.cells[cell]);
        const auto              start  = std::chrono::steady_clock::now();
        const solver::VcfResult result = s.vcf(board, 1, options.limits);
        const auto              end    = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        nodes += result.nodes;
        wins += result.verdict == solver::Verdict::Win;
        unknown += result.verdict == solver::Verdict::Unknown;
        if (result.verdict == solver::Verdict::Win)
            longest = std::max(longest, result.length());
    }
    if (times.empty()) {
        std::fprintf(stderr, "no records in %s\n", options.input.c_str());
        return 1;
    }
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    double total = 0;
    for (double t : times)
        total += t;
    std::printf("%zu VCF queries (node limit %lld, up to %d fours): median %.3f ms, 90th "
                "percentile %.3f ms, 99th %.3f ms, max %.3f ms, mean %.3f ms\n",
                times.size(), static_cast<long long>(options.limits.maxNodes),
                options.limits.maxFours, percentile(sorted, 0.5), percentile(sorted, 0.9),
                percentile(sorted, 0.99), sorted.back(), total / static_cast<double>(times.size()));
    std::printf("wins %d (longest %d attacker moves), none found within the limits %d, "
                "nodes %.0f per query\n",
                wins, longest, unknown,
                static_cast<double>(nodes) / static_cast<double>(times.size()));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, &options)) {
        printUsage();
        return 2;
    }
    return options.bench ? bench(options) : analyse(options);
}
