// Fuzz target: the manager's input. The bytes go through the line reader to
// the dispatcher and its handlers, with a real player and a small generated
// network; the per-move limit is held at 0, so every move request searches
// one batch of simulations.

#include "frontend/gameCommands.h"
#include "frontend/protocol.h"
#include "network/weightFile.h"
#include "search/mcts.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

namespace {

// A player with a small pool: the brain's own 2,000,000 nodes would make
// every input that ends a game cost a fresh 128 MB pool, and a small pool
// fills often, which exercises the full-tree paths.
constexpr int harnessNodes = 50000;

std::string networkFile;

void setUpOnce() {
    char dir[] = "/tmp/quoribo-fuzz-XXXXXX";
    if (mkdtemp(dir) == nullptr)
        std::abort();
    networkFile = std::string(dir) + "/network.bin";
    if (!depnn::writeWeightFile(networkFile.c_str(), depnn::makeRandomWeightImage(20, 1, 16, 8, 1)))
        std::abort();
    pathToNetwork = &networkFile[0];
    // Answers are not looked at; the sanitizers and the loop's survival are.
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        std::abort();
}

// The state a fresh brain process starts with (the player aside).
void resetMatch() {
    terminateAI             = false;
    firstMove               = true;
    width                   = 0;
    height                  = 0;
    info_timeout_turn       = 0;
    info_timeout_match      = 100000000;
    info_time_left          = 100000000;
    specified_time_left     = false;
    specified_timeout_turn  = false;
    specified_timeout_match = false;
    specified_memory        = false;
    info_max_memory         = 0;
    info_game_type          = 1;
    info_exact5             = 0;
    info_continuous         = 0;
    info_renju              = 0;
    if (player == nullptr)
        player = new mcts::LearningPlayer(supportedBoardSize, harnessNodes);
}

// INFO may raise the per-move limit; the harness takes it back to 0.
void keepSearchesShort() {
    if (info_timeout_turn > 0)
        info_timeout_turn = 0;
    if (player != nullptr && player->timeoutTurn > 0)
        player->timeoutTurn = 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = (setUpOnce(), true);
    (void)ready;
    // A final line end completes any partial line, and a DONE line ends a
    // BOARD still reading, so the input never runs out inside a handler
    // (which would end the process, as it should for the real brain).
    std::string input(reinterpret_cast<const char*>(data), size);
    input += "\nDONE\n";
    std::FILE* in = fmemopen(&input[0], input.size(), "r");
    if (in == nullptr)
        return 0;
    std::FILE* const standardInput = stdin;
    stdin                          = in;

    resetMatch();
    tovu::String line(1024);
    bool         tooLong = false;
    while (!terminateAI && readLine(in, &line, &tooLong)) {
        if (tooLong)
            line.clear();
        processCommand(&line);
        keepSearchesShort();
    }

    stdin = standardInput;
    std::fclose(in);
    return 0;
}
