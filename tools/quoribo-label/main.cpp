// Labels teacher records with the solver's exact tactics, for training:
//
//   quoribo-label RECORDS.bin OUT.labels [--threads T] [--nodes N]
//
// OUT gets one kLabelBytes label per record, in the same order
// (tools/quoribo-label/FORMAT.md). The labels depend only on the records and
// the node limit, not on the number of threads.

#include "tools/common/protocolText.h"
#include "tools/common/teacherGames.h"
#include "tools/solver/labels.h"

#include "util/platform.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr size_t kBatchRecords = 8192; // records per round of the worker threads

struct Options {
    std::string    records, out;
    int            threads = 1;
    solver::Limits limits;
};

void printUsage() {
    std::fprintf(stderr, "usage: quoribo-label RECORDS.bin OUT.labels [--threads T] [--nodes N]\n");
}

bool parseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg      = argv[i];
        const bool        hasValue = i + 1 < argc;
        int               value    = 0;
        if (arg == "--threads" && hasValue) {
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

tools::GameBoard boardOf(const uint8_t* record) {
    const tools::TeacherRecord decoded = tools::decodeTeacherRecord(record);
    tools::GameBoard           board;
    for (int cell = 0; cell < tools::kCellCount; ++cell)
        if (decoded.cells[cell] == 1 || decoded.cells[cell] == -1)
            board.place(cell / tools::kBoardSize, cell % tools::kBoardSize, decoded.cells[cell]);
    return board;
}

// Labels `count` records from `in` into `out` on the worker threads.
void labelBatch(const Options& options, std::vector<solver::Solver*>* solvers, const uint8_t* in,
                size_t count, uint8_t* out) {
    std::atomic<size_t> next{0};
    auto                worker = [&](solver::Solver* s) {
        for (size_t i = next++; i < count; i = next++) {
            const solver::PositionLabel label = solver::labelPosition(
                               s, boardOf(in + i * tools::kTeacherRecordBytes), 1, options.limits);
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

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, &options)) {
        printUsage();
        return 2;
    }
    std::FILE* in = std::fopen(options.records.c_str(), "rb");
    if (in == nullptr) {
        std::fprintf(stderr, "cannot read %s\n", options.records.c_str());
        return 1;
    }
    std::FILE* out = std::fopen(options.out.c_str(), "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "cannot write %s\n", options.out.c_str());
        std::fclose(in);
        return 1;
    }
    std::vector<solver::Solver*> solvers;
    for (int t = 0; t < options.threads; ++t)
        solvers.push_back(new solver::Solver());
    std::vector<uint8_t> records(kBatchRecords * tools::kTeacherRecordBytes);
    std::vector<uint8_t> labels(kBatchRecords * solver::kLabelBytes);
    long long            kinds[5] = {0, 0, 0, 0, 0}, total = 0;
    const int            start  = tovu::getTickCount();
    int                  status = 0;
    size_t               bytes  = 0;
    while ((bytes = std::fread(records.data(), 1, records.size(), in)) > 0) {
        if (bytes % tools::kTeacherRecordBytes != 0) {
            std::fprintf(stderr, "%s: a record is cut short\n", options.records.c_str());
            status = 1;
            break;
        }
        const size_t count = bytes / tools::kTeacherRecordBytes;
        labelBatch(options, &solvers, records.data(), count, labels.data());
        if (std::fwrite(labels.data(), solver::kLabelBytes, count, out) != count) {
            std::fprintf(stderr, "write to %s failed\n", options.out.c_str());
            status = 1;
            break;
        }
        for (size_t i = 0; i < count; ++i)
            ++kinds[std::min<int>(labels[i * solver::kLabelBytes], 4)];
        total += static_cast<long long>(count);
        const double seconds = (tovu::getTickCount() - start) / 1000.0;
        std::fprintf(stderr, "%lld records, %.0f per second\n", total,
                     seconds > 0 ? static_cast<double>(total) / seconds : 0.0);
    }
    for (solver::Solver* s : solvers)
        delete s;
    std::fclose(in);
    if (std::fclose(out) != 0 && status == 0) {
        std::fprintf(stderr, "write to %s failed\n", options.out.c_str());
        status = 1;
    }
    std::printf("%lld records: win %lld, defend %lld, lost %lld, no VCF %lld, unknown %lld\n",
                total, kinds[1], kinds[2], kinds[3], kinds[0], kinds[4]);
    return status;
}
