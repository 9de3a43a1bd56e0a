// Plays two brains against each other through the protocol and prints the
// result. Each game starts both brains afresh, so a crash in one game cannot
// spoil the next; every answer is checked for format, legality and time, and
// a brain that does not exit with status 0 after END counts as a fault.
// With --keep-brains each brain process serves game after game, which starts
// with START or RESTART as managers do; a brain that failed is started anew.
//
//   quoribo-match [options] BRAIN1 BRAIN2
//
// Colours alternate from game to game, BRAIN1 moving first in game 1.

#include "tools/common/gameBoard.h"
#include "tools/common/gomocupClient.h"
#include "tools/common/openings.h"
#include "tools/common/protocolText.h"

#include "util/platform.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kGraceMs     = 1000; // allowed beyond the limit for pipes and scheduling
constexpr int kStopGraceMs = 3000; // sanitizer builds check for leaks as they exit

enum Verbosity { kQuiet, kNormal, kVerbose };

struct Options {
    std::string brains[2];
    int         games   = 10;
    int         turnMs  = 1000;
    int         matchMs = 0;    // 0: unlimited
    int         startMs = 5000; // for the OK to START, which may load a network
    std::string openingsFile;
    int         randomOpenings = 0;
    bool        swap           = false;
    uint64_t    seed           = 1;
    Verbosity   verbosity      = kNormal;
    bool        slowestReport  = false;
    bool        keepBrains     = false;
    std::string residentLog; // file for each brain's resident memory after each move
};

struct BrainStats {
    std::string              name;
    int                      wins = 0, losses = 0, draws = 0;
    std::vector<int>         moveMs;
    int                      slowestMs = -1, slowestGame = 0, slowestMove = 0;
    std::vector<std::string> faults; // illegal answers, time-outs, late moves
};

// Result of one game: the winning brain (0 or 1), or -1 for a draw.
struct GameResult {
    int         winner = -1;
    std::string reason;
    int         moves = 0;
};

void printUsage() {
    std::fprintf(stderr,
                 "usage: quoribo-match [options] BRAIN1 BRAIN2\n"
                 "  --games N             games to play (default 10)\n"
                 "  --turn MS             time per move (default 1000)\n"
                 "  --match MS            time per game and brain, 0 = unlimited (default 0)\n"
                 "  --start-timeout MS    wait for the OK to START (default 5000)\n"
                 "  --openings FILE       one opening per line: \"x,y x,y ...\"\n"
                 "  --random-openings K   K random stones near the centre\n"
                 "  --swap                play each opening twice, colours swapped\n"
                 "  --seed S              seed for random openings (default 1)\n"
                 "  --verbose | --quiet   every move with its time | summary only\n"
                 "  --max-move-ms-report  name the slowest move of each brain\n"
                 "  --keep-brains         one process per brain for the whole match; games\n"
                 "                        begin alternately with START and RESTART\n"
                 "  --rss-log FILE        after every move: game, move, brain, resident kB,\n"
                 "                        the move's wall time and brain CPU time in ms\n");
}

