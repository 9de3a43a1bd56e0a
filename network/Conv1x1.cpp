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
    const int cells = boardSize * boardSize;
    for (int o = 0; o < outputs; ++o) {
        for (int r = 0; r < boardSize; ++r)
            for (int c = 0; c < boardSize; ++c) {
                const int    p     = r * boardSize + c;
                const float* entry = features[padded ? (r + 1) * (boardSize + 2) + (c + 1) : p];
                double       sum   = bias[o];
                for (int k = 0; k < inputs; ++k)
                    sum += static_cast<double>(weights[o][k]) * static_cast<double>(entry[k]);
                const auto value   = static_cast<float>(sum);
                out[o * cells + p] = value <= 0.0f ? 0.0f : value;
            }
    }
}

} // namespace depnn
