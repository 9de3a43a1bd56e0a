#include "frontend/gameCommands.h"

#include "frontend/protocol.h"

// Stand-in game commands for the time before the player class exists: no
// player can be created, so START, TURN, BEGIN and BOARD behave as they do
// before the first accepted START. INFO and the match settings are complete.

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

constexpr int defaultTimeoutTurn  = 10000;
constexpr int maxTimeoutTurn      = 10000000;
constexpr int defaultTimeoutMatch = 100000000;

enum class PlayerTime { TimeoutTurn, TimeoutMatch, TimeLeft };

// INFO writes the live player's copy of a match time directly, so a change
// sent during a game takes effect at the next move.
void setPlayerTime(PlayerTime which, int value) {
    if (player == nullptr)
        return;
    // PLAYER HOOK: no player class exists yet, so `player` is always null here.
    // With the class: TimeoutTurn -> player->timeoutTurn, TimeoutMatch ->
    // player->timeoutMatch, TimeLeft -> player->timeLeft = value.
    static_cast<void>(which);
    static_cast<void>(value);
}

} // namespace

bool START(tovu::String* line) {
    firstMove = true;
    tovu::String field;
    line->split(&field, ' ', 1);
    width  = field.intValue();
    height = width;
    if (width != supportedBoardSize) {
        line->set("ERROR unspported board size");
        return true;
    }
    // Creating the player needs its class; until then an accepted size
    // cannot start a game.
    return false;
}

bool TURN(tovu::String*) {
    return false;
}

bool BEGIN(tovu::String*) {
    return false;
}

bool BOARD(tovu::String*) {
    return false;
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
        if (value < 0)
            value = defaultTimeoutMatch;
        info_timeout_match = value;
        setPlayerTime(PlayerTime::TimeoutMatch, value);
    } else if (key.equals("timeout_turn")) {
        specified_timeout_turn = true;
        if (value < 0 || value > maxTimeoutTurn)
            value = defaultTimeoutTurn;
        info_timeout_turn = value;
        setPlayerTime(PlayerTime::TimeoutTurn, value);
    } else if (key.equals("time_left")) {
        specified_time_left = true;
        info_time_left      = value;
        setPlayerTime(PlayerTime::TimeLeft, value);
    } else if (key.equals("game_type")) {
        info_game_type = value;
    } else if (key.equals("rule")) {
        info_exact5     = (value & 1) != 0 ? 1 : 0;
        info_continuous = (value & 2) != 0 ? 1 : 0;
        info_renju      = (value & 4) != 0 ? 1 : 0;
    } else if (key.equals("folder")) {
        if (dataFolder == nullptr)
            dataFolder = new tovu::String();
        dataFolder->set(&field);
    }

    line->clear();
    return true;
}

void destroyPlayer() {
    // START never creates a player in this stand-in, so there is nothing to free.
    player = nullptr;
}

bool restartPlayer() {
    // No player can exist yet, so there is no game to restart.
    return false;
}
