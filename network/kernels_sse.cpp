#include "network/kernels.h"

#include <pmmintrin.h>

// Built with -msse3. Only raw-pointer loops and file-local helpers live here,
// so no SSE3-encoded copy of shared inline code can reach the rest of the
// program through the linker.

namespace depnn {

namespace {

constexpr int LANES = 4;

// Feature entry of board cell p inside the one-cell border ring.
inline int entryOf(int p, int boardSize) {
    return p + boardSize + 3 + 2 * (p / boardSize);
}

// Left alone, the register allocator reloads each row vector from memory for
// each of its two uses (it sees the rows as unchanging memory), which doubles
// the loads per step and makes the load ports the limit. An empty asm makes the
// loaded values opaque, so each is loaded once and kept in a register.
inline void keepInRegisters(__m128& x0, __m128& x1, __m128& y0, __m128& y1) {
    __asm__("" : "+x"(x0), "+x"(x1), "+x"(y0), "+x"(y1));
}

// As above, also taking the step's running sums, so that the next vector's
// loads cannot all be hoisted ahead of these products and crowd the registers.
inline void keepInRegisters(__m128& x0, __m128& x1, __m128& y0, __m128& y1, __m128& s00,
                            __m128& s01, __m128& s10, __m128& s11) {
    __asm__(""
            : "+x"(x0), "+x"(x1), "+x"(y0), "+x"(y1), "+x"(s00), "+x"(s01), "+x"(s10), "+x"(s11));
}

// The four products of the rows' vectors at offset k: patch row i times weight
// row j goes to sij.
inline void multiply(const float* in0, const float* in1, const float* w0, const float* w1, int k,
                     __m128& s00, __m128& s01, __m128& s10, __m128& s11) {
    __m128 x0 = _mm_loadu_ps(in0 + k);
    __m128 x1 = _mm_loadu_ps(in1 + k);
    __m128 y0 = _mm_loadu_ps(w0 + k);
    __m128 y1 = _mm_loadu_ps(w1 + k);
    keepInRegisters(x0, x1, y0, y1);
    s00 = _mm_mul_ps(x0, y0);
    s01 = _mm_mul_ps(x0, y1);
    s10 = _mm_mul_ps(x1, y0);
    s11 = _mm_mul_ps(x1, y1);
}

// Adds the four products at offset k into s00 ... s11.
inline void multiplyAdd(const float* in0, const float* in1, const float* w0, const float* w1, int k,
                        __m128& s00, __m128& s01, __m128& s10, __m128& s11) {
    __m128 x0 = _mm_loadu_ps(in0 + k);
    __m128 x1 = _mm_loadu_ps(in1 + k);
    __m128 y0 = _mm_loadu_ps(w0 + k);
    __m128 y1 = _mm_loadu_ps(w1 + k);
    keepInRegisters(x0, x1, y0, y1, s00, s01, s10, s11);
    s00 = _mm_add_ps(s00, _mm_mul_ps(x0, y0));
    s01 = _mm_add_ps(s01, _mm_mul_ps(x0, y1));
    s10 = _mm_add_ps(s10, _mm_mul_ps(x1, y0));
    s11 = _mm_add_ps(s11, _mm_mul_ps(x1, y1));
}

// V vectors of 4 floats per step; V is fixed at compile time so the step is
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
            __m128       a00 = _mm_setzero_ps();
            __m128       a01 = _mm_setzero_ps();
            __m128       a10 = _mm_setzero_ps();
            __m128       a11 = _mm_setzero_ps();
            for (int k = 0; k < rowLength; k += V * LANES) {
                // The step's products are summed first and join each
                // accumulator with one add, so the loop-carried chain is one
                // add long and the multipliers, not the adder latency, set the pace.
                __m128 s00, s01, s10, s11;
                multiply(in0, in1, w0, w1, k, s00, s01, s10, s11);
                if constexpr (V >= 2)
                    multiplyAdd(in0, in1, w0, w1, k + LANES, s00, s01, s10, s11);
                if constexpr (V >= 3)
                    multiplyAdd(in0, in1, w0, w1, k + 2 * LANES, s00, s01, s10, s11);
                a00 = _mm_add_ps(a00, s00);
                a01 = _mm_add_ps(a01, s01);
                a10 = _mm_add_ps(a10, s10);
                a11 = _mm_add_ps(a11, s11);
            }
            // The bias joins the first pair sums of each accumulator; the
            // second horizontal add then folds in the remaining pair sums.
            const __m128 b   = _mm_setr_ps(bias[o], 0.0f, bias[o + 1], 0.0f);
            const __m128 top = _mm_add_ps(_mm_hadd_ps(a00, a01), b);
            const __m128 bot = _mm_add_ps(_mm_hadd_ps(a10, a11), b);
            const __m128 s   = _mm_hadd_ps(top, bot); // (p, o), (p, o+1), (p+1, o), (p+1, o+1)
            // Rectified on the way out: negative values become 0, NaN stays.
            const __m128 r = _mm_andnot_ps(_mm_cmplt_ps(s, _mm_setzero_ps()), s);
            _mm_storel_pi(reinterpret_cast<__m64*>(out0 + o), r);
            _mm_storeh_pi(reinterpret_cast<__m64*>(out1 + o), r);
        }
    }
}

} // namespace

