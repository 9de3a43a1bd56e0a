#pragma once

// Storage shared by the two matrix-product convolutions, Conv5x5 and Conv3x3:
// both hold the same fields (kernels as loaded, weight and patch rows in float
// and fixed point, fixed-point biases) and differ only in the kernel size and
// in how a patch is gathered. These helpers work on either class.

#include "network/encoding.h"
#include "network/nonlinearity.h"

namespace depnn {
namespace conv {

// Creates every array at its final size, zeroed. Kernel = 25 or 9.
template <int Kernel, typename Layer> void allocateArrays(Layer& layer) {
    const int cells         = layer.boardSize * layer.boardSize;
    const int length        = layer.rowLength();
    layer.weightMatrix      = newRows<float>(layer.outputs, length);
    layer.inputMatrix       = newRows<float>(cells, length);
    layer.weightMatrixFixed = newRows<short>(layer.outputs, length);
    layer.inputMatrixFixed  = newRows<short>(cells, length);
    layer.biasFixed         = new int[layer.outputs]();
    layer.weights           = new float**[layer.outputs];
    for (int o = 0; o < layer.outputs; ++o)
        layer.weights[o] = newRows<float>(layer.inputs, Kernel);
    layer.bias = new float[layer.outputs]();
}

// Frees every array and leaves the pointers null, so it may run twice.
template <typename Layer> void releaseArrays(Layer& layer) {
    const int cells = layer.boardSize * layer.boardSize;
    freeRows(layer.weightMatrix, layer.outputs);
    freeRows(layer.inputMatrix, cells);
    freeRows(layer.weightMatrixFixed, layer.outputs);
    freeRows(layer.inputMatrixFixed, cells);
    delete[] layer.biasFixed;
    if (layer.weights != nullptr)
        for (int o = 0; o < layer.outputs; ++o)
            freeRows(layer.weights[o], layer.inputs);
    delete[] layer.weights;
    delete[] layer.bias;
    layer.weightMatrix      = nullptr;
    layer.inputMatrix       = nullptr;
    layer.weightMatrixFixed = nullptr;
    layer.inputMatrixFixed  = nullptr;
    layer.biasFixed         = nullptr;
    layer.weights           = nullptr;
    layer.bias              = nullptr;
}

// Reads, for each output channel, its bias and then `inputs` kernels of Kernel
// weights from data + offset. Returns the offset past the section.
template <int Kernel, typename Layer> int loadSection(Layer& layer, int offset, const char* data) {
    for (int o = 0; o < layer.outputs; ++o) {
        layer.bias[o] = convertChar4ToFloat(data + offset);
        offset += 4;
        for (int i = 0; i < layer.inputs; ++i)
            for (int k = 0; k < Kernel; ++k, offset += 4)
                layer.weights[o][i][k] = convertChar4ToFloat(data + offset);
    }
    return offset;
}

// Clears every row (so padding positions stay 0), then writes each channel's
// kernels at Kernel * i + k of its weight rows, float and fixed point, and
// its fixed-point bias.
template <int Kernel, typename Layer> void fillRows(Layer& layer) {
    const int length = layer.rowLength();
    const int cells  = layer.boardSize * layer.boardSize;
    for (int p = 0; p < cells; ++p)
        for (int k = 0; k < length; ++k) {
            layer.inputMatrix[p][k]      = 0.0f;
            layer.inputMatrixFixed[p][k] = 0;
        }
    for (int o = 0; o < layer.outputs; ++o) {
        for (int k = 0; k < length; ++k) {
            layer.weightMatrix[o][k]      = 0.0f;
            layer.weightMatrixFixed[o][k] = 0;
        }
        layer.biasFixed[o] = truncateToInt(layer.bias[o] * FIXED_BIAS_SCALE);
        for (int i = 0; i < layer.inputs; ++i)
            for (int k = 0; k < Kernel; ++k) {
                const float w                              = layer.weights[o][i][k];
                layer.weightMatrix[o][Kernel * i + k]      = w;
                layer.weightMatrixFixed[o][Kernel * i + k] = toFixed16(w, FIXED_WEIGHT_SCALE);
            }
    }
}

} // namespace conv
} // namespace depnn
