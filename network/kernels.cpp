#include "network/kernels.h"

namespace depnn {

namespace {

template <typename T> void rectifyEntry(T* entry, int outputs) {
    for (int o = 0; o < outputs; ++o)
        if (entry[o] < 0)
            entry[o] = 0;
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
