#include "frontend/gameCommands.h"

#include "frontend/networkLoader.h"
#include "frontend/protocol.h"
#include "search/mcts.h"
#include "util/platform.h"

#include <algorithm>
#include <vector>

int           info_timeout_turn       = 10000;
int           info_timeout_match      = 100000000;
int           info_time_left          = 100000000;
bool          specified_time_left     = false;
bool          specified_timeout_turn  = false;
bool          specified_timeout_match = false;
bool          specified_memory        = false;
int           info_max_memory         = 0;
int           info_game_type          = 1;
int           info_exact5             = 0;
int           info_continuous         = 0;
int           info_renju              = 0;
tovu::String* dataFolder              = nullptr;

namespace {

constexpr int       playerMaxNodes      = 2000000;
constexpr int       defaultTimeoutTurn  = 10000;
constexpr int       maxTimeoutTurn      = 10000000;
constexpr int       defaultTimeoutMatch = 100000000;
constexpr long long maxStartShift       = 1LL << 30;

// BOARD stone fields: the engine's own stone and the opponent's.
constexpr int ownStone      = 1;
constexpr int opponentStone = 2;

int fieldValue(const tovu::String* text, char separator, int index) {
    tovu::String field;
    text->split(&field, separator, index);
    return field.intValue();
}

void answerMove(tovu::String* line, const mcts::Move* move) {
    line->clear();
    line->append(move->row);
    line->append(",");
    line->append(move->col);
}

// The first TURN, BEGIN or BOARD of a game hands the match times over. When
// the manager reports less time left than the whole match allows, the time
// already used counts against this move: its start moves back by the
// difference. A start time is never moved forward, and the difference is
// taken in 64 bits (managers send 2147483647 for an unlimited match). Tick
// counts are compared modulo 2^32, so the shift is capped at 2^30 ms (12
// days): the time since the shifted start must still fit in an int.
void handOverMatchTimes() {
    if (!firstMove)
        return;
    if (!specified_time_left)
        info_time_left = info_timeout_match;
    player->setTimeouts(info_timeout_turn, info_timeout_match, info_time_left);
    const long long used = static_cast<long long>(info_time_left) - info_timeout_match;
    if (used < 0) {
        const long long shift = std::min(-used, maxStartShift);
        player->setStartTime(static_cast<int>(static_cast<unsigned>(player->startTime) -
                                              static_cast<unsigned>(shift)));
    }
    firstMove = false;
}

// Every game command starts the clock of its move when it arrives.
void startMoveClock() {
    player->setStartTime(tovu::getTickCount());
    handOverMatchTimes();
}

// Reads the stone lines of BOARD up to "DONE". At most one line per cell of
// the player's board is read; the line after that is left to the command
// loop. The first stone fixes the sides: whoever placed it is CROSS. A line
// too long to be a stone line counts as one but gives no stone (an empty
// move, which the player skips) and fixes no side; one that begins with
// "DONE" still ends the list, so the manager gets its answer.
int readBoardStones(std::vector<mcts::Move>* stones, int* ownSide) {
    const int maxStones = player->boardSize * player->boardSize;
    stones->assign(static_cast<size_t>(maxStones), mcts::Move());
    int          opponentSide = 0;
    int          count        = 0;
    tovu::String line;
    while (count < maxStones) {
        const bool complete = get_line(&line);
        if (line.startsWith("DONE"))
            break;
        if (!complete) {
            ++count;
            continue;
        }
        const int x     = fieldValue(&line, ',', 0);
        const int y     = fieldValue(&line, ',', 1);
        const int field = fieldValue(&line, ',', 2);
        if (count == 0) {
            if (field == ownStone) {
                *ownSide     = 1;
                opponentSide = -1;
            } else if (field == opponentStone) {
                *ownSide     = -1;
                opponentSide = 1;
            }
        }
        int value = field;
        if (field == ownStone)
            value = *ownSide;
        else if (field == opponentStone)
            value = opponentSide;
        (*stones)[static_cast<size_t>(count)].set(x, y, value);
        ++count;
    }
    return count;
}

} // namespace

