#include "frontend/protocol.h"
#include "util/platform.h"

int main(int argc, char** argv) {
    tovu::prepareConsole();
    pathToNetwork = buildNetworkPath(tovu::executablePath(argc > 0 ? argv[0] : nullptr));
    runCommandLoop();
    return 0;
}