std::string baseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool parseOptions(int argc, char** argv, Options* options) {
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string arg      = argv[i];
        const bool        hasValue = i + 1 < argc;
        int               number   = 0;
        auto              intValue = [&](int* target, int minimum) {
            if (!hasValue || !tools::parseInt(argv[++i], &number) || number < minimum)
                return false;
            *target = number;
            return true;
        };
        if (arg == "--games") {
            if (!intValue(&options->games, 1))
                return false;
        } else if (arg == "--turn") {
            if (!intValue(&options->turnMs, 1))
                return false;
        } else if (arg == "--match") {
            if (!intValue(&options->matchMs, 0))
                return false;
        } else if (arg == "--start-timeout") {
            if (!intValue(&options->startMs, 1))
                return false;
        } else if (arg == "--random-openings") {
            if (!intValue(&options->randomOpenings, 0))
                return false;
        } else if (arg == "--seed") {
            if (!hasValue)
                return false;
            options->seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--openings") {
            if (!hasValue)
                return false;
            options->openingsFile = argv[++i];
        } else if (arg == "--swap") {
            options->swap = true;
        } else if (arg == "--verbose") {
            options->verbosity = kVerbose;
        } else if (arg == "--quiet") {
            options->verbosity = kQuiet;
        } else if (arg == "--max-move-ms-report") {
            options->slowestReport = true;
        } else if (arg == "--keep-brains") {
            options->keepBrains = true;
        } else if (arg == "--rss-log") {
            if (!hasValue)
                return false;
            options->residentLog = argv[++i];
        } else if (!arg.empty() && arg[0] == '-') {
            return false;
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.size() != 2)
        return false;
    options->brains[0] = paths[0];
    options->brains[1] = paths[1];
    return true;
}

bool loadOpenings(const std::string& file, std::vector<std::vector<tools::Stone>>* openings) {
    std::ifstream in(file);
    if (!in) {
        std::fprintf(stderr, "cannot read openings file %s\n", file.c_str());
        return false;
    }
    std::string line, error;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string text = tools::trim(line);
        if (text.empty() || text[0] == '#')
            continue;
        std::vector<tools::Stone> stones;
        if (!tools::parseOpening(text, &stones, &error)) {
            std::fprintf(stderr, "%s:%d: %s\n", file.c_str(), number, error.c_str());
            return false;
        }
        openings->push_back(stones);
    }
    if (openings->empty()) {
        std::fprintf(stderr, "no openings in %s\n", file.c_str());
        return false;
    }
    return true;
}

// The next answer line, skipping the MESSAGE and DEBUG lines brains may send.
tools::ReadStatus readAnswer(tools::BrainProcess* brain, std::string* line, int deadline) {
    for (;;) {
        const tools::ReadStatus status = brain->readLine(line, deadline - tovu::getTickCount());
        if (status != tools::ReadStatus::Line)
            return status;
        const std::string word = tools::commandWord(*line);
        if (word != "MESSAGE" && word != "DEBUG")
            return status;
    }
}

// Sends START or RESTART, which must be answered OK.
bool beginGame(tools::BrainProcess* brain, const std::string& command, int timeoutMs,
               std::string* why) {
    const std::string word = tools::commandWord(command);
    std::string       answer;
    if (!brain->send(command)) {
        *why = "exited before " + word;
        return false;
    }
    const tools::ReadStatus status = readAnswer(brain, &answer, tovu::getTickCount() + timeoutMs);
    if (status == tools::ReadStatus::Line && tools::trim(answer) == "OK")
        return true;
    *why = status == tools::ReadStatus::Timeout  ? "did not answer " + word
           : status == tools::ReadStatus::Closed ? "exited after " + word
                                                 : "answered " + word + " with \"" + answer + "\"";
    return false;
}

const std::string startCommand = "START " + std::to_string(tools::kBoardSize);

bool startBrain(tools::BrainProcess* brain, const std::string& path, int timeoutMs,
                std::string* why) {
    if (!brain->start(path)) {
        *why = "could not be started";
        return false;
    }
    return beginGame(brain, startCommand, timeoutMs, why);
}

class Game {
  public:
    Game(const Options& matchOptions, BrainStats* matchStats, tools::BrainProcess* brains,
         std::FILE* residentLog, int number)
        : options(matchOptions), stats(matchStats), process(brains), memoryLog(residentLog),
          gameNumber(number) {}

    GameResult play(const std::vector<tools::Stone>& opening, int firstBrain);

    const tools::GameBoard& finalBoard() const { return board; }

  private:
    bool prepareBrain(int brain, std::string* why);
    bool requestMove(int brain, std::string* why);
    bool sendRequest(int brain);
    void logMove(int brain, int wallMs, long cpuMs);

