#include "network/QuoriboNetwork.h"

#include "network/cpuFeatures.h"
#include "network/encoding.h"
#include "network/nonlinearity.h"

namespace depnn {

namespace {

constexpr int INPUT_PLANES  = 3;
constexpr int PLANE_TO_MOVE = 0;
constexpr int PLANE_OTHER   = 1;
constexpr int PLANE_EMPTY   = 2;

enum PassType { PASS_DEFAULT, PASS_SSE, PASS_AVX, PASS_SSE2, PASS_AVX2 };

// Conv5x5 and Conv3x3 offer the same kernel names.
template <typename Layer> void runFloatKernel(Layer* layer, float** features, int family) {
    switch (family) {
    case PASS_SSE:
        layer->forwardPropagateSSE(features);
        break;
    case PASS_AVX:
        layer->forwardPropagateAVX(features);
        break;
    default:
        layer->forwardPropagate(features);
        break;
    }
}

// The vector passes gather patch rows with SSE2, which every processor that
// runs them has; the reference pass needs no instruction set beyond the basic one.
void gatherPatches(Conv3x3* layer, const float* const* features, int family) {
    if (family == PASS_DEFAULT)
        layer->convertToMatrix(features);
    else
        layer->convertToMatrixSSE(features);
}

template <typename Layer> void runFixedKernel(Layer* layer, short** featuresFixed, int family) {
    if (family == PASS_AVX2)
        layer->forwardPropagateAVX_fixed(featuresFixed);
    else
        layer->forwardPropagateSSE_fixed(featuresFixed);
}

} // namespace

QuoriboNetwork::QuoriboNetwork(const char* data, long long length) {
    // A header that would make the layers' sizes negative or absurd, or an
    // image too short for its sections, builds an empty network instead.
    NetworkShape shape{};
    const bool   usable = checkWeightImage(data, length, &shape, nullptr);
    boardSize           = usable ? shape.boardSize : 0;
    depth               = usable ? shape.depth : 0;
    filters             = usable ? shape.filters : 0;
    valueHidden         = usable ? shape.valueHidden : 0;
    init();
    if (usable)
        loadFromChar(data, length);
}

QuoriboNetwork::~QuoriboNetwork() {
    release();
}

void QuoriboNetwork::init() {
    release();
    checkSimdSupport();
    const int cells   = boardSize * boardSize;
    const int entries = (boardSize + 2) * (boardSize + 2);

    firstLayer       = new Conv5x5(boardSize, INPUT_PLANES, filters);
    hiddenLayerCount = depth > 1 ? depth - 1 : 0;
    hiddenLayers     = new Conv3x3*[hiddenLayerCount];
    for (int i = 0; i < hiddenLayerCount; ++i)
        hiddenLayers[i] = new Conv3x3(boardSize, filters, filters);
    policyFeatureLayer = new Conv3x3(boardSize, filters, filters);
    policyLayer        = new PolicyConv(boardSize, filters);
    policyOutput       = new float[cells]();
    valueConvLayer     = new Conv1x1(boardSize, filters, 2);
    valueLayer         = new ValueLayer(boardSize, valueHidden, 2 * cells);

    inputPlanes = new float**[INPUT_PLANES];
    for (int i = 0; i < INPUT_PLANES; ++i)
        inputPlanes[i] = newRows<float>(boardSize + 4, boardSize + 4);
    features      = newRows<float>(entries, filters);
    featuresFixed = newRows<short>(entries, filters);
    valueFeatures = new float[2 * cells]();
}

void QuoriboNetwork::release() {
    const int entries = (boardSize + 2) * (boardSize + 2);
    delete firstLayer;
    if (hiddenLayers != nullptr)
        for (int i = 0; i < hiddenLayerCount; ++i)
            delete hiddenLayers[i];
    delete[] hiddenLayers;
    delete policyFeatureLayer;
    delete policyLayer;
    delete[] policyOutput;
    delete valueConvLayer;
    delete valueLayer;
    if (inputPlanes != nullptr)
        for (int i = 0; i < INPUT_PLANES; ++i)
            freeRows(inputPlanes[i], boardSize + 4);
    delete[] inputPlanes;
    freeRows(features, entries);
    freeRows(featuresFixed, entries);
    delete[] valueFeatures;

    firstLayer         = nullptr;
    hiddenLayers       = nullptr;
    policyFeatureLayer = nullptr;
    policyLayer        = nullptr;
    policyOutput       = nullptr;
    valueConvLayer     = nullptr;
    valueLayer         = nullptr;
    inputPlanes        = nullptr;
    features           = nullptr;
    featuresFixed      = nullptr;
    valueFeatures      = nullptr;
}

void QuoriboNetwork::checkSimdSupport() {
    simdType = chooseSimdType(cpuFeatures());
}

bool QuoriboNetwork::canRun(int type) const {
    // The vector kernels have no remainder loop and work on pairs of cells.
    const bool         fits = filters % 16 == 0 && boardSize * boardSize % 2 == 0;
    const CpuFeatures& cpu  = cpuFeatures();
    switch (type) {
    case PASS_DEFAULT:
        return true;
    case PASS_SSE:
        return fits && cpu.sse && cpu.sse3;
    case PASS_AVX:
        return fits && cpu.avx;
    case PASS_SSE2:
        return fits && cpu.sse2 && cpu.ssse3;
    case PASS_AVX2:
        return fits && cpu.avx2;
    default:
        return false;
    }
}

// Every cell writes all three planes (a 1 in its plane, 0 in the others), so
// nothing needs clearing first: the two-cell border is 0 from allocation and
// nothing ever writes it.
void QuoriboNetwork::prepareInput(const int* const* board, int sign) {
    sideToMove = sign;
    for (int r = 0; r < boardSize; ++r)
        for (int c = 0; c < boardSize; ++c) {
            const int stone                          = board[r][c];
            inputPlanes[PLANE_TO_MOVE][r + 2][c + 2] = stone != 0 && stone == sign ? 1.0f : 0.0f;
            inputPlanes[PLANE_OTHER][r + 2][c + 2]   = stone != 0 && stone != sign ? 1.0f : 0.0f;
            inputPlanes[PLANE_EMPTY][r + 2][c + 2]   = stone == 0 ? 1.0f : 0.0f;
        }
}

void QuoriboNetwork::forward() {
    if (simdType < PASS_DEFAULT || simdType > PASS_AVX2)
        return;
    // A kernel the processor lacks would stop the program on an illegal
    // instruction; the reference pass gives the same results.
    const int type = canRun(simdType) ? simdType : PASS_DEFAULT;
    switch (type) {
    case PASS_SSE:
        forward_SSE();
        break;
    case PASS_AVX:
        forward_AVX();
        break;
    case PASS_SSE2:
        forward_SSE2();
        break;
    case PASS_AVX2:
        forward_AVX2();
        break;
    default:
        forward_DEFAULT();
        break;
    }
}

void QuoriboNetwork::forward_DEFAULT() {
    runFloatPass(PASS_DEFAULT);
}

void QuoriboNetwork::forward_SSE() {
    runFloatPass(PASS_SSE);
}

void QuoriboNetwork::forward_AVX() {
    runFloatPass(PASS_AVX);
}

void QuoriboNetwork::forward_SSE2() {
    runFixedPass(PASS_SSE2);
}

void QuoriboNetwork::forward_AVX2() {
    runFixedPass(PASS_AVX2);
}

// The feature buffers need no clearing: their border ring is 0 from
// allocation and no kernel writes it, and the first layer writes every channel
// of every board entry before anything reads them.
void QuoriboNetwork::runFloatPass(int family) {
    firstLayer->convertToMatrix(inputPlanes);
    runFloatKernel(firstLayer, features, family);
    for (int i = 0; i < hiddenLayerCount; ++i) {
        gatherPatches(hiddenLayers[i], features, family);
        runFloatKernel(hiddenLayers[i], features, family);
    }
    runValueHead();
    // The policy features overwrite the trunk output, which the value head
    // has already read.
    gatherPatches(policyFeatureLayer, features, family);
    runFloatKernel(policyFeatureLayer, features, family);
    policyLayer->forwardPropagate(features, policyOutput, true);
}

void QuoriboNetwork::runFixedPass(int family) {
    firstLayer->convertToMatrix_fixed(inputPlanes);
    runFixedKernel(firstLayer, featuresFixed, family);
    for (int i = 0; i < hiddenLayerCount; ++i) {
        hiddenLayers[i]->convertToMatrix_fixed(featuresFixed);
        runFixedKernel(hiddenLayers[i], featuresFixed, family);
    }
    convertFixedFeatures();
    runValueHead();
    policyFeatureLayer->convertToMatrix_fixed(featuresFixed);
    runFixedKernel(policyFeatureLayer, featuresFixed, family);
    convertFixedFeatures();
    policyLayer->forwardPropagate(features, policyOutput, true);
}

void QuoriboNetwork::runValueHead() {
    valueConvLayer->forwardPropagate(features, valueFeatures, true);
    valueLayer->forwardPropagate(valueFeatures);
}

void QuoriboNetwork::convertFixedFeatures() {
    const int entries = (boardSize + 2) * (boardSize + 2);
    for (int e = 0; e < entries; ++e)
        for (int k = 0; k < filters; ++k)
            features[e][k] =
                static_cast<float>(featuresFixed[e][k]) * (1.0f / FIXED_ACTIVATION_SCALE);
}

float QuoriboNetwork::getOutput(const int* const* board, int sign, float** policy) {
    prepareInput(board, sign);
    forward();
    if (policy != nullptr) {
        double sum = 0.0;
        for (int r = 0; r < boardSize; ++r)
            for (int c = 0; c < boardSize; ++c) {
                if (board[r][c] != 0) {
                    policy[r][c] = 0.0f;
                } else {
                    policy[r][c] = policyOutput[r * boardSize + c];
                    sum += policy[r][c];
                }
            }
        // A NaN sum also rescales, spreading the NaN rather than hiding it.
        if (sum != 0.0) {
            const auto scale = static_cast<float>(1.0 / sum);
            for (int r = 0; r < boardSize; ++r)
                for (int c = 0; c < boardSize; ++c)
                    policy[r][c] = policy[r][c] * scale;
        }
    }
    return valueLayer->value;
}

int QuoriboNetwork::loadFromChar(const char* data, long long length) {
    // The layers read their sections without looking at the length.
    if (data == nullptr || boardSize <= 0 ||
        length < weightFileSize(boardSize, depth, filters, valueHidden))
        return 0;
    int offset = WEIGHT_HEADER_BYTES;
    offset     = firstLayer->loadFromChar(offset, data);
    for (int i = 0; i < hiddenLayerCount; ++i)
        offset = hiddenLayers[i]->loadFromChar(offset, data);
    offset = policyFeatureLayer->loadFromChar(offset, data);
    offset = policyLayer->loadFromChar(offset, data);
    offset = valueConvLayer->loadFromChar(offset, data);
    offset = valueLayer->loadFromChar(offset, data);
    return offset;
}

} // namespace depnn
