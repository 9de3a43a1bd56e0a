#include "network/Conv5x5.h"

#include "network/convCommon.h"
#include "network/encoding.h"
#include "network/kernels.h"
#include "network/nonlinearity.h"

#include <cstring>

namespace depnn {

namespace {

constexpr int KERNEL = 25;

} // namespace

Conv5x5::Conv5x5(int boardSize_, int inputs_, int outputs_)
    : boardSize(boardSize_), inputs(inputs_), outputs(outputs_) {
    allocate();
}

Conv5x5::~Conv5x5() {
    release();
}

void Conv5x5::allocate() {
    release();
    conv::allocateArrays<KERNEL>(*this);
}

void Conv5x5::release() {
    conv::releaseArrays(*this);
}

int Conv5x5::loadFromChar(int offset, const char* data) {
    offset = conv::loadSection<KERNEL>(*this, offset, data);
    fillMatrix();
    return offset;
}

void Conv5x5::fillMatrix() {
    conv::fillRows<KERNEL>(*this);
}

// Each kernel row is five neighbouring plane values, copied in one piece.
void Conv5x5::convertToMatrix(const float* const* const* planes) {
    for (int r = 0; r < boardSize; ++r)
        for (int c = 0; c < boardSize; ++c) {
            float* row = inputMatrix[r * boardSize + c];
            for (int i = 0; i < inputs; ++i)
                for (int dy = 0; dy < 5; ++dy)
                    std::memcpy(row + KERNEL * i + 5 * dy, planes[i][r + dy] + c,
                                5 * sizeof(float));
        }
}

void Conv5x5::convertToMatrix_fixed(const float* const* const* planes) {
    for (int r = 0; r < boardSize; ++r)
        for (int c = 0; c < boardSize; ++c) {
            short* row = inputMatrixFixed[r * boardSize + c];
            for (int i = 0; i < inputs; ++i)
                for (int dy = 0; dy < 5; ++dy)
                    for (int dx = 0; dx < 5; ++dx)
                        row[KERNEL * i + 5 * dy + dx] =
                            toFixed16(planes[i][r + dy][c + dx], FIXED_ACTIVATION_SCALE);
        }
}

// Conv5x5 rows are 16-value multiples: SSE and SSE_fixed take two 4- or
// 8-lane vectors per step, AVX two 8-lane vectors, AVX_fixed one 16-lane one.
void Conv5x5::forwardPropagate(float** features) {
    convolveReference(weightMatrix, inputMatrix, bias, boardSize, outputs, rowLength(), features);
}

void Conv5x5::forwardPropagateSSE(float** features) {
    convolveSSE(weightMatrix, inputMatrix, bias, boardSize, outputs, rowLength(), 2, features);
}

void Conv5x5::forwardPropagateAVX(float** features) {
    convolveAVX(weightMatrix, inputMatrix, bias, boardSize, outputs, rowLength(), 2, features);
}

void Conv5x5::forwardPropagateSSE_fixed(short** featuresFixed) {
    convolveSSE_fixed(weightMatrixFixed, inputMatrixFixed, biasFixed, boardSize, outputs,
                      rowLength(), 2, featuresFixed);
}

void Conv5x5::forwardPropagateAVX_fixed(short** featuresFixed) {
    convolveAVX_fixed(weightMatrixFixed, inputMatrixFixed, biasFixed, boardSize, outputs,
                      rowLength(), 1, featuresFixed);
}

} // namespace depnn
