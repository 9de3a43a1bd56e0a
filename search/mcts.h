#pragma once

// The search module's public face: moves and the five test, the node pool,
// the evaluation cache, the tree search, the player and the reports.

#include "search/LearningPlayer.h"
#include "search/Move.h"
#include "search/NNCache.h"
#include "search/NNCacheEntry.h"
#include "search/Node.h"
#include "search/Search.h"
#include "search/Tree.h"
#include "search/board.h"
#include "search/reports.h"
