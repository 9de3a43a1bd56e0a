#pragma once

// Policy layer: one logit per board cell from that cell's features, plus a
// per-cell bias, turned into a distribution over all N^2 cells by a softmax.
//
// The weight file stores a weight row for every cell, and all are loaded,
// but evaluation uses row 0 for every cell; only the biases vary by cell.

namespace depnn {

class PolicyConv {
  public:
    int     inputs;
    int     cells;
    int     boardSize;
    float** weights = nullptr; // owned: [cells][inputs]; weights[p][k] is cell p's of channel k
    float*  bias    = nullptr; // owned: [cells]

    PolicyConv(int boardSize, int inputs);
    ~PolicyConv();
    PolicyConv(const PolicyConv&)            = delete;
    PolicyConv& operator=(const PolicyConv&) = delete;

    // Creates the arrays (zeroed) from boardSize and inputs, recomputing
    // cells and releasing earlier arrays.
    void allocate();

    // Reads the N^2 biases, then for each channel k its N^2 per-cell weights.
    // Returns the offset past the section.
    int loadFromChar(int offset, const char* data);

    // Writes `cells` probabilities to out, row-major. Cell p = r * N + c is
    // read at entry (r + 1) * (N + 2) + (c + 1) when padded, at p otherwise.
    void forwardPropagate(const float* const* features, float* out, bool padded) const;

    // Turns `cells` logits in place into probabilities: subtract the largest,
    // exponentiate in double, sum in float, and multiply by one reciprocal.
    void softmax(float* values) const;

  private:
    void release();
};

} // namespace depnn
