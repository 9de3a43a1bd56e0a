#pragma once

// Value layer: `inputs` values (the value convolution's 2 * N^2 outputs,
// channel-major) -> `hidden` rectified units -> one logistic output, the
// winning probability of the side to move.

namespace depnn {

class ValueLayer {
  public:
    int     inputs;
    int     hidden;
    int     boardSize;
    float*  hiddenOutput  = nullptr; // owned: [hidden], activations of the last pass
    float   value         = 0.5f;    // result of the last pass
    float** hiddenWeights = nullptr; // owned: [hidden][inputs]
    float*  outputWeights = nullptr; // owned: [hidden]
    float*  hiddenBias    = nullptr; // owned: [hidden]
    float   outputBias    = 0.0f;

    ValueLayer(int boardSize, int hidden, int inputs);
    ~ValueLayer();
    ValueLayer(const ValueLayer&)            = delete;
    ValueLayer& operator=(const ValueLayer&) = delete;

    // Creates the arrays (zeroed) and sets outputBias to 0, releasing
    // earlier arrays.
    void allocate();

    // Reads the output bias, the `hidden` output weights, then for each
    // hidden unit its bias and `inputs` weights. Returns the offset past.
    int loadFromChar(int offset, const char* data);

    // Sets hiddenOutput and value from `inputs` floats at x.
    void forwardPropagate(const float* x);

    float getValue() const { return value; }

    // 1 / (1 + e^-x), the exponential in double, rounded to float.
    static float sigm(float x);

  private:
    void release();
    // Sets hiddenOutput for the UNITS units from `first` on.
    template <int UNITS> void sumHiddenUnits(int first, const float* x);
};

} // namespace depnn