    const Options&            options;
    BrainStats*               stats;     // borrowed: the two brains' match statistics
    tools::BrainProcess*      process;   // borrowed: the two brains' processes
    std::FILE*                memoryLog; // borrowed; null when not asked for
    int                       gameNumber;
    tools::GameBoard          board;
    std::vector<tools::Stone> history;
    int                       side[2]     = {1, -1};
    bool                      asked[2]    = {false, false};
    int                       timeLeft[2] = {0, 0};
};

bool Game::sendRequest(int brain) {
    tools::BrainProcess& p  = process[brain];
    const int            tl = options.matchMs > 0 ? std::max(timeLeft[brain], 0) : INT_MAX;
    bool                 ok = p.send("INFO timeout_turn " + std::to_string(options.turnMs)) &&
              p.send("INFO timeout_match " + std::to_string(options.matchMs)) &&
              p.send("INFO time_left " + std::to_string(tl));
    if (!ok)
        return false;
    if (asked[brain])
        return p.send("TURN " + std::to_string(history.back().row) + "," +
                      std::to_string(history.back().col));
    asked[brain] = true;
    if (history.empty())
        return p.send("BEGIN");
    ok = p.send("BOARD");
    for (const tools::Stone& s : history)
        ok = ok && p.send(std::to_string(s.row) + "," + std::to_string(s.col) + "," +
                          (s.sign == side[brain] ? "1" : "2"));
    return ok && p.send("DONE");
}

// Ends a brain's process, noting a fault unless it exited with status 0.
void stopBrain(tools::BrainProcess* process, BrainStats* stats, int gameNumber) {
    const std::string how = process->stop(kStopGraceMs);
    if (!how.empty())
        stats->faults.push_back("game " + std::to_string(gameNumber) + ": ended with " + how);
}

// A fresh process with START, or, with --keep-brains, the running one with
// START in odd games and RESTART in even ones. A kept brain that has died
// since the last game is a fault, and is started anew.
bool Game::prepareBrain(int brain, std::string* why) {
    tools::BrainProcess& p = process[brain];
    std::string          how;
    if (options.keepBrains && p.isRunning() && !p.checkAlive(&how))
        stats[brain].faults.push_back("before game " + std::to_string(gameNumber) +
                                      ": ended with " + (how.empty() ? "exit status 0" : how));
    if (!p.isRunning())
        return startBrain(&p, options.brains[brain], options.startMs, why);
    return beginGame(&p, gameNumber % 2 == 1 ? startCommand : "RESTART", options.startMs, why);
}

void Game::logMove(int brain, int wallMs, long cpuMs) {
    if (memoryLog == nullptr)
        return;
    std::fprintf(memoryLog, "%d %zu %s %ld %d %ld\n", gameNumber, history.size() + 1,
                 stats[brain].name.c_str(), process[brain].residentKb(), wallMs, cpuMs);
}

