#include "network/encoding.h"

#include <climits>
#include <cstdint>

namespace depnn {

namespace {

std::uint32_t byteAt(char b, int shift) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << shift;
}

// Two's-complement reading of a 32-bit pattern, without relying on an
// implementation-defined narrowing conversion.
int signedFromBits(std::uint32_t bits) {
    if (bits < 0x80000000u)
        return static_cast<int>(bits);
    return static_cast<int>(bits - 0x80000000u) + INT_MIN;
}

} // namespace

float convertChar4ToFloat(const char* p) {
    const int w = convertToInt(p[0], p[1], p[2], p[3]);
    return static_cast<float>(w) * (1.0f / FILE_WEIGHT_SCALE);
}

void convertFloatToChar4(char* p, float x) {
    const auto bits = static_cast<std::uint32_t>(truncateToInt(x * FILE_WEIGHT_SCALE));
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<char>((bits >> (8 * i)) & 255u);
}

float convertToFloat(char lo, char hi) {
    const std::uint32_t bits = byteAt(lo, 0) | byteAt(hi, 8);
    const int s = bits < 0x8000u ? static_cast<int>(bits) : static_cast<int>(bits) - 65536;
    return static_cast<float>(s) * (1.0f / 4096.0f);
}

int convertToInt(char b0, char b1, char b2, char b3) {
    return signedFromBits(byteAt(b0, 0) | byteAt(b1, 8) | byteAt(b2, 16) | byteAt(b3, 24));
}

int convertToInt(char b0, char b1) {
    return static_cast<int>(byteAt(b0, 0) | byteAt(b1, 8));
}

int truncateToInt(float x) {
    // 2^31 is exact in float; the negated comparison also catches NaN.
    if (!(x >= -2147483648.0f && x < 2147483648.0f))
        return INT_MIN;
    return static_cast<int>(x);
}

short lowBits16(int v) {
    const int low = static_cast<int>(static_cast<std::uint32_t>(v) & 0xFFFFu);
    return static_cast<short>(low < 0x8000 ? low : low - 65536);
}

short toFixed16(float x, float scale) {
    return lowBits16(truncateToInt(x * scale));
}

} // namespace depnn
