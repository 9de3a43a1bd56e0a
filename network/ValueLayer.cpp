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

void ValueLayer::forwardPropagate(const float* x) {
    for (int h = 0; h < hidden; ++h) {
        double sum = hiddenBias[h];
        for (int j = 0; j < inputs; ++j)
            sum += static_cast<double>(hiddenWeights[h][j]) * static_cast<double>(x[j]);
        const auto a    = static_cast<float>(sum);
        hiddenOutput[h] = a <= 0.0f ? 0.0f : a;
    }
    double logit = outputBias;
    for (int h = 0; h < hidden; ++h)
        logit += static_cast<double>(hiddenOutput[h]) * static_cast<double>(outputWeights[h]);
    value = logistic(logit);
}

float ValueLayer::sigm(float x) {
    return logistic(static_cast<double>(x));
}

} // namespace depnn
