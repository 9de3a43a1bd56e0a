#include "tools/solver/tacticalSuite.h"

#include <algorithm>
#include <sstream>

namespace solver {

namespace {

using tools::kBoardSize;
using tools::kCellCount;

constexpr const char* kNames[] = {"five", "block", "vcf-short", "vcf-long", "defend"};

// Small tables: one solver per position keeps every verdict reproducible.
constexpr int kSuiteTableBits = 16;

std::string cellText(int cell) {
    return std::to_string(cell / kBoardSize) + "," + std::to_string(cell % kBoardSize);
}

// The first moves of every VCF of `sign`, who has no five and faces none:
// fours after whose forced block a VCF remains, and double fours. False when
// a search ran out of its limits.
bool vcfFirstMoves(Solver* solver, const tools::GameBoard& position, int sign,
                   std::vector<int>* moves) {
    tools::GameBoard board = position;
    for (int cell = 0; cell < kCellCount; ++cell) {
        const int row = cell / kBoardSize, col = cell % kBoardSize;
        if (!board.place(row, col, sign))
            continue;
        const std::vector<int> fives = fiveCellsOf(board, sign);
        bool                   wins  = fives.size() > 1;
        if (fives.size() == 1) {
            const int blockRow = fives[0] / kBoardSize, blockCol = fives[0] % kBoardSize;
            board.place(blockRow, blockCol, -sign);
            const Verdict verdict = board.makesFive(blockRow, blockCol)
                                        ? Verdict::None
                                        : solver->vcf(board, sign, kSuiteLimits).verdict;
            board.remove(blockRow, blockCol);
            if (verdict == Verdict::Unknown) {
                board.remove(row, col);
                return false;
            }
            wins = verdict == Verdict::Win;
        }
        board.remove(row, col);
        if (wins)
            moves->push_back(cell);
    }
    return true;
}

} // namespace

const char* groupName(SuiteGroup group) {
    const int index = static_cast<int>(group);
    return index < kSuiteGroups ? kNames[index] : "none";
}

SuiteVerdict classifyPosition(const tools::GameBoard& board, int sign) {
    SuiteVerdict           verdict;
    const std::vector<int> own = fiveCellsOf(board, sign);
    if (!own.empty()) {
        verdict.group   = SuiteGroup::Five;
        verdict.answers = own;
        verdict.length  = 1;
        return verdict;
    }
    const std::vector<int> theirs = fiveCellsOf(board, -sign);
    if (theirs.size() == 1) {
        verdict.group   = SuiteGroup::Block;
        verdict.answers = theirs;
        verdict.length  = 1;
    }
    if (!theirs.empty())
        return verdict; // blocked, or lost to two fives
    Solver          solver(kSuiteTableBits);
    const VcfResult win = solver.vcf(board, sign, kSuiteLimits);
    if (win.verdict == Verdict::Win) {
        std::vector<int> moves;
        if (vcfFirstMoves(&solver, board, sign, &moves)) {
            verdict.group   = win.length() <= 4 ? SuiteGroup::VcfShort : SuiteGroup::VcfLong;
            verdict.answers = moves;
            verdict.length  = win.length();
        }
        return verdict;
    }
    if (win.verdict == Verdict::Unknown)
        return verdict;
    DefenceResult defence = solver.defences(board, sign, kSuiteLimits);
    if (defence.threatened && defence.exact && !defence.moves.empty()) {
        std::sort(defence.moves.begin(), defence.moves.end());
        verdict.group   = SuiteGroup::Defend;
        verdict.answers = defence.moves;
        verdict.length  = defence.threat.length();
    }
    return verdict;
}

bool readSuite(std::istream& in, std::vector<SuitePosition>* positions, std::string* error) {
    std::vector<std::pair<int, std::string>> lines;
    std::string                              text;
    for (int number = 1; std::getline(in, text); ++number)
        if (!text.empty() && text[0] != '#' && text.find_first_not_of(" \t\r") != std::string::npos)
            lines.emplace_back(number, text);
    auto fail = [error](int number, const std::string& why) {
        *error = "line " + std::to_string(number) + ": " + why;
        return false;
    };
    for (size_t i = 0; i < lines.size(); i += kBoardSize + 2) {
        std::istringstream header(lines[i].second);
        std::string        group, name, side, extra;
        header >> group >> name >> side;
        SuitePosition position;
        for (int g = 0; g < kSuiteGroups; ++g)
            if (group == kNames[g])
                position.group = static_cast<SuiteGroup>(g);
        if (position.group == SuiteGroup::None || name.empty() || (side != "X" && side != "O") ||
            (header >> extra))
            return fail(lines[i].first, "expected '<group> <name> X|O'");
        if (i + kBoardSize + 1 >= lines.size())
            return fail(lines[i].first, "position " + name + " is cut short");
        position.name = name;
        position.sign = side == "X" ? 1 : -1;
        for (int row = 0; row < kBoardSize; ++row) {
            const auto& [number, cells] = lines[i + 1 + row];
            if (cells.size() != static_cast<size_t>(kBoardSize) ||
                cells.find_first_not_of(".XO") != std::string::npos)
                return fail(number, "a board line has 20 of '.', 'X', 'O'");
            for (int col = 0; col < kBoardSize; ++col)
                if (cells[col] != '.')
                    position.board.place(row, col, cells[col] == 'X' ? 1 : -1);
        }
        const auto& [number, answerLine] = lines[i + 1 + kBoardSize];
        std::istringstream answers(answerLine);
        std::string        word;
        answers >> word;
        if (word != "answers")
            return fail(number, "expected 'answers r,c ...'");
        while (answers >> word) {
            int                row = -1, col = -1;
            char               comma = 0, tail = 0;
            std::istringstream cell(word);
            if (!(cell >> row >> comma >> col) || comma != ',' || (cell >> tail) ||
                !tools::onBoard(row, col))
                return fail(number, "bad answer '" + word + "'");
            position.answers.push_back(row * kBoardSize + col);
        }
        std::sort(position.answers.begin(), position.answers.end());
        if (position.answers.empty())
            return fail(number, "a position without answers");
        positions->push_back(position);
    }
    return true;
}

void writeSuitePosition(std::ostream& out, const SuitePosition& position) {
    out << groupName(position.group) << ' ' << position.name << ' '
        << (position.sign == 1 ? 'X' : 'O') << '\n';
    for (int row = 0; row < kBoardSize; ++row) {
        for (int col = 0; col < kBoardSize; ++col) {
            const int stone = position.board.at(row, col);
            out << (stone == 0 ? '.' : stone == 1 ? 'X' : 'O');
        }
        out << '\n';
    }
    out << "answers";
    for (int cell : position.answers)
        out << ' ' << cellText(cell);
    out << "\n\n";
}

std::vector<std::string> checkSuitePosition(const SuitePosition& position) {
    std::vector<std::string> faults;
    int                      balance = 0;
    bool                     five    = false;
    for (int cell = 0; cell < kCellCount; ++cell) {
        const int row = cell / kBoardSize, col = cell % kBoardSize;
        balance += position.board.at(row, col);
        five = five || (position.board.at(row, col) != 0 && position.board.makesFive(row, col));
    }
    if (balance != (position.sign == 1 ? 0 : 1))
        faults.push_back("the stone counts do not fit the side to move");
    if (five)
        faults.push_back("a five is already on the board");
    if (!faults.empty())
        return faults;
    const SuiteVerdict verdict = classifyPosition(position.board, position.sign);
    if (verdict.group != position.group)
        faults.push_back(std::string("the position is ") + groupName(verdict.group) + ", not " +
                         groupName(position.group));
    else if (verdict.answers != position.answers) {
        std::string answers;
        for (int cell : verdict.answers)
            answers += " " + cellText(cell);
        faults.push_back("the correct answers are" + answers);
    }
    return faults;
}

} // namespace solver
