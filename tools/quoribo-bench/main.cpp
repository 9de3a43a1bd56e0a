// quoribo-bench [--evaluations] [PATH]: speed of the network in the weight file
// at PATH (default: network.bin beside this executable).
//
// First the engine's kernel speed test (left out with --evaluations), then the
// rate of whole evaluations (input planes, trunk, both heads, move
// probabilities) of every pass variant this processor runs, on a fixed
// middle-game position, each with the value it gives that position, so that
// builds and kernel families can be checked against each other. The rates are
// per second of processor time used by this process: on a shared machine they
// stay comparable between runs and builds, where wall-clock rates follow the
// load.

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <ctime>
#endif

#include "frontend/protocol.h"
#include "frontend/speedTest.h"
#include "network/deployedNN.h"
#include "util/platform.h"

namespace {

using depnn::QuoriboNetwork;

// Each variant is timed for at least this much processor time, and at least
// MIN_EVALUATIONS times.
constexpr double MIN_MILLISECONDS = 1000;
constexpr int    MIN_EVALUATIONS  = 3;

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

// Processor time used by this process so far, in milliseconds.
double processorMilliseconds() {
#ifdef _WIN32
    FILETIME creation, exit, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user))
        return 0;
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return (ticks(kernel) + ticks(user)) / 10000.0; // counted in 100 ns
#else
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
#endif
}

// Evaluations per second of processor time of the network's current pass;
// *value receives the position's value from the last evaluation.
double evaluationsPerSecond(QuoriboNetwork* net, int** board, int sign, float** policy,
                            float* value) {
    const double start   = processorMilliseconds();
    int          count   = 0;
    double       elapsed = 0;
    while (count < MIN_EVALUATIONS || elapsed < MIN_MILLISECONDS) {
        // The clock is read after batches a quarter as long as the run so
        // far: under Wine each reading is a round trip to the server process,
        // and reading it after every evaluation slowed the evaluations
        // themselves, by up to half.
        const int batch = count / 4 + 1;
        for (int i = 0; i < batch; ++i)
            *value = net->getOutput(board, sign, policy);
        count += batch;
        elapsed = processorMilliseconds() - start;
    }
    return count * 1000.0 / elapsed;
}

} // namespace

int main(int argc, char** argv) {
    const bool        evaluationsOnly = argc > 1 && std::string(argv[1]) == "--evaluations";
    const int         pathArgument    = evaluationsOnly ? 2 : 1;
    const std::string path            = argc > pathArgument
                                            ? argv[pathArgument]
                                            : defaultNetworkPath(tovu::executablePath(argv[0]));

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
    if (!evaluationsOnly)
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

    std::printf("evaluations per second of processor time (getOutput, middle-game position):\n");
    for (const Variant& v : VARIANTS) {
        if (!net.canRun(v.simdType))
            continue;
        net.simdType       = v.simdType;
        float        value = 0;
        const double rate  = evaluationsPerSecond(&net, board.data(), sign, policy.data(), &value);
        std::printf("%s: %.1f  (value %.6f)\n", v.name, rate, value);
        std::fflush(stdout);
    }
    return 0;
}
