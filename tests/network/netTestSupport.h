#pragma once

// Shared helpers of the network tests: boards drawn as pictures, buffers in
// the layers' layouts, exactly encodable random weights, and an independent
// model of the whole network that convolves directly over the board.

#include "network/deployedNN.h"

#include <cstddef>
#include <vector>

namespace nettest {

// An N x N board of ints with row pointers, as the network takes it.
class TestBoard {
  public:
    explicit TestBoard(int n);

    // Rows of 'X' (1), 'O' (-1) and '.' (0); blanks are ignored.
    static TestBoard fromPicture(const char* picture);
    static TestBoard random(int n, unsigned seed, double fill);

    int       size() const { return n; }
    int&      at(int r, int c) { return cells[r * n + c]; }
    int       at(int r, int c) const { return cells[r * n + c]; }
    int**     rows() { return rowPointers.data(); }
    TestBoard swappedColours() const;

  private:
    int               n;
    std::vector<int>  cells;
    std::vector<int*> rowPointers;
};

// `count` rows of `width` values with row pointers, zeroed.
// Copies get their own storage.
template <typename T> class RowBuffer {
  public:
    RowBuffer(int count_, int width_)
        : count(count_), width(width_), values(static_cast<std::size_t>(count_) * width_) {
        point();
    }
    RowBuffer(const RowBuffer& other)
        : count(other.count), width(other.width), values(other.values) {
        point();
    }
    RowBuffer& operator=(const RowBuffer& other) {
        count  = other.count;
        width  = other.width;
        values = other.values;
        point();
        return *this;
    }
    T**             rows() { return pointers.data(); }
    T&              at(int row, int k) { return values[static_cast<std::size_t>(row) * width + k]; }
    std::vector<T>& all() { return values; }

  private:
    void point() {
        pointers.clear();
        for (int i = 0; i < count; ++i)
            pointers.push_back(values.data() + static_cast<std::size_t>(i) * width);
    }

    int             count;
    int             width;
    std::vector<T>  values;
    std::vector<T*> pointers;
};

struct Shape {
    int n, b, f, h;
};

// Weights uniform at He scale, rounded to multiples of 2^-20 so the weight
// file stores them exactly.
depnn::WeightSet randomWeights(const Shape& shape, unsigned seed);

// Decodes an image's sections with the test's own byte reading.
depnn::WeightSet decodeWeights(const std::vector<char>& image, const Shape& shape);

// Builds the network from weights through a weight-file image.
std::vector<char> imageOf(const Shape& shape, const depnn::WeightSet& weights);

inline long long lengthOf(const std::vector<char>& image) {
    return static_cast<long long>(image.size());
}

struct ModelOutput {
    double              value;
    std::vector<double> policy; // N^2, masked and normalised over empty cells
    // Fixed-point model only: each trunk layer's output, then the policy
    // feature layer's, as [channel][cell] integers at scale 16.
    std::vector<std::vector<int>> fixedLayers;
};

// The network evaluated directly: double convolutions over the board (or the
// integer arithmetic of the fixed-point kernels when fixedTrunk is set, with
// the heads in double on the trunk converted back to float).
ModelOutput evaluateModel(const Shape& shape, const depnn::WeightSet& weights,
                          const TestBoard& board, int sign, bool fixedTrunk);

// Whether this processor has the instruction sets of pass type 0..4.
bool cpuSupports(int passType);

} // namespace nettest
