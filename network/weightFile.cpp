#include "network/weightFile.h"

#include "network/encoding.h"

#include <cmath>
#include <fstream>
#include <new>
#include <random>

namespace depnn {

namespace {

constexpr long long MAX_DIMENSION = 65535;

// Number of file weights in each of the six sections.
struct SectionCounts {
    long long section[6];
};

SectionCounts sectionCounts(long long n, long long b, long long f, long long h) {
    const long long cells   = n * n;
    const long long conv3x3 = f * (1 + 9 * f);
    return {{f * (1 + 25 * 3), (b - 1) * conv3x3, conv3x3, cells + f * cells, 2 * (1 + f),
             1 + h + h * (1 + 2 * cells)}};
}

// Dimensions a file can describe: the header's fields are at most 16 bits.
bool dimensionsInRange(int boardSize, int depth, int filters, int valueHidden) {
    const int dims[] = {boardSize, depth, filters, valueHidden};
    for (int d : dims)
        if (d < 0 || d > MAX_DIMENSION)
            return false;
    return true;
}

// Dimensions a writer can produce: the header holds N and B as signed bytes,
// and the image must stay within the size cap.
bool buildable(int boardSize, int depth, int filters, int valueHidden) {
    if (boardSize > 127 || depth > 127)
        return false;
    const long long bytes = weightFileSize(boardSize, depth, filters, valueHidden);
    return bytes > 0 && bytes <= MAX_WEIGHT_FILE_BYTES;
}

void setReason(const char** reason, const char* text) {
    if (reason != nullptr)
        *reason = text;
}

// Uniform values with the given standard deviation: half-width sqrt(3) * std.
class WeightDrawer {
  public:
    explicit WeightDrawer(unsigned seed) : engine(seed) {}

    void fill(std::vector<float>* out, long long count, float deviation) {
        std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
        const float                           halfWidth = std::sqrt(3.0f) * deviation;
        for (long long i = 0; i < count; ++i)
            out->push_back(uniform(engine) * halfWidth);
    }

