#include "network/PolicyConv.h"

#include "network/encoding.h"
#include "network/nonlinearity.h"

#include <cmath>

namespace depnn {

PolicyConv::PolicyConv(int boardSize_, int inputs_)
    : inputs(inputs_), cells(boardSize_ * boardSize_), boardSize(boardSize_) {
    allocate();
}

PolicyConv::~PolicyConv() {
    release();
}

void PolicyConv::allocate() {
    release();
    cells   = boardSize * boardSize;
    weights = newRows<float>(cells, inputs);
    bias    = new float[cells]();
}

void PolicyConv::release() {
    freeRows(weights, cells);
    delete[] bias;
    weights = nullptr;
    bias    = nullptr;
}

int PolicyConv::loadFromChar(int offset, const char* data) {
    for (int p = 0; p < cells; ++p, offset += 4)
        bias[p] = convertChar4ToFloat(data + offset);
    for (int k = 0; k < inputs; ++k)
        for (int p = 0; p < cells; ++p, offset += 4)
            weights[p][k] = convertChar4ToFloat(data + offset);
    return offset;
}

void PolicyConv::forwardPropagate(const float* const* features, float* out, bool padded) const {
    if (cells <= 0)
        return;
    constexpr int CELLS = 4; // cells summed together
    for (int p = 0; p < cells; p += CELLS) {
        const int    count = cells - p < CELLS ? cells - p : CELLS;
        const float* entries[CELLS];
        double       biases[CELLS], sums[CELLS];
        for (int i = 0; i < CELLS; ++i) {
            const int cell = p + (i < count ? i : 0);
            const int r = cell / boardSize, c = cell % boardSize;
            entries[i] = features[padded ? (r + 1) * (boardSize + 2) + (c + 1) : cell];
            biases[i]  = bias[cell];
        }
        dotsFromBiases<CELLS>(biases, weights[0], entries, inputs, sums);
        for (int i = 0; i < count; ++i)
            out[p + i] = static_cast<float>(sums[i]);
    }
    softmax(out);
}

void PolicyConv::softmax(float* values) const {
    if (cells <= 0)
        return;
    // Only a strictly greater value replaces the maximum, so a NaN becomes it
    // only from values[0].
    float largest = values[0];
    for (int p = 1; p < cells; ++p)
        if (values[p] > largest)
            largest = values[p];

    // The running sum is kept in float after every addition but the last.
    float  partial = 0.0f;
    double total   = 0.0;
    for (int p = 0; p < cells; ++p) {
        const auto e = static_cast<float>(
            std::exp(static_cast<double>(values[p]) - static_cast<double>(largest)));
        values[p] = e;
        if (p + 1 < cells)
            partial = static_cast<float>(static_cast<double>(partial) + e);
        else
            total = static_cast<double>(partial) + e;
    }
    const auto reciprocal = static_cast<float>(1.0 / total);
    for (int p = 0; p < cells; ++p)
        values[p] = values[p] * reciprocal;
}

} // namespace depnn
