// Self-play games for training, and gating matches between two networks,
// both played by the engine's own search at a fixed number of simulations.
//
//   quoribo-selfplay play NETWORK.bin OUT.bin --games N --seed S [options]
//   quoribo-selfplay gate BEST.bin CANDIDATE.bin --games N --seed S [options]
//
// `play` writes the records of FORMAT.md beside this file. Game i depends
// only on S and i, so the file is the same whatever --workers is, and a run
// started again on the same OUT.bin and seed goes on after its last complete
// game. `gate` plays the candidate against the best, each opening twice with
// colours swapped, and stops as soon as the SPRT decides; its last line is
// machine-readable for the training loop.

#include "tools/common/gatingStats.h"
#include "tools/common/openings.h"
#include "tools/common/protocolText.h"
#include "tools/common/searchAgent.h"
#include "tools/common/selfPlayGames.h"
#include "tools/common/selfPlayRecords.h"
#include "tools/common/workerPool.h"

#include "util/platform.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Node pool of one agent: far below the brain's 2,010,000, since a search of
// a few hundred simulations expands a few hundred nodes of at most 400
// children each, plus the subtree kept from the move before.
constexpr int kDefaultNodes = 500000;

struct Options {
    std::string             mode;
    std::string             files[2];
    int                     games   = 0;
    uint64_t                seed    = 0;
    bool                    seeded  = false;
    int                     workers = 2;
    int                     nodes   = kDefaultNodes;
    tools::SelfPlaySettings play;
    int                     gateSimulations = 200;
    tools::Sprt             sprt;
};

void printUsage() {
    std::fprintf(
        stderr,
        "usage: quoribo-selfplay play NETWORK.bin OUT.bin --games N --seed S [options]\n"
        "       quoribo-selfplay gate BEST.bin CANDIDATE.bin --games N --seed S [options]\n"
        "  --workers W        worker processes (default 2)\n"
        "  --nodes K          node pool of each agent (default 500000)\n"
        " play:\n"
        "  --full-sims F      simulations of a full search (default 400)\n"
        "  --fast-sims f      simulations of a fast search (default 80)\n"
        "  --full-share P     share of moves searched in full and recorded (default 0.25)\n"
        "  --noise E          share of the root prior replaced by noise (default 0.25)\n"
        "  --alpha A          Dirichlet concentration over the noised cells (default 10)\n"
        "  --temp-stones K    moves drawn by temperature below K stones (default 10)\n"
        "  --temperature T    (default 0.8)\n"
        "  --empty-start Q    share of games from the empty board (default 0.25)\n"
        "  --opening-stones M other games start from 1..M random stones (default 4)\n"
        "  --max-stones K     a game still open at K stones is a draw (default 200;\n"
        "                     gate too)\n"
        " gate:\n"
        "  --sims S           simulations per move (default 200)\n"
        "  --elo0 E0 --elo1 E1 --sprt-alpha A --sprt-beta B   SPRT (default 0, 35, 0.05, 0.05)\n");
}

bool parseDouble(const char* text, double* value) {
    char* end = nullptr;
    *value    = std::strtod(text, &end);
    return end != text && *end == '\0';
}

bool parseShare(const char* text, double* value) {
    return parseDouble(text, value) && *value >= 0 && *value <= 1;
}

bool parsePositive(const char* text, int* value) {
    return tools::parseInt(text, value) && *value >= 1;
}

bool parseOption(const std::string& arg, const char* value, Options* o) {
    tools::SelfPlaySettings& p = o->play;
    if (arg == "--games")
        return parsePositive(value, &o->games);
    if (arg == "--seed") {
        o->seeded = true;
        o->seed   = std::strtoull(value, nullptr, 10);
        return true;
    }
    if (arg == "--workers")
        return parsePositive(value, &o->workers) && o->workers <= 64;
    if (arg == "--nodes")
        return parsePositive(value, &o->nodes) && o->nodes >= 10000;
    if (arg == "--full-sims")
        return parsePositive(value, &p.fullSimulations) && p.fullSimulations <= 65535;
    if (arg == "--fast-sims")
        return parsePositive(value, &p.fastSimulations) && p.fastSimulations <= 65535;
    if (arg == "--full-share")
        return parseShare(value, &p.fullShare);
    if (arg == "--noise")
        return parseShare(value, &p.noise.weight);
    if (arg == "--alpha")
        return parseDouble(value, &p.noise.totalAlpha) && p.noise.totalAlpha > 0;
    if (arg == "--temp-stones")
        return tools::parseInt(value, &p.temperatureStones) && p.temperatureStones >= 0;
    if (arg == "--temperature")
        return parseDouble(value, &p.temperature) && p.temperature >= 0;
    if (arg == "--empty-start")
        return parseShare(value, &p.emptyStart);
    if (arg == "--opening-stones")
        return tools::parseInt(value, &p.maxOpeningStones) && p.maxOpeningStones >= 0 &&
               p.maxOpeningStones <= 20;
    if (arg == "--max-stones")
        return tools::parseInt(value, &p.maxStones) && p.maxStones >= 1;
    if (arg == "--sims")
        return parsePositive(value, &o->gateSimulations);
    if (arg == "--elo0")
        return parseDouble(value, &o->sprt.elo0);
    if (arg == "--elo1")
        return parseDouble(value, &o->sprt.elo1);
    if (arg == "--sprt-alpha")
        return parseDouble(value, &o->sprt.alpha) && o->sprt.alpha > 0 && o->sprt.alpha < 0.5;
    if (arg == "--sprt-beta")
        return parseDouble(value, &o->sprt.beta) && o->sprt.beta > 0 && o->sprt.beta < 0.5;
    return false;
}

