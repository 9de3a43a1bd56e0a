#include "netTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace depnn;
using nettest::RowBuffer;

namespace {

// A padded feature buffer of random non-negative values.
RowBuffer<float> randomFeatures(int n, int channels, unsigned seed) {
    RowBuffer<float>                      features((n + 2) * (n + 2), channels);
    std::mt19937                          engine(seed);
    std::uniform_real_distribution<float> uniform(0.0f, 2.0f);
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c)
            for (int k = 0; k < channels; ++k)
                features.at((r + 1) * (n + 2) + c + 1, k) = uniform(engine);
    return features;
}

} // namespace

TEST(PolicyHead, ZeroWeightsGiveEveryCellOneOverNSquared) {
    PolicyConv         policy(20, 16);
    RowBuffer<float>   features = randomFeatures(20, 16, 1);
    std::vector<float> out(400);
    policy.forwardPropagate(features.rows(), out.data(), true);
    for (float p : out)
        EXPECT_EQ(p, 1.0f / 400);
}

TEST(PolicyHead, SoftmaxSurvivesHugeLogits) {
    PolicyConv         policy(4, 16);
    std::vector<float> logits(16, 0.0f);
    logits[5] = 1000.0f;
    policy.softmax(logits.data());
    for (int p = 0; p < 16; ++p)
        EXPECT_EQ(logits[p], p == 5 ? 1.0f : 0.0f);

    // Shifted logits give the same distribution.
    std::vector<float> low(16), high(16);
    for (int p = 0; p < 16; ++p) {
        low[p]  = 0.25f * p;
        high[p] = low[p] + 500.0f;
    }
    policy.softmax(low.data());
    policy.softmax(high.data());
    double total = 0;
    for (int p = 0; p < 16; ++p) {
        EXPECT_NEAR(low[p], high[p], 1e-6);
        EXPECT_NEAR(low[p], std::exp(0.25 * p) / ((std::exp(4.0) - 1) / (std::exp(0.25) - 1)),
                    1e-6);
        total += low[p];
    }
    EXPECT_NEAR(total, 1.0, 1e-6);
}

TEST(PolicyHead, EveryCellUsesWeightRowZeroAndItsOwnBias) {
    const int                             n = 4, channels = 16, cells = n * n;
    PolicyConv                            policy(n, channels);
    std::mt19937                          engine(3);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    for (int p = 0; p < cells; ++p) {
        policy.bias[p] = uniform(engine);
        for (int k = 0; k < channels; ++k)
            policy.weights[p][k] = p == 0 ? uniform(engine) * 0.3f : 50.0f * uniform(engine);
    }
    RowBuffer<float> padded = randomFeatures(n, channels, 4);
    RowBuffer<float> dense(cells, channels);
    for (int p = 0; p < cells; ++p)
        for (int k = 0; k < channels; ++k)
            dense.at(p, k) = padded.at((p / n + 1) * (n + 2) + p % n + 1, k);

    std::vector<double> expected(cells);
    double              total = 0;
    for (int p = 0; p < cells; ++p) {
        double z = policy.bias[p];
        for (int k = 0; k < channels; ++k)
            z += dense.at(p, k) * policy.weights[0][k];
        total += expected[p] = std::exp(z);
    }
    std::vector<float> fromPadded(cells), fromDense(cells);
    policy.forwardPropagate(padded.rows(), fromPadded.data(), true);
    policy.forwardPropagate(dense.rows(), fromDense.data(), false);
    EXPECT_EQ(fromPadded, fromDense);
    for (int p = 0; p < cells; ++p)
        EXPECT_NEAR(fromPadded[p], expected[p] / total, 1e-6 + 1e-5 * expected[p] / total);
}

TEST(ValueHead, ZeroWeightsGiveOneHalf) {
    ValueLayer         value(4, 8, 32);
    std::vector<float> x(32, 3.0f);
    value.forwardPropagate(x.data());
    EXPECT_EQ(value.getValue(), 0.5f);
    EXPECT_EQ(ValueLayer::sigm(0.0f), 0.5f);
    EXPECT_EQ(ValueLayer::sigm(1000.0f), 1.0f);
    EXPECT_EQ(ValueLayer::sigm(-1000.0f), 0.0f);
}

TEST(ValueHead, NegativeHiddenSumsAreCutBeforeTheOutput) {
    ValueLayer         value(2, 3, 8);
    std::vector<float> x(8, 0.5f);
    // Unit 0 sums to -1, unit 1 to exactly 0, unit 2 to 2 + 0.5 * 4 * 0.25.
    value.hiddenBias[0] = -1.0f;
    value.hiddenBias[1] = -1.0f;
    value.hiddenBias[2] = 2.0f;
    for (int j = 0; j < 4; ++j) {
        value.hiddenWeights[1][j] = 0.5f;
        value.hiddenWeights[2][j] = 0.25f;
    }
    value.outputWeights[0] = 10.0f;
    value.outputWeights[1] = 10.0f;
    value.outputWeights[2] = -0.5f;
    value.outputBias       = 0.75f;
    value.forwardPropagate(x.data());
    EXPECT_EQ(value.hiddenOutput[0], 0.0f);
    EXPECT_EQ(value.hiddenOutput[1], 0.0f);
    EXPECT_EQ(value.hiddenOutput[2], 2.5f);
    EXPECT_EQ(value.getValue(), static_cast<float>(1.0 / (1.0 + std::exp(-(0.75 - 1.25)))));
}

TEST(ValueHead, NoHiddenUnitsLeavesTheOutputBias) {
    ValueLayer value(2, 0, 8);
    value.outputBias = 2.0f;
    std::vector<float> x(8, 1.0f);
    value.forwardPropagate(x.data());
    EXPECT_EQ(value.getValue(), ValueLayer::sigm(2.0f));
}
