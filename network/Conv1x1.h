#pragma once

// Value-head convolution: each board cell's `inputs` features mapped to
// `outputs` values by a 1x1 kernel, rectified. Output is channel-major.

namespace depnn {

class Conv1x1 {
  public:
    int     boardSize;
    int     inputs;
    int     outputs;
    float** weights = nullptr; // owned: [outputs][inputs]
    float*  bias    = nullptr; // owned: [outputs]

    Conv1x1(int boardSize, int inputs, int outputs);
    ~Conv1x1();
    Conv1x1(const Conv1x1&)            = delete;
    Conv1x1& operator=(const Conv1x1&) = delete;

    // Creates the arrays (zeroed), releasing earlier ones.
    void allocate();

    // Reads, for each output, its bias and then its `inputs` weights.
    // Returns the offset past the section.
    int loadFromChar(int offset, const char* data);

    // out[o * N^2 + p] = bias[o] + features(p) . weights[o], accumulated in
    // double, then every value <= 0 becomes 0. Cell p = r * N + c is read at
    // entry (r + 1) * (N + 2) + (c + 1) when padded, at entry p otherwise.
    void forwardPropagate(const float* const* features, float* out, bool padded) const;

  private:
    void release();
};

} // namespace depnn