// Asks `brain` for its move and plays it; false (with the reason) when the
// brain loses by its answer.
bool Game::requestMove(int brain, std::string* why) {
    BrainStats& s = stats[brain];
    // A move is late past its limit; it loses past the deadline, which adds
    // the grace to the turn and, cumulatively, to the game's time.
    int limit    = options.turnMs;
    int deadline = options.turnMs + kGraceMs;
    if (options.matchMs > 0) {
        limit    = std::min(limit, std::max(timeLeft[brain], 0));
        deadline = std::min(deadline, timeLeft[brain] + kGraceMs);
    }
    const long        cpuBefore = memoryLog != nullptr ? process[brain].cpuMs() : -1;
    const int         start     = tovu::getTickCount();
    const std::string where =
        "game " + std::to_string(gameNumber) + " move " + std::to_string(history.size() + 1);
    if (!sendRequest(brain)) {
        *why = "exited";
        s.faults.push_back(where + ": " + *why);
        return false;
    }
    std::string             answer;
    const tools::ReadStatus status  = readAnswer(&process[brain], &answer, start + deadline);
    const int               elapsed = tovu::getTickCount() - start;
    if (status != tools::ReadStatus::Line) {
        *why = status == tools::ReadStatus::Timeout
                   ? "no answer within " + std::to_string(std::max(deadline, 0)) + " ms"
                   : "exited";
        s.faults.push_back(where + ": " + *why);
        return false;
    }
    s.moveMs.push_back(elapsed);
    const long cpuAfter = memoryLog != nullptr ? process[brain].cpuMs() : -1;
    logMove(brain, elapsed, cpuBefore >= 0 && cpuAfter >= 0 ? cpuAfter - cpuBefore : -1);
    if (elapsed > s.slowestMs) {
        s.slowestMs   = elapsed;
        s.slowestGame = gameNumber;
        s.slowestMove = static_cast<int>(history.size()) + 1;
    }
    if (options.matchMs > 0)
        timeLeft[brain] -= elapsed;
    if (elapsed > limit)
        s.faults.push_back(where + ": late, " + std::to_string(elapsed) + " ms");
    int x = 0, y = 0;
    if (!tools::parseCoordinates(answer, &x, &y)) {
        *why = "answered \"" + answer + "\"";
    } else if (!board.place(x, y, side[brain])) {
        *why = "illegal move " + std::to_string(x) + "," + std::to_string(y);
    } else {
        history.push_back({x, y, side[brain]});
        if (options.verbosity == kVerbose)
            std::printf("  %s: %s %d,%d (%d ms)\n", where.c_str(), s.name.c_str(), x, y, elapsed);
        return true;
    }
    s.faults.push_back(where + ": " + *why);
    return false;
}

GameResult Game::play(const std::vector<tools::Stone>& opening, int firstBrain) {
    GameResult result;
    side[firstBrain]     = 1;
    side[1 - firstBrain] = -1;
    timeLeft[0] = timeLeft[1] = options.matchMs;
    tools::setUpOpening(opening, &board);
    history = opening;

    bool        ready[2];
    bool        failed[2] = {false, false};
    std::string why[2];
    for (int b = 0; b < 2; ++b)
        failed[b] = !(ready[b] = prepareBrain(b, &why[b]));
    if (!ready[0] || !ready[1]) {
        for (int b = 0; b < 2; ++b)
            if (!ready[b])
                stats[b].faults.push_back("game " + std::to_string(gameNumber) + ": " + why[b]);
        result.winner = ready[0] ? 0 : (ready[1] ? 1 : -1);
        result.reason = ready[0] || ready[1]
                            ? stats[1 - result.winner].name + " " + why[1 - result.winner]
                            : "neither brain started";
    } else {
        for (;;) {
            if (board.isFull()) {
                result.reason = "board full";
                break;
            }
            const int   toMove = history.size() % 2 == 0 ? firstBrain : 1 - firstBrain;
            std::string reason;
            if (!requestMove(toMove, &reason)) {
                failed[toMove] = true;
                result.winner  = 1 - toMove;
                result.reason  = stats[toMove].name + " " + reason;
                break;
            }
            if (board.makesFive(history.back().row, history.back().col)) {
                result.winner = toMove;
                result.reason = "five";
                break;
            }
        }
    }
    // A kept brain goes on to the next game unless it failed in this one.
    for (int b = 0; b < 2; ++b)
        if (!options.keepBrains || failed[b])
            stopBrain(&process[b], &stats[b], gameNumber);
    result.moves = static_cast<int>(history.size() - opening.size());
    return result;
}

