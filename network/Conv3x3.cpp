#include "network/Conv3x3.h"

#include "network/convCommon.h"
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
    conv::allocateArrays<KERNEL>(*this);
}

void Conv3x3::release() {
    conv::releaseArrays(*this);
}

int Conv3x3::loadFromChar(int offset, const char* data) {
    offset = conv::loadSection<KERNEL>(*this, offset, data);
    fillMatrix();
    return offset;
}

void Conv3x3::fillMatrix() {
    conv::fillRows<KERNEL>(*this);
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

void Conv3x3::convertToMatrixSSE(const float* const* features) {
    gatherPatches3x3SSE(features, boardSize, inputs, inputMatrix);
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
