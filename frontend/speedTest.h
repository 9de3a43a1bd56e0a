#pragma once

// The kernel speed test: times forward passes of the network in the file at
// pathToNetwork with every kernel family this processor supports. No protocol
// command runs it; it prints to standard output, so never during a match.

namespace depnn {
class QuoriboNetwork;
}

// Prints "loaded file", the header numbers "N B F H", then one line per
// supported family with the milliseconds of 1000 passes ("sse : ", "sse2 : ",
// "avx : ", "avx2 : "), and last "def : " with ten times the milliseconds of
// 100 reference passes. Prints nothing if the file cannot be opened, and
// nothing after "loaded file" if it cannot be read or is not a valid network.
void testSpeed();

// A fixed middle-game position for timing whole evaluations: 32 stones around
// the centre of a 20 x 20 board (16 of each side: 1 and -1, 0 empty), cut to
// boardSize x boardSize. Returns the side to move, 1.
int fillMiddleGameBoard(int** board, int boardSize);
