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
    QuoriboNetwork            net(image.data(), nettest::lengthOf(image));
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

TEST(WeightImageCheck, RefusesNetworksAboveTheMemoryCap) {
    // Shapes self-play may try fit with room to spare; a header only claims a
    // shape, so the lengths below pretend the whole file is there.
    for (const Shape& s : {Shape{20, 10, 64, 64}, Shape{20, 6, 96, 128}, Shape{20, 6, 32, 32}}) {
        EXPECT_LT(networkMemoryBytes(s.n, s.b, s.f, s.h) + weightFileSize(s.n, s.b, s.f, s.h),
                  MAX_NETWORK_MEMORY_BYTES / 4 * 3)
            << s.b << " " << s.f << " " << s.h;
        std::vector<char> header(64, 0);
        header[0] = static_cast<char>(s.n);
        header[1] = static_cast<char>(s.b);
        header[2] = static_cast<char>(s.f);
        header[4] = static_cast<char>(s.h);
        EXPECT_TRUE(checkWeightImage(header.data(), 1LL << 40, nullptr, nullptr));
    }
    // Each of these needs more: a deep or wide trunk, or a huge value layer.
    for (const Shape& s : {Shape{20, 40, 64, 64}, Shape{32, 127, 65520, 65535},
                           Shape{20, 1, 16, 65535}, Shape{20, 2, 512, 8}}) {
        std::vector<char> header(64, 0);
        header[0]          = static_cast<char>(s.n);
        header[1]          = static_cast<char>(s.b);
        header[2]          = static_cast<char>(s.f & 255);
        header[3]          = static_cast<char>(s.f >> 8);
        header[4]          = static_cast<char>(s.h & 255);
        header[5]          = static_cast<char>(s.h >> 8);
        const char* reason = nullptr;
        EXPECT_FALSE(checkWeightImage(header.data(), 1LL << 40, nullptr, &reason))
            << s.n << " " << s.b << " " << s.f << " " << s.h;
        EXPECT_NE(reason, nullptr);
        EXPECT_TRUE(makeZeroWeightSet(s.n, s.b, s.f, s.h).firstLayer.empty());
    }
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

    QuoriboNetwork net(a.data(), nettest::lengthOf(a));
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

    // Trailing bytes are never read.
    std::vector<char> longer = image;
    longer.resize(image.size() + 5000, 'x');
    ASSERT_TRUE(writeWeightFile(path.c_str(), longer));
    data = readWeightFile(path.c_str(), &length);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::vector<char>(data, data + length), image);
    delete[] data;
    std::remove(path.c_str());

    const char* reason = "unset";
    EXPECT_EQ(readWeightFile(tempPath("missing/none.bin").c_str(), &length, &reason), nullptr);
    EXPECT_EQ(reason, nullptr);
    EXPECT_FALSE(writeWeightFile(tempPath("missing/none.bin").c_str(), image));
}

// Files the brain must refuse without reading them whole: the reason comes
// from the header and the file's size alone.
TEST(WeightFileIo, RefusesFilesByHeaderAndSize) {
    const std::vector<char> image = smallImage(4);
    std::vector<char>       huge(64, 0);
    huge[0]                         = 20;
    huge[1]                         = 1;
    huge[2]                         = 16;
    huge[4]                         = static_cast<char>(0xFF);
    huge[5]                         = static_cast<char>(0xFF); // H = 65535: a 200 MB value layer
    const std::vector<char> files[] = {
        {},
        std::vector<char>(image.begin(), image.begin() + 40),
        std::vector<char>(image.begin(), image.end() - 1),
        huge,
    };
    const std::string path = tempPath("refused.bin");
    for (const std::vector<char>& file : files) {
        ASSERT_TRUE(writeWeightFile(path.c_str(), file));
        long long   length = -1;
        const char* reason = nullptr;
        EXPECT_EQ(readWeightFile(path.c_str(), &length, &reason), nullptr) << file.size();
        EXPECT_NE(reason, nullptr) << file.size();
        EXPECT_EQ(length, -1);
    }
    std::remove(path.c_str());
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
            QuoriboNetwork            net(heap, static_cast<long long>(exact.size()));
            TestBoard                 board = TestBoard::random(net.boardSize, round, 0.5);
            nettest::RowBuffer<float> policy(net.boardSize, net.boardSize);
            const float               value = net.getOutput(board.rows(), 1, policy.rows());
            EXPECT_TRUE(value >= 0.0f && value <= 1.0f);
        }
        delete[] heap;
    }
    EXPECT_GT(accepted, 20);
}

// The network checks the length it is given, whoever calls it.
TEST(NetworkFromImage, ChecksTheImageLength) {
    const std::vector<char> image = smallImage(5);
    const long long         exact = nettest::lengthOf(image);
    QuoriboNetwork          cut(image.data(), exact - 1);
    EXPECT_EQ(cut.boardSize, 0);

    QuoriboNetwork          net(image.data(), exact);
    TestBoard               board  = TestBoard::random(SMALL.n, 6, 0.4);
    const float             before = net.getOutput(board.rows(), 1, nullptr);
    const std::vector<char> other  = smallImage(6);
    EXPECT_EQ(net.loadFromChar(other.data(), exact - 1), 0);
    EXPECT_EQ(net.loadFromChar(nullptr, exact), 0);
    EXPECT_EQ(net.getOutput(board.rows(), 1, nullptr), before);
    EXPECT_EQ(net.loadFromChar(other.data(), exact), exact);
    EXPECT_NE(net.getOutput(board.rows(), 1, nullptr), before);

    QuoriboNetwork empty(nullptr, 0);
    EXPECT_EQ(empty.loadFromChar(image.data(), exact), 0);
}

TEST(NetworkFromBadHeader, BuildsAnEmptyNetwork) {
    std::vector<char> header(64, 0);
    header[0] = static_cast<char>(-4);
    header[1] = 2;
    header[2] = 16;
    QuoriboNetwork net(header.data(), nettest::lengthOf(header));
    EXPECT_EQ(net.boardSize, 0);
    EXPECT_EQ(net.getOutput(nullptr, 1, nullptr), 0.5f);

    QuoriboNetwork none(nullptr, 0);
    EXPECT_EQ(none.getOutput(nullptr, 1, nullptr), 0.5f);
}
