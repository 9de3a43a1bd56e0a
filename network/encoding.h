#pragma once

// Number encodings of the network.
//
//   file weight          4 bytes, little-endian int32 w      value w * 2^-25  (-64 <= value < 64)
//   two-byte value       2 bytes, little-endian int16 s      value s * 2^-12  (-8 <= value < 8)
//   fixed activation     int16                               value * 16
//   fixed weight         int16                               weight * 2048    (exact for |w| < 16)
//   fixed bias           int32                               bias * 32768
//
// Float-to-integer conversions multiply in single precision and truncate
// toward zero; none rounds to nearest. Bytes are combined as unsigned values.

namespace depnn {

// Scale of a file weight: 2^25.
constexpr float FILE_WEIGHT_SCALE = 33554432.0f;

// Fixed-point scales of the integer kernels. An activation times a weight
// carries 16 * 2048 = 32768, the scale of the bias.
constexpr float FIXED_ACTIVATION_SCALE = 16.0f;
constexpr float FIXED_WEIGHT_SCALE     = 2048.0f;
constexpr float FIXED_BIAS_SCALE       = 32768.0f;

// The little-endian int32 at p, times 2^-25.
float convertChar4ToFloat(const char* p);

// Writes trunc(x * 2^25) as 4 little-endian bytes at p. A value outside
// [-64, 64), or NaN, writes 00 00 00 80, which reads back as -64.
void convertFloatToChar4(char* p, float x);

// The little-endian int16 hi:lo, times 2^-12.
float convertToFloat(char lo, char hi);

// The 32-bit pattern b3:b2:b1:b0 as an int.
int convertToInt(char b0, char b1, char b2, char b3);

// b1 * 256 + b0, between 0 and 65535.
int convertToInt(char b0, char b1);

// Truncates x toward zero. Values outside the int range and NaN give
// INT_MIN, as the processor's conversion instruction does, instead of
// undefined behaviour.
int truncateToInt(float x);

// The low 16 bits of v as a signed value: out-of-range values wrap around.
short lowBits16(int v);

// x * scale (in single precision), truncated toward zero, low 16 bits.
short toFixed16(float x, float scale);

} // namespace depnn
