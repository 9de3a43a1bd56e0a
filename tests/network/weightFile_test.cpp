#include "netTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

using namespace depnn;
using nettest::Shape;
using nettest::TestBoard;

namespace {

const Shape SMALL{4, 2, 16, 3};

std::vector<char> smallImage(unsigned seed) {
    return nettest::imageOf(SMALL, nettest::randomWeights(SMALL, seed));
}

const char* refusal(const std::vector<char>& image) {
    const char* reason = nullptr;
    if (checkWeightImage(image.data(), static_cast<long long>(image.size()), nullptr, &reason))
        return nullptr;
    EXPECT_NE(reason, nullptr);
    return reason == nullptr ? "" : reason;
}

struct Evaluation {
    float              value;
    std::vector<float> policy;
};

Evaluation evaluate(const std::vector<char>& image, TestBoard board, int sign) {
    QuoriboNetwork            net(image.data());
    nettest::RowBuffer<float> policy(board.size(), board.size());
    Evaluation                result;
    result.value  = net.getOutput(board.rows(), sign, policy.rows());
    result.policy = policy.all();
    return result;
}

std::string tempPath(const char* name) {
    return testing::TempDir() + "quoribo_" + name;
}

} // namespace

TEST(WeightFileSize, FollowsTheSectionLayout) {
    EXPECT_EQ(weightFileSize(20, 2, 16, 8), 76492);
    for (const Shape& s : {Shape{20, 6, 32, 32}, Shape{4, 1, 16, 0}, Shape{8, 3, 48, 5}}) {
        const std::vector<char> image = nettest::imageOf(s, nettest::randomWeights(s, 3));
        EXPECT_EQ(static_cast<long long>(image.size()), weightFileSize(s.n, s.b, s.f, s.h));
    }
    EXPECT_EQ(weightFileSize(20, 0, 16, 8), -1);
    EXPECT_EQ(weightFileSize(-1, 2, 16, 8), -1);
    EXPECT_EQ(weightFileSize(20, 2, 70000, 8), -1);
}

TEST(WeightFileHeader, DecodesSignedBytesAndUnsignedWords) {
    std::vector<char> header(64, 0);
    header[0] = static_cast<char>(0xFE);
    header[1] = 6;
    header[2] = static_cast<char>(0x30);
    header[3] = static_cast<char>(0x81);
    header[4] = static_cast<char>(0xFF);
    header[5] = static_cast<char>(0xFF);
    NetworkShape shape{};
    ASSERT_TRUE(readNetworkShape(header.data(), 64, &shape));
    EXPECT_EQ(shape.boardSize, -2);
    EXPECT_EQ(shape.depth, 6);
    EXPECT_EQ(shape.filters, 0x8130);
    EXPECT_EQ(shape.valueHidden, 65535);
    EXPECT_FALSE(readNetworkShape(header.data(), 63, &shape));
    EXPECT_FALSE(readNetworkShape(nullptr, 64, &shape));
}

TEST(WeightImageCheck, AcceptsCompleteImagesAndReportsTheShape) {
    const std::vector<char> image = smallImage(1);
    NetworkShape            shape{};
    const char*             reason = nullptr;
    ASSERT_TRUE(
        checkWeightImage(image.data(), static_cast<long long>(image.size()), &shape, &reason));
    EXPECT_EQ(shape.boardSize, SMALL.n);
    EXPECT_EQ(shape.depth, SMALL.b);
    EXPECT_EQ(shape.filters, SMALL.f);
    EXPECT_EQ(shape.valueHidden, SMALL.h);
    // Null outputs are allowed.
    EXPECT_TRUE(
        checkWeightImage(image.data(), static_cast<long long>(image.size()), nullptr, nullptr));
}

TEST(WeightImageCheck, RefusesTruncatedImages) {
    const std::vector<char> image = smallImage(1);
    for (size_t cut :
         {size_t(0), size_t(10), size_t(63), size_t(64), image.size() / 2, image.size() - 1}) {
        std::vector<char> truncated(image.begin(), image.begin() + cut);
        EXPECT_NE(refusal(truncated), nullptr) << "length " << cut;
    }
    const char* reason = nullptr;
    EXPECT_FALSE(checkWeightImage(nullptr, 100000, nullptr, &reason));
    EXPECT_NE(reason, nullptr);
}

