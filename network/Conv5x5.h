#pragma once

// First trunk layer: a size-preserving 5x5 convolution from `inputs` board
// planes to `outputs` channels, rectified.
//
// Evaluation is a matrix product. Each output channel has a weight row of K
// values, position 25 * i + 5 * dy + dx holding kernel (dy, dx) of input
// plane i; each board cell has a patch row of the same layout gathered from
// the planes. K is rounded up to a multiple of 16 so the vector kernels need
// no remainder loop; the padding positions are 0 in every row.

namespace depnn {

class Conv5x5 {
  public:
    int      boardSize;
    int      inputs;
    int      outputs;
    float**  weightMatrix      = nullptr; // owned: [outputs][K]
    float**  inputMatrix       = nullptr; // owned: [N * N][K] patch rows
    short**  weightMatrixFixed = nullptr; // owned: [outputs][K], scale 2048
    short**  inputMatrixFixed  = nullptr; // owned: [N * N][K], scale 16
    int*     biasFixed         = nullptr; // owned: [outputs], scale 32768
    float*** weights           = nullptr; // owned: [outputs][inputs][25], as loaded
    float*   bias              = nullptr; // owned: [outputs], as loaded

    Conv5x5(int boardSize, int inputs, int outputs);
    ~Conv5x5();
    Conv5x5(const Conv5x5&)            = delete;
    Conv5x5& operator=(const Conv5x5&) = delete;

    // Creates every array at its final size (zeroed), releasing earlier ones.
    void allocate();

    // Row length K = 16 * ceil(25 * inputs / 16).
    int rowLength() const { return (25 * inputs + 15) / 16 * 16; }

    // Reads bias and kernels of each output channel from data + offset, then
    // rebuilds the evaluation rows. Returns the offset past the section.
    int loadFromChar(int offset, const char* data);

    // Rebuilds weight rows, fixed-point weights and biases from `weights` and
    // `bias`, and clears all patch rows.
    void fillMatrix();

    // Gathers every cell's patch from `inputs` planes of (N + 4) x (N + 4)
    // values, board cell (r, c) at [r + 2][c + 2] inside a zero border.
    void convertToMatrix(const float* const* const* planes);
    // The same into the fixed-point rows, each value times 16 truncated.
    void convertToMatrix_fixed(const float* const* const* planes);

    // Reference pass into a feature buffer of (N + 2)^2 entries, then the
    // rectifier over the whole buffer.
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
