import contextlib
import io
import os
import struct
import unittest

import numpy as np
import torch

import support
from quoribo import weights
from quoribo.model import Arch, QuoriboNet


class FileSizeTest(unittest.TestCase):
    def test_reference_shape_has_the_documented_size(self):
        self.assertEqual(weights.file_size(Arch(20, 2, 16, 8)), 76492)
        self.assertEqual(len(weights.to_bytes(support.random_network(1))), 76492)

    def test_written_size_follows_the_formula_for_other_shapes(self):
        for arch in (Arch(20, 1, 16, 0), Arch(20, 3, 32, 5), Arch(6, 2, 16, 1)):
            with self.subTest(arch=str(arch)):
                data = weights.to_bytes(support.random_network(2, arch))
                self.assertEqual(len(data), weights.file_size(arch))

    def test_header_fields_and_zero_reserved_bytes(self):
        data = weights.to_bytes(support.random_network(3, Arch(20, 5, 48, 300)))
        self.assertEqual(struct.unpack_from("<bbHH", data, 0), (20, 5, 48, 300))
        self.assertEqual(data[6:64], bytes(58))

    def test_export_refuses_shapes_the_engine_cannot_run(self):
        for arch in (Arch(20, 2, 24, 8), Arch(20, 0, 16, 8), Arch(5, 1, 16, 8),
                     Arch(33, 1, 16, 8)):
            with self.subTest(arch=str(arch)), self.assertRaises(ValueError):
                weights.to_bytes(QuoriboNet(arch))


class EncodingTest(unittest.TestCase):
    def test_truncates_toward_zero(self):
        self.assertEqual(weights.encode([-0.1])[0], -3355443)
        self.assertEqual(weights.encode([np.float32(0.1)])[0], 3355443)
        self.assertEqual(list(weights.encode([2.5e-8, -2.5e-8])), [0, 0])
        self.assertEqual(struct.pack("<i", int(weights.encode([-0.1])[0])),
                         bytes.fromhex("CDCCCCFF"))

    def test_decodes_known_words(self):
        words = np.frombuffer(bytes.fromhex("00000001" "000000FF" "00000002" "00000080"), "<i4")
        self.assertEqual(list(weights.decode(words)), [0.5, -0.5, 1.0, -64.0])

    def test_clamps_inside_sixteen_so_fixed_point_copies_cannot_wrap(self):
        for value in (16.0, 15.999999, 100.0, 1e30, -16.0, -1e30):
            with self.subTest(value=value):
                back = float(weights.decode(weights.encode([value]))[0])
                self.assertLess(abs(back), 16.0)
                self.assertGreater(abs(back), 15.9)
                self.assertEqual(np.sign(back), np.sign(value))
                # The engine's 16-bit copy at scale 2048 must not reach 32768.
                self.assertLess(abs(int(np.float32(back) * np.float32(2048))), 32768)

    def test_refuses_non_finite_weights(self):
        for value in (float("nan"), float("inf")):
            with self.subTest(value=value), self.assertRaises(ValueError):
                weights.encode([0.0, value])


def single_weight_image(arch, set_weight):
    """The image of a zero network in which set_weight(model) made one weight 1."""
    model = QuoriboNet(arch)
    with torch.no_grad():
        for p in model.parameters():
            p.zero_()
        set_weight(model)
    words = np.frombuffer(weights.to_bytes(model), "<i4", offset=64)
    return list(np.flatnonzero(words))


