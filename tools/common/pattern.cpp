#include "tools/common/pattern.h"

#include <array>

namespace tools {

namespace {

// A line seen from one side: the eight cells within four steps of the centre
// (four before it, four after), each empty, own, or blocked (an opponent's
// stone or the board's edge). The centre holds the stone being judged.
constexpr int kReach      = 4;
constexpr int kLineLength = 2 * kReach + 1;
constexpr int kKeyCount   = 6561; // 3^8
enum LineCell : int { kEmpty = 0, kOwn = 1, kBlocked = 2 };

constexpr int kDirections[4][2] = {{0, 1}, {1, 0}, {1, 1}, {1, -1}};

int keyOf(const int* line) {
    int key = 0;
    for (int i = kLineLength - 1; i >= 0; --i)
        if (i != kReach)
            key = key * 3 + line[i];
    return key;
}

bool fiveThroughCentre(const int* line) {
    int run = 1;
    for (int i = kReach - 1; i >= 0 && line[i] == kOwn; --i)
        ++run;
    for (int i = kReach + 1; i < kLineLength && line[i] == kOwn; ++i)
        ++run;
    return run >= 5;
}

// One step weaker: what a shape was one stone earlier.
Shape stepDown(Shape shape) {
    switch (shape) {
    case Shape::Five:
        return Shape::Four;
    case Shape::OpenFour:
        return Shape::OpenThree;
    case Shape::Four:
        return Shape::Three;
    case Shape::OpenThree:
        return Shape::OpenTwo;
    case Shape::Three:
        return Shape::Two;
    case Shape::None:
        return Shape::None;
    default:
        return Shape::One;
    }
}

class ShapeTable {
  public:
    ShapeTable() {
        known.fill(false);
        int line[kLineLength];
        for (int key = 0; key < kKeyCount; ++key) {
            decode(key, line);
            classify(line);
        }
    }

    Shape operator[](int key) const { return shapes[key]; }

  private:
    static void decode(int key, int* line) {
        for (int i = 0; i < kLineLength; ++i) {
            if (i == kReach) {
                line[i] = kOwn;
                continue;
            }
            line[i] = key % 3;
            key /= 3;
        }
    }

    // Five: the centre is in five or more. Fours count the empty cells that
    // would complete a five through the centre. Weaker shapes are the best
    // shape one more own stone could reach, stepped down once.
    Shape classify(int* line) {
        const int key = keyOf(line);
        if (known[key])
            return shapes[key];
        Shape result = Shape::None;
        if (fiveThroughCentre(line)) {
            result = Shape::Five;
        } else {
            int completions = 0;
            for (int i = 0; i < kLineLength; ++i) {
                if (line[i] != kEmpty)
                    continue;
                line[i] = kOwn;
                completions += fiveThroughCentre(line) ? 1 : 0;
                line[i] = kEmpty;
            }
            if (completions >= 2) {
                result = Shape::OpenFour;
            } else if (completions == 1) {
                result = Shape::Four;
            } else {
                for (int i = 0; i < kLineLength; ++i) {
                    if (line[i] != kEmpty)
                        continue;
                    line[i]           = kOwn;
                    const Shape grown = stepDown(classify(line));
                    line[i]           = kEmpty;
                    if (grown > result)
                        result = grown;
                }
            }
        }
        known[key]  = true;
        shapes[key] = result;
        return result;
    }

