// quoribo-gamebench: plays real games through the player against the pattern
// teacher at a fixed time per move and shows where the engine's thinking time
// goes.
//
//   quoribo-gamebench [--moves N] [--turn MS] [--seed S] [NETWORK.bin]
//
// Defaults: 60 engine moves, 1000 ms per move (the player's budget is then
// 700 ms), seed 1, the network.bin beside this executable. Games follow one
// another, the engine taking CROSS and CIRCLE in turn, until the engine has
// made N moves.
//
// Each move replays the player's TURN (or BEGIN) step by step so that every
// step can be timed: the opponent's stone with its cache cleanup, the
// re-rooting cut, the search (getMove), then the engine's own stone, cleanup
// and cut, all of which happen before the brain answers. Per move it prints
// the simulations and network evaluations per second of processor time, the
// network's share of the command's processor time, and the processor
// milliseconds of cut and cache cleanup. The share is
//
//     evaluations x (processor time of one bare evaluation) / processor time of the command,
//
// with the bare evaluation timed on the same network and position right
// before and right after the move (the mean of the two), since the machine's
// speed drifts. The search's evaluations are its simulations' network calls
// plus the eight of the root's symmetry pass.

#include "network/deployedNN.h"
#include "search/mcts.h"
#include "tools/common/gameBoard.h"
#include "tools/common/pattern.h"
#include "util/platform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr int     BOARD_SIZE          = 20;
constexpr int     MAX_NODES           = 2000000;
constexpr int     ROOT_EVALUATIONS    = 8; // the root's symmetry pass
constexpr int     BARE_BLOCKS         = 5;
constexpr int     BARE_BLOCK          = 6;
constexpr double  OPPONENT_RANDOMNESS = 0.1;
constexpr int     EXIT_USAGE          = 2;
const char* const USAGE =
    "usage: quoribo-gamebench [--moves N] [--turn MS] [--seed S] [NETWORK.bin]\n";

struct Options {
    int         moves  = 60;
    int         turnMs = 1000;
    unsigned    seed   = 1;
    std::string networkPath;
};

bool parseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--moves" || arg == "--turn" || arg == "--seed") && i + 1 < argc) {
            const int value = std::atoi(argv[++i]);
            if (arg == "--moves")
                options->moves = value;
            else if (arg == "--turn")
                options->turnMs = value;
            else
                options->seed = static_cast<unsigned>(value);
        } else if (!arg.empty() && arg[0] != '-' && options->networkPath.empty()) {
            options->networkPath = arg;
        } else {
            return false;
        }
    }
    return options->moves > 0;
}

std::string besideExecutable(const char* executable, const char* name) {
    const std::string            path = executable != nullptr ? executable : "";
    const std::string::size_type cut  = path.find_last_of("/\\");
    return (cut == std::string::npos ? std::string() : path.substr(0, cut + 1)) + name;
}

double cpuSeconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 != 0 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// Processor microseconds of one bare evaluation of the player's position:
// the median of BARE_BLOCKS blocks of BARE_BLOCK evaluations, so that a block
// slowed by another process on the machine does not decide the figure.
double bareEvaluationMicros(mcts::LearningPlayer* player, float** policy, int sideToMove) {
    depnn::QuoriboNetwork* network = player->search->network;
    std::vector<double>    blocks;
    for (int b = 0; b < BARE_BLOCKS; ++b) {
        const double start = cpuSeconds();
        for (int i = 0; i < BARE_BLOCK; ++i)
            network->getOutput(player->board, sideToMove, policy);
        blocks.push_back((cpuSeconds() - start) * 1e6 / BARE_BLOCK);
    }
    return median(blocks);
}

// Processor time of a command's steps, in total and by kind. Processor time,
// not wall time: on a shared machine a step of a millisecond may wait many
// milliseconds for its turn.
struct Step {
    double cpuMs      = 0;
    double cutMs      = 0;
    double longestCut = 0; // milliseconds of the slowest single cut
    double cleanupMs  = 0;

