#include "netTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using namespace depnn;
using nettest::RowBuffer;

namespace {

enum Kernel { REFERENCE, SSE, AVX, SSE_FIXED, AVX_FIXED };

const char* kernelName(int kernel) {
    static const char* const names[] = {"reference", "sse", "avx", "sse_fixed", "avx_fixed"};
    return names[kernel];
}

bool isFixed(int kernel) {
    return kernel >= SSE_FIXED;
}

// Planes of (N + 4) x (N + 4) with a two-cell zero border.
struct InputPlanes {
    RowBuffer<float>     storage[3];
    std::vector<float**> planes;
    explicit InputPlanes(int n) : storage{{n + 4, n + 4}, {n + 4, n + 4}, {n + 4, n + 4}} {
        for (RowBuffer<float>& s : storage)
            planes.push_back(s.rows());
    }
    float& cell(int plane, int r, int c) { return planes[plane][r + 2][c + 2]; }
};

// Conv5x5 and Conv3x3 name their kernels alike.
template <typename Layer> void run(Layer* layer, int kernel, float** features) {
    if (kernel == SSE)
        layer->forwardPropagateSSE(features);
    else if (kernel == AVX)
        layer->forwardPropagateAVX(features);
    else
        layer->forwardPropagate(features);
}

template <typename Layer> void run(Layer* layer, int kernel, short** featuresFixed) {
    if (kernel == AVX_FIXED)
        layer->forwardPropagateAVX_fixed(featuresFixed);
    else
        layer->forwardPropagateSSE_fixed(featuresFixed);
}

void gather(Conv3x3* layer, float** features) {
    layer->convertToMatrix(features);
}
void gather(Conv3x3* layer, short** features) {
    layer->convertToMatrix_fixed(features);
}

// A layer's output over the whole buffer, as floats, for either family.
// `stale` fills the board entries beforehand: a kernel must overwrite them.
template <typename Layer, typename Gather>
std::vector<float> runOnFreshBuffer(Layer* layer, int kernel, Gather gatherInput, float stale) {
    const int        n = layer->boardSize, entries = (n + 2) * (n + 2), channels = layer->outputs;
    RowBuffer<float> floats(entries, channels);
    RowBuffer<short> fixed(entries, channels);
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c)
            for (int k = 0; k < channels; ++k) {
                floats.at((r + 1) * (n + 2) + c + 1, k) = stale;
                fixed.at((r + 1) * (n + 2) + c + 1, k)  = static_cast<short>(stale * 16);
            }
    gatherInput(isFixed(kernel));
    if (!isFixed(kernel)) {
        run(layer, kernel, floats.rows());
        return floats.all();
    }
    run(layer, kernel, fixed.rows());
    std::vector<float> out;
    for (short v : fixed.all())
        out.push_back(v * 0.0625f);
    return out;
}

template <typename T>
void expectInPlaceEqualsSeparate(Conv3x3* layer, int kernel, RowBuffer<T> source) {
    const int    entries = (layer->boardSize + 2) * (layer->boardSize + 2);
    RowBuffer<T> shared  = source;
    RowBuffer<T> separate(entries, layer->outputs);
    gather(layer, shared.rows());
    run(layer, kernel, shared.rows());
    gather(layer, source.rows());
    run(layer, kernel, separate.rows());
    EXPECT_EQ(shared.all(), separate.all());
}

int entryOf(int n, int r, int c) {
    return (r + 1) * (n + 2) + (c + 1);
}

class ConvKernels : public testing::TestWithParam<int> {
  protected:
    void SetUp() override {
        if (!nettest::cpuSupports(GetParam()))
            GTEST_SKIP() << kernelName(GetParam()) << " not supported by this processor";
    }
};

} // namespace

// Weight k of the kernel is (k + 1) / 16, exact in every kernel family, so
// each output cell tells which kernel position met the stone.
TEST_P(ConvKernels, CornerStoneReachesOnlyTheThreeByThreeCorner) {
    const int n = 6, outputs = 2;
    Conv5x5   layer(n, 3, outputs);
    for (int o = 0; o < outputs; ++o)
        for (int k = 0; k < 25; ++k)
            layer.weights[o][0][k] = static_cast<float>(k + 1 + 25 * o) / 16;
    layer.fillMatrix();

    InputPlanes input(n);
    input.cell(0, 0, 0)          = 1.0f;
    const std::vector<float> out = runOnFreshBuffer(
        &layer, GetParam(),
        [&](bool fixed) {
            if (fixed)
                layer.convertToMatrix_fixed(input.planes.data());
            else
                layer.convertToMatrix(input.planes.data());
        },
        0.0f);

    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c)
            for (int o = 0; o < outputs; ++o) {
                const float expected =
                    r <= 2 && c <= 2 ? static_cast<float>(5 * (2 - r) + (2 - c) + 1 + 25 * o) / 16
                                     : 0.0f;
                EXPECT_EQ(out[entryOf(n, r, c) * outputs + o], expected)
                    << r << "," << c << " ch " << o;
            }
}

