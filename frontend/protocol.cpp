#include "frontend/protocol.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "frontend/gameCommands.h"

char*                 pathToNetwork = nullptr;
mcts::LearningPlayer* player        = nullptr;
bool                  terminateAI   = false;
bool                  firstMove     = true;
int                   width         = 0;
int                   height        = 0;

namespace {

constexpr int maxPathScan       = 10000;
constexpr int lineBufferSize    = 1024;
const char    networkFileName[] = "network.bin";

const char unknownAnswer[]     = "UNKNOWN command not recognized";
const char failureAnswer[]     = "ERROR something went wrong";
const char unsupportedAnswer[] = "ERROR command not supported";
// QUORIBO_VERSION comes from the VERSION file, through the build.
const char aboutAnswer[] =
    "name=\"Quoribo\", version=\"" QUORIBO_VERSION "\", author=\"Quoribo developers\", "
    "country=\"International\", www=\"none\", email=\"none\"";

struct Command {
    const char* word;
    bool (*handler)(tovu::String* line);
};

// Tested in this order; the first word the line begins with wins, and its
// position is the command code.
// clang-format off
const Command commands[] = {
    {"START",    START},
    {"TURN",     TURN},
    {"BEGIN",    BEGIN},
    {"BOARD",    BOARD},
    {"INFO",     INFO},
    {"END",      END},
    {"ABOUT",    ABOUT},
    {"RECSTART", RECSTART},
    {"RESTART",  RESTART},
    {"TAKEBACK", TAKEBACK},
    {"PLAY",     PLAY},
};
// clang-format on
constexpr int commandCount = sizeof(commands) / sizeof(commands[0]);

// Appending one character grows a String by 10 bytes, which makes a long line
// quadratic; doubling ahead keeps reading linear.
void makeRoomForOneMore(tovu::String* line) {
    if (line->length < line->capacity - 1)
        return;
    const int wanted = line->capacity > 0 ? line->capacity : 16;
    line->increaseSize(std::min(wanted, maxLineLength + 2 - line->capacity));
}

} // namespace

char* buildNetworkPath(const char* executablePath) {
    int lastSeparator = -1;
    if (executablePath != nullptr)
        for (int i = 0; i < maxPathScan && executablePath[i] != 0; i++)
            if (executablePath[i] == '\\' || executablePath[i] == '/')
                lastSeparator = i;

    char* path = new char[lastSeparator + 20];
    if (lastSeparator >= 0)
        std::memcpy(path, executablePath, lastSeparator + 1);
    std::memcpy(path + lastSeparator + 1, networkFileName, sizeof(networkFileName));
    return path;
}

bool readLine(std::FILE* in, tovu::String* line, bool* tooLong) {
    line->clear();
    // One character more than the limit is kept for the carriage return test.
    bool cut = false;
    for (int c = std::getc(in); c != EOF; c = std::getc(in)) {
        if (c == '\n') {
            if (line->length > 0 && line->buffer[line->length - 1] == '\r')
                line->subString(0, line->length - 1);
            cut = cut || line->length > maxLineLength;
            if (cut)
                line->subString(0, maxLineLength);
            if (tooLong != nullptr)
                *tooLong = cut;
            return true;
        }
        if (line->length <= maxLineLength) {
            makeRoomForOneMore(line);
            line->append(static_cast<char>(c));
        } else {
            cut = true;
        }
    }
    return false;
}

bool get_line(tovu::String* line) {
    bool tooLong = false;
    if (!readLine(stdin, line, &tooLong))
        std::exit(0);
    return !tooLong;
}

int whichCommand(const tovu::String* line) {
    for (int code = 0; code < commandCount; code++)
        if (line->startsWith(commands[code].word))
            return code;
    return CMD_UNKNOWN;
}

void processCommand(tovu::String* line) {
    const int code = whichCommand(line);
    if (code == CMD_UNKNOWN)
        line->set(unknownAnswer);
    else if (!commands[code].handler(line))
        line->set(failureAnswer);

    if (line->length > 0)
        sendAnswer(line);
}

void sendAnswer(const tovu::String* answer) {
    std::fwrite(answer->buffer, 1, answer->length, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void runCommandLoop() {
    terminateAI = false;
    tovu::String line(lineBufferSize);
    while (!terminateAI) {
        // An over-long line is no command of this protocol: it gets the
        // answer of an unrecognised line.
        if (!get_line(&line))
            line.clear();
        processCommand(&line);
    }
}

bool ABOUT(tovu::String* line) {
    line->set(aboutAnswer);
    return true;
}

bool END(tovu::String* line) {
    destroyPlayer();
    terminateAI = true;
    line->clear();
    return true;
}

bool RECSTART(tovu::String* line) {
    firstMove = true;
    line->set(unsupportedAnswer);
    return true;
}

bool RESTART(tovu::String* line) {
    firstMove = true;
    if (!restartPlayer())
        return false;
    line->set("OK");
    return true;
}

bool TAKEBACK(tovu::String* line) {
    if (player == nullptr)
        return false;
    line->set(unsupportedAnswer);
    return true;
}

bool PLAY(tovu::String* line) {
    if (player == nullptr)
        return false;
    line->set(unsupportedAnswer);
    return true;
}
