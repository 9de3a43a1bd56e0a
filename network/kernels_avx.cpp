#include "network/kernels.h"

#include <immintrin.h>

// Built with -mavx. Only raw-pointer loops and file-local helpers live here,
// so no AVX-encoded copy of shared inline code can reach the rest of the
// program through the linker.

namespace depnn {

namespace {

constexpr int LANES = 8;

// Feature entry of board cell p inside the one-cell border ring.
inline int entryOf(int p, int boardSize) {
    return p + boardSize + 3 + 2 * (p / boardSize);
}

// Left alone, the register allocator reloads each row vector from memory for
// each of its two uses (it sees the rows as unchanging memory), which doubles
// the loads per step and makes the load ports the limit. An empty asm makes the
// loaded values opaque, so each is loaded once and kept in a register.
inline void keepInRegisters(__m256& x0, __m256& x1, __m256& y0, __m256& y1) {
    __asm__("" : "+x"(x0), "+x"(x1), "+x"(y0), "+x"(y1));
}

// As above, also taking the step's running sums, so that the next vector's
// loads cannot all be hoisted ahead of these products and crowd the registers.
inline void keepInRegisters(__m256& x0, __m256& x1, __m256& y0, __m256& y1, __m256& s00,
                            __m256& s01, __m256& s10, __m256& s11) {
    __asm__(""
            : "+x"(x0), "+x"(x1), "+x"(y0), "+x"(y1), "+x"(s00), "+x"(s01), "+x"(s10), "+x"(s11));
}

// The four products of the rows' vectors at offset k: patch row i times weight
// row j goes to sij.
inline void multiply(const float* in0, const float* in1, const float* w0, const float* w1, int k,
                     __m256& s00, __m256& s01, __m256& s10, __m256& s11) {
    __m256 x0 = _mm256_loadu_ps(in0 + k);
    __m256 x1 = _mm256_loadu_ps(in1 + k);
    __m256 y0 = _mm256_loadu_ps(w0 + k);
    __m256 y1 = _mm256_loadu_ps(w1 + k);
    keepInRegisters(x0, x1, y0, y1);
    s00 = _mm256_mul_ps(x0, y0);
    s01 = _mm256_mul_ps(x0, y1);
    s10 = _mm256_mul_ps(x1, y0);
    s11 = _mm256_mul_ps(x1, y1);
}

// Adds the four products at offset k into s00 ... s11.
inline void multiplyAdd(const float* in0, const float* in1, const float* w0, const float* w1, int k,
                        __m256& s00, __m256& s01, __m256& s10, __m256& s11) {
    __m256 x0 = _mm256_loadu_ps(in0 + k);
    __m256 x1 = _mm256_loadu_ps(in1 + k);
    __m256 y0 = _mm256_loadu_ps(w0 + k);
    __m256 y1 = _mm256_loadu_ps(w1 + k);
    keepInRegisters(x0, x1, y0, y1, s00, s01, s10, s11);
    s00 = _mm256_add_ps(s00, _mm256_mul_ps(x0, y0));
    s01 = _mm256_add_ps(s01, _mm256_mul_ps(x0, y1));
    s10 = _mm256_add_ps(s10, _mm256_mul_ps(x1, y0));
    s11 = _mm256_add_ps(s11, _mm256_mul_ps(x1, y1));
}

// V vectors of 8 floats per step; V is fixed at compile time so the step is
// straight-line code.
template <int V>
void convolveBlocks(const float* const* weightRows, const float* const* inputRows,
                    const float* bias, int boardSize, int outputs, int rowLength,
                    float** features) {
    const int cells = boardSize * boardSize;
    for (int p = 0; p + 1 < cells; p += 2) {
        const float* in0  = inputRows[p];
        const float* in1  = inputRows[p + 1];
        float*       out0 = features[entryOf(p, boardSize)];
        float*       out1 = features[entryOf(p + 1, boardSize)];
        for (int o = 0; o + 1 < outputs; o += 2) {
            _mm_prefetch(reinterpret_cast<const char*>(out0 + o), _MM_HINT_NTA);
            _mm_prefetch(reinterpret_cast<const char*>(out1 + o), _MM_HINT_NTA);
            const float* w0  = weightRows[o];
            const float* w1  = weightRows[o + 1];
            __m256       a00 = _mm256_setzero_ps();
            __m256       a01 = _mm256_setzero_ps();
            __m256       a10 = _mm256_setzero_ps();
            __m256       a11 = _mm256_setzero_ps();
            for (int k = 0; k < rowLength; k += V * LANES) {
                // The step's products are summed first and join each
                // accumulator with one add, so the loop-carried chain is one
                // add long and the multipliers, not the adder latency, set the pace.
                __m256 s00, s01, s10, s11;
                multiply(in0, in1, w0, w1, k, s00, s01, s10, s11);
                if constexpr (V >= 2)
                    multiplyAdd(in0, in1, w0, w1, k + LANES, s00, s01, s10, s11);
                if constexpr (V >= 3)
                    multiplyAdd(in0, in1, w0, w1, k + 2 * LANES, s00, s01, s10, s11);
                a00 = _mm256_add_ps(a00, s00);
                a01 = _mm256_add_ps(a01, s01);
                a10 = _mm256_add_ps(a10, s10);
                a11 = _mm256_add_ps(a11, s11);
            }
            // Lanes of t: sums of lanes 0-3 of a00, a01, a10, a11, then of lanes 4-7.
            const __m256 t = _mm256_hadd_ps(_mm256_hadd_ps(a00, a01), _mm256_hadd_ps(a10, a11));
            const __m128 b = _mm_setr_ps(bias[o], bias[o + 1], bias[o], bias[o + 1]);
            const __m128 s =
                _mm_add_ps(_mm_add_ps(_mm256_castps256_ps128(t), b), _mm256_extractf128_ps(t, 1));
            // Rectified on the way out: negative values become 0, NaN stays.
            const __m128 r = _mm_andnot_ps(_mm_cmplt_ps(s, _mm_setzero_ps()), s);
            _mm_storel_pi(reinterpret_cast<__m64*>(out0 + o), r);
            _mm_storeh_pi(reinterpret_cast<__m64*>(out1 + o), r);
        }
    }
}

} // namespace

void convolveAVX(const float* const* weightRows, const float* const* inputRows, const float* bias,
                 int boardSize, int outputs, int rowLength, int vectorsPerStep, float** features) {
    if (boardSize <= 0 || outputs <= 0)
        return;
    switch (vectorsPerStep) {
    case 3:
        convolveBlocks<3>(weightRows, inputRows, bias, boardSize, outputs, rowLength, features);
        break;
    case 2:
        convolveBlocks<2>(weightRows, inputRows, bias, boardSize, outputs, rowLength, features);
        break;
    default:
        // One vector per step walks any row whose length suits the caller's step.
        convolveBlocks<1>(weightRows, inputRows, bias, boardSize, outputs, rowLength, features);
        break;
    }
    rectifyBorder(boardSize, outputs, features);
}

} // namespace depnn
