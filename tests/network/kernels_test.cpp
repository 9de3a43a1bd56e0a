#include "network/cpuFeatures.h"
#include "network/kernels.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

using namespace depnn;

namespace {

// Extra channels per feature entry beyond `outputs`, filled with a negative
// sentinel: a kernel must neither write nor rectify them.
constexpr int SLACK = 2;

// One kernel call's data: N * N patch rows, `outputs` weight rows, biases and a
// feature buffer of (N + 2)^2 entries. Every row starts one element past an
// aligned boundary so the kernels' unaligned loads are exercised.
template <typename T, typename B> struct Problem {
    int                   boardSize, outputs, rowLength;
    std::vector<T>        weightData, inputData, featureData;
    std::vector<const T*> weightRows, inputRows;
    std::vector<T*>       features;
    std::vector<B>        bias;

    Problem(int n, int f, int k)
        : boardSize(n), outputs(f), rowLength(k), weightData(f * (k + 8)),
          inputData(n * n * (k + 8)), featureData((n + 2) * (n + 2) * (f + SLACK)), bias(f) {
        for (int o = 0; o < f; ++o)
            weightRows.push_back(&weightData[o * (k + 8) + 1]);
        for (int p = 0; p < n * n; ++p)
            inputRows.push_back(&inputData[p * (k + 8) + 1]);
        for (int e = 0; e < (n + 2) * (n + 2); ++e)
            features.push_back(&featureData[e * (f + SLACK)]);
    }

    int  entries() const { return (boardSize + 2) * (boardSize + 2); }
    int  entryOf(int p) const { return (p / boardSize + 1) * (boardSize + 2) + p % boardSize + 1; }
    bool isBorder(int e) const {
        const int r = e / (boardSize + 2), c = e % (boardSize + 2);
        return r == 0 || c == 0 || r == boardSize + 1 || c == boardSize + 1;
    }
};

using FloatProblem = Problem<float, float>;
using FixedProblem = Problem<short, int>;

FloatProblem randomFloatProblem(int n, int f, int k, unsigned seed) {
    FloatProblem                          pr(n, f, k);
    std::mt19937                          rng(seed);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (float& x : pr.weightData)
        x = u(rng);
    for (float& x : pr.inputData)
        x = u(rng);
    for (float& x : pr.bias)
        x = u(rng);
    for (int e = 0; e < pr.entries(); ++e) {
        for (int o = 0; o < f; ++o)
            pr.features[e][o] = u(rng); // stale values, some negative
        for (int s = 0; s < SLACK; ++s)
            pr.features[e][f + s] = -7.0f;
    }
    return pr;
}

FixedProblem randomFixedProblem(int n, int f, int k, unsigned seed, int weightRange, int inputRange,
                                int biasRange) {
    FixedProblem                       pr(n, f, k);
    std::mt19937                       rng(seed);
    std::uniform_int_distribution<int> w(-weightRange, weightRange - 1);
    std::uniform_int_distribution<int> x(-inputRange, inputRange - 1);
    std::uniform_int_distribution<int> b(-biasRange, biasRange);
    std::uniform_int_distribution<int> stale(-300, 300);
    for (short& v : pr.weightData)
        v = static_cast<short>(w(rng));
    for (short& v : pr.inputData)
        v = static_cast<short>(x(rng));
    for (int& v : pr.bias)
        v = b(rng);
    for (int e = 0; e < pr.entries(); ++e) {
        for (int o = 0; o < f; ++o)
            pr.features[e][o] = static_cast<short>(stale(rng));
        for (int s = 0; s < SLACK; ++s)
            pr.features[e][f + s] = -7;
    }
    return pr;
}

// What every entry must hold after a kernel: board cells the model's value,
// border entries their old value, both rectified; slack channels untouched.
template <typename T, typename B, typename Model>
std::vector<T> expectedFeatures(const Problem<T, B>& pr, Model model) {
    std::vector<T> expected(pr.featureData);
    const int      width = pr.outputs + SLACK;
    for (int p = 0; p < pr.boardSize * pr.boardSize; ++p)
        for (int o = 0; o < pr.outputs; ++o)
            expected[pr.entryOf(p) * width + o] = model(pr, p, o);
    for (int e = 0; e < pr.entries(); ++e)
        for (int o = 0; o < pr.outputs; ++o)
            if (expected[e * width + o] < 0)
                expected[e * width + o] = 0;
    return expected;
}

float floatModel(const FloatProblem& pr, int p, int o) {
    double sum = pr.bias[o];
    for (int k = 0; k < pr.rowLength; ++k)
        sum += static_cast<double>(pr.weightRows[o][k]) * pr.inputRows[p][k];
    return static_cast<float>(sum);
}

// The rounding a float dot product of this row may pick up.
double floatTolerance(const FloatProblem& pr, int p, int o) {
    double magnitude = std::fabs(pr.bias[o]);
    for (int k = 0; k < pr.rowLength; ++k)
        magnitude += std::fabs(static_cast<double>(pr.weightRows[o][k]) * pr.inputRows[p][k]);
    return magnitude * (pr.rowLength + 1) * FLT_EPSILON;
}

// Integer model written independently of the kernels: 32-bit wrap-around
// sums, C++ division (which truncates toward zero), the low 16 bits kept.
short fixedModel(const FixedProblem& pr, int p, int o) {
    uint32_t sum = static_cast<uint32_t>(pr.bias[o]);
    for (int k = 0; k < pr.rowLength; ++k)
        sum += static_cast<uint32_t>(pr.weightRows[o][k] * pr.inputRows[p][k]);
    const int32_t signedSum = static_cast<int32_t>(sum);
    const int32_t quotient  = signedSum / 2048;
    return static_cast<short>(static_cast<uint16_t>(static_cast<uint32_t>(quotient) & 0xFFFFu));
}

void expectMatchesFloatModel(const FloatProblem& pr) {
    const int width = pr.outputs + SLACK;
    for (int e = 0; e < pr.entries(); ++e) {
        if (pr.isBorder(e))
            continue;
        for (int s = 0; s < SLACK; ++s)
            ASSERT_EQ(pr.features[e][pr.outputs + s], -7.0f) << "entry " << e;
    }
    const std::vector<float> expected = expectedFeatures(pr, floatModel);
    for (int p = 0; p < pr.boardSize * pr.boardSize; ++p)
        for (int o = 0; o < pr.outputs; ++o) {
            const int e = pr.entryOf(p);
            ASSERT_NEAR(pr.features[e][o], expected[e * width + o], floatTolerance(pr, p, o))
                << "cell " << p << " channel " << o;
        }
    for (int e = 0; e < pr.entries(); ++e) {
        if (!pr.isBorder(e))
            continue;
        for (int c = 0; c < width; ++c)
            ASSERT_EQ(pr.features[e][c], expected[e * width + c]) << "border " << e;
    }
}

using FloatKernel = void (*)(const float* const*, const float* const*, const float*, int, int, int,
                             int, float**);
using FixedKernel = void (*)(const short* const*, const short* const*, const int*, int, int, int,
                             int, short**);

void runFloat(FloatKernel kernel, FloatProblem& pr, int vectorsPerStep) {
    kernel(pr.weightRows.data(), pr.inputRows.data(), pr.bias.data(), pr.boardSize, pr.outputs,
           pr.rowLength, vectorsPerStep, pr.features.data());
}

void runFixed(FixedKernel kernel, FixedProblem& pr, int vectorsPerStep) {
    kernel(pr.weightRows.data(), pr.inputRows.data(), pr.bias.data(), pr.boardSize, pr.outputs,
           pr.rowLength, vectorsPerStep, pr.features.data());
}

bool hasSse() {
    return cpuFeatures().sse && cpuFeatures().sse3;
}
bool hasSsse3() {
    return cpuFeatures().sse2 && cpuFeatures().ssse3;
}
bool hasAvx() {
    return cpuFeatures().avx;
}
bool hasAvx2() {
    return cpuFeatures().avx2;
}

// Layer shapes as the network uses them: the 5x5 layer's padded rows of 80
// values, and 3x3 rows of 9 x 16 channels.
struct Shape {
    int boardSize, outputs, rowLength, floatSseStep, floatAvxStep, sseFixedStep, avxFixedStep;
};
const Shape FIRST_LAYER  = {6, 16, 80, 2, 2, 2, 1};
const Shape HIDDEN_LAYER = {6, 16, 144, 3, 3, 3, 3};
const Shape FULL_BOARD   = {20, 32, 288, 3, 3, 3, 3};

} // namespace

