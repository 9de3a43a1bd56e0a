#pragma once

#include "tools/common/gameBoard.h"
#include "tools/common/searchAgent.h"
#include "tools/common/selfPlayRecords.h"

#include <cstdint>
#include <vector>

// Games between search agents: self-play games that become training records,
// and arena games between two networks for gating. Every game is fully
// determined by its seed: it seeds both the tool's own generator (openings,
// noise, temperature, which moves get a full search) and the C runtime's
// generator that the search draws its symmetries from. Agents are reused
// from game to game, and newGame() leaves nothing of the previous one.

namespace tools {

struct SelfPlaySettings {
    // Playout-cap randomisation: a `fullShare` of the moves get a full search
    // with root noise and are recorded as policy targets; the others get a
    // fast search without noise and only carry the game to its result.
    int       fullSimulations = 400;
    int       fastSimulations = 80;
    double    fullShare       = 0.25;
    RootNoise noise;
    // Moves played while fewer than `temperatureStones` stones stand are
    // drawn from the visit counts at `temperature`, among the moves with at
    // least `minVisitShare` of the best count; later moves are the brain's
    // choice, the most visited.
    int    temperatureStones = 10;
    double temperature       = 0.8;
    double minVisitShare     = 0.05;
    // A game starts from the empty board with this probability, otherwise
    // from 1 .. maxOpeningStones random stones near the centre.
    double emptyStart       = 0.25;
    int    maxOpeningStones = 4;
    // A game still open when this many stones stand is stopped and scored a
    // draw: such games are rare and cost many times an ordinary one.
    int maxStones = 200;
};

// Seed of game `index` in a run seeded with `seed` (splitmix64 of both), so
// neighbouring games share nothing.
uint64_t mixSeed(uint64_t seed, uint64_t index);

GameRecord playSelfPlayGame(uint64_t seed, uint32_t index, const SelfPlaySettings& settings,
                            SearchAgent* agent);

// Plays `first` (side 1, moving first after the opening's own stones) against
// `second` from `opening`, `simulations` per move, each choosing the most
// visited move. Returns 1 when side 1 wins, -1 when side -1 wins, 0 for a
// draw (a full board, or `maxStones` stones); `moves` gets the number of
// stones played after the opening.
int playArenaGame(uint64_t seed, const std::vector<Stone>& opening, int simulations, int maxStones,
                  SearchAgent* first, SearchAgent* second, int* moves);

} // namespace tools
