#pragma once

// Free helpers on row-pointer arrays: the rectifier, border clearing, the
// maximum, the owning row tables the layers keep their matrices in, and the
// reference convolution kernel that the vector kernels of kernels.h are
// checked against.

namespace depnn {

// Sets every negative a[i][j] (i < rows, j < cols) to 0; NaN stays.
void nonlinearity(float** a, int rows, int cols);
void nonlinearity(short** a, int rows, int cols);

// For each of `count` planes of rows x cols: zeroes the first and last element
// of every row, then the whole first and last row.
void clearBorder(float*** planes, int count, int rows, int cols);

// The largest of -1 and every a[i][j] (i < rows, j < cols).
float findMax(const float* const* a, int rows, int cols);

// `count` row pointers into one zeroed block of count x length values.
// Release with freeRows(rows, count); both accept count == 0.
template <typename T> T** newRows(int count, int length) {
    T** rows = new T*[count];
    if (count > 0) {
        T* block = new T[static_cast<long long>(count) * length]();
        for (int i = 0; i < count; ++i)
            rows[i] = block + static_cast<long long>(i) * length;
    }
    return rows;
}

template <typename T> void freeRows(T** rows, int count) {
    if (rows == nullptr)
        return;
    if (count > 0)
        delete[] rows[0];
    delete[] rows;
}

// COUNT dot products with the same weights: sums[i] = bias[i] + the sum over
// k < length of weights[k] * x[i][k], each accumulated in double from its bias
// in increasing k, exactly as one such sum alone. The COUNT sums advance
// together, so their additions overlap instead of each waiting on a single
// dependent chain.
template <int COUNT>
void dotsFromBiases(const double* bias, const float* weights, const float* const* x, int length,
                    double* sums) {
    for (int i = 0; i < COUNT; ++i)
        sums[i] = bias[i];
    for (int k = 0; k < length; ++k) {
        const double w = weights[k];
        for (int i = 0; i < COUNT; ++i)
            sums[i] += w * static_cast<double>(x[i][k]);
    }
}

// Reference trunk kernel, the scalar twin of convolveSSE/convolveAVX: for
// every board cell p and output channel o,
//     bias[o] + sum over k < rowLength of weightRows[o][k] * inputRows[p][k],
// accumulated in double from the bias in increasing k and rounded to float
// once, stored as channel o of entry (r + 1) * (N + 2) + (c + 1). Then every
// negative value of all (N + 2)^2 entries x `outputs` channels becomes 0.
void convolveReference(const float* const* weightRows, const float* const* inputRows,
                       const float* bias, int boardSize, int outputs, int rowLength,
                       float** features);

} // namespace depnn
