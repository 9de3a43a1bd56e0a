#pragma once

// The network module's public face: number encodings, weight files, layers,
// the assembled evaluator, and the processor features that pick its kernels.

#include "network/Conv1x1.h"
#include "network/Conv3x3.h"
#include "network/Conv5x5.h"
#include "network/PolicyConv.h"
#include "network/QuoriboNetwork.h"
#include "network/ValueLayer.h"
#include "network/cpuFeatures.h"
#include "network/encoding.h"
#include "network/nonlinearity.h"
#include "network/weightFile.h"
