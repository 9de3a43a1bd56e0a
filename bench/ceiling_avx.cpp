#include <immintrin.h>

// Built with -mavx and kept free of benchmark and library headers, so nothing
// AVX-encoded reaches the rest of the benchmark through the linker.

// The trunk kernels' inner block on rows that stay in L1: two patch rows and
// two weight rows of rowLength floats (a multiple of 24), three 8-lane vectors
// per step summed first and added once into each of four accumulators,
// multiply and add separate, then the same
// horizontal reduction and two stores per block as the kernel. Runs `blocks`
// blocks, each 4 * rowLength multiply-adds, writing into out[0..3]. The
// stores may alias the rows as far as the compiler knows, so no block is
// hoisted out of the loop.
void ceilingBlocksAVX(const float* in0, const float* in1, const float* w0, const float* w1,
                      int rowLength, long long blocks, float* out);

namespace {

// Left alone, the register allocator reloads each vector from memory for
// each of its two uses (it sees the rows as unchanging memory), which doubles
// the loads per step and makes the load ports the limit. The empty asm makes
// the values opaque, so each is loaded once and kept.
inline void keepInRegister(__m256& x0, __m256& x1, __m256& y0, __m256& y1) {
    __asm__("" : "+x"(x0), "+x"(x1), "+x"(y0), "+x"(y1));
}

// The four products of the rows' vectors at offset k: patch row i times
// weight row j goes to sij.
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

} // namespace

void ceilingBlocksAVX(const float* in0, const float* in1, const float* w0, const float* w1,
                      int rowLength, long long blocks, float* out) {
    for (long long b = 0; b < blocks; ++b) {
        __m256 a00 = _mm256_setzero_ps();
        __m256 a01 = _mm256_setzero_ps();
        __m256 a10 = _mm256_setzero_ps();
        __m256 a11 = _mm256_setzero_ps();
        for (int k = 0; k < rowLength; k += 24) {
            __m256 s00, s01, s10, s11;
            multiply(in0, in1, w0, w1, k, s00, s01, s10, s11);
            multiplyAdd(in0, in1, w0, w1, k + 8, s00, s01, s10, s11);
            multiplyAdd(in0, in1, w0, w1, k + 16, s00, s01, s10, s11);
            a00 = _mm256_add_ps(a00, s00);
            a01 = _mm256_add_ps(a01, s01);
            a10 = _mm256_add_ps(a10, s10);
            a11 = _mm256_add_ps(a11, s11);
        }
        const __m256 t = _mm256_hadd_ps(_mm256_hadd_ps(a00, a01), _mm256_hadd_ps(a10, a11));
        const __m128 s = _mm_add_ps(_mm256_castps256_ps128(t), _mm256_extractf128_ps(t, 1));
        _mm_storel_pi(reinterpret_cast<__m64*>(out), s);
        _mm_storeh_pi(reinterpret_cast<__m64*>(out + 2), s);
    }
}
