// quoribo-netgen: writes a seeded random weight file, for tests, benchmarks
// and trying the engine without trained weights.

#include "network/deployedNN.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* const USAGE =
    "usage: quoribo-netgen OUT.bin [--size N] [--depth B] [--filters F] [--hidden H] [--seed S]\n"
    "  --size N     board side, even, 2..32 (default 20)\n"
    "  --depth B    trunk layers, 1..127 (default 6)\n"
    "  --filters F  channels, a multiple of 16, 16..65520 (default 32)\n"
    "  --hidden H   value-head hidden units, 0..65535 (default 32)\n"
    "  --seed S     random seed, 0..4294967295 (default 1)\n";

struct Options {
    const char* path        = nullptr;
    int         boardSize   = 20;
    int         depth       = 6;
    int         filters     = 32;
    int         valueHidden = 32;
    unsigned    seed        = 1;
};

// A whole decimal number within [low, high].
bool parseNumber(const char* text, long long low, long long high, long long* out) {
    if (text == nullptr || *text == '\0' || *text == '-' || *text == '+')
        return false;
    char* end                      = nullptr;
    errno                          = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || value > static_cast<unsigned long long>(high))
        return false;
    *out = static_cast<long long>(value);
    return *out >= low;
}

struct Flag {
    const char* name;
    long long   low, high;
};

bool parseArguments(int argc, char** argv, Options* options) {
    // clang-format off
    const Flag flags[] = {
        {"--size",    2, depnn::MAX_NETWORK_BOARD_SIZE},
        {"--depth",   1, 127},
        {"--filters", 16, 65520},
        {"--hidden",  0, 65535},
        {"--seed",    0, 4294967295LL},
    };
    // clang-format on
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] != '-') {
            if (options->path != nullptr) {
                std::fprintf(stderr, "quoribo-netgen: more than one output file given\n");
                return false;
            }
            options->path = arg;
            continue;
        }
        const Flag* flag = nullptr;
        for (const Flag& f : flags)
            if (std::strcmp(arg, f.name) == 0)
                flag = &f;
        if (flag == nullptr) {
            std::fprintf(stderr, "quoribo-netgen: unknown option '%s'\n", arg);
            return false;
        }
        long long value = 0;
        if (i + 1 >= argc || !parseNumber(argv[i + 1], flag->low, flag->high, &value)) {
            std::fprintf(stderr, "quoribo-netgen: %s needs a number in %lld..%lld\n", flag->name,
                         flag->low, flag->high);
            return false;
        }
        ++i;
        if (flag == &flags[0])
            options->boardSize = static_cast<int>(value);
        else if (flag == &flags[1])
            options->depth = static_cast<int>(value);
        else if (flag == &flags[2])
            options->filters = static_cast<int>(value);
        else if (flag == &flags[3])
            options->valueHidden = static_cast<int>(value);
        else
            options->seed = static_cast<unsigned>(value);
    }
    if (options->path == nullptr) {
        std::fprintf(stderr, "quoribo-netgen: no output file given\n");
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (!parseArguments(argc, argv, &options)) {
        std::fputs(USAGE, stderr);
        return 2;
    }
    if (options.boardSize % 2 != 0 || options.filters % 16 != 0) {
        std::fprintf(stderr, "quoribo-netgen: the board size must be even and the filter count a "
                             "multiple of 16\n");
        return 2;
    }
    const std::vector<char> image = depnn::makeRandomWeightImage(
        options.boardSize, options.depth, options.filters, options.valueHidden, options.seed);
    const char* reason = nullptr;
    if (image.empty() ||
        !depnn::checkWeightImage(image.data(), static_cast<long long>(image.size()), nullptr,
                                 &reason)) {
        std::fprintf(stderr, "quoribo-netgen: cannot build this network (%s)\n",
                     reason != nullptr ? reason : "over the size limit");
        return 2;
    }
    if (!depnn::writeWeightFile(options.path, image)) {
        std::fprintf(stderr, "quoribo-netgen: cannot write '%s'\n", options.path);
        return 1;
    }
    std::printf("wrote %s: %zu bytes, size %d depth %d filters %d hidden %d seed %u\n",
                options.path, image.size(), options.boardSize, options.depth, options.filters,
                options.valueHidden, options.seed);
    return 0;
}
