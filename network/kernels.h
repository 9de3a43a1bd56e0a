#pragma once

// Trunk convolution kernels, one instruction-set family per source file.
//
// Each kernel computes a dense matrix product over pre-gathered patch rows:
// for every board cell p (row-major, N * N cells) and output channel o,
//
//     bias[o] + dot(inputRows[p], weightRows[o])      over rowLength values,
//
// stored as channel o of feature entry (r + 1) * (N + 2) + (c + 1), the board
// cell's place inside the one-cell border ring. Afterwards every negative
// value among all (N + 2)^2 entries x `outputs` channels is set to 0, border
// entries included.
//
// Work proceeds in blocks of two cells x two channels, so every loaded patch
// vector and weight vector is used twice. There is no remainder handling:
// N * N and `outputs` must be even, and rowLength a multiple of
// vectorsPerStep x the lane count (4 floats for SSE, 8 for AVX, 8 shorts for
// SSE_fixed, 16 for AVX_fixed). Rows need no alignment.
//
// The float kernels sum each step's products first and add that to the block's
// accumulator, then add the bias during the final horizontal reduction: the
// same sums as the reference in another order, equal but for the last bits.
//
// The fixed-point kernels take activations at scale 16, weights at scale 2048
// and biases at scale 32768. Sums wrap around in 32 bits, are divided by 2048
// truncating toward zero, and the low 16 bits are stored without saturation,
// so both fixed-point families agree bit for bit.
//
// Calling a kernel on a processor without its instruction set is an illegal
// instruction: callers check cpuFeatures() first.

namespace depnn {

// 4 float lanes; needs SSE and SSE3.
void convolveSSE(const float* const* weightRows, const float* const* inputRows, const float* bias,
                 int boardSize, int outputs, int rowLength, int vectorsPerStep, float** features);

// 8 float lanes; needs AVX. Multiplies and adds separately (no FMA).
void convolveAVX(const float* const* weightRows, const float* const* inputRows, const float* bias,
                 int boardSize, int outputs, int rowLength, int vectorsPerStep, float** features);

// 8 x 16-bit lanes; needs SSE2 and SSSE3.
void convolveSSE_fixed(const short* const* weightRows, const short* const* inputRows,
                       const int* bias, int boardSize, int outputs, int rowLength,
                       int vectorsPerStep, short** features);

// 16 x 16-bit lanes; needs AVX2.
void convolveAVX_fixed(const short* const* weightRows, const short* const* inputRows,
                       const int* bias, int boardSize, int outputs, int rowLength,
                       int vectorsPerStep, short** features);

// Patch rows of a 3x3 convolution, as Conv3x3::convertToMatrix gathers them
// (position 9 * i + 3 * dy + dx of cell (r, c)'s row holds channel i of entry
// (r + dy) * (N + 2) + (c + dx)), moving four channels at a time. Needs SSE2
// and inputs % 4 == 0; the values are copied unchanged.
void gatherPatches3x3SSE(const float* const* features, int boardSize, int inputs, float** rows);

// The kernels rectify board entries as they store them; these cover the
// border ring of the (N + 2)^2 feature entries, which the kernels never write,
// so that every entry ends up rectified. Plain scalar code, shared by every
// family.
void rectifyBorder(int boardSize, int outputs, float** features);
void rectifyBorder(int boardSize, int outputs, short** features);

} // namespace depnn
