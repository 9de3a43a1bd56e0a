// A brain that plays the tactical teacher through the protocol: the pattern
// teacher with the solver's VCFs and refutations first. It plays
// deterministically, so a match against it repeats exactly.

#include "tools/common/brainProtocol.h"
#include "tools/solver/tacticalPlayer.h"

#include <iostream>

int main() {
    // Half of the usual 1 s turn: every search stops at this budget, so the
    // answer keeps well inside the turn even on a loaded machine.
    constexpr int          kBudgetMs = 500;
    solver::TacticalPlayer teacher(0, 0.0, kBudgetMs);
    tools::BrainProtocol   protocol(
        [&teacher](const tools::GameBoard& board, int sign, int* row, int* col) {
            return teacher.chooseMove(board, sign, row, col);
        },
        "name=\"tactician\", version=\"1.0\", author=\"Quoribo team\", country=\"none\", "
          "www=\"none\", email=\"none\"");
    return tools::runBrainLoop(&protocol, std::cin, std::cout);
}