TEST(FloatKernels, SseMatchesDoubleModel) {
    if (!hasSse())
        GTEST_SKIP() << "no SSE3";
    for (const Shape& s : {FIRST_LAYER, HIDDEN_LAYER, FULL_BOARD}) {
        FloatProblem pr = randomFloatProblem(s.boardSize, s.outputs, s.rowLength, 11);
        runFloat(convolveSSE, pr, s.floatSseStep);
        SCOPED_TRACE(s.rowLength);
        expectMatchesFloatModel(pr);
    }
}

TEST(FloatKernels, AvxMatchesDoubleModel) {
    if (!hasAvx())
        GTEST_SKIP() << "no AVX";
    for (const Shape& s : {FIRST_LAYER, HIDDEN_LAYER, FULL_BOARD}) {
        FloatProblem pr = randomFloatProblem(s.boardSize, s.outputs, s.rowLength, 12);
        runFloat(convolveAVX, pr, s.floatAvxStep);
        SCOPED_TRACE(s.rowLength);
        expectMatchesFloatModel(pr);
    }
}

TEST(FloatKernels, OneVectorPerStepWalksAnyMultipleOfTheLanes) {
    // A step count outside the specialised ones falls back to single vectors.
    if (!hasSse() || !hasAvx())
        GTEST_SKIP() << "no SSE3 or AVX";
    FloatProblem sse = randomFloatProblem(4, 4, 40, 13);
    FloatProblem avx = randomFloatProblem(4, 4, 40, 13);
    runFloat(convolveSSE, sse, 1);
    runFloat(convolveAVX, avx, 7);
    expectMatchesFloatModel(sse);
    expectMatchesFloatModel(avx);
}

