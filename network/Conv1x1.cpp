#include "network/Conv1x1.h"

#include "network/encoding.h"
#include "network/nonlinearity.h"

namespace depnn {

Conv1x1::Conv1x1(int boardSize_, int inputs_, int outputs_)
    : boardSize(boardSize_), inputs(inputs_), outputs(outputs_) {
    allocate();
}

Conv1x1::~Conv1x1() {
    release();
}

void Conv1x1::allocate() {
    release();
    weights = newRows<float>(outputs, inputs);
    bias    = new float[outputs]();
}

void Conv1x1::release() {
    freeRows(weights, outputs);
    delete[] bias;
    weights = nullptr;
    bias    = nullptr;
}

int Conv1x1::loadFromChar(int offset, const char* data) {
    for (int o = 0; o < outputs; ++o) {
        bias[o] = convertChar4ToFloat(data + offset);
        offset += 4;
        for (int k = 0; k < inputs; ++k, offset += 4)
            weights[o][k] = convertChar4ToFloat(data + offset);
    }
    return offset;
}

void Conv1x1::forwardPropagate(const float* const* features, float* out, bool padded) const {
    constexpr int CELLS = 4; // cells summed together
    const int     cells = boardSize * boardSize;
    for (int o = 0; o < outputs; ++o) {
        for (int p = 0; p < cells; p += CELLS) {
            const int    count = cells - p < CELLS ? cells - p : CELLS;
            const float* entries[CELLS];
            double       biases[CELLS], sums[CELLS];
            for (int i = 0; i < CELLS; ++i) {
                const int cell = p + (i < count ? i : 0);
                const int r = cell / boardSize, c = cell % boardSize;
                entries[i] = features[padded ? (r + 1) * (boardSize + 2) + (c + 1) : cell];
                biases[i]  = bias[o];
            }
            dotsFromBiases<CELLS>(biases, weights[o], entries, inputs, sums);
            for (int i = 0; i < count; ++i) {
                const auto value       = static_cast<float>(sums[i]);
                out[o * cells + p + i] = value <= 0.0f ? 0.0f : value;
            }
        }
    }
}

} // namespace depnn
