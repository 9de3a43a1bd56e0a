// The shipped brain (its network.bin beside it) must find the immediate wins
// and the forced blocks of tests/tactics/positions.txt when asked through the
// protocol with a short move time. scripts/tactics.py runs the whole suite,
// open fours included, with longer times.

#include "brainProcess.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

// The suite is held to one second per move, the pace it is measured at; a
// shorter turn leaves the search too few simulations when other tests share
// the processor. Sanitizer builds slow the network down by an order of
// magnitude, so the search sees only a fraction of its usual simulations:
// there the run checks that every position is answered cleanly, and the score
// is held in release builds only.
constexpr int turnMs = 1000;
#ifdef __SANITIZE_ADDRESS__
constexpr bool holdScore = false;
#else
constexpr bool holdScore = true;
#endif

constexpr int    boardSize       = 20;
constexpr double requiredCorrect = 0.95;

using Cell = std::pair<int, int>;

struct Position {
    std::string              group;
    std::string              name;
    char                     side = 'X'; // the side to move: 'X' (CROSS) or 'O' (CIRCLE)
    std::vector<std::string> rows;
    std::set<Cell>           answers;
};

bool parseCell(const std::string& text, Cell* cell) {
    int  consumed = 0;
    char tail     = 0;
    if (std::sscanf(text.c_str(), "%d,%d%n%c", &cell->first, &cell->second, &consumed, &tail) != 2)
        return false;
    return consumed == static_cast<int>(text.size()) && cell->first >= 0 &&
           cell->first < boardSize && cell->second >= 0 && cell->second < boardSize;
}

// Reads the positions file; an empty result with *error set when it is malformed.
std::vector<Position> readPositions(const std::string& path, std::string* error) {
    std::ifstream            file(path);
    std::vector<std::string> lines;
    std::string              line;
    while (std::getline(file, line))
        if (!line.empty() && line[0] != '#')
            lines.push_back(line);
    if (lines.empty())
        *error = "no positions in " + path;

    std::vector<Position> positions;
    for (size_t i = 0; i < lines.size() && error->empty(); i += boardSize + 2) {
        Position           p;
        std::istringstream header(lines[i]);
        std::string        side, extra;
        header >> p.group >> p.name >> side;
        if (p.name.empty() || (side != "X" && side != "O") || (header >> extra) ||
            i + boardSize + 1 >= lines.size()) {
            *error = "bad position header: " + lines[i];
            break;
        }
        p.side = side[0];
        for (int r = 0; r < boardSize; ++r) {
            const std::string& row = lines[i + 1 + r];
            if (row.size() != boardSize || row.find_first_not_of(".XO") != std::string::npos)
                *error = p.name + ": bad board line " + row;
            p.rows.push_back(row);
        }
        std::istringstream answers(lines[i + 1 + boardSize]);
        std::string        word;
        answers >> word;
        Cell cell;
        bool readable = word == "answers";
        while (readable && answers >> extra)
            if ((readable = parseCell(extra, &cell)))
                p.answers.insert(cell);
        if (!readable || p.answers.empty())
            *error = p.name + ": bad answers line " + lines[i + 1 + boardSize];
        positions.push_back(p);
    }
    if (!error->empty())
        positions.clear();
    return positions;
}

// Whether a stone of side on the empty cell makes five or more in a row.
bool completesFive(const Position& p, Cell cell, char side) {
    if (p.rows[cell.first][cell.second] != '.')
        return false;
    const int directions[4][2] = {{0, 1}, {1, 0}, {1, 1}, {1, -1}};
    for (const auto& d : directions) {
        int length = 1;
        for (int sign : {1, -1}) {
            int r = cell.first + sign * d[0], c = cell.second + sign * d[1];
            while (r >= 0 && r < boardSize && c >= 0 && c < boardSize && p.rows[r][c] == side) {
                ++length;
                r += sign * d[0];
                c += sign * d[1];
            }
        }
        if (length >= 5)
            return true;
    }
    return false;
}

