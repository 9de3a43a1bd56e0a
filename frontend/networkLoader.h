#pragma once

// Reading network.bin (at pathToNetwork) into the player's network.

// Reads the weight file whole and gives it to the player, which builds its
// network the first time and reloads the weights afterwards. True when the
// file was read and its image accepted. A missing, unreadable or malformed
// file changes nothing: weights loaded before stay in use. Does nothing
// without a player. The board width is accepted for the caller's sake and not
// used: the image's own header gives the network's dimensions.
bool loadNetwork(int boardWidth);