void convolveSSE(const float* const* weightRows, const float* const* inputRows, const float* bias,
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

namespace depnn {

// Four channels of all nine patch entries at a time: 36 values, written as
// nine whole vectors. A 4 x 4 transpose of entries 0-3 and one of entries 4-7
// give each channel's first eight kernel positions (a0..a3 and b0..b3 for
// channels 0..3); shuffles splice in entry 8 (e) and shift the later channels
// into place.
void gatherPatches3x3SSE(const float* const* features, int boardSize, int inputs, float** rows) {
    const int width = boardSize + 2;
    for (int r = 0; r < boardSize; ++r) {
        for (int c = 0; c < boardSize; ++c) {
            const float* src[9];
            for (int dy = 0; dy < 3; ++dy)
                for (int dx = 0; dx < 3; ++dx)
                    src[3 * dy + dx] = features[(r + dy) * width + (c + dx)];
            float* dst = rows[r * boardSize + c];
            for (int i = 0; i + LANES <= inputs; i += LANES, dst += 9 * LANES) {
                __m128 a0 = _mm_loadu_ps(src[0] + i), a1 = _mm_loadu_ps(src[1] + i);
                __m128 a2 = _mm_loadu_ps(src[2] + i), a3 = _mm_loadu_ps(src[3] + i);
                __m128 b0 = _mm_loadu_ps(src[4] + i), b1 = _mm_loadu_ps(src[5] + i);
                __m128 b2 = _mm_loadu_ps(src[6] + i), b3 = _mm_loadu_ps(src[7] + i);
                const __m128 e = _mm_loadu_ps(src[8] + i);
                _MM_TRANSPOSE4_PS(a0, a1, a2, a3);
                _MM_TRANSPOSE4_PS(b0, b1, b2, b3);
                // clang-format off
                const __m128 e0a1 = _mm_unpacklo_ps(e, a1);                           // e0 a1[0] e1 a1[1]
                const __m128 a1b1 = _mm_shuffle_ps(a1, b1, _MM_SHUFFLE(0, 0, 3, 3));   // a1[3] . b1[0] .
                const __m128 b1e1 = _mm_shuffle_ps(b1, e, _MM_SHUFFLE(1, 1, 3, 3));    // b1[3] . e1 .
                const __m128 e2a3 = _mm_shuffle_ps(e, a3, _MM_SHUFFLE(0, 0, 2, 2));    // e2 . a3[0] .
                const __m128 a3b3 = _mm_shuffle_ps(a3, b3, _MM_SHUFFLE(0, 0, 3, 3));   // a3[3] . b3[0] .
                const __m128 b3e3 = _mm_unpackhi_ps(b3, e);                           // . . b3[3] e3
                _mm_storeu_ps(dst,      a0);
                _mm_storeu_ps(dst + 4,  b0);
                _mm_storeu_ps(dst + 8,  _mm_shuffle_ps(e0a1, a1, _MM_SHUFFLE(2, 1, 1, 0)));
                _mm_storeu_ps(dst + 12, _mm_shuffle_ps(a1b1, b1, _MM_SHUFFLE(2, 1, 2, 0)));
                _mm_storeu_ps(dst + 16, _mm_shuffle_ps(b1e1, a2, _MM_SHUFFLE(1, 0, 2, 0)));
                _mm_storeu_ps(dst + 20, _mm_shuffle_ps(a2, b2, _MM_SHUFFLE(1, 0, 3, 2)));
                _mm_storeu_ps(dst + 24, _mm_shuffle_ps(b2, e2a3, _MM_SHUFFLE(2, 0, 3, 2)));
                _mm_storeu_ps(dst + 28, _mm_shuffle_ps(a3, a3b3, _MM_SHUFFLE(2, 0, 2, 1)));
                _mm_storeu_ps(dst + 32, _mm_shuffle_ps(b3, b3e3, _MM_SHUFFLE(3, 2, 2, 1)));
                // clang-format on
            }
        }
    }
}

} // namespace depnn
