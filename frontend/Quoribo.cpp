#include "frontend/protocol.h"

int main(int argc, char** argv) {
    pathToNetwork = buildNetworkPath(argc > 0 ? argv[0] : nullptr);
    runCommandLoop();
    return 0;
}
