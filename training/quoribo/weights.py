"""Reading and writing network.bin, the engine's weight file.

Layout: a 64-byte header (int8 N, int8 B, uint16 F, uint16 H, little-endian,
then 58 reserved bytes, written as zeros) and six sections of little-endian
int32 weights, each the weight times 2^25 truncated toward zero:

1. 5x5 layer 3 -> F: per output channel its bias, then 3 x 25 kernel weights
2. B - 1 3x3 layers F -> F: per output channel its bias, then F x 9 weights
3. policy 3x3 layer, laid out like one hidden layer
4. policy: N^2 per-cell biases, then for each channel k the N^2 per-cell
   weights of channel k (the engine evaluates every cell with cell 0's)
5. value 1x1 conv F -> 2: per output its bias, then F weights
6. value layer: output bias, H output weights, then per hidden unit its bias
   and 2 N^2 input weights

Command line:
  python3 -m quoribo.weights info network.bin
  python3 -m quoribo.weights export checkpoint.pt network.bin
  python3 -m quoribo.weights random N,B,F,H network.bin [--seed S]
"""

import argparse
import math
import sys

import numpy as np
import torch

from .model import Arch, QuoriboNet

HEADER_BYTES = 64
SCALE = 33554432.0  # 2^25
# The engine keeps 16-bit copies of the convolution weights at scale 2048: a
# weight of magnitude 16 or more would wrap around, so every weight written is
# kept strictly inside (-16, 16).
WEIGHT_LIMIT = 15.99


def file_size(arch):
    """Exact size in bytes of a weight file for this architecture."""
    n, b, f, h = arch.board_size, arch.depth, arch.filters, arch.value_hidden
    cells = n * n
    return (HEADER_BYTES + 304 * f + b * f * (4 + 36 * f) + 4 * cells + 4 * f * cells
            + 8 + 8 * f + 4 + 4 * h + h * (4 + 8 * cells))


def encode(values):
    """Weights as the file's int32 numbers: value * 2^25 in float32, truncated
    toward zero. Raises ValueError on a NaN or infinite weight, which has no
    encoding (it would silently become -64)."""
    x = np.asarray(values, dtype=np.float32)
    if not np.all(np.isfinite(x)):
        raise ValueError("cannot export a network with NaN or infinite weights")
    x = np.clip(x, -WEIGHT_LIMIT, WEIGHT_LIMIT)
    return (x * np.float32(SCALE)).astype(np.int32)


def decode(words):
    """File int32 numbers back to float32 weights (nearest float to w * 2^-25)."""
    return (np.asarray(words, dtype=np.int64).astype(np.float64) / SCALE).astype(np.float32)


def count_clamped(model):
    """How many of the model's weights export would clamp."""
    return sum(int((p.detach().abs() > WEIGHT_LIMIT).sum()) for p in model.parameters())


def _as_numpy(tensor):
    return tensor.detach().to(torch.float32).cpu().numpy()


def _conv_section(conv):
    """Per output channel: its bias, then its kernel row by row per input."""
    weight = _as_numpy(conv.weight)
    rows = weight.reshape(weight.shape[0], -1)
    return np.concatenate((_as_numpy(conv.bias)[:, None], rows), axis=1).ravel()


def _sections(model):
    n, f = model.arch.board_size, model.arch.filters
    cells = n * n
    parts = [_conv_section(model.first)]
    parts += [_conv_section(layer) for layer in model.hidden]
    parts.append(_conv_section(model.policy_features))
    shared = _as_numpy(model.policy_vector.weight).reshape(f)
    parts.append(_as_numpy(model.policy_bias))
    parts.append(np.repeat(shared, cells))
    parts.append(_conv_section(model.value_conv))
    parts.append(_as_numpy(model.value_out.bias))
    parts.append(_as_numpy(model.value_out.weight).ravel())
    hidden = model.value_hidden
    rows = (_as_numpy(hidden.bias)[:, None], _as_numpy(hidden.weight))
    parts.append(np.concatenate(rows, axis=1).ravel())
    return parts


def header_bytes(arch):
    head = bytearray(HEADER_BYTES)
    head[0:1] = np.int8(arch.board_size).tobytes()
    head[1:2] = np.int8(arch.depth).tobytes()
    head[2:4] = np.uint16(arch.filters).astype("<u2").tobytes()
    head[4:6] = np.uint16(arch.value_hidden).astype("<u2").tobytes()
    return bytes(head)


def to_bytes(model):
    """The network.bin image of a module."""
    model.arch.check()
    body = encode(np.concatenate(_sections(model))).astype("<i4").tobytes()
    data = header_bytes(model.arch) + body
    assert len(data) == file_size(model.arch)
    return data


def export(model, path):
    """Writes the module to path; returns the number of clamped weights."""
    data = to_bytes(model)
    with open(path, "wb") as out:
        out.write(data)
    return count_clamped(model)


