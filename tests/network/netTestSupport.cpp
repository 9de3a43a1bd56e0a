#include "netTestSupport.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>

namespace nettest {

TestBoard::TestBoard(int n_) : n(n_), cells(static_cast<size_t>(n_) * n_, 0) {
    for (int r = 0; r < n; ++r)
        rowPointers.push_back(cells.data() + static_cast<size_t>(r) * n);
}

TestBoard TestBoard::fromPicture(const char* picture) {
    std::vector<std::vector<int>> lines(1);
    for (const char* p = picture; *p != '\0'; ++p) {
        if (*p == '\n') {
            if (!lines.back().empty())
                lines.emplace_back();
        } else if (*p == 'X' || *p == 'O' || *p == '.') {
            lines.back().push_back(*p == 'X' ? 1 : *p == 'O' ? -1 : 0);
        }
    }
    if (lines.back().empty())
        lines.pop_back();
    TestBoard board(static_cast<int>(lines.size()));
    for (int r = 0; r < board.n; ++r)
        for (int c = 0; c < board.n && c < static_cast<int>(lines[r].size()); ++c)
            board.at(r, c) = lines[r][c];
    return board;
}

TestBoard TestBoard::random(int n, unsigned seed, double fill) {
    TestBoard                              board(n);
    std::mt19937                           engine(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    for (int& cell : board.cells) {
        const double u = uniform(engine);
        cell           = u < fill / 2 ? 1 : u < fill ? -1 : 0;
    }
    return board;
}

TestBoard TestBoard::swappedColours() const {
    TestBoard swapped(n);
    for (size_t i = 0; i < cells.size(); ++i)
        swapped.cells[i] = -cells[i];
    return swapped;
}

namespace {

constexpr double EXACT_STEP = 1.0 / 1048576.0;

void fillUniform(std::mt19937* engine, std::vector<float>* out, long long count, double deviation) {
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    for (long long i = 0; i < count; ++i) {
        const double x = uniform(*engine) * std::sqrt(3.0) * deviation;
        out->push_back(static_cast<float>(std::round(x / EXACT_STEP) * EXACT_STEP));
    }
}

void fillConvolution(std::mt19937* engine, std::vector<float>* out, int outputs, long long fanIn) {
    for (int o = 0; o < outputs; ++o) {
        fillUniform(engine, out, 1, 0.1);
        fillUniform(engine, out, fanIn, std::sqrt(2.0 / fanIn));
    }
}

float readFileWeight(const std::vector<char>& image, size_t offset) {
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i)
        bits |= static_cast<std::uint32_t>(static_cast<unsigned char>(image[offset + i]))
                << (8 * i);
    std::int32_t w;
    std::memcpy(&w, &bits, 4);
    return static_cast<float>(static_cast<double>(w) / 33554432.0);
}

int relu(int v) {
    return v < 0 ? 0 : v;
}
double relu(double v) {
    return v < 0 ? 0 : v;
}

int wrap16(long long v) {
    const long long low = v & 0xFFFF;
    return static_cast<int>(low >= 0x8000 ? low - 0x10000 : low);
}

// Channel-major planes: value of channel ch at board cell (r, c).
template <typename T> struct Planes {
    int            n;
    std::vector<T> v;
    T              at(int ch, int r, int c) const {
                     if (r < 0 || c < 0 || r >= n || c >= n)
            return 0;
        return v[(static_cast<size_t>(ch) * n + r) * n + c];
    }
};

// One direct convolution from a section in file order: per output channel
// a bias and inputs x size x size weights.
Planes<double> convolve(const Planes<double>& in, int inputs, const float* section, int outputs,
                        int size) {
    const int      n = in.n, half = size / 2, perOutput = 1 + inputs * size * size;
    Planes<double> out{n, std::vector<double>(static_cast<size_t>(outputs) * n * n)};
    for (int o = 0; o < outputs; ++o)
        for (int r = 0; r < n; ++r)
            for (int c = 0; c < n; ++c) {
                const float* w   = section + o * perOutput;
                double       sum = w[0];
                for (int i = 0; i < inputs; ++i)
                    for (int dy = 0; dy < size; ++dy)
                        for (int dx = 0; dx < size; ++dx)
                            sum += static_cast<double>(w[1 + (i * size + dy) * size + dx]) *
                                   in.at(i, r + dy - half, c + dx - half);
                out.v[(static_cast<size_t>(o) * n + r) * n + c] = relu(sum);
            }
    return out;
}

// The same in the fixed-point kernels' integer arithmetic.
Planes<int> convolveFixed(const Planes<int>& in, int inputs, const float* section, int outputs,
                          int size) {
    const int   n = in.n, half = size / 2, perOutput = 1 + inputs * size * size;
    Planes<int> out{n, std::vector<int>(static_cast<size_t>(outputs) * n * n)};
    for (int o = 0; o < outputs; ++o)
        for (int r = 0; r < n; ++r)
            for (int c = 0; c < n; ++c) {
                const float* w   = section + o * perOutput;
                long long    sum = static_cast<long long>(std::trunc(double(w[0]) * 32768.0));
                for (int i = 0; i < inputs; ++i)
                    for (int dy = 0; dy < size; ++dy)
                        for (int dx = 0; dx < size; ++dx) {
                            const double    weight = w[1 + (i * size + dy) * size + dx];
                            const long long q =
                                wrap16(static_cast<long long>(std::trunc(weight * 2048.0)));
                            sum += q * in.at(i, r + dy - half, c + dx - half);
                        }
                out.v[(static_cast<size_t>(o) * n + r) * n + c] = relu(wrap16(sum / 2048));
            }
    return out;
}

Planes<double> toFloatPlanes(const Planes<int>& in) {
    Planes<double> out{in.n, {}};
    for (int v : in.v)
        out.v.push_back(static_cast<float>(v) * 0.0625f);
    return out;
}

double valueHead(const Shape& s, const depnn::WeightSet& w, const Planes<double>& trunk) {
    const int           cells = s.n * s.n;
    std::vector<double> conv(2 * cells);
    for (int o = 0; o < 2; ++o)
        for (int p = 0; p < cells; ++p) {
            const float* row = w.valueConvLayer.data() + o * (1 + s.f);
            double       sum = row[0];
            for (int k = 0; k < s.f; ++k)
                sum += row[1 + k] * trunk.v[static_cast<size_t>(k) * cells + p];
            conv[o * cells + p] = relu(sum);
        }
    const float* v     = w.valueLayer.data();
    double       logit = v[0];
    for (int h = 0; h < s.h; ++h) {
        const float* unit = v + 1 + s.h + static_cast<size_t>(h) * (1 + 2 * cells);
        double       sum  = unit[0];
        for (int j = 0; j < 2 * cells; ++j)
            sum += unit[1 + j] * conv[j];
        logit += relu(sum) * v[1 + h];
    }
    return 1.0 / (1.0 + std::exp(-logit));
}

std::vector<double> policyHead(const Shape& s, const depnn::WeightSet& w,
                               const Planes<double>& features, const TestBoard& board) {
    const int           cells = s.n * s.n;
    std::vector<double> logits(cells);
    double              largest = -1e300;
    for (int p = 0; p < cells; ++p) {
        double sum = w.policyLayer[p];
        for (int k = 0; k < s.f; ++k)
            sum +=
                features.v[static_cast<size_t>(k) * cells + p] * w.policyLayer[cells + k * cells];
        logits[p] = sum;
        largest   = std::max(largest, sum);
    }
    std::vector<double> policy(cells);
    double              total = 0;
    for (int p = 0; p < cells; ++p)
        if (board.at(p / s.n, p % s.n) == 0)
            total += policy[p] = std::exp(logits[p] - largest);
    for (double& x : policy)
        x = total > 0 ? x / total : 0;
    return policy;
}

} // namespace

depnn::WeightSet randomWeights(const Shape& s, unsigned seed) {
    std::mt19937     engine(seed);
    depnn::WeightSet w;
    const long long  cells = static_cast<long long>(s.n) * s.n;
    fillConvolution(&engine, &w.firstLayer, s.f, 75);
    for (int l = 1; l < s.b; ++l)
        fillConvolution(&engine, &w.hiddenLayers, s.f, 9LL * s.f);
    fillConvolution(&engine, &w.policyFeatureLayer, s.f, 9LL * s.f);
    fillUniform(&engine, &w.policyLayer, cells, 0.5);
    fillUniform(&engine, &w.policyLayer, cells * s.f, std::sqrt(1.0 / s.f));
    fillConvolution(&engine, &w.valueConvLayer, 2, s.f);
    fillUniform(&engine, &w.valueLayer, 1 + s.h, 0.5);
    for (int h = 0; h < s.h; ++h) {
        fillUniform(&engine, &w.valueLayer, 1, 0.1);
        fillUniform(&engine, &w.valueLayer, 2 * cells, std::sqrt(2.0 / (2 * cells)));
    }
    return w;
}

depnn::WeightSet decodeWeights(const std::vector<char>& image, const Shape& s) {
    depnn::WeightSet    w          = depnn::makeZeroWeightSet(s.n, s.b, s.f, s.h);
    size_t              offset     = 64;
    std::vector<float>* sections[] = {&w.firstLayer,  &w.hiddenLayers,   &w.policyFeatureLayer,
                                      &w.policyLayer, &w.valueConvLayer, &w.valueLayer};
    for (std::vector<float>* section : sections)
        for (float& x : *section) {
            x = readFileWeight(image, offset);
            offset += 4;
        }
    return w;
}

std::vector<char> imageOf(const Shape& s, const depnn::WeightSet& weights) {
    return depnn::makeWeightImage(s.n, s.b, s.f, s.h, weights);
}

ModelOutput evaluateModel(const Shape& s, const depnn::WeightSet& w, const TestBoard& board,
                          int sign, bool fixedTrunk) {
    const int       n = s.n, cells = n * n;
    const long long perLayer = static_cast<long long>(s.f) * (1 + 9 * s.f);
    ModelOutput     result{};

    Planes<double> planes{n, std::vector<double>(3 * static_cast<size_t>(cells))};
    for (int p = 0; p < cells; ++p) {
        const int stone                                  = board.at(p / n, p % n);
        const int plane                                  = stone == 0 ? 2 : stone == sign ? 0 : 1;
        planes.v[static_cast<size_t>(plane) * cells + p] = 1.0;
    }

    Planes<double> trunk, policyFeatures;
    if (fixedTrunk) {
        Planes<int> x{n, {}};
        for (double v : planes.v)
            x.v.push_back(static_cast<int>(v * 16));
        x = convolveFixed(x, 3, w.firstLayer.data(), s.f, 5);
        result.fixedLayers.push_back(x.v);
        for (int l = 0; l + 1 < s.b; ++l) {
            x = convolveFixed(x, s.f, w.hiddenLayers.data() + l * perLayer, s.f, 3);
            result.fixedLayers.push_back(x.v);
        }
        const Planes<int> pf = convolveFixed(x, s.f, w.policyFeatureLayer.data(), s.f, 3);
        result.fixedLayers.push_back(pf.v);
        trunk          = toFloatPlanes(x);
        policyFeatures = toFloatPlanes(pf);
    } else {
        trunk = convolve(planes, 3, w.firstLayer.data(), s.f, 5);
        for (int l = 0; l + 1 < s.b; ++l)
            trunk = convolve(trunk, s.f, w.hiddenLayers.data() + l * perLayer, s.f, 3);
        policyFeatures = convolve(trunk, s.f, w.policyFeatureLayer.data(), s.f, 3);
    }
    result.value  = valueHead(s, w, trunk);
    result.policy = policyHead(s, w, policyFeatures, board);
    return result;
}

bool cpuSupports(int passType) {
    const depnn::CpuFeatures& cpu = depnn::cpuFeatures();
    switch (passType) {
    case 0:
        return true;
    case 1:
        return cpu.sse && cpu.sse3;
    case 2:
        return cpu.avx;
    case 3:
        return cpu.sse2 && cpu.ssse3;
    case 4:
        return cpu.avx2;
    default:
        return false;
    }
}

} // namespace nettest
