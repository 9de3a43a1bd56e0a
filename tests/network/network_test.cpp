#include "netTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace depnn;
using nettest::RowBuffer;
using nettest::Shape;
using nettest::TestBoard;

namespace {

const char* const PASS_NAMES[] = {"default", "sse", "avx", "sse2", "avx2"};

const Shape SMALL{8, 3, 16, 4};
const Shape FULL{20, 6, 32, 32};

struct Network {
    WeightSet                       weights;
    std::vector<char>               image;
    std::unique_ptr<QuoriboNetwork> net;
};

Network smallNetwork(unsigned seed) {
    Network n;
    n.weights = nettest::randomWeights(SMALL, seed);
    n.image   = nettest::imageOf(SMALL, n.weights);
    n.net     = std::make_unique<QuoriboNetwork>(n.image.data(), nettest::lengthOf(n.image));
    return n;
}

// The tool's generator, decoded independently for the model.
Network fullNetwork(unsigned seed) {
    Network n;
    n.image   = makeRandomWeightImage(FULL.n, FULL.b, FULL.f, FULL.h, seed);
    n.weights = nettest::decodeWeights(n.image, FULL);
    n.net     = std::make_unique<QuoriboNetwork>(n.image.data(), nettest::lengthOf(n.image));
    return n;
}

struct Output {
    float              value;
    std::vector<float> policy;
};

Output evaluate(QuoriboNetwork* net, int passType, TestBoard board, int sign) {
    net->simdType = passType;
    RowBuffer<float> policy(board.size(), board.size());
    Output           out;
    out.value  = net->getOutput(board.rows(), sign, policy.rows());
    out.policy = policy.all();
    return out;
}

void expectMatchesModel(const Output& out, const nettest::ModelOutput& model) {
    EXPECT_NEAR(out.value, model.value, 2e-5);
    ASSERT_EQ(out.policy.size(), model.policy.size());
    for (size_t p = 0; p < out.policy.size(); ++p)
        EXPECT_NEAR(out.policy[p], model.policy[p], 1e-7 + 1e-4 * model.policy[p]) << "cell " << p;
}

// The fixed-point trunk run layer by layer, each layer's output as
// [channel][cell] integers. Border entries must stay 0.
std::vector<std::vector<int>> fixedLayers(QuoriboNetwork* net, int passType, TestBoard board,
                                          int sign) {
    const int n = net->boardSize, f = net->filters, width = n + 2;
    net->prepareInput(board.rows(), sign);
    for (int e = 0; e < width * width; ++e)
        for (int k = 0; k < f; ++k)
            net->featuresFixed[e][k] = 0;
    std::vector<std::vector<int>> layers;
    auto                          snapshot = [&]() {
        std::vector<int> values;
        for (int k = 0; k < f; ++k)
            for (int p = 0; p < n * n; ++p)
                values.push_back(net->featuresFixed[(p / n + 1) * width + p % n + 1][k]);
        for (int e = 0; e < width * width; ++e) {
            const int r = e / width, c = e % width;
            if (r == 0 || c == 0 || r == width - 1 || c == width - 1) {
                for (int k = 0; k < f; ++k)
                    EXPECT_EQ(net->featuresFixed[e][k], 0);
            }
        }
        layers.push_back(values);
    };
    auto runLayer = [&](auto* layer) {
        if (passType == 4)
            layer->forwardPropagateAVX_fixed(net->featuresFixed);
        else
            layer->forwardPropagateSSE_fixed(net->featuresFixed);
        snapshot();
    };
    net->firstLayer->convertToMatrix_fixed(net->inputPlanes);
    runLayer(net->firstLayer);
    for (int i = 0; i < net->hiddenLayerCount; ++i) {
        net->hiddenLayers[i]->convertToMatrix_fixed(net->featuresFixed);
        runLayer(net->hiddenLayers[i]);
    }
    net->policyFeatureLayer->convertToMatrix_fixed(net->featuresFixed);
    runLayer(net->policyFeatureLayer);
    return layers;
}

class PassVariants : public testing::TestWithParam<int> {
  protected:
    void SetUp() override {
        if (!nettest::cpuSupports(GetParam()))
            GTEST_SKIP() << PASS_NAMES[GetParam()] << " not supported by this processor";
    }
    bool fixedPoint() const { return GetParam() >= 3; }
};

class FixedPassVariants : public PassVariants {};

} // namespace

TEST_P(PassVariants, SmallNetworkMatchesTheDirectModel) {
    Network n = smallNetwork(21);
    for (unsigned seed = 1; seed <= 3; ++seed) {
        const TestBoard board = TestBoard::random(SMALL.n, seed, 0.1 * seed);
        for (int sign : {1, -1}) {
            const Output out = evaluate(n.net.get(), GetParam(), board, sign);
            expectMatchesModel(out,
                               nettest::evaluateModel(SMALL, n.weights, board, sign, fixedPoint()));
        }
    }
}

