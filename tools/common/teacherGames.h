#pragma once

#include "tools/common/gameBoard.h"

#include <cstdint>
#include <vector>

// Teacher games for supervised training: the pattern teacher plays itself
// from a random opening, and every position in which it moved becomes one
// record. On disk a record is kTeacherRecordBytes bytes, little-endian:
//
//   offset  size  type   field
//        0   400  int8   cells, row-major (index row * 20 + col): 1 the side
//                        to move's stone, -1 the opponent's, 0 empty
//      400     2  int16  move the teacher played, row * 20 + col
//      402     1  int8   final result for the side to move: 0 loss, 1 draw,
//                        2 win (value target = result / 2)
//      403     1  int8   colour of the side to move: 1 moved first, -1 second
//
// numpy: np.fromfile(path, dtype=[("cells", "i1", 400), ("move", "<i2"),
//                                 ("result", "i1"), ("colour", "i1")])

namespace tools {

constexpr int kTeacherRecordBytes = 404;

struct TeacherRecord {
    int8_t cells[kCellCount];
    int    move   = -1;
    int    result = 1;
    int    colour = 1;
};

struct TeacherGameSettings {
    int    openingStones = 4;    // random stones before the teacher starts
    double randomness    = 0.15; // the teacher's spread among near-best moves
};

// Plays one game, fully determined by `seed`, and appends its records.
// Returns the winner's side (1 or -1), or 0 for a draw.
int playTeacherGame(uint64_t seed, const TeacherGameSettings& settings,
                    std::vector<TeacherRecord>* records);

// Writes `record` into `out`, which holds kTeacherRecordBytes bytes.
void encodeTeacherRecord(const TeacherRecord& record, uint8_t* out);

// Reads one record back from kTeacherRecordBytes bytes.
TeacherRecord decodeTeacherRecord(const uint8_t* in);

} // namespace tools
