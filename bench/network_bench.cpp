// Speed of the network: each trunk kernel family on a 5x5 and a 3x3 layer,
// whole evaluations with each pass variant, and this machine's ceiling for the
// kernels' inner block, all at N = 20. Kernel and evaluation rates are also
// given in trunk multiply-accumulates per second, so each one's share of the
// ceiling reads off a single run.

#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "frontend/speedTest.h"
#include "network/deployedNN.h"

// The kernels' 2 x 2 block on L1-resident rows; in ceiling_avx.cpp.
void ceilingBlocksAVX(const float* in0, const float* in1, const float* w0, const float* w1,
                      int rowLength, long long blocks, float* out);

namespace {

using depnn::QuoriboNetwork;

constexpr int BOARD_SIZE = 20;
constexpr int CELLS      = BOARD_SIZE * BOARD_SIZE;

struct Shape {
    int depth, filters, valueHidden;
};
const Shape SHAPES[] = {{2, 16, 8}, {6, 32, 32}, {10, 64, 64}};

// The pass variants by simdType, with the kernel family each one uses.
struct Variant {
    int         simdType;
    const char* name;
    bool        fixedPoint;
};
// clang-format off
const Variant VARIANTS[] = {
    {0, "DEFAULT",   false},
    {1, "SSE",       false},
    {2, "AVX",       false},
    {3, "SSE_fixed", true},
    {4, "AVX_fixed", true},
};
// clang-format on

std::unique_ptr<QuoriboNetwork> makeNetwork(const Shape& s) {
    const std::vector<char> image =
        depnn::makeRandomWeightImage(BOARD_SIZE, s.depth, s.filters, s.valueHidden, 1);
    return std::make_unique<QuoriboNetwork>(image.data(), static_cast<long long>(image.size()));
}

// An N x N array of T as row pointers.
template <typename T> struct Grid {
    std::vector<T>  cells = std::vector<T>(CELLS);
    std::vector<T*> rows;
    Grid() {
        for (int r = 0; r < BOARD_SIZE; ++r)
            rows.push_back(&cells[r * BOARD_SIZE]);
    }
};

struct MiddleGame {
    Grid<int> board;
    int       sign = fillMiddleGameBoard(board.rows.data(), BOARD_SIZE);
};

// Multiply-accumulates of one trunk pass: the 5x5 layer's padded rows of 80,
// then depth 3x3 layers (B - 1 hidden and the policy feature layer).
double trunkMacs(const Shape& s) {
    return double(CELLS) * s.filters * (80.0 + s.depth * 9.0 * s.filters);
}

void setRates(benchmark::State& state, double macsPerIteration) {
    const double n          = static_cast<double>(state.iterations());
    state.counters["MAC/s"] = benchmark::Counter(n * macsPerIteration, benchmark::Counter::kIsRate);
}

void benchGetOutput(benchmark::State& state, const Shape& s, const Variant& v) {
    const std::unique_ptr<QuoriboNetwork> net = makeNetwork(s);
    if (!net->canRun(v.simdType)) {
        state.SkipWithError("this processor lacks the instruction set");
        return;
    }
    net->simdType = v.simdType;
    const MiddleGame position;
    Grid<float>      policy;
    for (auto _ : state)
        benchmark::DoNotOptimize(
            net->getOutput(position.board.rows.data(), position.sign, policy.rows.data()));
    state.counters["evals/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    setRates(state, trunkMacs(s));
}

// Runs one kernel family of `layer` on patch rows gathered once.
template <typename Layer> void runKernel(Layer* layer, QuoriboNetwork* net, int simdType) {
    switch (simdType) {
    case 1:
        layer->forwardPropagateSSE(net->features);
        break;
    case 2:
        layer->forwardPropagateAVX(net->features);
        break;
    case 3:
        layer->forwardPropagateSSE_fixed(net->featuresFixed);
        break;
    case 4:
        layer->forwardPropagateAVX_fixed(net->featuresFixed);
        break;
    default:
        layer->forwardPropagate(net->features);
        break;
    }
}

void benchFirstLayer(benchmark::State& state, int filters, const Variant& v) {
    const std::unique_ptr<QuoriboNetwork> net = makeNetwork({2, filters, 8});
    if (!net->canRun(v.simdType)) {
        state.SkipWithError("this processor lacks the instruction set");
        return;
    }
    const MiddleGame position;
    net->prepareInput(position.board.rows.data(), position.sign);
    depnn::Conv5x5* layer = net->firstLayer;
    if (v.fixedPoint)
        layer->convertToMatrix_fixed(net->inputPlanes);
    else
        layer->convertToMatrix(net->inputPlanes);
    for (auto _ : state) {
        runKernel(layer, net.get(), v.simdType);
        benchmark::ClobberMemory();
    }
    setRates(state, double(CELLS) * filters * layer->rowLength());
}

void benchHiddenLayer(benchmark::State& state, int filters, const Variant& v) {
    const std::unique_ptr<QuoriboNetwork> net = makeNetwork({2, filters, 8});
    if (!net->canRun(v.simdType)) {
        state.SkipWithError("this processor lacks the instruction set");
        return;
    }
    // A whole evaluation first, so the layer reads realistic activations.
    const MiddleGame position;
    net->simdType = v.simdType;
    net->getOutput(position.board.rows.data(), position.sign, nullptr);
    depnn::Conv3x3* layer = net->hiddenLayers[0];
    if (v.fixedPoint)
        layer->convertToMatrix_fixed(net->featuresFixed);
    else
        layer->convertToMatrix(net->features);
    for (auto _ : state) {
        runKernel(layer, net.get(), v.simdType);
        benchmark::ClobberMemory();
    }
    setRates(state, double(CELLS) * filters * layer->rowLength());
}

// The 2 x 2 block of 288-float rows (the 3x3 layer of 32 channels) walked
// again and again: as fast as the kernels' arithmetic can go on this core.
void benchCeiling(benchmark::State& state) {
    if (!depnn::cpuFeatures().avx) {
        state.SkipWithError("this processor lacks AVX");
        return;
    }
    constexpr int                         ROW    = 288;
    constexpr long long                   BLOCKS = 1000;
    std::vector<float>                    rows(4 * ROW);
    std::mt19937                          rng(7);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (float& x : rows)
        x = u(rng);
    float out[4] = {};
    for (auto _ : state) {
        ceilingBlocksAVX(&rows[0], &rows[ROW], &rows[2 * ROW], &rows[3 * ROW], ROW, BLOCKS, out);
        benchmark::DoNotOptimize(out);
    }
    setRates(state, 4.0 * ROW * BLOCKS);
}

std::string shapeName(const Shape& s) {
    return "B" + std::to_string(s.depth) + "_F" + std::to_string(s.filters) + "_H" +
           std::to_string(s.valueHidden);
}

bool registerAll() {
    benchmark::RegisterBenchmark("ceiling/AVX_block_L1", benchCeiling);
    for (const Variant& v : VARIANTS)
        for (const Shape& s : SHAPES) {
            const std::string f = "/F" + std::to_string(s.filters);
            benchmark::RegisterBenchmark(
                ("conv5x5/" + std::string(v.name) + f).c_str(),
                [&v, &s](benchmark::State& st) { benchFirstLayer(st, s.filters, v); });
            benchmark::RegisterBenchmark(
                ("conv3x3/" + std::string(v.name) + f).c_str(),
                [&v, &s](benchmark::State& st) { benchHiddenLayer(st, s.filters, v); });
        }
    for (const Variant& v : VARIANTS)
        for (const Shape& s : SHAPES)
            benchmark::RegisterBenchmark(
                ("getOutput/" + std::string(v.name) + "/" + shapeName(s)).c_str(),
                [&v, &s](benchmark::State& st) { benchGetOutput(st, s, v); })
                ->Unit(benchmark::kMillisecond);
    return true;
}

const bool registered = registerAll();

} // namespace