TEST(WeightImageCheck, RefusesHeadersNoKernelCanRun) {
    struct Header {
        int n, b, f;
    };
    // clang-format off
    const Header bad[] = {
        {0, 2, 16}, {-20, 2, 16}, {34, 2, 16}, {1, 2, 16}, {5, 2, 16}, {21, 2, 16},
        {20, 0, 16}, {20, -1, 16},
        {20, 2, 0}, {20, 2, 8}, {20, 2, 24}, {20, 2, 65535},
    };
    // clang-format on
    for (const Header& h : bad) {
        // Long enough for any accepted shape of these sizes.
        std::vector<char> image(4 << 20, 0);
        image[0] = static_cast<char>(h.n);
        image[1] = static_cast<char>(h.b);
        image[2] = static_cast<char>(h.f & 255);
        image[3] = static_cast<char>(h.f >> 8);
        image[4] = 8;
        EXPECT_NE(refusal(image), nullptr) << "N " << h.n << " B " << h.b << " F " << h.f;
    }
}

TEST(WeightImageCheck, RefusesNetworksTooLargeToBuild) {
    std::vector<char> header(64, 0);
    header[0]          = 32;
    header[1]          = 127;
    header[2]          = static_cast<char>(0xF0); // F = 65520
    header[3]          = static_cast<char>(0xFF);
    header[4]          = static_cast<char>(0xFF);
    header[5]          = static_cast<char>(0xFF);
    const char* reason = nullptr;
    // Claims to be huge; the image is tiny either way.
    EXPECT_FALSE(checkWeightImage(header.data(), 1LL << 40, nullptr, &reason));
    EXPECT_NE(reason, nullptr);
}

TEST(WeightImageCheck, IgnoresReservedBytesAndTrailingData) {
    const std::vector<char> image = smallImage(2);
    const TestBoard         board = TestBoard::random(SMALL.n, 5, 0.4);
    const Evaluation        plain = evaluate(image, board, 1);

    std::vector<char> noisy = image;
    std::mt19937      engine(9);
    for (int i = 6; i < 64; ++i)
        noisy[i] = static_cast<char>(engine());
    for (int i = 0; i < 1000; ++i)
        noisy.push_back(static_cast<char>(engine()));
    ASSERT_EQ(refusal(noisy), nullptr);

    const Evaluation other = evaluate(noisy, board, 1);
    EXPECT_EQ(other.value, plain.value);
    EXPECT_EQ(other.policy, plain.policy);
}

TEST(WeightImageWriting, RefusesSectionsOfTheWrongSize) {
    WeightSet weights = makeZeroWeightSet(SMALL.n, SMALL.b, SMALL.f, SMALL.h);
    EXPECT_FALSE(makeWeightImage(SMALL.n, SMALL.b, SMALL.f, SMALL.h, weights).empty());
    weights.policyLayer.pop_back();
    EXPECT_TRUE(makeWeightImage(SMALL.n, SMALL.b, SMALL.f, SMALL.h, weights).empty());
    EXPECT_TRUE(makeRandomWeightImage(20, 0, 16, 8, 1).empty());
    EXPECT_TRUE(makeRandomWeightImage(32, 127, 65520, 65535, 1).empty());
}

