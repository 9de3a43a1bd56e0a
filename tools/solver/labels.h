#pragma once

#include "tools/common/gameBoard.h"
#include "tools/solver/solver.h"

#include <cstdint>
#include <vector>

// Exact tactical labels for training positions, from the solver. On disk a
// label is kLabelBytes bytes (tools/quoribo-label/FORMAT.md):
//
//   offset  size  type    field
//        0     1  uint8   kind (LabelKind)
//        1     1  uint8   length: attacker moves of the VCF (the side to
//                         move's for Win, the opponent's for Defend and Lost)
//        2     2  uint16  number of target cells, little-endian
//        4    50  uint8   target cells as bits: cell c is bit c % 8 of byte
//                         4 + c / 8 (c = row * 20 + col)

namespace solver {

constexpr int kLabelBytes = 54;

enum class LabelKind : uint8_t {
    None    = 0, // no VCF for either side (proved)
    Win     = 1, // the side to move has a VCF: value 1, target its first move
    Defend  = 2, // the opponent has a VCF: the targets are its refutations
    Lost    = 3, // the opponent has a VCF with no refutation: value 0
    Unknown = 4, // a search ran out of its limits: no label
};

struct PositionLabel {
    LabelKind        kind   = LabelKind::Unknown;
    int              length = 0;
    std::vector<int> targets; // cells, in increasing order
};

// Labels the position for side `sign`, who moves next.
PositionLabel labelPosition(Solver* solver, const tools::GameBoard& board, int sign,
                            const Limits& limits = {});

void          encodeLabel(const PositionLabel& label, uint8_t* out);
PositionLabel decodeLabel(const uint8_t* in);

} // namespace solver
