#include "network/Conv3x3.h"

#include "network/encoding.h"
#include "network/kernels.h"
#include "network/nonlinearity.h"

namespace depnn {

namespace {

constexpr int KERNEL = 9;

// Conv3x3 rows hold 9 * inputs values; with inputs a multiple of 16 every
// kernel takes three vectors per step (12, 24, 24 and 48 values).
constexpr int VECTORS_PER_STEP = 3;

} // namespace

Conv3x3::Conv3x3(int boardSize_, int inputs_, int outputs_)
    : boardSize(boardSize_), inputs(inputs_), outputs(outputs_) {
    allocate();
}

Conv3x3::~Conv3x3() {
    release();
}

void Conv3x3::allocate() {
    release();
    const int cells   = boardSize * boardSize;
    weightMatrix      = newRows<float>(outputs, rowLength());
    inputMatrix       = newRows<float>(cells, rowLength());
    weightMatrixFixed = newRows<short>(outputs, rowLength());
    inputMatrixFixed  = newRows<short>(cells, rowLength());
    biasFixed         = new int[outputs]();
    weights           = new float**[outputs];
    for (int o = 0; o < outputs; ++o)
        weights[o] = newRows<float>(inputs, KERNEL);
    bias = new float[outputs]();
}

void Conv3x3::release() {
    const int cells = boardSize * boardSize;
    freeRows(weightMatrix, outputs);
    freeRows(inputMatrix, cells);
    freeRows(weightMatrixFixed, outputs);
    freeRows(inputMatrixFixed, cells);
    delete[] biasFixed;
    if (weights != nullptr)
        for (int o = 0; o < outputs; ++o)
            freeRows(weights[o], inputs);
    delete[] weights;
    delete[] bias;
    weightMatrix      = nullptr;
    inputMatrix       = nullptr;
    weightMatrixFixed = nullptr;
    inputMatrixFixed  = nullptr;
    biasFixed         = nullptr;
    weights           = nullptr;
    bias              = nullptr;
}

int Conv3x3::loadFromChar(int offset, const char* data) {
    for (int o = 0; o < outputs; ++o) {
        bias[o] = convertChar4ToFloat(data + offset);
        offset += 4;
        for (int i = 0; i < inputs; ++i)
            for (int k = 0; k < KERNEL; ++k, offset += 4)
                weights[o][i][k] = convertChar4ToFloat(data + offset);
    }
    fillMatrix();
    return offset;
}

void Conv3x3::fillMatrix() {
    const int length = rowLength();
    const int cells  = boardSize * boardSize;
    for (int p = 0; p < cells; ++p)
        for (int k = 0; k < length; ++k) {
            inputMatrix[p][k]      = 0.0f;
            inputMatrixFixed[p][k] = 0;
        }
    for (int o = 0; o < outputs; ++o) {
        biasFixed[o] = truncateToInt(bias[o] * FIXED_BIAS_SCALE);
        for (int i = 0; i < inputs; ++i)
            for (int k = 0; k < KERNEL; ++k) {
                weightMatrix[o][KERNEL * i + k] = weights[o][i][k];
                weightMatrixFixed[o][KERNEL * i + k] =
                    toFixed16(weights[o][i][k], FIXED_WEIGHT_SCALE);
            }
    }
}

void Conv3x3::convertToMatrix(const float* const* features) {
    const int width = boardSize + 2;
    for (int r = 0; r < boardSize; ++r)
        for (int c = 0; c < boardSize; ++c) {
            float* row = inputMatrix[r * boardSize + c];
            for (int dy = 0; dy < 3; ++dy)
                for (int dx = 0; dx < 3; ++dx) {
                    const float* entry = features[(r + dy) * width + (c + dx)];
                    for (int i = 0; i < inputs; ++i)
                        row[KERNEL * i + 3 * dy + dx] = entry[i];
                }
        }
}

void Conv3x3::convertToMatrix_fixed(const short* const* featuresFixed) {
    const int width = boardSize + 2;
    for (int r = 0; r < boardSize; ++r)
        for (int c = 0; c < boardSize; ++c) {
            short* row = inputMatrixFixed[r * boardSize + c];
            for (int dy = 0; dy < 3; ++dy)
                for (int dx = 0; dx < 3; ++dx) {
                    const short* entry = featuresFixed[(r + dy) * width + (c + dx)];
                    for (int i = 0; i < inputs; ++i)
                        row[KERNEL * i + 3 * dy + dx] = entry[i];
                }
        }
}

void Conv3x3::forwardPropagate(float** features) {
    convolveReference(weightMatrix, inputMatrix, bias, boardSize, outputs, rowLength(), features);
}

void Conv3x3::forwardPropagateSSE(float** features) {
    convolveSSE(weightMatrix, inputMatrix, bias, boardSize, outputs, rowLength(), VECTORS_PER_STEP,
                features);
}

void Conv3x3::forwardPropagateAVX(float** features) {
    convolveAVX(weightMatrix, inputMatrix, bias, boardSize, outputs, rowLength(), VECTORS_PER_STEP,
                features);
}

void Conv3x3::forwardPropagateSSE_fixed(short** featuresFixed) {
    convolveSSE_fixed(weightMatrixFixed, inputMatrixFixed, biasFixed, boardSize, outputs,
                      rowLength(), VECTORS_PER_STEP, featuresFixed);
}

void Conv3x3::forwardPropagateAVX_fixed(short** featuresFixed) {
    convolveAVX_fixed(weightMatrixFixed, inputMatrixFixed, biasFixed, boardSize, outputs,
                      rowLength(), VECTORS_PER_STEP, featuresFixed);
}

} // namespace depnn