TEST_P(PassVariants, FullSizeNetworkMatchesTheDirectModel) {
    Network         n     = fullNetwork(5);
    const TestBoard board = TestBoard::random(FULL.n, 8, 0.25);
    const Output    out   = evaluate(n.net.get(), GetParam(), board, -1);
    expectMatchesModel(out, nettest::evaluateModel(FULL, n.weights, board, -1, fixedPoint()));
}

TEST_P(FixedPassVariants, EveryLayerMatchesTheIntegerModel) {
    std::vector<Network> networks;
    networks.push_back(smallNetwork(4));
    networks.push_back(fullNetwork(6));
    for (Network& n : networks) {
        const Shape     shape{n.net->boardSize, n.net->depth, n.net->filters, n.net->valueHidden};
        const TestBoard board = TestBoard::random(shape.n, 9, 0.3);
        const auto      model = nettest::evaluateModel(shape, n.weights, board, 1, true);
        const auto      got   = fixedLayers(n.net.get(), GetParam(), board, 1);
        ASSERT_EQ(got.size(), model.fixedLayers.size());
        for (size_t l = 0; l < got.size(); ++l)
            EXPECT_EQ(got[l], model.fixedLayers[l]) << "layer " << l;
    }
}

TEST_P(PassVariants, PolicyCoversExactlyTheEmptyCells) {
    Network         n     = smallNetwork(8);
    const TestBoard board = TestBoard::random(SMALL.n, 12, 0.6);
    const Output    out   = evaluate(n.net.get(), GetParam(), board, 1);
    double          total = 0;
    for (int p = 0; p < SMALL.n * SMALL.n; ++p) {
        if (board.at(p / SMALL.n, p % SMALL.n) != 0)
            EXPECT_EQ(out.policy[p], 0.0f);
        else
            EXPECT_GT(out.policy[p], 0.0f);
        total += out.policy[p];
    }
    EXPECT_NEAR(total, 1.0, 1e-5);
    EXPECT_GE(out.value, 0.0f);
    EXPECT_LE(out.value, 1.0f);
}

TEST_P(PassVariants, SwappingColoursAndSignChangesNothing) {
    Network         n     = smallNetwork(9);
    const TestBoard board = TestBoard::random(SMALL.n, 13, 0.5);
    const Output    a     = evaluate(n.net.get(), GetParam(), board, 1);
    const Output    b     = evaluate(n.net.get(), GetParam(), board.swappedColours(), -1);
    EXPECT_EQ(a.value, b.value);
    EXPECT_EQ(a.policy, b.policy);
    // The side to move matters: the same stones for the other side differ.
    const Output c = evaluate(n.net.get(), GetParam(), board, -1);
    EXPECT_NE(a.policy, c.policy);
}

TEST_P(PassVariants, ReloadGivesTheSameResultsAsAFreshNetwork) {
    Network         reloaded = smallNetwork(1);
    Network         fresh    = smallNetwork(2);
    const TestBoard board    = TestBoard::random(SMALL.n, 14, 0.3);
    const Output    before   = evaluate(reloaded.net.get(), GetParam(), board, 1);
    EXPECT_EQ(reloaded.net->loadFromChar(fresh.image.data(), nettest::lengthOf(fresh.image)),
              static_cast<int>(weightFileSize(SMALL.n, SMALL.b, SMALL.f, SMALL.h)));
    const Output after    = evaluate(reloaded.net.get(), GetParam(), board, 1);
    const Output expected = evaluate(fresh.net.get(), GetParam(), board, 1);
    EXPECT_NE(before.policy, after.policy);
    EXPECT_EQ(after.value, expected.value);
    EXPECT_EQ(after.policy, expected.policy);
}

namespace {

std::string passName(const testing::TestParamInfo<int>& test) {
    return PASS_NAMES[test.param];
}

} // namespace

INSTANTIATE_TEST_SUITE_P(AllPasses, PassVariants, testing::Values(0, 1, 2, 3, 4), passName);
INSTANTIATE_TEST_SUITE_P(FixedPasses, FixedPassVariants, testing::Values(3, 4), passName);

TEST(FixedPointPasses, SseAndAvx2AgreeBitForBit) {
    if (!nettest::cpuSupports(3) || !nettest::cpuSupports(4))
        GTEST_SKIP() << "needs both fixed-point families";
    Network         n     = fullNetwork(7);
    const TestBoard board = TestBoard::random(FULL.n, 15, 0.35);
    EXPECT_EQ(fixedLayers(n.net.get(), 3, board, 1), fixedLayers(n.net.get(), 4, board, 1));
    const Output sse2 = evaluate(n.net.get(), 3, board, 1);
    const Output avx2 = evaluate(n.net.get(), 4, board, 1);
    EXPECT_EQ(sse2.value, avx2.value);
    EXPECT_EQ(sse2.policy, avx2.policy);
}

