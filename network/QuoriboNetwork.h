#pragma once

// The evaluator the search calls for every new position: board and side to
// move in, winning probability of that side and a move distribution over the
// empty cells out.
//
//   planes (3 x N x N: to move, other side, empty)
//     -> firstLayer       Conv5x5 3 -> F, rectified
//     -> hiddenLayers     B - 1 x Conv3x3 F -> F, rectified, in place
//     -> value head       Conv1x1 F -> 2, ValueLayer 2 N^2 -> H -> 1 (logistic)
//     -> policy head      Conv3x3 F -> F, PolicyConv (softmax over N^2 cells)
//
// Five pass variants differ only in the trunk kernels; the heads always run
// in float:
//
//   simdType  pass             trunk kernels              trunk buffer
//   0         forward_DEFAULT  reference, double sums     features
//   1         forward_SSE      4 float lanes              features
//   2         forward_AVX      8 float lanes              features
//   3         forward_SSE2     8 x 16-bit fixed point     featuresFixed
//   4         forward_AVX2     16 x 16-bit fixed point    featuresFixed
//
// Every layer and buffer is created at construction; a pass allocates
// nothing. One object evaluates one position at a time.

#include "network/Conv1x1.h"
#include "network/Conv3x3.h"
#include "network/Conv5x5.h"
#include "network/PolicyConv.h"
#include "network/ValueLayer.h"
#include "network/weightFile.h"

namespace depnn {

class QuoriboNetwork {
  public:
    int         simdType = 0;
    int         valueHidden;
    int         boardSize;
    int         depth;
    int         filters;
    int         sideToMove         = 0;
    Conv5x5*    firstLayer         = nullptr; // owned
    Conv3x3**   hiddenLayers       = nullptr; // owned: [hiddenLayerCount] layers
    Conv3x3*    policyFeatureLayer = nullptr; // owned
    PolicyConv* policyLayer        = nullptr; // owned
    float*      policyOutput       = nullptr; // owned: [N^2], probabilities of the last pass
    Conv1x1*    valueConvLayer     = nullptr; // owned
    ValueLayer* valueLayer         = nullptr; // owned
    float***    inputPlanes        = nullptr; // owned: [3][N + 4][N + 4], two-cell zero border
    int         hiddenLayerCount   = 0;
    float**     features           = nullptr; // owned: [(N + 2)^2][F], one-cell zero border ring
    short**     featuresFixed      = nullptr; // owned: the same at scale 16
    float*      valueFeatures      = nullptr; // owned: [2 N^2], value convolution output

    // Builds the network described by a weight-file image of `length` bytes
    // and loads its weights; the caller keeps the image and may free it
    // afterwards. An image that checkWeightImage refuses (null, truncated, a
    // header no kernel can run or too large a network) gives an empty network
    // (boardSize 0) whose passes do nothing and whose value is 0.5.
    QuoriboNetwork(const char* data, long long length);
    ~QuoriboNetwork();
    QuoriboNetwork(const QuoriboNetwork&)            = delete;
    QuoriboNetwork& operator=(const QuoriboNetwork&) = delete;

    // Picks simdType, then builds every layer and buffer from the dimension
    // fields, releasing earlier ones. networkMemoryBytes (weightFile.h)
    // counts every array built here and in the layers.
    void init();

    // simdType from the processor: 0, 1 with SSE and SSE3, 2 with AVX.
    void checkSimdSupport();

    // Whether pass `type` can run here: the processor has its instruction
    // sets and the dimensions fit its kernels (F % 16 == 0, N^2 even).
    bool canRun(int type) const;

    // Fills inputPlanes from an N x N board (0 empty; a stone belongs to the
    // side to move exactly when it equals sign).
    void prepareInput(const int* const* board, int sign);

    // Runs the pass selected by simdType on the current planes; nothing for a
    // value outside 0..4, the reference pass for one this processor cannot run.
    void forward();

    // One pass each. The vector passes need canRun() for their type.
    void forward_DEFAULT();
    void forward_SSE();
    void forward_AVX();
    void forward_SSE2();
    void forward_AVX2();

    // Evaluates the board for side `sign` and returns its winning probability.
    // If policy (N rows of N floats) is given, fills it with the move
    // probabilities over the empty cells: 0 on stones, summing to 1 unless no
    // empty cell has any probability, in which case all are 0.
    float getOutput(const int* const* board, int sign, float** policy);

    // Reloads every section from an image of `length` bytes made for the
    // same dimensions (compare getShape() with the image's header first; the
    // header is not read again). Returns the offset past the last section, or
    // 0, with nothing loaded, when the image is too short for this network or
    // the network is empty.
    int loadFromChar(const char* data, long long length);

    NetworkShape getShape() const { return {boardSize, depth, filters, valueHidden}; }

  private:
    void release();
    void runFloatPass(int family);
    void runFixedPass(int family);
    void runValueHead();
    void convertFixedFeatures();
};

} // namespace depnn
