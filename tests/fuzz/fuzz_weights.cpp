// Fuzz target: network.bin. Bytes are checked as a weight image; an accepted
// image builds a network that evaluates one position and reloads itself, and
// a refused one builds the empty network.

#include "network/deployedNN.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so a read past the image is caught.
    std::unique_ptr<char[]> image(new char[size > 0 ? size : 1]);
    if (size > 0)
        std::memcpy(image.get(), data, size);
    const long long length = static_cast<long long>(size);

    depnn::NetworkShape   shape{};
    const bool            accepted = depnn::checkWeightImage(image.get(), length, &shape, nullptr);
    depnn::QuoriboNetwork net(image.get(), length);
    if (!accepted) {
        if (net.boardSize != 0)
            std::abort();
        return 0;
    }
    if (net.boardSize != shape.boardSize || net.filters != shape.filters)
        std::abort();

    // A few stones of both sides, placed by the image's own bytes.
    const int              n = shape.boardSize;
    std::vector<int>       cells(static_cast<size_t>(n) * n, 0);
    std::vector<int*>      rows;
    std::vector<float>     policyCells(static_cast<size_t>(n) * n, 0.0f);
    std::vector<float*>    policyRows;
    for (int r = 0; r < n; ++r) {
        rows.push_back(&cells[static_cast<size_t>(r) * n]);
        policyRows.push_back(&policyCells[static_cast<size_t>(r) * n]);
    }
    for (int i = 6; i < 12 && i < length; ++i)
        cells[static_cast<unsigned char>(image[i]) % cells.size()] = i % 2 == 0 ? 1 : -1;
    net.getOutput(rows.data(), 1, policyRows.data());

    const long long needed =
        depnn::weightFileSize(shape.boardSize, shape.depth, shape.filters, shape.valueHidden);
    if (net.loadFromChar(image.get(), needed - 1) != 0 ||
        net.loadFromChar(image.get(), length) != needed)
        std::abort();
    return 0;
}
