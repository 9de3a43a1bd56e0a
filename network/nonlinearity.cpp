#include "network/nonlinearity.h"

namespace depnn {

namespace {

template <typename T> void rectifyRows(T** a, int rows, int cols) {
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j)
            if (a[i][j] < 0)
                a[i][j] = 0;
}

double dotFromBias(double bias, const float* w, const float* x, int length) {
    double sum = bias;
    for (int k = 0; k < length; ++k)
        sum += static_cast<double>(w[k]) * static_cast<double>(x[k]);
    return sum;
}

} // namespace

void nonlinearity(float** a, int rows, int cols) {
    rectifyRows(a, rows, cols);
}

void nonlinearity(short** a, int rows, int cols) {
    rectifyRows(a, rows, cols);
}

void clearBorder(float*** planes, int count, int rows, int cols) {
    if (rows <= 0 || cols <= 0)
        return;
    for (int n = 0; n < count; ++n) {
        float** plane = planes[n];
        for (int i = 0; i < rows; ++i) {
            plane[i][0]        = 0.0f;
            plane[i][cols - 1] = 0.0f;
        }
        for (int j = 0; j < cols; ++j) {
            plane[0][j]        = 0.0f;
            plane[rows - 1][j] = 0.0f;
        }
    }
}

float findMax(const float* const* a, int rows, int cols) {
    float best = -1.0f;
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j)
            if (a[i][j] > best)
                best = a[i][j];
    return best;
}

void convolveReference(const float* const* weightRows, const float* const* inputRows,
                       const float* bias, int boardSize, int outputs, int rowLength,
                       float** features) {
    const int width = boardSize + 2;
    for (int r = 0; r < boardSize; ++r) {
        for (int c = 0; c < boardSize; ++c) {
            const float* patch = inputRows[r * boardSize + c];
            float*       out   = features[(r + 1) * width + (c + 1)];
            for (int o = 0; o < outputs; ++o)
                out[o] = static_cast<float>(dotFromBias(bias[o], weightRows[o], patch, rowLength));
        }
    }
    rectifyRows(features, width * width, outputs);
}

} // namespace depnn