    template <typename Work> double run(double* kindMs, Work work) {
        const double start = cpuSeconds();
        work();
        const double ms = (cpuSeconds() - start) * 1000.0;
        cpuMs += ms;
        *kindMs += ms;
        return ms;
    }
    void cut(mcts::Tree* tree, int row, int col, int sign) {
        longestCut = std::max(longestCut, run(&cutMs, [&] { tree->cut(row, col, sign); }));
    }
};

struct MoveFigures {
    int    stones;
    int    simulations;
    int    evaluations;
    double cpuMs;
    double bareMicros;
    double share;
    double cutMs;
    double longestCut;
    double cleanupMs;
    int    nodes;
    int    entries;
};

class GameBench {
  public:
    GameBench(const Options& options_, const std::vector<char>& image)
        : options(options_), player(BOARD_SIZE, MAX_NODES),
          opponent(options_.seed, OPPONENT_RANDOMNESS) {
        loaded = player.loadFromChar(image.data(), static_cast<long long>(image.size()));
        policy = mcts::newPolicy(BOARD_SIZE);
        player.setTimeouts(options.turnMs, 1000000000, 1000000000);
    }
    ~GameBench() { mcts::freePolicy(policy, BOARD_SIZE); }
    GameBench(const GameBench&)            = delete;
    GameBench& operator=(const GameBench&) = delete;

    bool ready() const { return loaded; }

    void run() {
        std::printf("%5s %6s %7s %6s %8s %9s %9s %8s %6s %7s %8s %8s %6s\n", "move", "stones",
                    "sims", "evals", "cpu ms", "sims/s", "evals/s", "bare us", "share", "cut ms",
                    "clean ms", "nodes", "cache");
        int engineSign = 1;
        while (static_cast<int>(figures.size()) < options.moves) {
            playGame(engineSign);
            engineSign = -engineSign;
        }
        printTotals();
    }

  private:
    void playGame(int engineSign) {
        board.clear();
        player.START();
        player.setSign(engineSign);
        int toMove = 1;
        if (engineSign == 1) {
            // BEGIN: a fresh root for the empty board.
            Step         step;
            const double before = bareEvaluationMicros(&player, policy, engineSign);
            step.cut(player.tree, 999, 999, -engineSign);
            if (!engineMove(&step, before))
                return;
            toMove = -1;
        }
        while (static_cast<int>(figures.size()) < options.moves && !board.isFull()) {
            int row = -1, col = -1;
            if (!opponent.chooseMove(board, toMove, &row, &col))
                return;
            board.place(row, col, toMove);
            if (board.makesFive(row, col))
                return;
            // TURN: the opponent's stone, the cut to it, the search, the own stone and cut.
            Step         step;
            const double before = bareEvaluationMicros(&player, policy, engineSign);
            mcts::Move   stone(row, col, toMove);
            step.run(&step.cleanupMs, [&] { player.updateBoard(&stone); });
            step.cut(player.tree, row, col, toMove);
            if (!engineMove(&step, before))
                return;
        }
    }

    // The engine's search and its own stone, then the bare evaluations after
    // the move. False when the game is over.
    bool engineMove(Step* step, double bareBefore) {
        mcts::Move answer;
        player.setStartTime(tovu::getTickCount());
        double searchMs = 0;
        step->run(&searchMs, [&] { player.getMove(&answer); });

        MoveFigures f;
        f.stones      = board.stoneCount();
        f.simulations = player.search->simulations;
        f.evaluations = player.search->evaluations + ROOT_EVALUATIONS;
        f.nodes       = player.tree->usedNodes;
        f.entries     = player.cache->usedEntries;

        const bool placed = answer.sign != 0 && board.place(answer.row, answer.col, answer.sign);
        if (placed) {
            step->run(&step->cleanupMs, [&] { player.updateBoard(&answer); });
            step->cut(player.tree, answer.row, answer.col, answer.sign);
        }
        const double bareAfter = bareEvaluationMicros(&player, policy, -player.sign);
        f.cpuMs                = step->cpuMs;
        f.bareMicros           = (bareBefore + bareAfter) / 2;
        f.share                = f.evaluations * f.bareMicros / (step->cpuMs * 1000.0);
        f.cutMs                = step->cutMs;
        f.longestCut           = step->longestCut;
        f.cleanupMs            = step->cleanupMs;
        figures.push_back(f);
        printMove(f);
        return placed && !board.makesFive(answer.row, answer.col) && !board.isFull();
    }

