#pragma once

#include "search/Move.h"

namespace mcts {

class Tree;
class NNCache;
class Search;

// The engine object the protocol front end drives. It holds the game as the
// engine knows it, owns the search machinery (node pool, evaluation cache and
// search, which owns the network), budgets the thinking time and picks the
// move. All large memory is taken in the constructor; later commands only
// re-root the tree.
class LearningPlayer {
  public:
    int      maxNodes;                      // node limit handed to the tree
    int      sign   = 0;                    // own side: 1 CROSS, -1 CIRCLE, 0 not yet known
    Tree*    tree   = nullptr;              // owned
    NNCache* cache  = nullptr;              // owned
    Search*  search = nullptr;              // owned; owns the network once weights are loaded
    int      boardSize;                     // rows = columns
    int**    board               = nullptr; // owned; the game position
    float**  distribution        = nullptr; // owned; root visit shares after the last search
    float    rootWinRate         = 0;       // own winning rate at the root after the last search
    int      stoneCount          = 0;    // successful updateBoard calls since the board was emptied
    int      timeoutTurn         = 3000; // ms per move
    int      timeoutMatch        = 1000000000; // ms per match
    int      timeLeft            = 1000000000; // ms of match time still available
    int      extensionCount      = 0;          // unclear-position extensions in this move
    int      losingExtensionUsed = 0;          // 1 once the losing extension was granted this move
    int      startTime           = 0;          // tick count at which the current command arrived

    LearningPlayer(int boardSize, int maxNodes);
    ~LearningPlayer();
    LearningPlayer(const LearningPlayer&)            = delete;
    LearningPlayer& operator=(const LearningPlayer&) = delete;

    // Takes only 1 or -1; anything else leaves the side as it is.
    void setSign(int s);

    // Gives a weight-file image to the network: builds it the first time,
    // reloads it afterwards. False when the image is refused; the weights
    // loaded before (if any) then stay. The caller keeps `data`.
    bool loadFromChar(const char* data, long long length);
    bool hasNetwork() const;

    // Empties the tree and the board for a new game; side, cache, network and
    // time fields stay.
    void START();
    void clearBoard();

    // Places the stone if it lies on the board on an empty cell.
    bool updateBoard(const Move* m);
    // A random empty cell with the own sign, or (-1, -1, 0) on a full board.
    void getRandomMove(Move* m);

    // The three ways a move is asked for. Each writes the engine's move into
    // `answer`, which the caller has set to (-1, -1, 0).
    void BEGIN(Move* answer);
    void TURN(Move* answer, Move* opponentMove);
    void BOARD(Move* answer, Move** stones, int count);

    // Time management and move choice.
    void  setTimeouts(int timeoutTurn, int timeoutMatch, int timeLeft);
    void  setStartTime(int ticks);
    int   manageTime();
    bool  extendSearch(int& budget);
    float getDistribution(float** out);
    void  getMove(Move* m);

    // Banner, search status and closing rule on standard output.
    void printData() const;

  private:
    void takeSideFromStones();
    int  countEmptyCells() const;
    int  stepOfTimeLeft() const;
};

} // namespace mcts
