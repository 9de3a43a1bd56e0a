// Builds and checks the verified tactical suite (tools/solver/tacticalSuite.h):
//
//   quoribo-suite make OUT.txt [--teacher RECORDS.bin] [--selfplay GAMES.bin]
//                 [--per-group N] [--seed S]
//       classifies the positions of teacher records
//       (tools/quoribo-teachergen/FORMAT.md) and self-play games
//       (tools/quoribo-selfplay/FORMAT.md), in an order shuffled by S, and
//       writes up to N positions per group, at most one per game and group
//   quoribo-suite check SUITE.txt
//       re-derives every position's group and answers; exit status 1 on any
//       fault
//
// scripts/tactics.py runs a brain on the suite.

#include "tools/common/protocolText.h"
#include "tools/common/teacherGames.h"
#include "tools/solver/tacticalSuite.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using tools::kBoardSize;
using tools::kCellCount;

struct Source {
    tools::GameBoard board;
    int              sign = 1; // to move
    std::string      name;     // where it comes from
    int              game = 0; // games numbered over all sources
};

struct Options {
    std::string command, path, teacher, selfplay;
    int         perGroup = 100;
    int         seed     = 1;
};

void printUsage() {
    std::fprintf(stderr, "usage: quoribo-suite make OUT.txt [--teacher RECORDS.bin] "
                         "[--selfplay GAMES.bin] [--per-group N] [--seed S]\n"
                         "       quoribo-suite check SUITE.txt\n");
}

bool parseOptions(int argc, char** argv, Options* options) {
    if (argc < 3)
        return false;
    options->command = argv[1];
    options->path    = argv[2];
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--teacher")
            options->teacher = argv[i + 1];
        else if (arg == "--selfplay")
            options->selfplay = argv[i + 1];
        else if (arg == "--per-group" || arg == "--seed") {
            int value = 0;
            if (!tools::parseInt(argv[i + 1], &value) || value < 1)
                return false;
            (arg == "--seed" ? options->seed : options->perGroup) = value;
        } else
            return false;
    }
    if (argc % 2 == 0)
        return false;
    return options->command == "check" ||
           (options->command == "make" && !(options->teacher.empty() && options->selfplay.empty()));
}

bool readFile(const std::string& path, std::vector<uint8_t>* bytes) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    bytes->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return true;
}

// Teacher records hold the side to move's stones as 1; a game starts where
// the stone count stops growing.
bool teacherPositions(const std::string& path, int* games, std::vector<Source>* out) {
    std::vector<uint8_t> bytes;
    if (!readFile(path, &bytes) || bytes.size() % tools::kTeacherRecordBytes != 0)
        return false;
    int last = kCellCount;
    for (size_t at = 0; at < bytes.size(); at += tools::kTeacherRecordBytes) {
        const tools::TeacherRecord record = tools::decodeTeacherRecord(&bytes[at]);
        Source                     source;
        source.sign = record.colour;
        for (int cell = 0; cell < kCellCount; ++cell)
            if (record.cells[cell] != 0)
                source.board.place(cell / kBoardSize, cell % kBoardSize,
                                   record.cells[cell] * record.colour);
        if (source.board.stoneCount() <= last)
            ++*games;
        last        = source.board.stoneCount();
        source.game = *games;
        source.name = "t" + std::to_string(at / tools::kTeacherRecordBytes);
        out->push_back(source);
    }
    return true;
}

unsigned readLe(const std::vector<uint8_t>& bytes, size_t at, int size) {
    unsigned value = 0;
    for (int k = size - 1; k >= 0; --k)
        value = value << 8 | bytes[at + k];
    return value;
}

