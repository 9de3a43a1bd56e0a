// A brain that plays the pattern teacher through the protocol. It plays
// deterministically, so a match against it repeats exactly.

#include "tools/common/brainProtocol.h"
#include "tools/common/pattern.h"

#include <iostream>

int main() {
    tools::PatternPlayer teacher(0, 0.0);
    tools::BrainProtocol protocol(
        [&teacher](const tools::GameBoard& board, int sign, int* row, int* col) {
            return teacher.chooseMove(board, sign, row, col);
        },
        "name=\"pattern\", version=\"1.0\", author=\"Quoribo team\", country=\"none\", "
        "www=\"none\", email=\"none\"");
    return tools::runBrainLoop(&protocol, std::cin, std::cout);
}
