#pragma once

// The commands that need the player (START, TURN, BEGIN, BOARD), the match
// settings that INFO fills, and the player's lifetime as the protocol shell
// sees it. Handlers follow the contract in frontend/protocol.h.

#include "util/tovu.h"

// The only board size the engine plays on.
constexpr int supportedBoardSize = 20;

// Match settings. Only the times reach the player; the rest are recorded and
// change nothing about how the engine plays. Nothing resets them.
extern int           info_timeout_turn;  // ms per move
extern int           info_timeout_match; // ms per match
extern int           info_time_left;     // ms left in the match
extern bool          specified_time_left;
extern bool          specified_timeout_turn;
extern bool          specified_timeout_match;
extern bool          specified_memory;
extern int           info_max_memory;
extern int           info_game_type;
extern int           info_exact5;     // rule bit 0
extern int           info_continuous; // rule bit 1
extern int           info_renju;      // rule bit 2
extern tovu::String* dataFolder;      // owned, created by the first INFO folder, never freed

bool START(tovu::String* line);
bool TURN(tovu::String* line);
bool BEGIN(tovu::String* line);
bool BOARD(tovu::String* line);
bool INFO(tovu::String* line);

// Frees the player, if any, with everything it owns; player becomes null.
void destroyPlayer();

// Starts a new game on the existing player (start time now, empty board and
// tree). False when there is no player.
bool restartPlayer();