TEST(FloatKernels, ZeroWeightsGiveRectifiedBias) {
    for (FloatKernel kernel : {convolveSSE, convolveAVX}) {
        if ((kernel == convolveSSE && !hasSse()) || (kernel == convolveAVX && !hasAvx()))
            continue;
        FloatProblem pr = randomFloatProblem(4, 2, 16, 14);
        for (float& w : pr.weightData)
            w = 0.0f;
        pr.bias = {1.0f, -1.0f};
        runFloat(kernel, pr, 2);
        for (int e = 0; e < pr.entries(); ++e) {
            if (pr.isBorder(e))
                continue;
            EXPECT_EQ(pr.features[e][0], 1.0f);
            EXPECT_EQ(pr.features[e][1], 0.0f);
        }
    }
}

TEST(FixedKernels, WorkedExample) {
    // Weight 0.5 (1024) against activation 1.0 (16): 16384 at scale 32768.
    // Bias 0.25 (8192) gives 24576 / 2048 = 12; bias -0.25 gives 8192 -> 4;
    // a sum of -2047 truncates to 0, not -1. A bias of INT_MAX wraps the sum
    // to INT_MIN + 16383, which truncates to -1048568, low 16 bits 8. A sum of
    // -65535 * 2048 - 1 truncates to -65535, low 16 bits 1 (rounding down
    // would store 0); 70000 keeps its low 16 bits, 4464, unsaturated.
    const int biases[] = {
        8192, -8192, -2047 - 16384, INT_MAX, -65535 * 2048 - 1 - 16384, 70000 * 2048 - 16384};
    const short expected[] = {12, 4, 0, 8, 1, 4464};
    for (FixedKernel kernel : {convolveSSE_fixed, convolveAVX_fixed}) {
        if ((kernel == convolveSSE_fixed && !hasSsse3()) ||
            (kernel == convolveAVX_fixed && !hasAvx2()))
            continue;
        FixedProblem pr = randomFixedProblem(2, 6, 16, 15, 1, 1, 0);
        for (short& v : pr.weightData)
            v = 0;
        for (short& v : pr.inputData)
            v = 0;
        for (int o = 0; o < 6; ++o) {
            const_cast<short*>(pr.weightRows[o])[5] = 1024;
            pr.bias[o]                              = biases[o];
        }
        for (int p = 0; p < 4; ++p)
            const_cast<short*>(pr.inputRows[p])[5] = 16;
        runFixed(kernel, pr, kernel == convolveAVX_fixed ? 1 : 2);
        for (int p = 0; p < 4; ++p)
            for (int o = 0; o < 6; ++o)
                EXPECT_EQ(pr.features[pr.entryOf(p)][o], expected[o])
                    << "cell " << p << " channel " << o;
    }
}

