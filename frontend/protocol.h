#pragma once

// The brain's protocol shell: reading command lines, recognising the command
// word, running its handler and printing the one-line answer.
//
// Every handler takes the line it was called with, replaces its text with the
// answer (empty for no answer) and returns true; it returns false when it
// cannot run, and the dispatcher then answers "ERROR something went wrong".
// Handlers never print: only sendAnswer writes to standard output.

#include <cstdio>

#include "util/tovu.h"

namespace mcts {
class LearningPlayer;
}

extern char*                 pathToNetwork; // owned, built once by main, never freed
extern mcts::LearningPlayer* player;        // owned; created by START, destroyed by END
extern bool                  terminateAI;   // set by END; stops the command loop
extern bool                  firstMove;     // next game command hands the match times over
extern int                   width;         // board size of the last START
extern int                   height;

// Command codes returned by whichCommand, in the order the words are tested.
enum CommandCode {
    CMD_UNKNOWN  = -1,
    CMD_START    = 0,
    CMD_TURN     = 1,
    CMD_BEGIN    = 2,
    CMD_BOARD    = 3,
    CMD_INFO     = 4,
    CMD_END      = 5,
    CMD_ABOUT    = 6,
    CMD_RECSTART = 7,
    CMD_RESTART  = 8,
    CMD_TAKEBACK = 9,
    CMD_PLAY     = 10,
};

// Path of network.bin beside the executable: the directory part of
// executablePath (up to its last '\' or '/') followed by "network.bin". Only
// the first 10000 characters are looked at. A null or separator-free path
// gives "network.bin", relative to the working directory. new[]-allocated.
char* buildNetworkPath(const char* executablePath);

// Longest line taken as it stands. The longest real lines (INFO folder paths,
// BOARD stone lines) stay far below it; a longer line is read to its end and
// never executed, so no input can make one line cost more than this much
// memory, however long it is.
constexpr int maxLineLength = 1 << 20;

// Reads the next line of `in` into `line` without its line feed, and without
// one carriage return directly before it. Returns false at end of input,
// leaving any partial line unused. A line longer than maxLineLength is
// consumed whole, but only its first maxLineLength characters are kept;
// *tooLong (if given) tells whether that happened.
bool readLine(std::FILE* in, tovu::String* line, bool* tooLong = nullptr);

// readLine on standard input; end of input ends the process with status 0.
// Returns false when the line was longer than maxLineLength (its first
// maxLineLength characters are in `line`).
bool get_line(tovu::String* line);

int  whichCommand(const tovu::String* line);
void processCommand(tovu::String* line);
void sendAnswer(const tovu::String* answer);

// Sets up the loop state and runs commands until END.
void runCommandLoop();

bool ABOUT(tovu::String* line);
bool END(tovu::String* line);
bool RECSTART(tovu::String* line);
bool RESTART(tovu::String* line);
bool TAKEBACK(tovu::String* line);
bool PLAY(tovu::String* line);
