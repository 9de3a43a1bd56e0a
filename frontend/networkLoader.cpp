#include "frontend/networkLoader.h"

#include "frontend/protocol.h"
#include "network/weightFile.h"
#include "search/mcts.h"

#include <memory>

bool loadNetwork(int /*boardWidth*/) {
    if (player == nullptr)
        return false;
    long long                     length = 0;
    const std::unique_ptr<char[]> image(depnn::readWeightFile(pathToNetwork, &length));
    if (image == nullptr)
        return false;
    return player->loadFromChar(image.get(), length);
}
