#pragma once

// The weight file: a 64-byte header (int8 boardSize N, int8 depth B, uint16
// filters F, uint16 valueHidden H, 58 reserved bytes) and six sections of
// 4-byte file weights:
//
//   1  Conv5x5 3 -> F          per output: bias, 3 x 25 kernel weights
//   2  B - 1 x Conv3x3 F -> F  per layer, per output: bias, F x 9 kernel weights
//   3  Conv3x3 F -> F          policy features, as one hidden layer
//   4  PolicyConv              N^2 biases, then per channel its N^2 per-cell weights
//   5  Conv1x1 F -> 2          per output: bias, F weights
//   6  ValueLayer              output bias, H output weights, per unit: bias, 2 N^2 weights
//
// The layers' loaders never compare an offset with the image length, so a
// caller checks an image with checkWeightImage before building a network
// from it. Writers here are for tools and tests.

#include <vector>

namespace depnn {

constexpr int WEIGHT_HEADER_BYTES = 64;

// Largest board side accepted, and the cap on an image's size: far beyond any
// useful network, small enough that building one always fits in memory.
constexpr int       MAX_NETWORK_BOARD_SIZE = 32;
constexpr long long MAX_WEIGHT_FILE_BYTES  = 1LL << 30;

// Bytes of a file with these dimensions (76492 for 20, 2, 16, 8), or -1 when
// a dimension is negative or above 65535, or the depth is below 1.
long long weightFileSize(int boardSize, int depth, int filters, int valueHidden);

struct NetworkShape {
    int boardSize;
    int depth;
    int filters;
    int valueHidden;
};

// Decodes the header. False, leaving *out alone, for a null image or one
// shorter than the header.
bool readNetworkShape(const char* data, long long length, NetworkShape* out);

// Whether a network can be built from the image: the header decodes, N is in
// 2..32 with N^2 even, B >= 1, F a positive multiple of 16 (the vector
// kernels have no remainder loop), and the image holds every section. Longer
// images are accepted; reserved header bytes are ignored. On success fills
// *shape (if not null); on failure sets *reason (if not null) to a short text.
bool checkWeightImage(const char* data, long long length, NetworkShape* shape, const char** reason);

// Reads a whole file into a new[] array that the caller delete[]s, and sets
// *length. nullptr when the file cannot be opened, sized, held or read.
char* readWeightFile(const char* path, long long* length);

// Float weights of every section, each vector in file order (see above).
struct WeightSet {
    std::vector<float> firstLayer;
    std::vector<float> hiddenLayers;
    std::vector<float> policyFeatureLayer;
    std::vector<float> policyLayer;
    std::vector<float> valueConvLayer;
    std::vector<float> valueLayer;
};

// All-zero weights of the right section sizes for these dimensions.
WeightSet makeZeroWeightSet(int boardSize, int depth, int filters, int valueHidden);

// The file image of these dimensions and weights: header (reserved bytes 0)
// and sections encoded with convertFloatToChar4. Empty when a section's size
// does not match the dimensions, or the dimensions do not fit a header or
// give an image above MAX_WEIGHT_FILE_BYTES (likewise for the two below).
std::vector<char> makeWeightImage(int boardSize, int depth, int filters, int valueHidden,
                                  const WeightSet& weights);

// A seeded random network: weights uniform with standard deviation
// sqrt(2 / fan-in) so activations keep their scale through the trunk, biases
// small. Same arguments, same bytes.
std::vector<char> makeRandomWeightImage(int boardSize, int depth, int filters, int valueHidden,
                                        unsigned seed);

// Writes the image to path, replacing the file. False on any failure.
bool writeWeightFile(const char* path, const std::vector<char>& image);

} // namespace depnn
