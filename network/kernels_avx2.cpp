#include "network/kernels.h"

#include <immintrin.h>

// Built with -mavx2. Only raw-pointer loops and file-local helpers live here,
// so no AVX2-encoded copy of shared inline code can reach the rest of the
// program through the linker.

namespace depnn {

namespace {

constexpr int LANES = 16;

// Feature entry of board cell p inside the one-cell border ring.
inline int entryOf(int p, int boardSize) {
    return p + boardSize + 3 + 2 * (p / boardSize);
}

inline __m256i loadRow(const short* row, int k) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + k));
}

// Left alone, the register allocator reloads each weight vector from memory
// for each of its two uses (it sees the rows as unchanging memory), which
// adds loads to every step. The empty asm makes the loaded values opaque, so
// each is loaded once; taking the accumulators too keeps the next offset's
// loads from being hoisted ahead and crowding the registers.
inline void keepInRegisters(__m256i& x0, __m256i& x1, __m256i& y0, __m256i& y1, __m256i& a00,
                            __m256i& a01, __m256i& a10, __m256i& a11) {
    __asm__(""
            : "+x"(x0), "+x"(x1), "+x"(y0), "+x"(y1), "+x"(a00), "+x"(a01), "+x"(a10), "+x"(a11));
}

// Multiplies 16-bit pairs, adds each pair into a 32-bit lane and adds those
// into the four accumulators of the 2 x 2 block; every add wraps around.
inline void multiplyAdd(const short* in0, const short* in1, const short* w0, const short* w1, int k,
                        __m256i& a00, __m256i& a01, __m256i& a10, __m256i& a11) {
    __m256i x0 = loadRow(in0, k);
    __m256i x1 = loadRow(in1, k);
    __m256i y0 = loadRow(w0, k);
    __m256i y1 = loadRow(w1, k);
    keepInRegisters(x0, x1, y0, y1, a00, a01, a10, a11);
    a00 = _mm256_add_epi32(a00, _mm256_madd_epi16(x0, y0));
    a01 = _mm256_add_epi32(a01, _mm256_madd_epi16(x0, y1));
    a10 = _mm256_add_epi32(a10, _mm256_madd_epi16(x1, y0));
    a11 = _mm256_add_epi32(a11, _mm256_madd_epi16(x1, y1));
}

// Divides the four 32-bit sums by 2048, truncating toward zero (a negative sum
// is raised by 2047 before the arithmetic shift), and stores the low 16 bits
// of each quotient, rectified: lanes 0, 1 to out0, lanes 2, 3 to out1.
inline void storeQuotients(__m128i sums, short* out0, short* out1) {
    const __m128i raise = _mm_and_si128(_mm_srai_epi32(sums, 31), _mm_set1_epi32(2047));
    const __m128i q     = _mm_srai_epi32(_mm_add_epi32(sums, raise), 11);
    // The 16-bit lanes 0, 2, 4, 6 hold the low halves; rectify them as the
    // signed 16-bit values that are stored.
    const __m128i r = _mm_max_epi16(q, _mm_setzero_si128());
    out0[0]         = static_cast<short>(_mm_extract_epi16(r, 0));
    out0[1]         = static_cast<short>(_mm_extract_epi16(r, 2));
    out1[0]         = static_cast<short>(_mm_extract_epi16(r, 4));
    out1[1]         = static_cast<short>(_mm_extract_epi16(r, 6));
}

// V vectors of 16 shorts per step; V is fixed at compile time so the step is
// straight-line code.
template <int V>
void convolveBlocks(const short* const* weightRows, const short* const* inputRows, const int* bias,
                    int boardSize, int outputs, int rowLength, short** features) {
    const int cells = boardSize * boardSize;
    for (int p = 0; p + 1 < cells; p += 2) {
        const short* in0  = inputRows[p];
        const short* in1  = inputRows[p + 1];
        short*       out0 = features[entryOf(p, boardSize)];
        short*       out1 = features[entryOf(p + 1, boardSize)];
        for (int o = 0; o + 1 < outputs; o += 2) {
            _mm_prefetch(reinterpret_cast<const char*>(out0 + o), _MM_HINT_NTA);
            _mm_prefetch(reinterpret_cast<const char*>(out1 + o), _MM_HINT_NTA);
            const short* w0  = weightRows[o];
            const short* w1  = weightRows[o + 1];
            __m256i      a00 = _mm256_setzero_si256();
            __m256i      a01 = _mm256_setzero_si256();
            __m256i      a10 = _mm256_setzero_si256();
            __m256i      a11 = _mm256_setzero_si256();
            for (int k = 0; k < rowLength; k += V * LANES) {
                multiplyAdd(in0, in1, w0, w1, k, a00, a01, a10, a11);
                if constexpr (V >= 2)
                    multiplyAdd(in0, in1, w0, w1, k + LANES, a00, a01, a10, a11);
                if constexpr (V >= 3)
                    multiplyAdd(in0, in1, w0, w1, k + 2 * LANES, a00, a01, a10, a11);
            }
            // Lanes of t: sums of lanes 0-3 of a00, a01, a10, a11, then of lanes 4-7.
            const __m256i t =
                _mm256_hadd_epi32(_mm256_hadd_epi32(a00, a01), _mm256_hadd_epi32(a10, a11));
            // (p, o), (p, o+1), (p+1, o), (p+1, o+1)
            const __m128i s =
                _mm_add_epi32(_mm256_castsi256_si128(t), _mm256_extracti128_si256(t, 1));
            const __m128i b = _mm_setr_epi32(bias[o], bias[o + 1], bias[o], bias[o + 1]);
            storeQuotients(_mm_add_epi32(s, b), out0 + o, out1 + o);
        }
    }
}

} // namespace

void convolveAVX_fixed(const short* const* weightRows, const short* const* inputRows,
                       const int* bias, int boardSize, int outputs, int rowLength,
                       int vectorsPerStep, short** features) {
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
