#pragma once

// The search module's public face: moves and the five test, the node pool,
// the evaluation cache and the tree search.

#include "search/Move.h"
#include "search/NNCache.h"
#include "search/NNCacheEntry.h"
#include "search/Node.h"
#include "search/Search.h"
#include "search/Tree.h"
#include "search/board.h"