TEST_P(ConvKernels, BiasOnlyFillsBoardCellsAndLeavesTheBorder) {
    const int n = 4, channels = 16;
    Conv3x3   layer(n, channels, channels);
    const int entries = (n + 2) * (n + 2);
    for (float bias : {-1.0f, 1.0f}) {
        for (int o = 0; o < channels; ++o)
            layer.bias[o] = bias;
        layer.fillMatrix();
        RowBuffer<float>         source(entries, channels);
        RowBuffer<short>         sourceFixed(entries, channels);
        const std::vector<float> out = runOnFreshBuffer(
            &layer, GetParam(),
            [&](bool fixed) {
                if (fixed)
                    layer.convertToMatrix_fixed(sourceFixed.rows());
                else
                    layer.convertToMatrix(source.rows());
            },
            3.0f);
        for (int e = 0; e < entries; ++e) {
            const int  r = e / (n + 2) - 1, c = e % (n + 2) - 1;
            const bool onBoard = r >= 0 && r < n && c >= 0 && c < n;
            for (int k = 0; k < channels; ++k)
                EXPECT_EQ(out[e * channels + k], onBoard && bias > 0 ? 1.0f : 0.0f)
                    << "bias " << bias << " entry " << e;
        }
    }
}

TEST_P(ConvKernels, InPlaceThreeByThreeEqualsSeparateBuffer) {
    const int                             n = 6, channels = 16, entries = (n + 2) * (n + 2);
    Conv3x3                               layer(n, channels, channels);
    std::mt19937                          engine(5);
    std::uniform_real_distribution<float> uniform(-0.5f, 0.5f);
    for (int o = 0; o < channels; ++o) {
        layer.bias[o] = uniform(engine);
        for (int i = 0; i < channels; ++i)
            for (int k = 0; k < 9; ++k)
                layer.weights[o][i][k] = uniform(engine);
    }
    layer.fillMatrix();
    RowBuffer<float> source(entries, channels);
    RowBuffer<short> sourceFixed(entries, channels);
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c)
            for (int k = 0; k < channels; ++k) {
                const float v                  = std::round((uniform(engine) + 0.5f) * 32) / 16;
                source.at(entryOf(n, r, c), k) = v;
                sourceFixed.at(entryOf(n, r, c), k) = static_cast<short>(v * 16);
            }
    if (isFixed(GetParam()))
        expectInPlaceEqualsSeparate(&layer, GetParam(), sourceFixed);
    else
        expectInPlaceEqualsSeparate(&layer, GetParam(), source);
}

INSTANTIATE_TEST_SUITE_P(AllFamilies, ConvKernels,
                         testing::Values(REFERENCE, SSE, AVX, SSE_FIXED, AVX_FIXED),
                         [](const testing::TestParamInfo<int>& test) {
                             return std::string(kernelName(test.param));
                         });

TEST(ConvMatrices, FillMatrixPadsAndQuantises) {
    Conv5x5 first(4, 3, 2);
    EXPECT_EQ(first.rowLength(), 80);
    first.weights[1][2][24] = 0.5f;
    first.weights[0][0][0]  = 16.0f;   // wraps in 16 bits
    first.weights[0][1][3]  = -0.001f; // -2.048 truncates to -2
    first.bias[1]           = -0.25f;
    first.fillMatrix();
    EXPECT_EQ(first.weightMatrix[1][74], 0.5f);
    EXPECT_EQ(first.weightMatrixFixed[1][74], 1024);
    EXPECT_EQ(first.weightMatrixFixed[0][0], -32768);
    EXPECT_EQ(first.weightMatrix[0][0], 16.0f);
    EXPECT_EQ(first.weightMatrixFixed[0][28], -2);
    EXPECT_EQ(first.biasFixed[1], -8192);
    for (int k = 75; k < 80; ++k) {
        EXPECT_EQ(first.weightMatrix[1][k], 0.0f);
        EXPECT_EQ(first.weightMatrixFixed[1][k], 0);
    }

    // The padding stays 0 in the patch rows as well, whatever the planes hold.
    InputPlanes input(4);
    for (int i = 0; i < 3; ++i)
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c)
                input.cell(i, r, c) = 1.0f;
    first.convertToMatrix(input.planes.data());
    first.convertToMatrix_fixed(input.planes.data());
    for (int p = 0; p < 16; ++p)
        for (int k = 75; k < 80; ++k) {
            EXPECT_EQ(first.inputMatrix[p][k], 0.0f);
            EXPECT_EQ(first.inputMatrixFixed[p][k], 0);
        }
    // Cell (0, 0): kernel (2, 2) of plane 1 is on the board, (0, 0) is not.
    EXPECT_EQ(first.inputMatrix[0][25 + 12], 1.0f);
    EXPECT_EQ(first.inputMatrixFixed[0][25 + 12], 16);
    EXPECT_EQ(first.inputMatrix[0][25], 0.0f);
}

