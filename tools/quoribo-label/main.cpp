// Labels training positions with the solver's exact tactics:
//
//   quoribo-label RECORDS.bin OUT.labels [--selfplay] [--threads T] [--nodes N]
//
// OUT gets one kLabelBytes label per position, in the same order
// (tools/quoribo-label/FORMAT.md): one per teacher record, or with --selfplay
// one per searched move of a self-play file's complete games, game by game.
// The labels depend only on the positions and the node limit, not on the
// number of threads.

#include "tools/common/protocolText.h"
#include "tools/common/selfPlayRecords.h"
#include "tools/common/teacherGames.h"
#include "tools/solver/labels.h"

#include "util/platform.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr size_t kBatchRecords = 8192; // positions per round of the worker threads

struct Options {
    std::string    records, out;
    bool           selfPlay = false;
    int            threads  = 1;
    solver::Limits limits;
};

// A position to label: the board and the side that moves next.
struct Position {
    tools::GameBoard board;
    int              sign = 1;
};

void printUsage() {
    std::fprintf(stderr, "usage: quoribo-label RECORDS.bin OUT.labels [--selfplay] [--threads T] "
                         "[--nodes N]\n");
}

bool parseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg      = argv[i];
        const bool        hasValue = i + 1 < argc;
        int               value    = 0;
        if (arg == "--selfplay") {
            options->selfPlay = true;
        } else if (arg == "--threads" && hasValue) {
            if (!tools::parseInt(argv[++i], &value) || value < 1 || value > 256)
                return false;
            options->threads = value;
        } else if (arg == "--nodes" && hasValue) {
            if (!tools::parseInt(argv[++i], &value) || value < 1)
                return false;
            options->limits.maxNodes = value;
        } else if (!arg.empty() && arg[0] != '-' && options->records.empty()) {
            options->records = arg;
        } else if (!arg.empty() && arg[0] != '-' && options->out.empty()) {
            options->out = arg;
        } else {
            return false;
        }
    }
    return !options->out.empty();
}

// A teacher record is seen from its side to move, which is side 1.
Position positionOf(const uint8_t* record) {
    const tools::TeacherRecord decoded = tools::decodeTeacherRecord(record);
    Position                   position;
    for (int cell = 0; cell < tools::kCellCount; ++cell)
        if (decoded.cells[cell] == 1 || decoded.cells[cell] == -1)
            position.board.place(cell / tools::kBoardSize, cell % tools::kBoardSize,
                                 decoded.cells[cell]);
    return position;
}

// Labels `positions` into `out`, kLabelBytes each, on the worker threads.
void labelBatch(const Options& options, std::vector<solver::Solver*>* solvers,
                const std::vector<Position>& positions, uint8_t* out) {
    std::atomic<size_t> next{0};
    auto                worker = [&](solver::Solver* s) {
        for (size_t i = next++; i < positions.size(); i = next++) {
            const solver::PositionLabel label =
                solver::labelPosition(s, positions[i].board, positions[i].sign, options.limits);
            solver::encodeLabel(label, out + i * solver::kLabelBytes);
        }
    };
    std::vector<std::thread> pool;
    for (size_t t = 1; t < solvers->size(); ++t)
        pool.emplace_back(worker, (*solvers)[t]);
    worker((*solvers)[0]);
    for (std::thread& thread : pool)
        thread.join();
}

// The searched positions of a self-play file's complete games, game by game
// (the order training/quoribo/selfplay.py replays them in). A game cut short
// at the end, as an interrupted run leaves it, is left out; a damaged one is
// an error.
bool readSelfPlayPositions(const std::string& path, std::vector<Position>* positions) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), {});
    uint64_t                   seed = 0;
    if (!tools::decodeSelfPlayHeader(bytes.data(), bytes.size(), &seed)) {
        std::fprintf(stderr, "%s: not a self-play record file\n", path.c_str());
        return false;
    }
    size_t           at = tools::kSelfPlayHeaderBytes;
    tools::GameRecord game;
    size_t           used = 0;
    for (int games = 0; bytes.size() - at >= 4; ++games) {
        const size_t length = bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                              static_cast<size_t>(bytes[at + 3]) << 24;
        if (bytes.size() - at - 4 < length)
            break; // cut short by an interrupted run
        if (!tools::decodeGame(&bytes[at], bytes.size() - at, &game, &used)) {
            std::fprintf(stderr, "%s: game %d is malformed\n", path.c_str(), games);
            return false;
        }
        Position position;
        for (size_t ply = 0; ply < game.moves.size(); ++ply) {
            const int cell = game.moves[ply];
            const int sign = ply % 2 == 0 ? 1 : -1;
            if (static_cast<int>(ply) >= game.opening) {
                position.sign = sign;
                positions->push_back(position);
            }
            position.board.place(cell / tools::kBoardSize, cell % tools::kBoardSize, sign);
        }
        at += used;
    }
    return true;
}