    void printMove(const MoveFigures& f) const {
        const double seconds = f.cpuMs / 1000.0;
        std::printf("%5d %6d %7d %6d %8.1f %9.0f %9.0f %8.1f %6.3f %7.3f %8.3f %8d %6d\n",
                    static_cast<int>(figures.size()), f.stones, f.simulations, f.evaluations,
                    f.cpuMs, f.simulations / seconds, f.evaluations / seconds, f.bareMicros,
                    f.share, f.cutMs, f.cleanupMs, f.nodes, f.entries);
        std::fflush(stdout);
    }

    static void printShares(const char* label, const std::vector<double>& shares) {
        if (shares.empty())
            return;
        double sum = 0;
        for (double s : shares)
            sum += s;
        std::printf("%s (%d moves): mean %.3f  median %.3f  min %.3f\n", label,
                    static_cast<int>(shares.size()), sum / static_cast<double>(shares.size()),
                    median(shares), *std::min_element(shares.begin(), shares.end()));
    }

    void printTotals() const {
        double              cpuMs = 0, simulations = 0, evaluations = 0;
        std::vector<double> shares, evaluated, decided, cuts, singleCuts, cleanups, bare;
        for (const MoveFigures& f : figures) {
            cpuMs += f.cpuMs;
            simulations += f.simulations;
            evaluations += f.evaluations;
            shares.push_back(f.share);
            // Once a win is found most simulations end on a five or a cached
            // position without calling the network, and the share falls with them.
            (2 * f.evaluations >= f.simulations ? evaluated : decided).push_back(f.share);
            cuts.push_back(f.cutMs);
            singleCuts.push_back(f.longestCut);
            cleanups.push_back(f.cleanupMs);
            bare.push_back(f.bareMicros);
        }
        std::printf("\ntotal: %d moves, %.0f simulations, %.0f evaluations in %.1f s of "
                    "processor time\n",
                    static_cast<int>(figures.size()), simulations, evaluations, cpuMs / 1000.0);
        std::printf("simulations/s %.0f   evaluations/s %.0f   bare evaluations/s %.0f (median)\n",
                    simulations / (cpuMs / 1000.0), evaluations / (cpuMs / 1000.0),
                    1e6 / median(bare));
        printShares("network share, all moves", shares);
        printShares("network share, moves evaluating at least every other simulation", evaluated);
        printShares("network share, moves where most simulations need no network", decided);
        std::printf("cut ms per move (two cuts): median %.3f  max %.3f;  slowest single cut: "
                    "median %.3f  max %.3f\n",
                    median(cuts), *std::max_element(cuts.begin(), cuts.end()), median(singleCuts),
                    *std::max_element(singleCuts.begin(), singleCuts.end()));
        std::printf("cleanup ms per move (two stones): median %.3f  max %.3f\n", median(cleanups),
                    *std::max_element(cleanups.begin(), cleanups.end()));
    }

    Options                  options;
    mcts::LearningPlayer     player;
    tools::PatternPlayer     opponent;
    tools::GameBoard         board;
    float**                  policy = nullptr; // owned; scratch of the bare evaluations
    bool                     loaded = false;
    std::vector<MoveFigures> figures;
};

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, &options)) {
        std::fputs(USAGE, stderr);
        return EXIT_USAGE;
    }
    if (options.networkPath.empty())
        options.networkPath = besideExecutable(argv[0], "network.bin");
    long long length = 0;
    char*     data   = depnn::readWeightFile(options.networkPath.c_str(), &length);
    if (data == nullptr) {
        std::fprintf(stderr, "quoribo-gamebench: cannot read %s\n", options.networkPath.c_str());
        return 1;
    }
    const std::vector<char> image(data, data + length);
    delete[] data;

    GameBench bench(options, image);
    if (!bench.ready()) {
        std::fprintf(stderr, "quoribo-gamebench: %s is not a usable network\n",
                     options.networkPath.c_str());
        return 1;
    }
    bench.run();
    return 0;
}
