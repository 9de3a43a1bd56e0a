#include "network/kernels.h"

namespace depnn {

namespace {

// Written as selects in blocks of a fixed size, so that the compiler turns
// each block into vector compares; NaN and -0 stay as they are.
template <typename T> void rectifyEntry(T* entry, int outputs) {
    constexpr int BLOCK = 8;
    int           o     = 0;
    for (; o + BLOCK <= outputs; o += BLOCK)
        for (int k = 0; k < BLOCK; ++k)
            entry[o + k] = entry[o + k] < 0 ? T(0) : entry[o + k];
    for (; o < outputs; ++o)
        entry[o] = entry[o] < 0 ? T(0) : entry[o];
}

template <typename T> void rectifyRing(int boardSize, int outputs, T** features) {
    const int side = boardSize + 2;
    for (int c = 0; c < side; ++c) {
        rectifyEntry(features[c], outputs);
        rectifyEntry(features[(side - 1) * side + c], outputs);
    }
    for (int r = 1; r < side - 1; ++r) {
        rectifyEntry(features[r * side], outputs);
        rectifyEntry(features[r * side + side - 1], outputs);
    }
}

} // namespace

void rectifyBorder(int boardSize, int outputs, float** features) {
    rectifyRing(boardSize, outputs, features);
}

void rectifyBorder(int boardSize, int outputs, short** features) {
    rectifyRing(boardSize, outputs, features);
}

} // namespace depnn
