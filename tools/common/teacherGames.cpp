#include "tools/common/teacherGames.h"

#include "tools/common/openings.h"
#include "tools/common/pattern.h"

#include <random>

namespace tools {

namespace {

TeacherRecord recordOf(const GameBoard& board, int sign) {
    TeacherRecord record;
    for (int cell = 0; cell < kCellCount; ++cell)
        record.cells[cell] =
            static_cast<int8_t>(board.at(cell / kBoardSize, cell % kBoardSize) * sign);
    record.colour = sign;
    return record;
}

} // namespace

int playTeacherGame(uint64_t seed, const TeacherGameSettings& settings,
                    std::vector<TeacherRecord>* records) {
    std::mt19937_64 rng(seed);
    GameBoard       board;
    setUpOpening(randomOpening(settings.openingStones, &rng), &board);
    PatternPlayer teacher(rng(), settings.randomness);

    const size_t first  = records->size();
    int          sign   = board.stoneCount() % 2 == 0 ? 1 : -1;
    int          winner = 0;
    int          row = -1, col = -1;
    while (!board.isFull() && teacher.chooseMove(board, sign, &row, &col)) {
        TeacherRecord record = recordOf(board, sign);
        record.move          = row * kBoardSize + col;
        records->push_back(record);
        board.place(row, col, sign);
        if (board.makesFive(row, col)) {
            winner = sign;
            break;
        }
        sign = -sign;
    }
    for (size_t i = first; i < records->size(); ++i) {
        TeacherRecord& record = (*records)[i];
        record.result         = winner == 0 ? 1 : (record.colour == winner ? 2 : 0);
    }
    return winner;
}

void encodeTeacherRecord(const TeacherRecord& record, uint8_t* out) {
    for (int cell = 0; cell < kCellCount; ++cell)
        out[cell] = static_cast<uint8_t>(record.cells[cell]);
    out[400] = static_cast<uint8_t>(record.move & 0xff);
    out[401] = static_cast<uint8_t>((record.move >> 8) & 0xff);
    out[402] = static_cast<uint8_t>(record.result);
    out[403] = static_cast<uint8_t>(static_cast<int8_t>(record.colour));
}

TeacherRecord decodeTeacherRecord(const uint8_t* in) {
    TeacherRecord record;
    for (int cell = 0; cell < kCellCount; ++cell)
        record.cells[cell] = static_cast<int8_t>(in[cell]);
    record.move   = static_cast<int16_t>(static_cast<uint16_t>(in[400] | (in[401] << 8)));
    record.result = static_cast<int8_t>(in[402]);
    record.colour = static_cast<int8_t>(in[403]);
    return record;
}

} // namespace tools