class LayoutTest(unittest.TestCase):
    """Puts a single non-zero weight in each section and checks where it lands."""

    ARCH = Arch(20, 3, 16, 8)
    N2 = 400
    CONV3 = 16 * (1 + 16 * 9)
    FIRST = 16 * 76
    POLICY = 400 + 16 * 400

    def check(self, set_weight, expected):
        self.assertEqual(single_weight_image(self.ARCH, set_weight), expected)

    def test_trunk_sections(self):
        def first(m):
            m.first.weight[1, 2, 3, 4] = 1
        self.check(first, [76 + 1 + 2 * 25 + 3 * 5 + 4])

        def first_bias(m):
            m.first.bias[2] = 1
        self.check(first_bias, [2 * 76])

        def second_hidden(m):
            m.hidden[1].weight[3, 5, 2, 1] = 1
        self.check(second_hidden, [self.FIRST + self.CONV3 + 3 * 145 + 1 + 5 * 9 + 2 * 3 + 1])

        def policy_features(m):
            m.policy_features.bias[15] = 1
        self.check(policy_features, [self.FIRST + 2 * self.CONV3 + 15 * 145])

    def test_policy_section_repeats_the_shared_vector_per_cell(self):
        start = self.FIRST + 3 * self.CONV3

        def bias(m):
            m.policy_bias[7] = 1
        self.check(bias, [start + 7])

        def vector(m):
            m.policy_vector.weight[0, 4, 0, 0] = 1
        base = start + self.N2 + 4 * self.N2
        self.check(vector, list(range(base, base + self.N2)))

    def test_value_sections(self):
        start = self.FIRST + 3 * self.CONV3 + self.POLICY

        def conv(m):
            m.value_conv.weight[1, 6, 0, 0] = 1
        self.check(conv, [start + 17 + 1 + 6])

        layer = start + 34

        def out_bias(m):
            m.value_out.bias[0] = 1
        self.check(out_bias, [layer])

        def out_weight(m):
            m.value_out.weight[0, 5] = 1
        self.check(out_weight, [layer + 1 + 5])

        def hidden(m):
            m.value_hidden.weight[2, self.N2 + 3] = 1
        self.check(hidden, [layer + 9 + 2 * (1 + 2 * self.N2) + 1 + self.N2 + 3])


class RoundTripTest(unittest.TestCase):
    def test_import_then_export_gives_identical_bytes(self):
        for seed in (1, 2):
            data = weights.to_bytes(support.random_network(seed))
            self.assertEqual(weights.to_bytes(weights.from_bytes(data)), data)

    def test_imported_values_within_one_file_step(self):
        model = support.random_network(4)
        with torch.no_grad():
            model.first.weight[0, 0, 0, 0] = 3e-8
            model.value_out.weight[0, 0] = -9.123456789
        back = weights.from_bytes(weights.to_bytes(model))
        for (name, a), b in zip(model.named_parameters(), back.parameters()):
            with self.subTest(name=name):
                self.assertLessEqual(float((a - b).abs().max()), 2.0 ** -25)

    def test_file_round_trip_and_trailing_bytes_ignored(self):
        path = os.path.join(support.scratch_dir(self), "network.bin")
        model = support.random_network(5)
        weights.export(model, path)
        with open(path, "ab") as out:
            out.write(b"trailing")
        back = weights.load(path)
        self.assertEqual(back.arch, support.TINY)
        self.assertEqual(weights.to_bytes(back), weights.to_bytes(model))

    def test_import_evaluates_every_cell_with_the_first_policy_row(self):
        data = bytearray(weights.to_bytes(support.random_network(6)))
        row_start = 64 + 4 * (16 * 76 + 2 * 16 * 145 + 400)
        expected = np.frombuffer(bytes(data), "<i4", 16 * 400, row_start)[::400].copy()
        # Overwrite every cell but cell 0 of each channel with junk.
        for k in range(16):
            for p in range(1, 400):
                struct.pack_into("<i", data, row_start + 4 * (k * 400 + p), 12345 + p)
        model = weights.from_bytes(bytes(data))
        got = weights.encode(model.policy_vector.weight.detach().numpy().ravel())
        self.assertEqual(list(got), list(expected))

    def test_import_rejects_short_or_malformed_files(self):
        data = weights.to_bytes(support.random_network(7))
        with self.assertRaisesRegex(ValueError, "needs 76492 bytes"):
            weights.from_bytes(data[:-1])
        with self.assertRaises(ValueError):
            weights.from_bytes(data[:10])
        bad_filters = bytearray(data)
        struct.pack_into("<H", bad_filters, 2, 20)
        with self.assertRaisesRegex(ValueError, "filters"):
            weights.from_bytes(bytes(bad_filters))
        negative_size = bytearray(data)
        negative_size[0] = 0xEC  # -20 as a signed byte
        with self.assertRaisesRegex(ValueError, "board size"):
            weights.from_bytes(bytes(negative_size))


class CommandLineTest(unittest.TestCase):
    def test_random_then_info(self):
        path = os.path.join(support.scratch_dir(self), "r.bin")
        self.assertEqual(weights.main(["random", "20,1,32,4", path]), 0)
        self.assertEqual(os.path.getsize(path), weights.file_size(Arch(20, 1, 32, 4)))
        with contextlib.redirect_stderr(io.StringIO()) as err:
            self.assertEqual(weights.main(["info", path + ".missing"]), 1)
        self.assertIn("error:", err.getvalue())


if __name__ == "__main__":
    unittest.main()
