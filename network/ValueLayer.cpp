#include "network/ValueLayer.h"

#include "network/encoding.h"
#include "network/nonlinearity.h"

#include <cmath>

namespace depnn {

namespace {

float logistic(double x) {
    return static_cast<float>(1.0 / (1.0 + std::exp(-x)));
}

} // namespace

ValueLayer::ValueLayer(int boardSize_, int hidden_, int inputs_)
    : inputs(inputs_), hidden(hidden_), boardSize(boardSize_) {
    allocate();
}

ValueLayer::~ValueLayer() {
    release();
}

void ValueLayer::allocate() {
    release();
    hiddenOutput  = new float[hidden]();
    hiddenWeights = newRows<float>(hidden, inputs);
    outputWeights = new float[hidden]();
    hiddenBias    = new float[hidden]();
    outputBias    = 0.0f;
}

void ValueLayer::release() {
    delete[] hiddenOutput;
    freeRows(hiddenWeights, hidden);
    delete[] outputWeights;
    delete[] hiddenBias;
    hiddenOutput  = nullptr;
    hiddenWeights = nullptr;
    outputWeights = nullptr;
    hiddenBias    = nullptr;
}

int ValueLayer::loadFromChar(int offset, const char* data) {
    outputBias = convertChar4ToFloat(data + offset);
    offset += 4;
    for (int h = 0; h < hidden; ++h, offset += 4)
        outputWeights[h] = convertChar4ToFloat(data + offset);
    for (int h = 0; h < hidden; ++h) {
        hiddenBias[h] = convertChar4ToFloat(data + offset);
        offset += 4;
        for (int j = 0; j < inputs; ++j, offset += 4)
            hiddenWeights[h][j] = convertChar4ToFloat(data + offset);
    }
    return offset;
}

// Hidden units are summed UNITS at a time: each unit keeps its own sum, adding
// its terms in increasing j as one unit alone would, but the independent sums
// overlap instead of each waiting on a single chain of 2 N^2 additions.
template <int UNITS> void ValueLayer::sumHiddenUnits(int first, const float* x) {
    double sum[UNITS];
    for (int u = 0; u < UNITS; ++u)
        sum[u] = hiddenBias[first + u];
    for (int j = 0; j < inputs; ++j) {
        const double xj = x[j];
        for (int u = 0; u < UNITS; ++u)
            sum[u] += static_cast<double>(hiddenWeights[first + u][j]) * xj;
    }
    for (int u = 0; u < UNITS; ++u) {
        const auto a            = static_cast<float>(sum[u]);
        hiddenOutput[first + u] = a <= 0.0f ? 0.0f : a;
    }
}

void ValueLayer::forwardPropagate(const float* x) {
    constexpr int UNITS = 4;
    int           h     = 0;
    for (; h + UNITS <= hidden; h += UNITS)
        sumHiddenUnits<UNITS>(h, x);
    for (; h < hidden; ++h)
        sumHiddenUnits<1>(h, x);
    double logit = outputBias;
    for (int k = 0; k < hidden; ++k)
        logit += static_cast<double>(hiddenOutput[k]) * static_cast<double>(outputWeights[k]);
    value = logistic(logit);
}

float ValueLayer::sigm(float x) {
    return logistic(static_cast<double>(x));
}

} // namespace depnn