// Self-play games replayed: the position before every searched move.
bool selfplayPositions(const std::string& path, int* games, std::vector<Source>* out) {
    std::vector<uint8_t> bytes;
    if (!readFile(path, &bytes) || bytes.size() < 16 || std::memcmp(bytes.data(), "QSP1", 4) != 0)
        return false;
    for (size_t at = 16; at + 4 <= bytes.size();) {
        const size_t size = readLe(bytes, at, 4);
        if (size < 8 || at + 4 + size > bytes.size())
            return false;
        const unsigned number  = readLe(bytes, at + 4, 4);
        const int      opening = bytes[at + 8];
        const int      stones  = static_cast<int>(readLe(bytes, at + 10, 2));
        if (12 + 2 * static_cast<size_t>(stones) > size + 4)
            return false;
        ++*games;
        tools::GameBoard board;
        for (int i = 0; i < stones; ++i) {
            const int cell = static_cast<int>(readLe(bytes, at + 12 + 2 * i, 2));
            const int sign = i % 2 == 0 ? 1 : -1;
            if (i >= opening)
                out->push_back(
                    {board, sign, "s" + std::to_string(number) + "-" + std::to_string(i), *games});
            if (cell >= kCellCount || !board.place(cell / kBoardSize, cell % kBoardSize, sign))
                return false;
        }
        at += 4 + size;
    }
    return true;
}

int make(const Options& options) {
    std::vector<Source> sources;
    int                 games = 0;
    if (!options.teacher.empty() && !teacherPositions(options.teacher, &games, &sources)) {
        std::fprintf(stderr, "cannot read teacher records %s\n", options.teacher.c_str());
        return 1;
    }
    if (!options.selfplay.empty() && !selfplayPositions(options.selfplay, &games, &sources)) {
        std::fprintf(stderr, "cannot read self-play games %s\n", options.selfplay.c_str());
        return 1;
    }
    std::mt19937_64 rng(static_cast<uint64_t>(options.seed));
    std::shuffle(sources.begin(), sources.end(), rng);
    std::vector<solver::SuitePosition> chosen[solver::kSuiteGroups];
    std::set<std::pair<int, int>>      used; // (game, group)
    size_t                             looked = 0;
    for (const Source& source : sources) {
        bool full = true;
        for (const auto& group : chosen)
            full = full && static_cast<int>(group.size()) >= options.perGroup;
        if (full)
            break;
        ++looked;
        const solver::SuiteVerdict verdict = solver::classifyPosition(source.board, source.sign);
        const int                  group   = static_cast<int>(verdict.group);
        if (verdict.group == solver::SuiteGroup::None ||
            static_cast<int>(chosen[group].size()) >= options.perGroup ||
            !used.insert({source.game, group}).second)
            continue;
        chosen[group].push_back({verdict.group,
                                 source.name + "-" + std::to_string(verdict.length) + "m",
                                 source.sign, source.board, verdict.answers});
    }
    std::ofstream out(options.path);
    out << "# Verified tactical suite, made by quoribo-suite from teacher (t<record>) and\n"
           "# self-play (s<game>-<stone>) positions; <n>m: attacker moves of the deciding\n"
           "# line. Format and groups: tools/solver/tacticalSuite.h.\n\n";
    for (const auto& group : chosen)
        for (const solver::SuitePosition& position : group)
            writeSuitePosition(out, position);
    out.close();
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", options.path.c_str());
        return 1;
    }
    std::printf("%zu of %zu positions looked at:", looked, sources.size());
    for (int g = 0; g < solver::kSuiteGroups; ++g)
        std::printf(" %s %zu", solver::groupName(static_cast<solver::SuiteGroup>(g)),
                    chosen[g].size());
    std::printf("\n");
    return 0;
}

int check(const Options& options) {
    std::ifstream                      in(options.path);
    std::vector<solver::SuitePosition> positions;
    std::string                        error;
    if (!in || !solver::readSuite(in, &positions, &error)) {
        std::fprintf(stderr, "%s: %s\n", options.path.c_str(), in ? error.c_str() : "cannot read");
        return 1;
    }
    int faults = 0, counts[solver::kSuiteGroups] = {};
    for (const solver::SuitePosition& position : positions) {
        ++counts[static_cast<int>(position.group)];
        for (const std::string& fault : solver::checkSuitePosition(position)) {
            std::printf("%s %s: %s\n", solver::groupName(position.group), position.name.c_str(),
                        fault.c_str());
            ++faults;
        }
    }
    std::printf("%zu positions, %d faults:", positions.size(), faults);
    for (int g = 0; g < solver::kSuiteGroups; ++g)
        std::printf(" %s %d", solver::groupName(static_cast<solver::SuiteGroup>(g)), counts[g]);
    std::printf("\n");
    return faults == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, &options)) {
        printUsage();
        return 2;
    }
    return options.command == "make" ? make(options) : check(options);
}
