#include "network/weightFile.h"

#include "network/encoding.h"

#include <cmath>
#include <cstring>
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

// Memory that loading a network of these dimensions takes: its arrays and
// the file image; -1 for dimensions no file can have.
long long loadingBytes(int boardSize, int depth, int filters, int valueHidden) {
    const long long arrays = networkMemoryBytes(boardSize, depth, filters, valueHidden);
    return arrays < 0 ? -1 : arrays + weightFileSize(boardSize, depth, filters, valueHidden);
}

// Dimensions a writer can produce: the header holds N and B as signed bytes,
// and the network must stay within the memory cap.
bool buildable(int boardSize, int depth, int filters, int valueHidden) {
    if (boardSize > 127 || depth > 127)
        return false;
    const long long bytes = loadingBytes(boardSize, depth, filters, valueHidden);
    return bytes > 0 && bytes <= MAX_NETWORK_MEMORY_BYTES;
}

void setReason(const char** reason, const char* text) {
    if (reason != nullptr)
        *reason = text;
}

constexpr long long POINTER_BYTES = sizeof(void*);

// Bytes of newRows(count, length): the row pointers and one block.
long long rowsBytes(long long count, long long length, long long elementBytes) {
    return count * POINTER_BYTES + count * length * elementBytes;
}

// A Conv5x5 or Conv3x3: weight and patch rows in float and 16 bits, the
// fixed-point biases, the kernels as loaded and the biases.
long long convolutionBytes(long long cells, long long inputs, long long outputs, long long kernel,
                           long long rowLength) {
    return rowsBytes(outputs, rowLength, 4) + rowsBytes(cells, rowLength, 4) +
           rowsBytes(outputs, rowLength, 2) + rowsBytes(cells, rowLength, 2) + outputs * 4 +
           outputs * POINTER_BYTES + outputs * rowsBytes(inputs, kernel, 4) + outputs * 4;
}

// Every header check except the image length: the dimensions must suit the
// kernels and the network must fit under the memory cap.
bool checkHeader(const char* data, long long length, NetworkShape* out, const char** reason) {
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
    if (loadingBytes(s.boardSize, s.depth, s.filters, s.valueHidden) > MAX_NETWORK_MEMORY_BYTES) {
        setReason(reason, "network and image need more than 32 MiB");
        return false;
    }
    *out = s;
    return true;
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

long long networkMemoryBytes(int boardSize, int depth, int filters, int valueHidden) {
    if (!dimensionsInRange(boardSize, depth, filters, valueHidden) || depth < 1)
        return -1;
    const long long n       = boardSize;
    const long long f       = filters;
    const long long h       = valueHidden;
    const long long cells   = n * n;
    const long long entries = (n + 2) * (n + 2);

    const long long first   = convolutionBytes(cells, 3, f, 25, (25 * 3 + 15) / 16 * 16);
    const long long conv3x3 = convolutionBytes(cells, f, f, 9, 9 * f);
    // B - 1 hidden layers and their pointer array, and the policy features.
    const long long trunk      = first + depth * conv3x3 + (depth - 1) * POINTER_BYTES;
    const long long policy     = rowsBytes(cells, f, 4) + cells * 4;
    const long long valueConv  = rowsBytes(2, f, 4) + 2 * 4;
    const long long valueLayer = rowsBytes(h, 2 * cells, 4) + 3 * h * 4;
    const long long buffers    = cells * 4 + 3 * POINTER_BYTES + 3 * rowsBytes(n + 4, n + 4, 4) +
                              rowsBytes(entries, f, 4) + rowsBytes(entries, f, 2) + 2 * cells * 4;
    return trunk + policy + valueConv + valueLayer + buffers;
}

bool checkWeightImage(const char* data, long long length, NetworkShape* shape,
                      const char** reason) {
    NetworkShape s{};
    if (!checkHeader(data, length, &s, reason))
        return false;
    if (length < weightFileSize(s.boardSize, s.depth, s.filters, s.valueHidden)) {
        setReason(reason, "file shorter than its header requires");
        return false;
    }
    if (shape != nullptr)
        *shape = s;
    return true;
}

char* readWeightFile(const char* path, long long* length, const char** reason) {
    setReason(reason, nullptr);
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

    // The header alone decides how much is read, and whether anything is.
    char                  header[WEIGHT_HEADER_BYTES];
    const std::streamsize headerBytes = size < WEIGHT_HEADER_BYTES ? size : WEIGHT_HEADER_BYTES;
    if (!file.read(header, headerBytes))
        return nullptr;
    NetworkShape shape{};
    if (!checkHeader(header, headerBytes, &shape, reason))
        return nullptr;
    const long long needed =
        weightFileSize(shape.boardSize, shape.depth, shape.filters, shape.valueHidden);
    if (size < needed) {
        setReason(reason, "file shorter than its header requires");
        return nullptr;
    }

    char* data = new (std::nothrow) char[needed];
    if (data == nullptr)
        return nullptr;
    std::memcpy(data, header, WEIGHT_HEADER_BYTES);
    if (!file.read(data + WEIGHT_HEADER_BYTES, needed - WEIGHT_HEADER_BYTES)) {
        delete[] data;
        return nullptr;
    }
    *length = needed;
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