bool START(tovu::String* line) {
    firstMove = true;
    width     = fieldValue(line, ' ', 1);
    height    = width;
    if (width != supportedBoardSize) {
        line->set("ERROR unspported board size");
        return true;
    }
    if (player == nullptr)
        player = new mcts::LearningPlayer(supportedBoardSize, playerMaxNodes);
    player->setStartTime(tovu::getTickCount());
    loadNetwork(width);
    player->START();
    // Without weights the engine could only play at random: the manager is
    // told at once. Weights loaded by an earlier START stay in use.
    line->set(player->hasNetwork() ? "OK" : "ERROR cannot load network.bin");
    return true;
}

bool TURN(tovu::String* line) {
    if (player == nullptr)
        return false;
    startMoveClock();
    tovu::String pair;
    line->split(&pair, ' ', 1);
    const int x = fieldValue(&pair, ',', 0);
    const int y = fieldValue(&pair, ',', 1);
    // An empty board means the opponent opened the game: the engine is CIRCLE.
    if (player->stoneCount == 0)
        player->sign = -1;
    mcts::Move opponentMove(x, y, -player->sign);
    mcts::Move answer;
    player->TURN(&answer, &opponentMove);
    answerMove(line, &answer);
    return true;
}

bool BEGIN(tovu::String* line) {
    if (player == nullptr)
        return false;
    startMoveClock();
    player->START();
    player->setSign(1);
    mcts::Move answer;
    player->BEGIN(&answer);
    answerMove(line, &answer);
    return true;
}

bool BOARD(tovu::String* line) {
    if (player == nullptr)
        return false;
    startMoveClock();
    std::vector<mcts::Move>  stones;
    int                      ownSide = 0;
    const int                count   = readBoardStones(&stones, &ownSide);
    std::vector<mcts::Move*> pointers;
    for (int i = 0; i < count; ++i)
        pointers.push_back(&stones[static_cast<size_t>(i)]);
    player->setSign(ownSide);
    player->START();
    mcts::Move answer;
    player->BOARD(&answer, pointers.data(), count);
    answerMove(line, &answer);
    return true;
}

bool INFO(tovu::String* line) {
    tovu::String key;
    tovu::String field;
    line->split(&key, ' ', 1);
    line->split(&field, ' ', 2);
    int value = field.isInteger() ? field.intValue() : -1;

    if (key.equals("max_memory")) {
        specified_memory = true;
        info_max_memory  = value;
    } else if (key.equals("timeout_match")) {
        specified_timeout_match = true;
        // 0 is what managers send for a match without a limit.
        if (value <= 0)
            value = defaultTimeoutMatch;
        info_timeout_match = value;
        if (player != nullptr)
            player->timeoutMatch = value;
    } else if (key.equals("timeout_turn")) {
        specified_timeout_turn = true;
        if (value < 0 || value > maxTimeoutTurn)
            value = defaultTimeoutTurn;
        info_timeout_turn = value;
        if (player != nullptr)
            player->timeoutTurn = value;
    } else if (key.equals("time_left")) {
        specified_time_left = true;
        info_time_left      = value;
        if (player != nullptr)
            player->timeLeft = value;
    } else if (key.equals("game_type")) {
        info_game_type = value;
    } else if (key.equals("rule")) {
        info_exact5     = (value & 1) != 0 ? 1 : 0;
        info_continuous = (value & 2) != 0 ? 1 : 0;
        info_renju      = (value & 4) != 0 ? 1 : 0;
    } else if (key.equals("folder")) {
        if (dataFolder == nullptr)
            dataFolder = new tovu::String();
        line->split(dataFolder, ' ', 2);
    }

    line->clear();
    return true;
}

void destroyPlayer() {
    delete player;
    player = nullptr;
}

bool restartPlayer() {
    if (player == nullptr)
        return false;
    player->setStartTime(tovu::getTickCount());
    player->START();
    return true;
}
