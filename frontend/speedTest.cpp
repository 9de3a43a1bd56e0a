#include "frontend/speedTest.h"

#include <cstdio>
#include <fstream>
#include <memory>

#include "frontend/protocol.h"
#include "network/deployedNN.h"
#include "util/platform.h"

namespace {

using depnn::QuoriboNetwork;

using Pass = void (QuoriboNetwork::*)();

// One kernel family of the speed test: its label, whether this processor runs
// it, and the pass that uses it.
struct Family {
    const char* label;
    bool        supported;
    int         simdType;
    Pass        pass;
};

void printLine(const char* text) {
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Milliseconds of `count` passes, as the unsigned difference of two ticks.
unsigned timePasses(QuoriboNetwork* net, Pass pass, int count) {
    const int start = tovu::getTickCount();
    for (int i = 0; i < count; ++i)
        (net->*pass)();
    return static_cast<unsigned>(tovu::ticksBetween(start, tovu::getTickCount()));
}

bool canOpen(const char* path) {
    if (path == nullptr)
        return false;
    std::ifstream file(path, std::ios::binary);
    return file.is_open() && file.good();
}

// The network of the image at path, or null if it cannot be read or is not a
// valid network.
std::unique_ptr<QuoriboNetwork> loadTestNetwork(const char* path) {
    long long                     length = 0;
    const std::unique_ptr<char[]> image(depnn::readWeightFile(path, &length));
    if (!image)
        return nullptr;
    return std::make_unique<QuoriboNetwork>(image.get(), length);
}

// clang-format off
const char* const MIDDLE_GAME[] = {
    "....................",
    "....................",
    "....................",
    "....................",
    "....................",
    "......o.............",
    ".......xo...........",
    "......xoxx.o........",
    ".....ooxxxo.........",
    "......xoxox.........",
    ".....x.oox.x........",
    "......xo.o..........",
    ".....x..x...........",
    "....o...............",
    "....................",
    "....................",
    "....................",
    "....................",
    "....................",
    "....................",
};
// clang-format on

} // namespace

void testSpeed() {
    if (!canOpen(pathToNetwork))
        return;
    printLine("loaded file");

    const std::unique_ptr<QuoriboNetwork> net = loadTestNetwork(pathToNetwork);
    if (!net)
        return;
    std::printf("%d %d %d %d\n", net->boardSize, net->depth, net->filters, net->valueHidden);
    std::fflush(stdout);

    const depnn::CpuFeatures& cpu = depnn::cpuFeatures();
    // clang-format off
    const Family families[] = {
        {"sse : ",  cpu.sse && cpu.sse3,    1, &QuoriboNetwork::forward_SSE},
        {"sse2 : ", cpu.sse2 && cpu.ssse3,  3, &QuoriboNetwork::forward_SSE2},
        {"avx : ",  cpu.avx,                2, &QuoriboNetwork::forward_AVX},
        {"avx2 : ", cpu.avx2,               4, &QuoriboNetwork::forward_AVX2},
    };
    // clang-format on
    for (const Family& f : families) {
        if (!f.supported || !net->canRun(f.simdType))
            continue;
        std::printf("%s%u ms\n", f.label, timePasses(net.get(), f.pass, 1000));
        std::fflush(stdout);
    }
    // Ten times 100 reference passes, to compare with the 1000 above.
    std::printf("def : %u ms\n", 10 * timePasses(net.get(), &QuoriboNetwork::forward_DEFAULT, 100));
    std::fflush(stdout);
}

int fillMiddleGameBoard(int** board, int boardSize) {
    for (int r = 0; r < boardSize; ++r)
        for (int c = 0; c < boardSize; ++c) {
            const char cell = r < 20 && c < 20 ? MIDDLE_GAME[r][c] : '.';
            board[r][c]     = cell == 'x' ? 1 : cell == 'o' ? -1 : 0;
        }
    return 1;
}