TEST(WeightImageWriting, RandomImagesAreSeededAndKeepActivationsInScale) {
    const std::vector<char> a = makeRandomWeightImage(20, 6, 32, 32, 11);
    EXPECT_EQ(a, makeRandomWeightImage(20, 6, 32, 32, 11));
    EXPECT_NE(a, makeRandomWeightImage(20, 6, 32, 32, 12));
    ASSERT_EQ(refusal(a), nullptr);

    QuoriboNetwork net(a.data());
    TestBoard      board = TestBoard::random(20, 3, 0.3);
    net.simdType         = 0;
    const float value    = net.getOutput(board.rows(), 1, nullptr);
    EXPECT_GT(value, 0.01f);
    EXPECT_LT(value, 0.99f);
    // The last trunk layer's activations neither vanished nor exploded.
    double sum = 0, count = 0;
    for (int p = 0; p < 400; ++p)
        for (int k = 0; k < 32; ++k, ++count)
            sum += net.features[(p / 20 + 1) * 22 + p % 20 + 1][k];
    EXPECT_GT(sum / count, 0.05);
    EXPECT_LT(sum / count, 20.0);
    // No weight near the fixed-point wrap-around at 16.
    for (size_t offset = 64; offset < a.size(); offset += 4) {
        const float w = convertChar4ToFloat(a.data() + offset);
        ASSERT_LT(std::abs(w), 16.0f) << "offset " << offset;
    }
}

TEST(WeightFileIo, WritesAndReadsBack) {
    const std::vector<char> image = smallImage(4);
    const std::string       path  = tempPath("roundtrip.bin");
    ASSERT_TRUE(writeWeightFile(path.c_str(), image));
    long long length = -1;
    char*     data   = readWeightFile(path.c_str(), &length);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(length, static_cast<long long>(image.size()));
    EXPECT_EQ(std::vector<char>(data, data + length), image);
    delete[] data;

    ASSERT_TRUE(writeWeightFile(path.c_str(), {}));
    data = readWeightFile(path.c_str(), &length);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(length, 0);
    EXPECT_FALSE(checkWeightImage(data, length, nullptr, nullptr));
    delete[] data;
    std::remove(path.c_str());

    EXPECT_EQ(readWeightFile(tempPath("missing/none.bin").c_str(), &length), nullptr);
    EXPECT_FALSE(writeWeightFile(tempPath("missing/none.bin").c_str(), image));
}

// Random damage to a valid image: whatever checkWeightImage accepts must
// build and evaluate without touching memory outside the image (the
// sanitizer build watches).
TEST(WeightImageFuzz, AcceptedImagesAlwaysBuildAndEvaluate) {
    const Shape             tiny{2, 1, 16, 2};
    const std::vector<char> valid = nettest::imageOf(tiny, nettest::randomWeights(tiny, 1));
    std::mt19937            engine(2024);
    int                     accepted = 0;
    for (int round = 0; round < 300; ++round) {
        std::vector<char> image = valid;
        const int         edits = static_cast<int>(engine() % 6);
        for (int e = 0; e < edits; ++e) {
            // Mostly the header, where damage matters.
            const size_t at = engine() % 3 == 0 ? engine() % image.size() : engine() % 8;
            image[at]       = static_cast<char>(engine());
        }
        if (engine() % 2 == 0)
            image.resize(engine() % (image.size() + 200));
        // Exact-size copy, so any read past the end is caught.
        std::vector<char> exact(image);
        exact.shrink_to_fit();
        char* heap = new char[exact.size() > 0 ? exact.size() : 1];
        std::copy(exact.begin(), exact.end(), heap);
        if (checkWeightImage(heap, static_cast<long long>(exact.size()), nullptr, nullptr)) {
            ++accepted;
            QuoriboNetwork            net(heap);
            TestBoard                 board = TestBoard::random(net.boardSize, round, 0.5);
            nettest::RowBuffer<float> policy(net.boardSize, net.boardSize);
            const float               value = net.getOutput(board.rows(), 1, policy.rows());
            EXPECT_TRUE(value >= 0.0f && value <= 1.0f);
        }
        delete[] heap;
    }
    EXPECT_GT(accepted, 20);
}

TEST(NetworkFromBadHeader, BuildsAnEmptyNetwork) {
    std::vector<char> header(64, 0);
    header[0] = static_cast<char>(-4);
    header[1] = 2;
    header[2] = 16;
    QuoriboNetwork net(header.data());
    EXPECT_EQ(net.boardSize, 0);
    EXPECT_EQ(net.getOutput(nullptr, 1, nullptr), 0.5f);

    QuoriboNetwork none(nullptr);
    EXPECT_EQ(none.getOutput(nullptr, 1, nullptr), 0.5f);
}
