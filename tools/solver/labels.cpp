#include "tools/solver/labels.h"

#include <algorithm>

namespace solver {

PositionLabel labelPosition(Solver* solver, const tools::GameBoard& board, int sign,
                            const Limits& limits) {
    PositionLabel   label;
    const VcfResult own = solver->vcf(board, sign, limits);
    if (own.verdict == Verdict::Win) {
        label.kind    = LabelKind::Win;
        label.length  = own.length();
        label.targets = {own.line[0]};
        return label;
    }
    if (own.verdict == Verdict::Unknown)
        return label;
    const DefenceResult defence = solver->defences(board, sign, limits);
    if (!defence.exact)
        return label;
    if (!defence.threatened) {
        label.kind = LabelKind::None;
        return label;
    }
    label.kind    = defence.moves.empty() ? LabelKind::Lost : LabelKind::Defend;
    label.length  = defence.threat.length();
    label.targets = defence.moves;
    std::sort(label.targets.begin(), label.targets.end());
    return label;
}

void encodeLabel(const PositionLabel& label, uint8_t* out) {
    std::fill(out, out + kLabelBytes, uint8_t{0});
    out[0]             = static_cast<uint8_t>(label.kind);
    out[1]             = static_cast<uint8_t>(std::min(label.length, 255));
    const size_t count = label.targets.size();
    out[2]             = static_cast<uint8_t>(count & 0xff);
    out[3]             = static_cast<uint8_t>(count >> 8);
    for (int cell : label.targets)
        out[4 + cell / 8] = static_cast<uint8_t>(out[4 + cell / 8] | (1 << (cell % 8)));
}

PositionLabel decodeLabel(const uint8_t* in) {
    PositionLabel label;
    label.kind   = in[0] <= 4 ? static_cast<LabelKind>(in[0]) : LabelKind::Unknown;
    label.length = in[1];
    for (int cell = 0; cell < tools::kCellCount; ++cell)
        if (in[4 + cell / 8] & (1 << (cell % 8)))
            label.targets.push_back(cell);
    return label;
}

} // namespace solver