bool parseOptions(int argc, char** argv, Options* o) {
    if (argc < 4)
        return false;
    o->mode     = argv[1];
    o->files[0] = argv[2];
    o->files[1] = argv[3];
    if (o->mode != "play" && o->mode != "gate")
        return false;
    for (int i = 4; i < argc; i += 2)
        if (i + 1 >= argc || !parseOption(argv[i], argv[i + 1], o))
            return false;
    return o->games > 0 && o->seeded && o->sprt.elo1 > o->sprt.elo0;
}

bool readNetwork(const std::string& path, std::vector<char>* image) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    image->assign(std::istreambuf_iterator<char>(file), {});
    tools::SearchAgent probe(1);
    return probe.loadNetwork(*image);
}

std::string duration(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char       text[32];
    std::snprintf(text, sizeof text, "%ldh%02ldm%02lds", s / 3600, s / 60 % 60, s % 60);
    return text;
}

// Shared by both modes: the rate so far and the time still to go.
struct Progress {
    int    start = tovu::getTickCount();
    double elapsed() const { return (tovu::getTickCount() - start) / 1000.0; }
    void   line(int done, int first, int total, const std::string& extra) const {
          const double seconds = elapsed();
          const int    now     = done - first;
          const double perHour = seconds > 0 ? now * 3600.0 / seconds : 0;
          const double eta     = now > 0 ? seconds / now * (total - done) : 0;
          std::fprintf(stderr, "games %d/%d, %.0f games/h, %s, elapsed %s, ETA %s\n", done, total,
                       perHour, extra.c_str(), duration(seconds).c_str(), duration(eta).c_str());
    }
};

int runPlay(const Options& o) {
    std::vector<char> image;
    if (!readNetwork(o.files[0], &image)) {
        std::fprintf(stderr, "cannot load the network %s\n", o.files[0].c_str());
        return 1;
    }
    uint64_t  fileSeed   = 0;
    bool      hasHeader  = false;
    long long validBytes = 0;
    int       done       = 0;
    if (!tools::scanSelfPlayFile(o.files[1], &fileSeed, &hasHeader, &validBytes, &done)) {
        std::fprintf(stderr, "%s is not a self-play record file\n", o.files[1].c_str());
        return 1;
    }
    if (hasHeader && fileSeed != o.seed) {
        std::fprintf(stderr, "%s was written with seed %llu, not %llu\n", o.files[1].c_str(),
                     static_cast<unsigned long long>(fileSeed),
                     static_cast<unsigned long long>(o.seed));
        return 1;
    }
    // Drop a game cut short by an interruption, then append.
    if (hasHeader && truncate(o.files[1].c_str(), validBytes) != 0) {
        std::fprintf(stderr, "cannot truncate %s\n", o.files[1].c_str());
        return 1;
    }
    std::FILE* file = std::fopen(o.files[1].c_str(), hasHeader ? "ab" : "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "cannot write %s\n", o.files[1].c_str());
        return 1;
    }
    if (!hasHeader) {
        const std::vector<uint8_t> header = tools::encodeSelfPlayHeader(o.seed);
        std::fwrite(header.data(), 1, header.size(), file);
    }
    if (done > 0)
        std::fprintf(stderr, "%s: %d games already there, going on\n", o.files[1].c_str(), done);
    const int first = done;

    std::unique_ptr<tools::SearchAgent> agent; // one per worker process, made on its first game
    const tools::PoolJob                job = [&](int index) {
        if (!agent) {
            agent = std::make_unique<tools::SearchAgent>(o.nodes);
            agent->loadNetwork(image);
        }
        const tools::GameRecord game =
            tools::playSelfPlayGame(tools::mixSeed(o.seed, static_cast<uint64_t>(index)),
                                                   static_cast<uint32_t>(index), o.play, agent.get());
        std::vector<uint8_t> bytes;
        tools::encodeGame(game, &bytes);
        return bytes;
    };
    long long  positions = 0, full = 0, stones = 0;
    int        firstWins = 0, draws = 0;
    bool       written = true;
    Progress   progress;
    const auto consume = [&](int index, const std::vector<uint8_t>& bytes) {
        tools::GameRecord game;
        size_t            used = 0;
        written = written && tools::decodeGame(bytes.data(), bytes.size(), &game, &used) &&
                  std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() &&
                  std::fflush(file) == 0;
        if (!written)
            return false;
        positions += static_cast<long long>(game.searched.size());
        for (const tools::SearchedMove& move : game.searched)
            full += move.full ? 1 : 0;
        stones += static_cast<long long>(game.moves.size());
        firstWins += game.winner == 1;
        draws += game.winner == 0;
        const int played = index + 1 - first;
        char      extra[160];
        std::snprintf(extra, sizeof extra,
                      "%lld positions (%lld full), %.1f stones/game, first mover %.0f%%, "
                      "draws %d",
                      positions, full, static_cast<double>(stones) / played,
                      100.0 * firstWins / played, draws);
        progress.line(index + 1, first, o.games, extra);
        return true;
    };
    std::string error;
    const bool  ok = tools::runJobs(o.workers, first, o.games - first, job, consume, &error);
    if (std::fclose(file) != 0 || !written) {
        std::fprintf(stderr, "write to %s failed\n", o.files[1].c_str());
        return 1;
    }
    if (!ok) {
        std::fprintf(stderr, "self-play failed: %s\n", error.c_str());
        return 1;
    }
    std::fprintf(stderr, "done: %d games, %lld positions (%lld full) in %s\n", o.games - first,
                 positions, full, duration(progress.elapsed()).c_str());
    return 0;
}

