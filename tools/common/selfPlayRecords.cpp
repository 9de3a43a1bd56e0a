#include "tools/common/selfPlayRecords.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace tools {

namespace {

const char kMagic[4] = {'Q', 'S', 'P', '1'};

void put16(std::vector<uint8_t>* out, unsigned v) {
    out->push_back(static_cast<uint8_t>(v & 0xff));
    out->push_back(static_cast<uint8_t>((v >> 8) & 0xff));
}

void put32(std::vector<uint8_t>* out, uint32_t v) {
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}

// Bounds-checked little-endian reader over one byte range.
class Reader {
  public:
    Reader(const uint8_t* data_, size_t size_) : data(data_), size(size_) {}
    bool     ok() const { return good; }
    size_t   position() const { return at; }
    unsigned u8() { return need(1) ? data[at++] : 0; }
    unsigned u16() {
        if (!need(2))
            return 0;
        const unsigned v = data[at] | (data[at + 1] << 8);
        at += 2;
        return v;
    }
    uint32_t u32() {
        const uint32_t low = u16();
        return low | (static_cast<uint32_t>(u16()) << 16);
    }

  private:
    bool need(size_t n) {
        good = good && size - at >= n;
        return good;
    }
    const uint8_t* data;
    size_t         size;
    size_t         at   = 0;
    bool           good = true;
};

uint16_t encodeValue(float value) {
    const float clamped = value < 0 ? 0 : (value > 1 ? 1 : value);
    return static_cast<uint16_t>(clamped * 65535.0f + 0.5f);
}

bool readSearchedMove(Reader* in, const GameBoard& board, SearchedMove* move) {
    const unsigned flags = in->u8();
    move->full           = (flags & 1) != 0;
    move->value          = in->u16() / 65535.0f;
    move->visits.clear();
    if (flags > 1)
        return false;
    if (!move->full)
        return in->ok();
    const unsigned count = in->u16();
    int            last  = -1;
    for (unsigned i = 0; i < count && in->ok(); ++i) {
        VisitCount v;
        v.cell   = static_cast<uint16_t>(in->u16());
        v.visits = static_cast<uint16_t>(in->u16());
        if (v.cell >= kCellCount || static_cast<int>(v.cell) <= last ||
            board.at(v.cell / kBoardSize, v.cell % kBoardSize) != 0)
            return false;
        last = v.cell;
        move->visits.push_back(v);
    }
    return in->ok();
}

} // namespace

std::vector<uint8_t> encodeSelfPlayHeader(uint64_t seed) {
    std::vector<uint8_t> out(kMagic, kMagic + 4);
    put16(&out, kSelfPlayVersion);
    out.push_back(kBoardSize);
    out.push_back(0);
    put32(&out, static_cast<uint32_t>(seed));
    put32(&out, static_cast<uint32_t>(seed >> 32));
    return out;
}

bool decodeSelfPlayHeader(const uint8_t* data, size_t size, uint64_t* seed) {
    if (size < kSelfPlayHeaderBytes || std::memcmp(data, kMagic, 4) != 0)
        return false;
    Reader in(data + 4, size - 4);
    if (in.u16() != kSelfPlayVersion || in.u8() != kBoardSize)
        return false;
    in.u8();
    const uint64_t low = in.u32();
    *seed              = low | (static_cast<uint64_t>(in.u32()) << 32);
    return true;
}

void encodeGame(const GameRecord& game, std::vector<uint8_t>* out) {
    const size_t start = out->size();
    put32(out, 0); // length, filled in below
    put32(out, game.index);
    out->push_back(static_cast<uint8_t>(game.opening));
    out->push_back(static_cast<uint8_t>(static_cast<int8_t>(game.winner)));
    put16(out, static_cast<unsigned>(game.moves.size()));
    for (uint16_t cell : game.moves)
        put16(out, cell);
    for (const SearchedMove& move : game.searched) {
        out->push_back(move.full ? 1 : 0);
        put16(out, encodeValue(move.value));
        if (!move.full)
            continue;
        put16(out, static_cast<unsigned>(move.visits.size()));
        for (const VisitCount& v : move.visits) {
            put16(out, v.cell);
            put16(out, v.visits);
        }
    }
    const uint32_t length = static_cast<uint32_t>(out->size() - start - 4);
    for (int i = 0; i < 4; ++i)
        (*out)[start + i] = static_cast<uint8_t>((length >> (8 * i)) & 0xff);
}

bool decodeGame(const uint8_t* data, size_t size, GameRecord* game, size_t* used) {
    Reader         head(data, size);
    const uint32_t length = head.u32();
    if (!head.ok() || size - 4 < length)
        return false;
    Reader in(data + 4, length);
    game->index              = in.u32();
    game->opening            = static_cast<int>(in.u8());
    game->winner             = static_cast<int8_t>(in.u8());
    const unsigned moveCount = in.u16();
    if (!in.ok() || moveCount > kCellCount || static_cast<int>(moveCount) < game->opening ||
        game->winner < -1 || game->winner > 1)
        return false;
    game->moves.clear();
    game->searched.clear();
    GameBoard board;
    for (unsigned i = 0; i < moveCount; ++i)
        game->moves.push_back(static_cast<uint16_t>(in.u16()));
    for (unsigned i = 0; i < moveCount && in.ok(); ++i) {
        const int cell = game->moves[i];
        const int sign = i % 2 == 0 ? 1 : -1;
        if (cell >= kCellCount)
            return false;
        if (static_cast<int>(i) >= game->opening) {
            SearchedMove move;
            if (!readSearchedMove(&in, board, &move))
                return false;
            game->searched.push_back(move);
        }
        if (!board.place(cell / kBoardSize, cell % kBoardSize, sign))
            return false;
    }
    if (!in.ok() || in.position() != length)
        return false;
    *used = 4 + static_cast<size_t>(length);
    return true;
}

bool scanSelfPlayFile(const std::string& path, uint64_t* seed, bool* hasHeader,
                      long long* validBytes, int* games) {
    *hasHeader  = false;
    *validBytes = 0;
    *games      = 0;
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return true; // nothing written yet
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), {});
    if (bytes.size() < kSelfPlayHeaderBytes)
        return true; // the header itself was cut short: start again
    if (!decodeSelfPlayHeader(bytes.data(), bytes.size(), seed))
        return false;
    *hasHeader    = true;
    size_t     at = kSelfPlayHeaderBytes;
    GameRecord game;
    size_t     used = 0;
    while (at < bytes.size() && decodeGame(&bytes[at], bytes.size() - at, &game, &used) &&
           game.index == static_cast<uint32_t>(*games)) {
        at += used;
        ++*games;
    }
    *validBytes = static_cast<long long>(at);
    return true;
}

} // namespace tools
