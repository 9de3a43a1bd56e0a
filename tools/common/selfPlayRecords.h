#pragma once

#include "tools/common/gameBoard.h"

#include <cstdint>
#include <string>
#include <vector>

// Self-play game records (tools/quoribo-selfplay/FORMAT.md). A game is kept
// as its moves plus, for every searched move, what the search saw; positions
// are rebuilt by replaying the moves, which keeps a game near 2-3 KB.
//
// File: a 16-byte header, then games in the order of their number.
//   header  4  "QSP1"            magic
//           2  uint16 version    1
//           1  uint8  board size 20
//           1  uint8  0
//           8  uint64 seed       the generator's --seed
//   game    4  uint32 bytes      length of the rest of this game
//           4  uint32 index      game number, from 0
//           1  uint8  opening    stones placed before the first search
//           1  int8   winner     1 first mover, -1 second mover, 0 draw
//           2  uint16 moves      m, stones in the game, opening included
//         2 m  uint16 cells      row * 20 + col, in order; the first is side 1's
//     then for each of the m - opening searched moves:
//           1  uint8  flags      bit 0: full search, visits recorded
//           2  uint16 value      root winning rate of the side to move * 65535
//     and for a full search only:
//           2  uint16 count      n root moves with visits
//         4 n  uint16 cell, uint16 visits, cells ascending
// Every number is little-endian.

namespace tools {

constexpr int      kSelfPlayHeaderBytes = 16;
constexpr uint16_t kSelfPlayVersion     = 1;

struct VisitCount {
    uint16_t cell   = 0;
    uint16_t visits = 0;
};

struct SearchedMove {
    bool                    full  = false; // full search: its visits are a policy target
    float                   value = 0.5f;  // root winning rate of the side to move
    std::vector<VisitCount> visits;        // full searches only, cells ascending
};

struct GameRecord {
    uint32_t                  index   = 0;
    int                       opening = 0; // stones placed without a search
    int                       winner  = 0; // 1 first mover, -1 second, 0 draw
    std::vector<uint16_t>     moves;       // every stone, opening first
    std::vector<SearchedMove> searched;    // one per move after the opening
};

std::vector<uint8_t> encodeSelfPlayHeader(uint64_t seed);
// False for another magic, version or board size.
bool decodeSelfPlayHeader(const uint8_t* data, size_t size, uint64_t* seed);

// Appends the game, length prefix included.
void encodeGame(const GameRecord& game, std::vector<uint8_t>* out);
// Reads the game at data[0 .. size); `used` gets its length in bytes. False
// when it is cut short or inconsistent (moves off the board or repeated,
// counts that do not add up, visits on a taken cell).
bool decodeGame(const uint8_t* data, size_t size, GameRecord* game, size_t* used);

// Walks a record file: `validBytes` ends after the last complete game, and
// `games` counts them. False when the file cannot be read or its header is
// not one of ours; a missing file is an empty one (true, 0 bytes).
bool scanSelfPlayFile(const std::string& path, uint64_t* seed, bool* hasHeader,
                      long long* validBytes, int* games);

} // namespace tools