TEST(NetworkInput, PlanesSeparateSideToMoveOtherSideAndEmpty) {
    Network   n     = smallNetwork(1);
    TestBoard board = TestBoard::fromPicture(R"(
        X . . . . . . .
        . O . . . . . .
        . . . . . . . .
        . . . X . . . .
        . . . . . . . .
        . . . . . . . .
        . . . . . . . O
        . . . . . . . .
    )");
    n.net->prepareInput(board.rows(), -1);
    EXPECT_EQ(n.net->sideToMove, -1);
    for (int r = -2; r < SMALL.n + 2; ++r)
        for (int c = -2; c < SMALL.n + 2; ++c) {
            const bool inside = r >= 0 && c >= 0 && r < SMALL.n && c < SMALL.n;
            const int  stone  = inside ? board.at(r, c) : 2;
            EXPECT_EQ(n.net->inputPlanes[0][r + 2][c + 2], stone == -1 ? 1.0f : 0.0f)
                << r << "," << c;
            EXPECT_EQ(n.net->inputPlanes[1][r + 2][c + 2], stone == 1 ? 1.0f : 0.0f)
                << r << "," << c;
            EXPECT_EQ(n.net->inputPlanes[2][r + 2][c + 2], stone == 0 ? 1.0f : 0.0f)
                << r << "," << c;
        }
}

TEST(NetworkOutput, FullBoardGivesAnAllZeroPolicy) {
    Network   n = smallNetwork(3);
    TestBoard board(SMALL.n);
    for (int r = 0; r < SMALL.n; ++r)
        for (int c = 0; c < SMALL.n; ++c)
            board.at(r, c) = (r + c) % 2 == 0 ? 1 : -1;
    const Output out = evaluate(n.net.get(), 0, board, 1);
    EXPECT_EQ(out.policy, std::vector<float>(SMALL.n * SMALL.n, 0.0f));
}

// Cell 0 takes all the probability (its logit is 128 above the others,
// beyond float range once exponentiated); with it occupied no empty cell has
// any, and the policy stays 0 rather than dividing by zero.
TEST(NetworkOutput, NoProbabilityOnEmptyCellsGivesAnAllZeroPolicy) {
    WeightSet weights      = makeZeroWeightSet(SMALL.n, SMALL.b, SMALL.f, SMALL.h);
    weights.policyLayer[0] = 63.9f;
    for (int p = 1; p < SMALL.n * SMALL.n; ++p)
        weights.policyLayer[p] = -64.0f;
    const std::vector<char> image = nettest::imageOf(SMALL, weights);
    QuoriboNetwork          net(image.data(), nettest::lengthOf(image));
    TestBoard               board(SMALL.n);
    board.at(0, 0)   = 1;
    const Output out = evaluate(&net, 0, board, 1);
    EXPECT_EQ(out.policy, std::vector<float>(SMALL.n * SMALL.n, 0.0f));
    EXPECT_EQ(out.value, 0.5f);
}

TEST(NetworkOutput, NullPolicyStillRunsThePolicyHead) {
    Network         n = smallNetwork(4);
    const TestBoard empty(SMALL.n);
    const TestBoard board = TestBoard::random(SMALL.n, 3, 0.4);
    const Output    full  = evaluate(n.net.get(), 0, board, 1);
    evaluate(n.net.get(), 0, empty, 1);
    TestBoard copy = board;
    EXPECT_EQ(n.net->getOutput(copy.rows(), 1, nullptr), full.value);
    // policyOutput is the unmasked softmax of this board.
    double total = 0;
    for (int p = 0; p < SMALL.n * SMALL.n; ++p) {
        if (board.at(p / SMALL.n, p % SMALL.n) == 0)
            total += n.net->policyOutput[p];
    }
    for (int p = 0; p < SMALL.n * SMALL.n; ++p) {
        if (board.at(p / SMALL.n, p % SMALL.n) == 0) {
            EXPECT_NEAR(n.net->policyOutput[p] / total, full.policy[p], 1e-6);
        }
    }
}

TEST(NetworkOutput, UnknownPassTypeRunsNothing) {
    Network   n     = smallNetwork(5);
    TestBoard board = TestBoard::random(SMALL.n, 4, 0.4);
    evaluate(n.net.get(), 0, board, 1);
    const std::vector<float> before(n.net->policyOutput, n.net->policyOutput + SMALL.n * SMALL.n);
    n.net->simdType = 7;
    n.net->prepareInput(TestBoard(SMALL.n).rows(), 1);
    n.net->forward();
    EXPECT_EQ(std::vector<float>(n.net->policyOutput, n.net->policyOutput + SMALL.n * SMALL.n),
              before);
}
