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
// The layers' loaders never compare an offset with the image length, so the
// network checks an image with checkWeightImage before building from it or
// reloading it. Writers here are for tools and tests.

#include <vector>

namespace depnn {

constexpr int WEIGHT_HEADER_BYTES = 64;

// Largest board side accepted.
constexpr int MAX_NETWORK_BOARD_SIZE = 32;

// Cap on the memory loading a network takes: its arrays (networkMemoryBytes)
// plus the file image they are built from. The brain's node pool and cache
// take about 165 MB and a tournament allows a brain 256 MB or less, so a
// network and its image must share what is left with the search's own
// growth. Every shape worth playing fits well under it: (20, 10, 64, 64)
// takes 19.6 MB, (20, 6, 32, 32) 5.4 MB.
constexpr long long MAX_NETWORK_MEMORY_BYTES = 32LL << 20;

// Bytes of a file with these dimensions (76492 for 20, 2, 16, 8), or -1 when
// a dimension is negative or above 65535, or the depth is below 1.
long long weightFileSize(int boardSize, int depth, int filters, int valueHidden);

// Bytes of all the arrays a QuoriboNetwork of these dimensions allocates
// (layers and buffers), or -1 under the same conditions as weightFileSize.
// It follows QuoriboNetwork::init and the layers' allocate: a new buffer
// there must be counted here, or the cap above no longer holds.
long long networkMemoryBytes(int boardSize, int depth, int filters, int valueHidden);

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
// kernels have no remainder loop), the network's arrays and its image fit
// under MAX_NETWORK_MEMORY_BYTES, and the image holds every section. Longer images
// are accepted; reserved header bytes are ignored. On success fills *shape
// (if not null); on failure sets *reason (if not null) to a short text.
bool checkWeightImage(const char* data, long long length, NetworkShape* shape, const char** reason);

// Reads a weight file for building a network: first its header, which must
// pass checkWeightImage's header checks, then, when the file is as long as
// the header requires, exactly the bytes of its sections (trailing bytes are
// never read). Returns a new[] array that the caller delete[]s and sets
// *length; nullptr when the file cannot be opened or read, or is refused, in
// which case *reason (if given) says why (null when the file cannot be
// opened). Nothing larger than the header is allocated for a refused file.
char* readWeightFile(const char* path, long long* length, const char** reason = nullptr);

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
// give a network above MAX_NETWORK_MEMORY_BYTES (likewise for the two below).
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