TEST(FixedKernels, BothFamiliesMatchIntegerModelBitForBit) {
    if (!hasSsse3() || !hasAvx2())
        GTEST_SKIP() << "needs SSSE3 and AVX2";
    struct Case {
        Shape shape;
        int   weightRange, inputRange, biasRange;
    };
    // Network-like magnitudes, then the full 16-bit range so that sums and
    // biases wrap around and quotients lose their high bits.
    const Case cases[] = {{FIRST_LAYER, 4096, 32, 1 << 20},
                          {HIDDEN_LAYER, 4096, 256, 1 << 20},
                          {FULL_BOARD, 2048, 64, 1 << 22},
                          {HIDDEN_LAYER, 32768, 32768, INT_MAX}};
    unsigned   seed    = 20;
    for (const Case& c : cases) {
        const Shape& s   = c.shape;
        FixedProblem sse = randomFixedProblem(s.boardSize, s.outputs, s.rowLength, seed,
                                              c.weightRange, c.inputRange, c.biasRange);
        FixedProblem avx = randomFixedProblem(s.boardSize, s.outputs, s.rowLength, seed++,
                                              c.weightRange, c.inputRange, c.biasRange);
        const std::vector<short> expected = expectedFeatures(sse, fixedModel);
        runFixed(convolveSSE_fixed, sse, s.sseFixedStep);
        runFixed(convolveAVX_fixed, avx, s.avxFixedStep);
        EXPECT_EQ(sse.featureData, expected) << "SSE, row length " << s.rowLength;
        EXPECT_EQ(avx.featureData, expected) << "AVX2, row length " << s.rowLength;
    }
}

TEST(FixedKernels, SseMatchesIntegerModelAlone) {
    // Runs where AVX2 is missing too, so SSSE3-only processors still check.
    if (!hasSsse3())
        GTEST_SKIP() << "no SSSE3";
    FixedProblem             pr       = randomFixedProblem(6, 16, 144, 30, 32768, 32768, INT_MAX);
    const std::vector<short> expected = expectedFeatures(pr, fixedModel);
    runFixed(convolveSSE_fixed, pr, 3);
    EXPECT_EQ(pr.featureData, expected);
}

TEST(SimdChoice, RuleTable) {
    struct Row {
        CpuFeatures features;
        int         simdType;
    };
    // clang-format off
    const Row rows[] = {
        //  sse    sse2   sse3   ssse3  avx    avx2
        {{false, false, false, false, false, false}, 0},
        {{true,  true,  false, true,  false, false}, 0},  // SSE without SSE3
        {{false, false, true,  false, false, false}, 0},  // SSE3 without SSE
        {{true,  true,  true,  false, false, false}, 1},
        {{true,  true,  true,  true,  false, true }, 1},  // AVX2 alone picks nothing wider
        {{true,  true,  true,  true,  true,  true }, 2},
        {{true,  false, false, false, true,  false}, 2},  // AVX wins without SSE3
        {{false, false, false, false, true,  false}, 2},
    };
    // clang-format on
    for (const Row& r : rows)
        EXPECT_EQ(chooseSimdType(r.features), r.simdType)
            << r.features.sse << r.features.sse3 << r.features.avx;
}

#if defined(__x86_64__) || defined(__i386__)
TEST(SimdChoice, FeaturesAgreeWithCompilerRuntime) {
    // The compiler's own detection also requires OS support for AVX state.
    const CpuFeatures& f = cpuFeatures();
    EXPECT_EQ(f.sse, __builtin_cpu_supports("sse") != 0);
    EXPECT_EQ(f.sse2, __builtin_cpu_supports("sse2") != 0);
    EXPECT_EQ(f.sse3, __builtin_cpu_supports("sse3") != 0);
    EXPECT_EQ(f.ssse3, __builtin_cpu_supports("ssse3") != 0);
    EXPECT_EQ(f.avx, __builtin_cpu_supports("avx") != 0);
    EXPECT_EQ(f.avx2, __builtin_cpu_supports("avx2") != 0);
    EXPECT_EQ(&cpuFeatures(), &f) << "identified once";
}
#endif