def read_header(data):
    """The architecture stored in a weight-file image, checked for use."""
    if len(data) < HEADER_BYTES:
        raise ValueError(f"weight file too short for its header ({len(data)} bytes)")
    n = int(np.frombuffer(data, np.int8, 1, 0)[0])
    b = int(np.frombuffer(data, np.int8, 1, 1)[0])
    f = int(np.frombuffer(data, "<u2", 1, 2)[0])
    h = int(np.frombuffer(data, "<u2", 1, 4)[0])
    arch = Arch(n, b, f, h)
    arch.check()
    need = file_size(arch)
    if len(data) < need:
        raise ValueError(f"weight file for {arch} needs {need} bytes, has {len(data)}")
    return arch


class _Reader:
    def __init__(self, data):
        self.data = data
        self.offset = HEADER_BYTES

    def take(self, count):
        words = np.frombuffer(self.data, "<i4", count, self.offset)
        self.offset += 4 * count
        return torch.from_numpy(decode(words))


def _load_conv(conv, reader):
    out_channels = conv.weight.shape[0]
    per_channel = conv.weight[0].numel()
    rows = reader.take(out_channels * (1 + per_channel)).reshape(out_channels, 1 + per_channel)
    conv.bias.copy_(rows[:, 0])
    conv.weight.copy_(rows[:, 1:].reshape(conv.weight.shape))


def from_bytes(data):
    """Builds the module stored in a weight-file image.

    The file keeps one policy weight row per cell but the engine evaluates
    every cell with row 0, so row 0 is what the module takes."""
    arch = read_header(data)
    n, f, h = arch.board_size, arch.filters, arch.value_hidden
    cells = n * n
    model = QuoriboNet(arch)
    reader = _Reader(data)
    with torch.no_grad():
        _load_conv(model.first, reader)
        for layer in model.hidden:
            _load_conv(layer, reader)
        _load_conv(model.policy_features, reader)
        model.policy_bias.copy_(reader.take(cells))
        per_cell = reader.take(f * cells).reshape(f, cells)
        model.policy_vector.weight.copy_(per_cell[:, 0].reshape(1, f, 1, 1))
        _load_conv(model.value_conv, reader)
        model.value_out.bias.copy_(reader.take(1))
        model.value_out.weight.copy_(reader.take(h).reshape(1, h))
        rows = reader.take(h * (1 + 2 * cells)).reshape(h, 1 + 2 * cells)
        model.value_hidden.bias.copy_(rows[:, 0])
        model.value_hidden.weight.copy_(rows[:, 1:])
    return model


def load(path):
    with open(path, "rb") as src:
        return from_bytes(src.read())


def randomize(model, generator):
    """Random weights at the scale of a freshly initialised network: each
    layer's weights uniform in +-sqrt(6 / fan_in) (ReLU-preserving), biases
    up to a quarter of that, per-cell policy biases up to 0.5."""
    with torch.no_grad():
        for name, p in model.named_parameters():
            if name == "policy_bias":
                bound = 0.5
            else:
                owner = model.get_submodule(name.rsplit(".", 1)[0])
                fan_in = max(1, math.prod(owner.weight.shape[1:]))
                bound = (6.0 / fan_in) ** 0.5 * (0.25 if name.endswith("bias") else 1.0)
            p.copy_((torch.rand(p.shape, generator=generator) * 2 - 1) * bound)
    return model


def _cmd_info(args):
    model = load(args.network)
    arch = model.arch
    params = sum(p.numel() for p in model.parameters())
    print(f"board {arch.board_size}, depth {arch.depth}, filters {arch.filters}, "
          f"value hidden {arch.value_hidden}; {params} parameters, {file_size(arch)} bytes")


def _cmd_export(args):
    checkpoint = torch.load(args.checkpoint, map_location="cpu", weights_only=False)
    model = QuoriboNet(Arch.parse(checkpoint["arch"]))
    model.load_state_dict(checkpoint["model"])
    clamped = export(model, args.network)
    if clamped:
        print(f"warning: {clamped} weights clamped to +-{WEIGHT_LIMIT}", file=sys.stderr)


def _cmd_random(args):
    model = randomize(QuoriboNet(Arch.parse(args.arch)), torch.Generator().manual_seed(args.seed))
    export(model, args.network)


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m quoribo.weights",
                                     description="Inspect, export or generate network.bin files.")
    commands = parser.add_subparsers(dest="command", required=True)
    info = commands.add_parser("info", help="print the architecture of a network.bin")
    info.add_argument("network")
    info.set_defaults(run=_cmd_info)
    exp = commands.add_parser("export", help="write a training checkpoint as network.bin")
    exp.add_argument("checkpoint")
    exp.add_argument("network")
    exp.set_defaults(run=_cmd_export)
    rnd = commands.add_parser("random", help="write a randomly initialised network.bin")
    rnd.add_argument("arch", help="N,B,F,H")
    rnd.add_argument("network")
    rnd.add_argument("--seed", type=int, default=1)
    rnd.set_defaults(run=_cmd_random)
    args = parser.parse_args(argv)
    try:
        args.run(args)
    except (OSError, ValueError, KeyError) as err:
        print(f"error: {err}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