  private:
    std::mt19937 engine;
};

constexpr float BIAS_DEVIATION = 0.05f;

float heDeviation(long long fanIn) {
    return std::sqrt(2.0f / static_cast<float>(fanIn > 0 ? fanIn : 1));
}

// One convolution section: per output channel a small bias, then fanIn
// kernel weights.
void drawConvolution(WeightDrawer* drawer, std::vector<float>* out, int outputs, long long fanIn) {
    for (int o = 0; o < outputs; ++o) {
        drawer->fill(out, 1, BIAS_DEVIATION);
        drawer->fill(out, fanIn, heDeviation(fanIn));
    }
}

void appendSection(std::vector<char>* image, const std::vector<float>& values) {
    for (float v : values) {
        char bytes[4];
        convertFloatToChar4(bytes, v);
        image->insert(image->end(), bytes, bytes + 4);
    }
}

} // namespace

long long weightFileSize(int boardSize, int depth, int filters, int valueHidden) {
    if (!dimensionsInRange(boardSize, depth, filters, valueHidden) || depth < 1)
        return -1;
    const SectionCounts counts = sectionCounts(boardSize, depth, filters, valueHidden);
    long long           bytes  = WEIGHT_HEADER_BYTES;
    for (long long count : counts.section)
        bytes += 4 * count;
    return bytes;
}

bool readNetworkShape(const char* data, long long length, NetworkShape* out) {
    if (data == nullptr || length < WEIGHT_HEADER_BYTES || out == nullptr)
        return false;
    out->boardSize   = static_cast<signed char>(data[0]);
    out->depth       = static_cast<signed char>(data[1]);
    out->filters     = convertToInt(data[2], data[3]);
    out->valueHidden = convertToInt(data[4], data[5]);
    return true;
}

bool checkWeightImage(const char* data, long long length, NetworkShape* shape,
                      const char** reason) {
    NetworkShape s{};
    if (!readNetworkShape(data, length, &s)) {
        setReason(reason, data == nullptr ? "no weight data" : "shorter than the 64-byte header");
        return false;
    }
    if (s.boardSize < 1 || s.boardSize > MAX_NETWORK_BOARD_SIZE) {
        setReason(reason, "board size outside 1..32");
        return false;
    }
    if (s.boardSize % 2 != 0) {
        setReason(reason, "odd number of board cells");
        return false;
    }
    if (s.depth < 1) {
        setReason(reason, "depth below 1");
        return false;
    }
    if (s.filters == 0 || s.filters % 16 != 0) {
        setReason(reason, "filter count not a positive multiple of 16");
        return false;
    }
    const long long needed = weightFileSize(s.boardSize, s.depth, s.filters, s.valueHidden);
    if (needed > MAX_WEIGHT_FILE_BYTES) {
        setReason(reason, "network too large");
        return false;
    }
    if (length < needed) {
        setReason(reason, "file shorter than its header requires");
        return false;
    }
    if (shape != nullptr)
        *shape = s;
    return true;
}

char* readWeightFile(const char* path, long long* length) {
    if (path == nullptr || length == nullptr)
        return nullptr;
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return nullptr;
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    file.seekg(0, std::ios::beg);
    if (!file || size < 0)
        return nullptr;
    char* data = new (std::nothrow) char[size > 0 ? size : 1];
    if (data == nullptr)
        return nullptr;
    if (!file.read(data, size)) {
        delete[] data;
        return nullptr;
    }
    *length = size;
    return data;
}

WeightSet makeZeroWeightSet(int boardSize, int depth, int filters, int valueHidden) {
    WeightSet set;
    if (!buildable(boardSize, depth, filters, valueHidden))
        return set;
    const SectionCounts counts = sectionCounts(boardSize, depth, filters, valueHidden);
    set.firstLayer.assign(counts.section[0], 0.0f);
    set.hiddenLayers.assign(counts.section[1], 0.0f);
    set.policyFeatureLayer.assign(counts.section[2], 0.0f);
    set.policyLayer.assign(counts.section[3], 0.0f);
    set.valueConvLayer.assign(counts.section[4], 0.0f);
    set.valueLayer.assign(counts.section[5], 0.0f);
    return set;
}

std::vector<char> makeWeightImage(int boardSize, int depth, int filters, int valueHidden,
                                  const WeightSet& weights) {
    if (!buildable(boardSize, depth, filters, valueHidden))
        return {};
    const SectionCounts             counts = sectionCounts(boardSize, depth, filters, valueHidden);
    const std::vector<float>* const sections[] = {
        &weights.firstLayer,  &weights.hiddenLayers,   &weights.policyFeatureLayer,
        &weights.policyLayer, &weights.valueConvLayer, &weights.valueLayer};
    for (int i = 0; i < 6; ++i)
        if (static_cast<long long>(sections[i]->size()) != counts.section[i])
            return {};

    std::vector<char> image(WEIGHT_HEADER_BYTES, 0);
    image.reserve(weightFileSize(boardSize, depth, filters, valueHidden));
    image[0] = static_cast<char>(boardSize);
    image[1] = static_cast<char>(depth);
    image[2] = static_cast<char>(filters & 255);
    image[3] = static_cast<char>(filters >> 8);
    image[4] = static_cast<char>(valueHidden & 255);
    image[5] = static_cast<char>(valueHidden >> 8);
    for (const std::vector<float>* section : sections)
        appendSection(&image, *section);
    return image;
}

std::vector<char> makeRandomWeightImage(int boardSize, int depth, int filters, int valueHidden,
                                        unsigned seed) {
    if (!buildable(boardSize, depth, filters, valueHidden))
        return {};
    const long long cells = static_cast<long long>(boardSize) * boardSize;
    WeightDrawer    drawer(seed);
    WeightSet       set;

    drawConvolution(&drawer, &set.firstLayer, filters, 25 * 3);
    for (int layer = 1; layer < depth; ++layer)
        drawConvolution(&drawer, &set.hiddenLayers, filters, 9LL * filters);
    drawConvolution(&drawer, &set.policyFeatureLayer, filters, 9LL * filters);

    // Policy logits stay near unit scale so the softmax is neither flat nor
    // a spike.
    drawer.fill(&set.policyLayer, cells, BIAS_DEVIATION);
    drawer.fill(&set.policyLayer, filters * cells, std::sqrt(1.0f / static_cast<float>(filters)));

    drawConvolution(&drawer, &set.valueConvLayer, 2, filters);

    drawer.fill(&set.valueLayer, 1, BIAS_DEVIATION);
    drawer.fill(&set.valueLayer, valueHidden,
                std::sqrt(1.0f / static_cast<float>(valueHidden > 0 ? valueHidden : 1)));
    for (int h = 0; h < valueHidden; ++h) {
        drawer.fill(&set.valueLayer, 1, BIAS_DEVIATION);
        drawer.fill(&set.valueLayer, 2 * cells, heDeviation(2 * cells));
    }
    return makeWeightImage(boardSize, depth, filters, valueHidden, set);
}

bool writeWeightFile(const char* path, const std::vector<char>& image) {
    if (path == nullptr)
        return false;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file)
        return false;
    file.write(image.data(), static_cast<std::streamsize>(image.size()));
    file.close();
    return !file.fail();
}

} // namespace depnn
