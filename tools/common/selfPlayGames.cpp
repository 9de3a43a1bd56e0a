#include "tools/common/selfPlayGames.h"

#include "tools/common/openings.h"

#include <cstdlib>
#include <random>

namespace tools {

namespace {

void seedRuntime(uint64_t seed) {
    std::srand(static_cast<unsigned>(seed ^ (seed >> 32)));
}

// The opening of a self-play game: nothing, or a few random central stones.
std::vector<Stone> selfPlayOpening(const SelfPlaySettings& settings, std::mt19937_64* rng) {
    if (settings.maxOpeningStones < 1 ||
        std::uniform_real_distribution<double>(0, 1)(*rng) < settings.emptyStart)
        return {};
    const int count = std::uniform_int_distribution<int>(1, settings.maxOpeningStones)(*rng);
    return randomOpening(count, rng);
}

std::vector<VisitCount> visitList(const SearchResult& result) {
    std::vector<VisitCount> list;
    for (int cell = 0; cell < kCellCount; ++cell) {
        if (result.visits[cell] <= 0)
            continue;
        VisitCount v;
        v.cell   = static_cast<uint16_t>(cell);
        v.visits = static_cast<uint16_t>(result.visits[cell] > 65535 ? 65535 : result.visits[cell]);
        list.push_back(v);
    }
    return list;
}

// Any empty cell, for the case where a search visited nothing.
int randomEmptyCell(const GameBoard& board, std::mt19937_64* rng) {
    std::vector<int> empty;
    for (int cell = 0; cell < kCellCount; ++cell)
        if (board.at(cell / kBoardSize, cell % kBoardSize) == 0)
            empty.push_back(cell);
    if (empty.empty())
        return -1;
    return empty[std::uniform_int_distribution<size_t>(0, empty.size() - 1)(*rng)];
}

} // namespace

uint64_t mixSeed(uint64_t seed, uint64_t index) {
    uint64_t z = seed + 0x9e3779b97f4a7c15ULL * (index + 1);
    z          = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z          = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

GameRecord playSelfPlayGame(uint64_t seed, uint32_t index, const SelfPlaySettings& settings,
                            SearchAgent* agent) {
    std::mt19937_64 rng(seed);
    seedRuntime(seed);
    std::bernoulli_distribution fullSearch(settings.fullShare);

    GameRecord game;
    game.index = index;
    agent->newGame();
    int sign = 1;
    for (const Stone& stone : selfPlayOpening(settings, &rng)) {
        agent->play(stone.row, stone.col, stone.sign);
        game.moves.push_back(static_cast<uint16_t>(stone.row * kBoardSize + stone.col));
        sign = -stone.sign;
    }
    game.opening = static_cast<int>(game.moves.size());

    SearchResult result;
    while (!agent->position().isFull() && agent->position().stoneCount() < settings.maxStones) {
        SearchedMove move;
        move.full = fullSearch(rng);
        agent->think(sign, move.full ? settings.fullSimulations : settings.fastSimulations,
                     move.full ? &settings.noise : nullptr, &rng, &result);
        move.value = result.rootValue;
        if (move.full)
            move.visits = visitList(result);
        const bool early = agent->position().stoneCount() < settings.temperatureStones;
        int        cell  = sampleByVisits(result, early ? settings.temperature : 0.0,
                                          settings.minVisitShare, &rng);
        if (cell < 0)
            cell = randomEmptyCell(agent->position(), &rng);
        game.searched.push_back(move);
        game.moves.push_back(static_cast<uint16_t>(cell));
        agent->play(cell / kBoardSize, cell % kBoardSize, sign);
        if (agent->position().makesFive(cell / kBoardSize, cell % kBoardSize)) {
            game.winner = sign;
            break;
        }
        sign = -sign;
    }
    return game;
}

int playArenaGame(uint64_t seed, const std::vector<Stone>& opening, int simulations, int maxStones,
                  SearchAgent* first, SearchAgent* second, int* moves) {
    std::mt19937_64 rng(seed);
    seedRuntime(seed);
    first->newGame();
    second->newGame();
    int sign = 1;
    for (const Stone& stone : opening) {
        first->play(stone.row, stone.col, stone.sign);
        second->play(stone.row, stone.col, stone.sign);
        sign = -stone.sign;
    }
    *moves = 0;
    SearchResult result;
    while (!first->position().isFull() && first->position().stoneCount() < maxStones) {
        SearchAgent* mover = sign == 1 ? first : second;
        mover->think(sign, simulations, nullptr, &rng, &result);
        int cell = result.bestCell;
        if (cell < 0)
            cell = randomEmptyCell(mover->position(), &rng);
        first->play(cell / kBoardSize, cell % kBoardSize, sign);
        second->play(cell / kBoardSize, cell % kBoardSize, sign);
        ++*moves;
        if (first->position().makesFive(cell / kBoardSize, cell % kBoardSize))
            return sign;
        sign = -sign;
    }
    return 0;
}

} // namespace tools
