#!/usr/bin/env python3
"""Peak resident memory of the brain under hostile input (a measurement, not a
unit test). Each case runs build/release's pbrain-quoribo once, from a
temporary folder holding the network.bin of the case, feeds it a generated
input, and reports the brain's peak resident memory (VmHWM). Passes when every
case stays under 256 MB.

Usage: scripts/hostile_memory.py [BIN_DIR]
"""

import os
import random
import shutil
import subprocess
import sys
import tempfile
import threading
import time

LIMIT_MB = 256
MB = 1 << 20
LINE_LIMIT = 1 << 20  # the brain's longest line (frontend/protocol.h)

repo = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
bin_dir = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(repo, "build/release/bin"))
work = tempfile.mkdtemp(prefix="quoribo-memory-")
fast = b"INFO timeout_turn 0\n"


def write_input(name, parts):
    """Writes the input file from byte strings and (byte, count) runs."""
    path = os.path.join(work, name + ".in")
    with open(path, "wb") as out:
        for part in parts:
            if isinstance(part, tuple):
                chunk = part[0] * MB
                left = part[1]
                while left > 0:
                    out.write(chunk[:min(left, MB)])
                    left -= MB
            else:
                out.write(part)
    return path


def header(n, b, f, h):
    return bytes([n, b, f & 255, f >> 8, h & 255, h >> 8]) + bytes(58)


def netgen(path, n, b, f, h):
    subprocess.run([os.path.join(bin_dir, "quoribo-netgen"), path, "--size", str(n), "--depth",
                    str(b), "--filters", str(f), "--hidden", str(h), "--seed", "1"],
                   check=True, stdout=subprocess.DEVNULL)


def peak_kb(pid):
    with open("/proc/%d/status" % pid) as status:
        for row in status:
            if row.startswith("VmHWM:"):
                return int(row.split()[1])
    return -1


def run_case(name, network, parts, later=None):
    """Feeds the input through a pipe, then ABOUT, and reads the brain's peak
    resident memory (VmHWM) once ABOUT is answered, while it still runs: the
    peak of the brain alone, not of the process that started it. A case
    whose input ends inside a line gets no ABOUT; its peak is read after the
    brain has taken in the input. `later`, if given, replaces network.bin 3 s
    after the input went in (during a search)."""
    folder = os.path.join(work, name)
    os.mkdir(folder)
    shutil.copy(os.path.join(bin_dir, "pbrain-quoribo"), folder)
    network_path = os.path.join(folder, "network.bin")
    if network is not None:
        network(network_path)
    stdin_path = write_input(name, parts)
    proc = subprocess.Popen([os.path.join(folder, "pbrain-quoribo")], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, cwd=folder)
    answers = []
    reader = threading.Thread(target=lambda: answers.extend(
        line.decode(errors="replace").rstrip("\n") for line in proc.stdout))
    reader.start()
    with open(stdin_path, "rb") as data:
        shutil.copyfileobj(data, proc.stdin, MB)
    proc.stdin.flush()
    if later is not None:
        time.sleep(3)
        later(network_path + ".new")
        os.replace(network_path + ".new", network_path)
    ends_in_line = not parts[-1].endswith(b"\n") if isinstance(parts[-1], bytes) else True
    if ends_in_line:
        time.sleep(2)
    else:
        proc.stdin.write(b"ABOUT\n")
        proc.stdin.flush()
        deadline = time.time() + 120
        while not (answers and answers[-1].startswith("name=")) and time.time() < deadline:
            time.sleep(0.05)
    peak = peak_kb(proc.pid) / 1024
    proc.stdin.close()
    reader.join()
    status = proc.wait()
    os.remove(stdin_path)
    shutil.rmtree(folder)
    shown = answers[:3] + (["... %d answers" % len(answers)] if len(answers) > 3 else [])
    print("%-44s %7.1f MB  exit %d  %s" % (name, peak, status, " | ".join(shown)))
    return peak


def shipped(path):
    shutil.copy(os.path.join(repo, "weights/network.bin"), path)


def largest(path):
    # About the largest trunk under the 32 MiB loading cap.
    netgen(path, 20, 16, 64, 64)


def huge_claim(path):
    # Claims a 200 MB value layer, and is a 600 MB file (sparse) to match.
    with open(path, "wb") as f:
        f.write(header(20, 1, 16, 65535))
        f.truncate(600 * MB)


def stones(count, long_lines):
    rnd = random.Random(3)
    cells = [(x, y) for x in range(20) for y in range(20)]
    rnd.shuffle(cells)
    parts = []
    for i in range(count):
        if long_lines:
            parts += [b"%d,%d,%d" % (cells[i][0], cells[i][1], 1 + i % 2), (b"9", 2 * LINE_LIMIT), b"\n"]
        else:
            parts.append(b"%d,%d,%d\n" % (cells[i][0], cells[i][1], 1 + i % 2))
    return parts


random_bytes = os.urandom(8 * MB)
cases = [
    ("300 MB line without a line end", None, [(b"x", 300 * MB)]),
    ("300 MB line", None, [(b"x", 300 * MB), b"\n"]),
    ("INFO folder of 300 MB", None, [b"INFO folder ", (b"f", 300 * MB), b"\n"]),
    ("6 x 8 MB of random bytes", shipped, [fast, b"START 20\n"] + [random_bytes] * 6 + [b"\n"]),
    ("START, shipped network", shipped, [b"START 20\n"]),
    ("START, largest network under the cap", largest, [fast, b"START 20\nBEGIN\n"]),
    ("START, network.bin claiming 200 MB, 600 MB", huge_claim, [b"START 20\n"]),
    ("BOARD of 400 stone lines of 2 MB each", shipped,
     [fast, b"START 20\nBOARD\n"] + stones(200, True) + stones(200, False) + [b"DONE\n"]),
    ("10 s search filling the pool, then START", shipped,
     [b"INFO timeout_turn 10000\nSTART 20\nBEGIN\nSTART 20\n"]),
]
search_then_largest = ("10 s search, then START of the largest", shipped,
                       [b"INFO timeout_turn 10000\nSTART 20\nBEGIN\nSTART 20\nINFO timeout_turn 0\nBEGIN\n"])

worst = 0.0
try:
    for name, network, parts in cases:
        worst = max(worst, run_case(name, network, parts))
    name, network, parts = search_then_largest
    worst = max(worst, run_case(name, network, parts, later=largest))
finally:
    shutil.rmtree(work, ignore_errors=True)
print("worst peak: %.1f MB (limit %d MB): %s" % (worst, LIMIT_MB, "PASS" if worst < LIMIT_MB else "FAIL"))
sys.exit(0 if worst < LIMIT_MB else 1)