int median(std::vector<int> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void printSummary(const Options& options, const BrainStats* stats, int games) {
    std::printf("Match: %s vs %s, %d games, turn %d ms, match %s\n", stats[0].name.c_str(),
                stats[1].name.c_str(), games, options.turnMs,
                options.matchMs > 0 ? (std::to_string(options.matchMs) + " ms").c_str()
                                    : "unlimited");
    for (int b = 0; b < 2; ++b) {
        const BrainStats& s     = stats[b];
        const double      score = games > 0 ? 100.0 * (s.wins + 0.5 * s.draws) / games : 0.0;
        const int         maxMs =
            s.moveMs.empty() ? 0 : *std::max_element(s.moveMs.begin(), s.moveMs.end());
        std::printf("  %-16s wins %d  losses %d  draws %d  score %.1f%%  moves %zu  max %d ms  "
                    "median %d ms\n",
                    s.name.c_str(), s.wins, s.losses, s.draws, score, s.moveMs.size(), maxMs,
                    median(s.moveMs));
        if (options.slowestReport && s.slowestMs >= 0)
            std::printf("  %-16s slowest move: game %d move %d, %d ms\n", s.name.c_str(),
                        s.slowestGame, s.slowestMove, s.slowestMs);
    }
    bool anyFault = false;
    for (int b = 0; b < 2; ++b)
        for (const std::string& fault : stats[b].faults) {
            std::printf("  fault: %s %s\n", stats[b].name.c_str(), fault.c_str());
            anyFault = true;
        }
    if (!anyFault)
        std::printf("  no illegal or late moves\n");
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, &options)) {
        printUsage();
        return 2;
    }
    for (const std::string& path : options.brains) {
        if (access(path.c_str(), X_OK) != 0) {
            std::fprintf(stderr, "not an executable: %s\n", path.c_str());
            return 2;
        }
    }
    std::vector<std::vector<tools::Stone>> openings;
    if (!options.openingsFile.empty() && !loadOpenings(options.openingsFile, &openings))
        return 2;

    BrainStats stats[2];
    stats[0].name = baseName(options.brains[0]);
    stats[1].name = baseName(options.brains[1]);
    if (stats[0].name == stats[1].name) {
        stats[0].name += "#1";
        stats[1].name += "#2";
    }

    std::FILE* residentLog = nullptr;
    if (!options.residentLog.empty()) {
        residentLog = std::fopen(options.residentLog.c_str(), "w");
        if (residentLog == nullptr) {
            std::fprintf(stderr, "cannot write %s\n", options.residentLog.c_str());
            return 2;
        }
    }

    tools::BrainProcess brains[2];
    for (int g = 0; g < options.games; ++g) {
        const int                 openingIndex = options.swap ? g / 2 : g;
        std::vector<tools::Stone> opening;
        if (!openings.empty()) {
            opening = openings[openingIndex % openings.size()];
        } else if (options.randomOpenings > 0) {
            std::mt19937_64 rng(options.seed * 1000003ULL + static_cast<uint64_t>(openingIndex));
            opening = tools::randomOpening(options.randomOpenings, &rng);
        }
        const int  firstBrain = g % 2;
        Game       game(options, stats, brains, residentLog, g + 1);
        GameResult result = game.play(opening, firstBrain);
        if (result.winner < 0) {
            ++stats[0].draws;
            ++stats[1].draws;
        } else {
            ++stats[result.winner].wins;
            ++stats[1 - result.winner].losses;
        }
        if (options.verbosity != kQuiet) {
            std::printf("Game %d: X=%s O=%s, %s after %d moves (%s)\n", g + 1,
                        stats[firstBrain].name.c_str(), stats[1 - firstBrain].name.c_str(),
                        result.winner < 0 ? "draw" : (stats[result.winner].name + " wins").c_str(),
                        result.moves, result.reason.c_str());
            std::printf("%s\n", tools::boardPicture(game.finalBoard()).c_str());
        }
        std::fflush(stdout);
    }
    for (int b = 0; b < 2; ++b)
        stopBrain(&brains[b], &stats[b], options.games);
    if (residentLog != nullptr)
        std::fclose(residentLog);
    printSummary(options, stats, options.games);
    return 0;
}
