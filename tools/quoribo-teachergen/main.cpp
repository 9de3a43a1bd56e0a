// Generates teacher games for training the network's policy and value:
//
//   quoribo-teachergen OUT.bin --games N --seed S [--threads T]
//                      [--random-openings K] [--randomness R]
//
// The record layout is in tools/common/teacherGames.h and FORMAT.md beside
// this file. Game i is played from a seed derived from S and i alone, and
// games are written in order, so the file does not depend on --threads.

#include "tools/common/protocolText.h"
#include "tools/common/teacherGames.h"

#include "util/platform.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kBatchGames = 512; // games per round of the worker threads

struct Options {
    std::string                out;
    int                        games   = 0;
    uint64_t                   seed    = 1;
    bool                       seeded  = false;
    int                        threads = 1;
    tools::TeacherGameSettings settings;
};

void printUsage() {
    std::fprintf(stderr, "usage: quoribo-teachergen OUT.bin --games N --seed S [--threads T]\n"
                         "                          [--random-openings K] [--randomness R]\n"
                         "  K: random opening stones (default 4); R: teacher randomness (default "
                         "0.15)\n");
}

bool parseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg      = argv[i];
        const bool        hasValue = i + 1 < argc;
        if (arg == "--games" && hasValue) {
            if (!tools::parseInt(argv[++i], &options->games) || options->games < 1)
                return false;
        } else if (arg == "--seed" && hasValue) {
            options->seed   = std::strtoull(argv[++i], nullptr, 10);
            options->seeded = true;
        } else if (arg == "--threads" && hasValue) {
            if (!tools::parseInt(argv[++i], &options->threads) || options->threads < 1 ||
                options->threads > 256)
                return false;
        } else if (arg == "--random-openings" && hasValue) {
            int& k = options->settings.openingStones;
            if (!tools::parseInt(argv[++i], &k) || k < 0 || k > tools::kCellCount / 2)
                return false;
        } else if (arg == "--randomness" && hasValue) {
            char*        end   = nullptr;
            const double value = std::strtod(argv[++i], &end);
            if (*end != '\0' || !(value >= 0.0 && value <= 1.0))
                return false;
            options->settings.randomness = value;
        } else if (!arg.empty() && arg[0] != '-' && options->out.empty()) {
            options->out = arg;
        } else {
            return false;
        }
    }
    return !options->out.empty() && options->games > 0 && options->seeded;
}

// Spreads game numbers over the seed space (splitmix64), so neighbouring
// games share nothing.
uint64_t gameSeed(uint64_t seed, uint64_t game) {
    uint64_t z = seed + 0x9e3779b97f4a7c15ULL * (game + 1);
    z          = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z          = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// Plays games [first, first + count) on the worker threads, each game's
// records into its own slot.
void playBatch(const Options& options, int first, int count,
               std::vector<std::vector<tools::TeacherRecord>>* slots) {
    std::atomic<int> next{0};
    auto             worker = [&]() {
        for (int i = next++; i < count; i = next++) {
            (*slots)[i].clear();
            tools::playTeacherGame(gameSeed(options.seed, static_cast<uint64_t>(first + i)),
                                               options.settings, &(*slots)[i]);
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < options.threads; ++t)
        pool.emplace_back(worker);
    worker();
    for (std::thread& thread : pool)
        thread.join();
}

bool writeRecords(std::FILE* file, const std::vector<tools::TeacherRecord>& records) {
    std::vector<uint8_t> bytes(records.size() * tools::kTeacherRecordBytes);
    for (size_t i = 0; i < records.size(); ++i)
        tools::encodeTeacherRecord(records[i], &bytes[i * tools::kTeacherRecordBytes]);
    return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, &options)) {
        printUsage();
        return 2;
    }
    std::FILE* file = std::fopen(options.out.c_str(), "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "cannot write %s\n", options.out.c_str());
        return 1;
    }
    std::vector<std::vector<tools::TeacherRecord>> slots(kBatchGames);
    const int                                      start     = tovu::getTickCount();
    long long                                      positions = 0;
    int                                            wins[3]   = {0, 0, 0}; // second, draw, first
    for (int done = 0; done < options.games;) {
        const int count = std::min(kBatchGames, options.games - done);
        playBatch(options, done, count, &slots);
        for (int i = 0; i < count; ++i) {
            const std::vector<tools::TeacherRecord>& game = slots[i];
            if (!writeRecords(file, game)) {
                std::fprintf(stderr, "write to %s failed\n", options.out.c_str());
                std::fclose(file);
                return 1;
            }
            positions += static_cast<long long>(game.size());
            if (!game.empty()) {
                const tools::TeacherRecord& first = game.front();
                // The first mover's result decides which count goes up.
                wins[first.colour == 1 ? first.result : 2 - first.result]++;
            }
        }
        done += count;
        const double seconds = (tovu::getTickCount() - start) / 1000.0;
        std::fprintf(stderr, "games %d/%d, %.1f games/s, %lld positions\n", done, options.games,
                     seconds > 0 ? done / seconds : 0.0, positions);
    }
    if (std::fclose(file) != 0) {
        std::fprintf(stderr, "write to %s failed\n", options.out.c_str());
        return 1;
    }
    std::fprintf(stderr, "done: %lld positions; first mover won %d, drew %d, lost %d\n", positions,
                 wins[2], wins[1], wins[0]);
    return 0;
}
