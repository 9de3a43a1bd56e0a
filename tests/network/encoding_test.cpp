#include "network/encoding.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <random>

using namespace depnn;

namespace {

struct Bytes4 {
    unsigned char b[4];
};

Bytes4 encode(float x) {
    char raw[4];
    convertFloatToChar4(raw, x);
    Bytes4 out;
    for (int i = 0; i < 4; ++i)
        out.b[i] = static_cast<unsigned char>(raw[i]);
    return out;
}

float decode(unsigned char b0, unsigned char b1, unsigned char b2, unsigned char b3) {
    const char raw[4] = {static_cast<char>(b0), static_cast<char>(b1), static_cast<char>(b2),
                         static_cast<char>(b3)};
    return convertChar4ToFloat(raw);
}

void expectBytes(float x, unsigned char b0, unsigned char b1, unsigned char b2, unsigned char b3) {
    const Bytes4 got = encode(x);
    EXPECT_EQ(got.b[0], b0) << "value " << x;
    EXPECT_EQ(got.b[1], b1) << "value " << x;
    EXPECT_EQ(got.b[2], b2) << "value " << x;
    EXPECT_EQ(got.b[3], b3) << "value " << x;
}

} // namespace

TEST(FileWeight, DecodesLittleEndianTimesTwoToMinus25) {
    EXPECT_EQ(decode(0, 0, 0, 0x01), 0.5f);
    EXPECT_EQ(decode(0, 0, 0, 0xFF), -0.5f);
    EXPECT_EQ(decode(0, 0, 0, 0x02), 1.0f);
    EXPECT_EQ(decode(0, 0, 0, 0x80), -64.0f);
    EXPECT_EQ(decode(1, 0, 0, 0), std::ldexp(1.0f, -25));
    EXPECT_EQ(decode(0xFF, 0xFF, 0xFF, 0xFF), -std::ldexp(1.0f, -25));
    EXPECT_EQ(decode(0xFF, 0xFF, 0xFF, 0x7F), 64.0f); // 2^31 - 1 rounds to the float 2^31
}

TEST(FileWeight, WritingTruncatesTowardZero) {
    expectBytes(-0.1f, 0xCD, 0xCC, 0xCC, 0xFF);
    expectBytes(0.1f, 0x33, 0x33, 0x33, 0x00);
    expectBytes(2.5e-8f, 0, 0, 0, 0);
    expectBytes(-2.5e-8f, 0, 0, 0, 0);
    expectBytes(0.5f, 0, 0, 0, 0x01);
    expectBytes(-64.0f, 0, 0, 0, 0x80);
}

TEST(FileWeight, OutOfRangeWritesTheMostNegativeWord) {
    const float outside[] = {64.0f,
                             100.0f,
                             -64.5f,
                             std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity(),
                             std::numeric_limits<float>::quiet_NaN()};
    for (float x : outside) {
        expectBytes(x, 0, 0, 0, 0x80);
        const Bytes4 b = encode(x);
        EXPECT_EQ(decode(b.b[0], b.b[1], b.b[2], b.b[3]), -64.0f);
    }
}

TEST(FileWeight, EncodableValuesRoundTripExactly) {
    std::mt19937                       engine(7);
    std::uniform_int_distribution<int> steps(-(1 << 23), (1 << 23));
    for (int i = 0; i < 2000; ++i) {
        const float  x = std::ldexp(static_cast<float>(steps(engine)), -25 + (i % 8));
        const Bytes4 b = encode(x);
        EXPECT_EQ(decode(b.b[0], b.b[1], b.b[2], b.b[3]), x);
    }
}

TEST(TwoByteValue, DecodesSignedTimesTwoToMinus12) {
    EXPECT_EQ(convertToFloat(0, 0x10), 1.0f);
    EXPECT_EQ(convertToFloat(0x01, 0), 1.0f / 4096);
    EXPECT_EQ(convertToFloat(static_cast<char>(0xFF), static_cast<char>(0xFF)), -1.0f / 4096);
    EXPECT_EQ(convertToFloat(0, static_cast<char>(0x80)), -8.0f);
    EXPECT_EQ(convertToFloat(static_cast<char>(0xFF), 0x7F), 32767.0f / 4096);
}

TEST(ConvertToInt, CombinesBytesAsUnsigned) {
    const char ff = static_cast<char>(0xFF);
    EXPECT_EQ(convertToInt(ff, ff), 65535);
    EXPECT_EQ(convertToInt(static_cast<char>(0x80), 0x01), 0x0180);
    EXPECT_EQ(convertToInt(ff, ff, ff, ff), -1);
    EXPECT_EQ(convertToInt(0x78, 0x56, 0x34, 0x12), 0x12345678);
    EXPECT_EQ(convertToInt(0, 0, 0, static_cast<char>(0x80)), INT_MIN);
    EXPECT_EQ(convertToInt(ff, 0, 0, 0), 255);
}

TEST(FixedPoint, TruncatesAndWrapsInSixteenBits) {
    EXPECT_EQ(toFixed16(0.5f, FIXED_WEIGHT_SCALE), 1024);
    EXPECT_EQ(toFixed16(-0.0009f, FIXED_WEIGHT_SCALE), -1); // -1.84 truncates to -1
    EXPECT_EQ(toFixed16(0.06f, FIXED_ACTIVATION_SCALE), 0);
    EXPECT_EQ(toFixed16(32767.0f / 2048, FIXED_WEIGHT_SCALE), 32767);
    EXPECT_EQ(toFixed16(16.0f, FIXED_WEIGHT_SCALE), -32768);
    EXPECT_EQ(toFixed16(17.0f, FIXED_WEIGHT_SCALE), -30720);
    EXPECT_EQ(toFixed16(-16.0f, FIXED_WEIGHT_SCALE), -32768);
    EXPECT_EQ(toFixed16(-17.0f, FIXED_WEIGHT_SCALE), 30720);
    EXPECT_EQ(truncateToInt(-2.9f), -2);
    EXPECT_EQ(truncateToInt(3e9f), INT_MIN);
    EXPECT_EQ(truncateToInt(std::numeric_limits<float>::quiet_NaN()), INT_MIN);
}
