#pragma once

// Trunk and policy-head layer: a size-preserving 3x3 convolution from
// `inputs` to `outputs` channels, rectified, working on the shared feature
// buffer ((N + 2)^2 entries of channel values, board cell (r, c) at entry
// (r + 1) * (N + 2) + (c + 1), border ring 0).
//
// Evaluation is a matrix product over rows of K = 9 * inputs values, position
// 9 * i + 3 * dy + dx holding kernel (dy, dx) of input channel i. Every patch
// is gathered before any output is written, so a pass may write into the
// buffer it reads.

namespace depnn {

class Conv3x3 {
  public:
    int      boardSize;
    int      inputs;
    int      outputs;
    float**  weightMatrix      = nullptr; // owned: [outputs][K]
    float**  inputMatrix       = nullptr; // owned: [N * N][K] patch rows
    short**  weightMatrixFixed = nullptr; // owned: [outputs][K], scale 2048
    short**  inputMatrixFixed  = nullptr; // owned: [N * N][K], scale 16
    int*     biasFixed         = nullptr; // owned: [outputs], scale 32768
    float*** weights           = nullptr; // owned: [outputs][inputs][9], as loaded
    float*   bias              = nullptr; // owned: [outputs], as loaded

    Conv3x3(int boardSize, int inputs, int outputs);
    ~Conv3x3();
    Conv3x3(const Conv3x3&)            = delete;
    Conv3x3& operator=(const Conv3x3&) = delete;

    // Creates every array at its final size (zeroed), releasing earlier ones.
    void allocate();

    // Row length K = 9 * inputs; the vector kernels need inputs % 16 == 0.
    int rowLength() const { return 9 * inputs; }

    // Reads bias and kernels of each output channel from data + offset, then
    // rebuilds the evaluation rows. Returns the offset past the section.
    int loadFromChar(int offset, const char* data);

    // Rebuilds weight rows, fixed-point weights and biases from `weights` and
    // `bias`, and clears all patch rows.
    void fillMatrix();

    // Gathers every cell's patch from a feature buffer.
    void convertToMatrix(const float* const* features);
    // The same rows with SSE2 moves; the caller checks the processor, and
    // inputs % 4 == 0.
    void convertToMatrixSSE(const float* const* features);
    // The same from a fixed-point buffer, values copied unchanged.
    void convertToMatrix_fixed(const short* const* featuresFixed);

    // Reference pass into a feature buffer, then the rectifier over the whole
    // buffer.
    void forwardPropagate(float** features);
    // Vector kernels with the same contract; the caller checks the processor.
    void forwardPropagateSSE(float** features);
    void forwardPropagateAVX(float** features);
    void forwardPropagateSSE_fixed(short** featuresFixed);
    void forwardPropagateAVX_fixed(short** featuresFixed);

  private:
    void release();
};

} // namespace depnn
