// A brain that plays a uniformly random empty cell: the weakest possible
// opponent, for checking that a match driver and a stronger brain work. The
// generator is seeded from the clock so that games differ; an optional first
// argument fixes the seed.

#include "tools/common/brainProtocol.h"
#include "tools/common/protocolText.h"

#include "util/platform.h"

#include <iostream>
#include <random>

#include <unistd.h>

int main(int argc, char** argv) {
    int seed = tovu::getTickCount() ^ (static_cast<int>(getpid()) << 12);
    if (argc > 1)
        tools::parseInt(argv[1], &seed);
    std::mt19937         rng(static_cast<unsigned>(seed));
    tools::BrainProtocol protocol(
        [&rng](const tools::GameBoard& board, int, int* row, int* col) {
            const int empty = tools::kCellCount - board.stoneCount();
            if (empty <= 0)
                return false;
            int skip = std::uniform_int_distribution<int>(0, empty - 1)(rng);
            for (int cell = 0; cell < tools::kCellCount; ++cell) {
                const int r = cell / tools::kBoardSize, c = cell % tools::kBoardSize;
                if (board.at(r, c) == 0 && skip-- == 0) {
                    *row = r;
                    *col = c;
                    return true;
                }
            }
            return false;
        },
        "name=\"random\", version=\"1.0\", author=\"Quoribo team\", country=\"none\", "
        "www=\"none\", email=\"none\"");
    return tools::runBrainLoop(&protocol, std::cin, std::cout);
}