TEST(Conv1x1Layer, ReadsPaddedOrDenseEntriesAndCutsNonPositive) {
    const int   n = 2, inputs = 3;
    Conv1x1     layer(n, inputs, 2);
    const float w[2][3] = {{1.0f, -2.0f, 0.5f}, {-1.0f, 0.0f, 0.25f}};
    for (int o = 0; o < 2; ++o)
        for (int k = 0; k < inputs; ++k)
            layer.weights[o][k] = w[o][k];
    layer.bias[0] = 0.5f;
    layer.bias[1] = -0.25f;

    RowBuffer<float> dense(n * n, inputs), padded((n + 2) * (n + 2), inputs);
    for (int p = 0; p < n * n; ++p)
        for (int k = 0; k < inputs; ++k) {
            dense.at(p, k)                         = static_cast<float>(p + 1) * (k + 1) / 4;
            padded.at(entryOf(n, p / n, p % n), k) = dense.at(p, k);
        }
    std::vector<float> fromDense(2 * n * n), fromPadded(2 * n * n);
    layer.forwardPropagate(dense.rows(), fromDense.data(), false);
    layer.forwardPropagate(padded.rows(), fromPadded.data(), true);
    EXPECT_EQ(fromDense, fromPadded);
    for (int o = 0; o < 2; ++o)
        for (int p = 0; p < n * n; ++p) {
            double sum = layer.bias[o];
            for (int k = 0; k < inputs; ++k)
                sum += w[o][k] * dense.at(p, k);
            EXPECT_FLOAT_EQ(fromDense[o * n * n + p], sum > 0 ? static_cast<float>(sum) : 0.0f);
        }
}

TEST(RowHelpers, RectifyClearBorderAndFindMax) {
    const float      nan = std::numeric_limits<float>::quiet_NaN();
    RowBuffer<float> a(2, 3);
    a.all() = {-1.0f, 2.0f, nan, -0.0f, -3.0f, 4.0f};
    nonlinearity(a.rows(), 2, 2); // the third column is outside
    EXPECT_EQ(a.at(0, 0), 0.0f);
    EXPECT_EQ(a.at(0, 1), 2.0f);
    EXPECT_TRUE(std::isnan(a.at(0, 2)));
    EXPECT_EQ(a.at(1, 1), 0.0f);
    EXPECT_EQ(a.at(1, 2), 4.0f);

    RowBuffer<short> s(1, 3);
    s.all() = {-5, 7, -32768};
    nonlinearity(s.rows(), 1, 3);
    EXPECT_EQ(s.all(), (std::vector<short>{0, 7, 0}));

    RowBuffer<float> plane(4, 5);
    for (float& x : plane.all())
        x = 1.0f;
    float** planes[] = {plane.rows()};
    clearBorder(planes, 1, 4, 5);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 5; ++c)
            EXPECT_EQ(plane.at(r, c), r > 0 && r < 3 && c > 0 && c < 4 ? 1.0f : 0.0f);

    EXPECT_EQ(findMax(plane.rows(), 0, 5), -1.0f);
    plane.at(2, 3) = 7.5f;
    EXPECT_EQ(findMax(plane.rows(), 4, 5), 7.5f);
    EXPECT_EQ(findMax(plane.rows(), 2, 5), 1.0f);
    for (float& x : plane.all())
        x = -4.0f;
    EXPECT_EQ(findMax(plane.rows(), 4, 5), -1.0f);
}
