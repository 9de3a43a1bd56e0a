#include "tools/common/brainProtocol.h"

#include "tools/common/protocolText.h"

#include <istream>
#include <ostream>
#include <utility>

namespace tools {

namespace {

const char* const kNotStarted   = "ERROR no game started";
const char* const kInvalidMove  = "ERROR invalid move";
const char* const kNoMoveLeft   = "ERROR board is full";
const char* const kUnsupported  = "ERROR command not supported";
const char* const kUnknown      = "UNKNOWN command not recognized";
const char* const kBadBoardSize = "ERROR unsupported board size";

// The text after the command word, trimmed.
std::string argumentOf(const std::string& line) {
    const std::string text  = trim(line);
    const size_t      space = text.find_first_of(" \t");
    return space == std::string::npos ? std::string() : trim(text.substr(space));
}

} // namespace

BrainProtocol::BrainProtocol(MoveChooser moveChooser, std::string aboutLine)
    : chooser(std::move(moveChooser)), about(std::move(aboutLine)) {}

bool BrainProtocol::handleLine(const std::string& line, std::string* answer) {
    answer->clear();
    if (readingBoard) {
        boardLine(line, answer);
        return true;
    }
    const std::string cmd = commandWord(line);
    // clang-format off
    if      (cmd == "START")    start(line, answer);
    else if (cmd == "RESTART")  restart(answer);
    else if (cmd == "BEGIN")    begin(answer);
    else if (cmd == "TURN")     turn(line, answer);
    else if (cmd == "BOARD")    { if (started) { board.clear(); readingBoard = true; }
                                  else *answer = kNotStarted; }
    else if (cmd == "INFO")     info(line);
    else if (cmd == "ABOUT")    *answer = about;
    else if (cmd == "END")      return false;
    else if (cmd == "TAKEBACK" || cmd == "PLAY" || cmd == "RECSTART") *answer = kUnsupported;
    else                        *answer = kUnknown;
    // clang-format on
    return true;
}

// Only the time per move matters to the tool brains; other keys are ignored.
void BrainProtocol::info(const std::string& line) {
    const std::string text  = argumentOf(line);
    const size_t      space = text.find_first_of(" \t");
    int               value = 0;
    if (space != std::string::npos && text.substr(0, space) == "timeout_turn" &&
        parseInt(trim(text.substr(space)), &value) && value >= 0)
        turnMs = value;
}

void BrainProtocol::start(const std::string& line, std::string* answer) {
    int size = 0;
    if (!parseInt(argumentOf(line), &size) || size != kBoardSize) {
        *answer = kBadBoardSize;
        return;
    }
    started = true;
    board.clear();
    *answer = "OK";
}

void BrainProtocol::restart(std::string* answer) {
    if (!started) {
        *answer = kNotStarted;
        return;
    }
    board.clear();
    *answer = "OK";
}

void BrainProtocol::begin(std::string* answer) {
    if (!started) {
        *answer = kNotStarted;
        return;
    }
    board.clear();
    play(answer);
}

void BrainProtocol::turn(const std::string& line, std::string* answer) {
    if (!started) {
        *answer = kNotStarted;
        return;
    }
    int x = 0, y = 0;
    if (!parseCoordinates(argumentOf(line), &x, &y) || !board.place(x, y, -1)) {
        *answer = kInvalidMove;
        return;
    }
    play(answer);
}

// One line inside BOARD: "x,y,field" with field 1 for own stones and 2 for the
// opponent's, until DONE. Lines that do not fit an empty cell are skipped.
void BrainProtocol::boardLine(const std::string& line, std::string* answer) {
    if (commandWord(line) == "DONE") {
        readingBoard = false;
        play(answer);
        return;
    }
    const std::vector<std::string> fields = splitFields(trim(line), ',');
    int                            x = 0, y = 0, field = 0;
    if (fields.size() != 3 || !parseInt(fields[0], &x) || !parseInt(fields[1], &y) ||
        !parseInt(fields[2], &field))
        return;
    if (field == 1)
        board.place(x, y, 1);
    else if (field == 2)
        board.place(x, y, -1);
}

void BrainProtocol::play(std::string* answer) {
    int row = -1, col = -1;
    if (!chooser(board, 1, &row, &col) || !board.place(row, col, 1)) {
        *answer = kNoMoveLeft;
        return;
    }
    *answer = std::to_string(row) + "," + std::to_string(col);
}

int runBrainLoop(BrainProtocol* protocol, std::istream& in, std::ostream& out) {
    std::string line, answer;
    while (std::getline(in, line)) {
        const bool more = protocol->handleLine(line, &answer);
        if (!answer.empty())
            out << answer << '\n' << std::flush;
        if (!more)
            break;
    }
    return 0;
}

} // namespace tools