// Gating opening of game pair `pair`: 0, 1, 2 or 3 random central stones in
// turn, so the empty board is a quarter of the match.
std::vector<tools::Stone> gateOpening(uint64_t seed, int pair) {
    std::mt19937_64 rng(tools::mixSeed(seed ^ 0x6a09e667f3bcc909ULL, static_cast<uint64_t>(pair)));
    return tools::randomOpening(pair % 4, &rng);
}

int runGate(const Options& o) {
    std::vector<char> best, candidate;
    for (int i = 0; i < 2; ++i) {
        if (!readNetwork(o.files[i], i == 0 ? &best : &candidate)) {
            std::fprintf(stderr, "cannot load the network %s\n", o.files[i].c_str());
            return 1;
        }
    }
    std::unique_ptr<tools::SearchAgent> agents[2]; // best, candidate
    const tools::PoolJob                job = [&](int index) {
        if (!agents[0]) {
            for (int i = 0; i < 2; ++i) {
                agents[i] = std::make_unique<tools::SearchAgent>(o.nodes);
                agents[i]->loadNetwork(i == 0 ? best : candidate);
            }
        }
        // The candidate moves first in even games, second in odd ones.
        const bool candidateFirst = index % 2 == 0;
        int        moves          = 0;
        const int  winner         = tools::playArenaGame(
                                    tools::mixSeed(o.seed, static_cast<uint64_t>(index)), gateOpening(o.seed, index / 2),
                                    o.gateSimulations, o.play.maxStones, agents[candidateFirst ? 1 : 0].get(),
                                    agents[candidateFirst ? 0 : 1].get(), &moves);
        const int forCandidate = candidateFirst ? winner : -winner;
        return std::vector<uint8_t>{static_cast<uint8_t>(forCandidate + 1),
                                    static_cast<uint8_t>(moves & 0xff),
                                    static_cast<uint8_t>(moves >> 8)};
    };
    tools::MatchScore   score;
    tools::SprtDecision decision = tools::SprtDecision::Continue;
    Progress            progress;
    const auto          consume = [&](int index, const std::vector<uint8_t>& bytes) {
        const int result = bytes.empty() ? 1 : bytes[0];
        score.wins += result == 2;
        score.draws += result == 1;
        score.losses += result == 0;
        const tools::EloInterval elo = tools::eloInterval(score);
        char                     extra[160];
        std::snprintf(extra, sizeof extra,
                               "candidate +%d =%d -%d, Elo %+.0f [%+.0f, %+.0f], LLR %.2f", score.wins,
                               score.draws, score.losses, elo.elo, elo.low, elo.high,
                               tools::sprtLogLikelihoodRatio(score, o.sprt));
        progress.line(index + 1, 0, o.games, extra);
        // Decide only after whole pairs, so both colours of an opening count.
        if (index % 2 == 1)
            decision = tools::sprtDecision(score, o.sprt);
        return decision == tools::SprtDecision::Continue;
    };
    std::string error;
    if (!tools::runJobs(o.workers, 0, o.games, job, consume, &error)) {
        std::fprintf(stderr, "gating failed: %s\n", error.c_str());
        return 1;
    }
    const tools::EloInterval elo     = tools::eloInterval(score);
    const char*              verdict = decision == tools::SprtDecision::AcceptH1   ? "accept"
                                       : decision == tools::SprtDecision::AcceptH0 ? "reject"
                                                                                   : "undecided";
    std::printf("gate games=%d wins=%d draws=%d losses=%d score=%.4f elo=%.1f low=%.1f "
                "high=%.1f llr=%.3f decision=%s\n",
                score.games(), score.wins, score.draws, score.losses, tools::scoreOf(score),
                elo.elo, elo.low, elo.high, tools::sprtLogLikelihoodRatio(score, o.sprt), verdict);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, &options)) {
        printUsage();
        return 2;
    }
    return options.mode == "play" ? runPlay(options) : runGate(options);
}