// The BOARD command for a position: stones alternately CROSS and CIRCLE,
// starting with CROSS as the brain expects; the brain plays the side to move,
// so its stones get field 1 and the opponent's field 2.
std::string boardCommand(const Position& p) {
    std::vector<Cell> crosses, circles;
    for (int r = 0; r < boardSize; ++r)
        for (int c = 0; c < boardSize; ++c)
            if (p.rows[r][c] != '.')
                (p.rows[r][c] == 'X' ? crosses : circles).push_back({r, c});
    auto stone = [&](Cell cell, char side) {
        return std::to_string(cell.first) + "," + std::to_string(cell.second) +
               (side == p.side ? ",1\n" : ",2\n");
    };
    std::string command = "BOARD\n";
    for (size_t k = 0; k < crosses.size(); ++k) {
        command += stone(crosses[k], 'X');
        if (k < circles.size())
            command += stone(circles[k], 'O');
    }
    return command + "DONE\n";
}

std::string cells(const std::set<Cell>& set) {
    std::string text;
    for (const Cell& cell : set)
        text += (text.empty() ? "" : " ") + std::to_string(cell.first) + "," +
                std::to_string(cell.second);
    return text;
}

class Tactics : public ::testing::Test {
  protected:
    std::vector<Position> positions;

    void SetUp() override {
        std::string error;
        for (const Position& p :
             readPositions(QUORIBO_SOURCE_DIR "/tests/tactics/positions.txt", &error))
            if (p.group == "five" || p.group == "block")
                positions.push_back(p);
        ASSERT_EQ(error, "");
    }
};

// Guards the answers this suite scores against: a misplaced stone or a
// mistyped answer would otherwise show up as a weak brain.
TEST_F(Tactics, PositionsAreConsistent) {
    int fives = 0, blocks = 0;
    for (const Position& p : positions) {
        SCOPED_TRACE(p.name);
        int crosses = 0, circles = 0;
        for (const std::string& row : p.rows)
            for (char ch : row) {
                crosses += ch == 'X';
                circles += ch == 'O';
            }
        EXPECT_EQ(crosses - circles, p.side == 'X' ? 0 : 1);
        const char     other = p.side == 'X' ? 'O' : 'X';
        std::set<Cell> ownFives, theirFives;
        for (int r = 0; r < boardSize; ++r)
            for (int c = 0; c < boardSize; ++c) {
                if (completesFive(p, {r, c}, p.side))
                    ownFives.insert({r, c});
                if (completesFive(p, {r, c}, other))
                    theirFives.insert({r, c});
            }
        if (p.group == "five") {
            ++fives;
            EXPECT_EQ(cells(p.answers), cells(ownFives));
        } else {
            ++blocks;
            EXPECT_EQ(cells(ownFives), "");
            EXPECT_EQ(p.answers.size(), 1u);
            EXPECT_EQ(cells(p.answers), cells(theirFives));
        }
    }
    EXPECT_GE(fives, 12);
    EXPECT_GE(blocks, 12);
}

TEST_F(Tactics, BrainWinsAndBlocks) {
    ASSERT_FALSE(positions.empty());
    std::string transcript = "START 20\nINFO timeout_turn " + std::to_string(turnMs) +
                             "\nINFO timeout_match 0\nINFO time_left 2147483647\n";
    for (const Position& p : positions)
        transcript += boardCommand(p);
    transcript += "END\n";

    const int deadlineMs             = static_cast<int>(positions.size()) * turnMs * 3 + 60000;
    const brainprocess::BrainRun run = brainprocess::runBrain(transcript, deadlineMs);
    ASSERT_FALSE(run.timedOut);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.err, "");

    std::istringstream       out(run.out);
    std::vector<std::string> answers;
    std::string              line;
    while (std::getline(out, line))
        answers.push_back(line);
    ASSERT_EQ(answers.size(), positions.size() + 1) << run.out;
    ASSERT_EQ(answers[0], "OK") << "the shipped network.bin did not load";

    // Per group: correct answers, positions, and the wrong ones listed.
    const char* names[2]   = {"five", "block"};
    int         correct[2] = {0, 0}, total[2] = {0, 0};
    std::string wrong[2];
    for (size_t i = 0; i < positions.size(); ++i) {
        const Position& p     = positions[i];
        const int       group = p.group == names[0] ? 0 : 1;
        Cell            move;
        ++total[group];
        if (parseCell(answers[i + 1], &move) && p.answers.count(move) != 0)
            ++correct[group];
        else
            wrong[group] += "  " + p.name + ": answered " + answers[i + 1] + ", expected " +
                            cells(p.answers) + "\n";
    }
    for (int g = 0; g < 2 && holdScore; ++g)
        EXPECT_GE(correct[g], requiredCorrect * total[g])
            << names[g] << ": " << correct[g] << " of " << total[g] << " correct; wrong answers:\n"
            << wrong[g];
}

} // namespace
