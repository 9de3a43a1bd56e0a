// A brain that plays the tactical teacher through the protocol: the pattern
// teacher with the solver's VCFs and refutations first. It plays
// deterministically but for where a search stops at the move's time budget.

#include "tools/common/brainProtocol.h"
#include "tools/solver/tacticalPlayer.h"

#include <iostream>

namespace {

// Three quarters of the turn (half a second until INFO timeout_turn comes):
// every search stops at this budget, so the answer keeps well inside the turn
// even on a loaded machine.
int budgetFor(int turnMs) {
    return turnMs < 0 ? 500 : turnMs * 3 / 4;
}

} // namespace

int main() {
    solver::TacticalPlayer teacher(0, 0.0, budgetFor(-1));
    tools::BrainProtocol*  self = nullptr;
    tools::BrainProtocol   protocol(
        [&teacher, &self](const tools::GameBoard& board, int sign, int* row, int* col) {
            teacher.setBudget(budgetFor(self->turnTimeMs()));
            return teacher.chooseMove(board, sign, row, col);
        },
        "name=\"tactician\", version=\"1.0\", author=\"Quoribo team\", country=\"none\", "
          "www=\"none\", email=\"none\"");
    self = &protocol;
    return tools::runBrainLoop(&protocol, std::cin, std::cout);
}
