// quoribo-bench [PATH]: the engine's kernel speed test on the weight file at
// PATH (default: network.bin beside this executable), followed by the rate of
// whole evaluations (input planes, trunk, both heads, move probabilities) of
// every pass variant this processor runs, on a fixed middle-game position.

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "frontend/protocol.h"
#include "frontend/speedTest.h"
#include "network/deployedNN.h"
#include "util/platform.h"

namespace {

using depnn::QuoriboNetwork;

// Each variant is timed for at least this long, and at least MIN_EVALUATIONS times.
constexpr int MIN_MILLISECONDS = 1000;
constexpr int MIN_EVALUATIONS  = 3;

struct Variant {
    int         simdType;
    const char* name;
};
// clang-format off
const Variant VARIANTS[] = {
    {0, "forward_DEFAULT (reference, float)   "},
    {1, "forward_SSE     (float, 4 lanes)     "},
    {2, "forward_AVX     (float, 8 lanes)     "},
    {3, "forward_SSE2    (16-bit fixed, 8)    "},
    {4, "forward_AVX2    (16-bit fixed, 16)   "},
};
// clang-format on

// The directory part of the executable's path ('/' and '\' both separate)
// followed by network.bin.
std::string defaultNetworkPath(const char* executable) {
    const std::string            path = executable != nullptr ? executable : "";
    const std::string::size_type cut  = path.find_last_of("/\\");
    return (cut == std::string::npos ? std::string() : path.substr(0, cut + 1)) + "network.bin";
}

double evaluationsPerSecond(QuoriboNetwork* net, int** board, int sign, float** policy) {
    const int start   = tovu::getTickCount();
    int       count   = 0;
    int       elapsed = 0;
    while (count < MIN_EVALUATIONS || elapsed < MIN_MILLISECONDS) {
        net->getOutput(board, sign, policy);
        ++count;
        elapsed = tovu::getTickCount() - start;
    }
    return count * 1000.0 / elapsed;
}

} // namespace

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1] : defaultNetworkPath(argc > 0 ? argv[0] : nullptr);

    long long                     length = 0;
    const char*                   reason = nullptr;
    const std::unique_ptr<char[]> image(depnn::readWeightFile(path.c_str(), &length, &reason));
    if (!image) {
        std::fprintf(stderr, "quoribo-bench: %s: %s\n", path.c_str(),
                     reason != nullptr ? reason : "cannot be read");
        return 1;
    }

    // testSpeed reads the file through the front end's global path.
    std::vector<char> pathBuffer(path.begin(), path.end());
    pathBuffer.push_back('\0');
    pathToNetwork = pathBuffer.data();
    testSpeed();
    pathToNetwork = nullptr;

    QuoriboNetwork      net(image.get(), length);
    const int           n = net.boardSize;
    std::vector<int>    cells(n * n);
    std::vector<int*>   board;
    std::vector<float>  policyCells(n * n);
    std::vector<float*> policy;
    for (int r = 0; r < n; ++r) {
        board.push_back(&cells[r * n]);
        policy.push_back(&policyCells[r * n]);
    }
    const int sign = fillMiddleGameBoard(board.data(), n);

    std::printf("evaluations per second (getOutput, middle-game position):\n");
    for (const Variant& v : VARIANTS) {
        if (!net.canRun(v.simdType))
            continue;
        net.simdType = v.simdType;
        std::printf("%s: %.1f\n", v.name,
                    evaluationsPerSecond(&net, board.data(), sign, policy.data()));
        std::fflush(stdout);
    }
    return 0;
}