// Reads up to kBatchRecords teacher records from `in` as positions; false
// when a record is cut short.
bool readTeacherBatch(std::FILE* in, const std::string& path, std::vector<uint8_t>* buffer,
                      std::vector<Position>* batch) {
    batch->clear();
    buffer->resize(kBatchRecords * tools::kTeacherRecordBytes);
    const size_t bytes = std::fread(buffer->data(), 1, buffer->size(), in);
    if (bytes % tools::kTeacherRecordBytes != 0) {
        std::fprintf(stderr, "%s: a record is cut short\n", path.c_str());
        return false;
    }
    for (size_t i = 0; i < bytes / tools::kTeacherRecordBytes; ++i)
        batch->push_back(positionOf(buffer->data() + i * tools::kTeacherRecordBytes));
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, &options)) {
        printUsage();
        return 2;
    }
    std::vector<Position> selfPlay;
    std::FILE*            in = nullptr;
    if (options.selfPlay) {
        if (!readSelfPlayPositions(options.records, &selfPlay))
            return 1;
    } else if ((in = std::fopen(options.records.c_str(), "rb")) == nullptr) {
        std::fprintf(stderr, "cannot read %s\n", options.records.c_str());
        return 1;
    }
    std::FILE* out = std::fopen(options.out.c_str(), "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "cannot write %s\n", options.out.c_str());
        if (in != nullptr)
            std::fclose(in);
        return 1;
    }
    std::vector<solver::Solver*> solvers;
    for (int t = 0; t < options.threads; ++t)
        solvers.push_back(new solver::Solver());
    std::vector<uint8_t>  buffer;
    std::vector<uint8_t>  labels(kBatchRecords * solver::kLabelBytes);
    std::vector<Position> batch;
    long long             kinds[5] = {0, 0, 0, 0, 0}, total = 0;
    const int             start  = tovu::getTickCount();
    int                   status = 0;
    for (;;) {
        if (options.selfPlay) {
            const size_t from = std::min(selfPlay.size(), static_cast<size_t>(total));
            const size_t to   = std::min(selfPlay.size(), from + kBatchRecords);
            batch.assign(selfPlay.begin() + static_cast<long>(from),
                         selfPlay.begin() + static_cast<long>(to));
        } else if (!readTeacherBatch(in, options.records, &buffer, &batch)) {
            status = 1;
            break;
        }
        if (batch.empty())
            break;
        labelBatch(options, &solvers, batch, labels.data());
        if (std::fwrite(labels.data(), solver::kLabelBytes, batch.size(), out) != batch.size()) {
            std::fprintf(stderr, "write to %s failed\n", options.out.c_str());
            status = 1;
            break;
        }
        for (size_t i = 0; i < batch.size(); ++i)
            ++kinds[std::min<int>(labels[i * solver::kLabelBytes], 4)];
        total += static_cast<long long>(batch.size());
        const double seconds = (tovu::getTickCount() - start) / 1000.0;
        std::fprintf(stderr, "%lld positions, %.0f per second\n", total,
                     seconds > 0 ? static_cast<double>(total) / seconds : 0.0);
    }
    for (solver::Solver* s : solvers)
        delete s;
    if (in != nullptr)
        std::fclose(in);
    if (std::fclose(out) != 0 && status == 0) {
        std::fprintf(stderr, "write to %s failed\n", options.out.c_str());
        status = 1;
    }
    std::printf("%lld positions: win %lld, defend %lld, lost %lld, no VCF %lld, unknown %lld\n",
                total, kinds[1], kinds[2], kinds[3], kinds[0], kinds[4]);
    return status;
}