    std::array<Shape, kKeyCount> shapes{};
    std::array<bool, kKeyCount>  known{};
};

const ShapeTable& shapeTable() {
    static const ShapeTable table; // built once, thread-safe
    return table;
}

// The keys of the line through (row, col) for the side `sign` and for its
// opponent, computed together from one walk along the line.
void lineKeys(const GameBoard& board, int row, int col, int sign, int dir, int* ownKey,
              int* oppKey) {
    const int dr  = kDirections[dir][0];
    const int dc  = kDirections[dir][1];
    int       own = 0, opp = 0;
    for (int k = kReach; k >= -kReach; --k) {
        if (k == 0)
            continue;
        const int r = row + k * dr, c = col + k * dc;
        int       ownCell = kBlocked, oppCell = kBlocked;
        if (onBoard(r, c)) {
            const int v = board.at(r, c);
            ownCell     = v == 0 ? kEmpty : (v == sign ? kOwn : kBlocked);
            oppCell     = v == 0 ? kEmpty : (v == sign ? kBlocked : kOwn);
        }
        own = own * 3 + ownCell;
        opp = opp * 3 + oppCell;
    }
    *ownKey = own;
    *oppKey = opp;
}

struct CellShapes {
    Shape own[4];
    Shape opp[4];
};

CellShapes shapesAt(const GameBoard& board, int row, int col, int sign) {
    const ShapeTable& table = shapeTable();
    CellShapes        shapes;
    for (int d = 0; d < 4; ++d) {
        int own = 0, opp = 0;
        lineKeys(board, row, col, sign, d, &own, &opp);
        shapes.own[d] = table[own];
        shapes.opp[d] = table[opp];
    }
    return shapes;
}

struct Weights {
    double shape[9];
    double doubleFour, fourThree, doubleThree;
};

// Own open four and double four outweigh everything else together, so step 3
// of the order holds; defence of the opponent's open-four point comes next.
// clang-format off
constexpr Weights kAttack  = {{0, 2, 10, 40, 60, 400, 500, 100000, 0}, 100000, 20000, 8000};
constexpr Weights kDefence = {{0, 1,  6, 30, 40, 300, 350,   5000, 0},   5000,  3000, 2500};
// clang-format on

double shapeScore(const Shape* shapes, const Weights& w) {
    double score = 0;
    int    fours = 0, openThrees = 0;
    for (int d = 0; d < 4; ++d) {
        score += w.shape[static_cast<int>(shapes[d])];
        fours += shapes[d] == Shape::Four || shapes[d] == Shape::OpenFour;
        openThrees += shapes[d] == Shape::OpenThree;
    }
    if (fours >= 2)
        score += w.doubleFour;
    else if (fours == 1 && openThrees >= 1)
        score += w.fourThree;
    else if (openThrees >= 2)
        score += w.doubleThree;
    return score;
}

bool hasShape(const Shape* shapes, Shape wanted) {
    for (int d = 0; d < 4; ++d)
        if (shapes[d] == wanted)
            return true;
    return false;
}

bool nearStone(const GameBoard& board, int row, int col, int distance) {
    for (int r = row - distance; r <= row + distance; ++r)
        for (int c = col - distance; c <= col + distance; ++c)
            if (onBoard(r, c) && board.at(r, c) != 0)
                return true;
    return false;
}

// A faint pull towards the centre breaks ties between otherwise equal cells.
double centreBias(int row, int col) {
    const double mid = (kBoardSize - 1) / 2.0;
    const double dr = row - mid, dc = col - mid;
    return -0.001 * (dr * dr + dc * dc);
}

} // namespace

PatternPlayer::PatternPlayer(uint64_t seedValue, double randomnessValue)
    : rng(seedValue), randomness(randomnessValue < 0.0 ? 0.0 : randomnessValue) {
    shapeTable();
}

Shape PatternPlayer::shapeAt(const GameBoard& board, int row, int col, int sign, int dir) {
    if (!board.isEmpty(row, col) || dir < 0 || dir > 3)
        return Shape::None;
    int own = 0, opp = 0;
    lineKeys(board, row, col, sign, dir, &own, &opp);
    return shapeTable()[own];
}

double PatternPlayer::cellScore(const GameBoard& board, int row, int col, int sign) {
    if (!board.isEmpty(row, col))
        return -1e18;
    const CellShapes shapes = shapesAt(board, row, col, sign);
    return shapeScore(shapes.own, kAttack) + shapeScore(shapes.opp, kDefence) +
           centreBias(row, col);
}

bool PatternPlayer::pickRandomly(int count) {
    return randomness > 0.0 && count > 1;
}

int PatternPlayer::drawIndex(int count) {
    if (!pickRandomly(count))
        return 0;
    return static_cast<int>(std::uniform_int_distribution<int>(0, count - 1)(rng));
}

bool PatternPlayer::chooseMove(const GameBoard& board, int sign, int* row, int* col) {
    if (board.isFull())
        return false;

    if (board.stoneCount() == 0) {
        // Opening move: the centre, or one of the sixteen cells around it.
        const int low = kBoardSize / 2 - 2;
        int       r = kBoardSize / 2 - 1, c = kBoardSize / 2 - 1;
        if (randomness > 0.0) {
            r = low + drawIndex(4);
            c = low + drawIndex(4);
        }
        *row = r;
        *col = c;
        return true;
    }

    int    ownFives[kCellCount], oppFives[kCellCount], candidates[kCellCount];
    double scores[kCellCount];
    int    ownFiveCount = 0, oppFiveCount = 0;
    double best = -1e18;
    for (int r = 0; r < kBoardSize; ++r) {
        for (int c = 0; c < kBoardSize; ++c) {
            const int cell = r * kBoardSize + c;
            scores[cell]   = -1e18;
            if (board.at(r, c) != 0)
                continue;
            const CellShapes shapes = shapesAt(board, r, c, sign);
            if (hasShape(shapes.own, Shape::Five))
                ownFives[ownFiveCount++] = cell;
            if (hasShape(shapes.opp, Shape::Five))
                oppFives[oppFiveCount++] = cell;
            // Cells far from every stone only ever make Ones; leaving them out
            // keeps random picks near the fight.
            if (!nearStone(board, r, c, 2))
                continue;
            scores[cell] = shapeScore(shapes.own, kAttack) + shapeScore(shapes.opp, kDefence) +
                           centreBias(r, c);
            if (scores[cell] > best)
                best = scores[cell];
        }
    }

    int chosen = -1;
    if (ownFiveCount > 0) {
        chosen = ownFives[drawIndex(ownFiveCount)];
    } else if (oppFiveCount > 0) {
        // Every five-point must be blocked; with several the game is lost
        // anyway, so take the one that also serves best otherwise.
        chosen = oppFives[0];
        for (int i = 1; i < oppFiveCount; ++i)
            if (scores[oppFives[i]] > scores[chosen])
                chosen = oppFives[i];
    } else {
        // The threshold keeps randomness inside the forcing tiers: a winning
        // open four (>= 100000) stays among winning moves for randomness < 0.8.
        const double threshold = best - randomness * (best > 0 ? best : 0);
        int          count     = 0;
        for (int cell = 0; cell < kCellCount; ++cell)
            if (scores[cell] > -1e17 && scores[cell] >= threshold)
                candidates[count++] = cell;
        if (count == 0) {
            // Stones exist but no empty cell lies near any of them: fill the
            // first empty cell.
            for (int cell = 0; cell < kCellCount && count == 0; ++cell)
                if (board.at(cell / kBoardSize, cell % kBoardSize) == 0)
                    candidates[count++] = cell;
        }
        chosen = candidates[0];
        if (pickRandomly(count)) {
            chosen = candidates[drawIndex(count)];
        } else {
            for (int i = 1; i < count; ++i)
                if (scores[candidates[i]] > scores[chosen])
                    chosen = candidates[i];
        }
    }
    *row = chosen / kBoardSize;
    *col = chosen % kBoardSize;
    return true;
}

} // namespace tools
