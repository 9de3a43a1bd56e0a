#!/usr/bin/env python3
"""The Windows executables under Wine, and the release packages.

    wine_tests.py --wine WINE --prefix DIR --windows-bin DIR --host-bin DIR CASE

CASE is one of: prefix, binaries, protocol, match, bench, packages.
The Windows executables run under Wine with its own prefix; the Linux build
in --host-bin supplies the opponent, the match driver and the yardstick for
speed and values. Every case fails loudly when Wine cannot run.
"""

import argparse
import os
import re
import select
from signal import SIGCONT, SIGSTOP
import shutil
import subprocess
import sys
import tarfile
import tempfile
import time
import zipfile

SIZE = 20
# What a bare 64-bit Windows has: the executables may import nothing else.
SYSTEM_DLLS = {"KERNEL32.dll", "msvcrt.dll", "ADVAPI32.dll", "USER32.dll", "WS2_32.dll"}
REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def version():
    with open(os.path.join(REPO, "VERSION")) as f:
        return f.read().strip()


def about_answer():
    return ('name="Quoribo", version="%s", author="Quoribo developers", '
            'country="International", www="none", email="none"' % version())


def windows_path(path):
    """How a Windows manager names a file of the Linux tree: Wine's Z: drive."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Config:
    def __init__(self, args):
        self.wine = args.wine
        self.windows_bin = os.path.abspath(args.windows_bin)
        self.host_bin = os.path.abspath(args.host_bin)
        self.env = dict(os.environ)
        # A prefix of our own, no debug chatter, no display, and no offer to
        # install Mono or Gecko while the prefix is made.
        self.env.update(WINEPREFIX=os.path.abspath(args.prefix), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", DISPLAY="")
        self.objdump = args.objdump
        self.unaligned_store = args.unaligned_store

    def require_wine(self):
        check(self.wine and os.access(self.wine, os.X_OK),
              "Wine is not usable (%r): install wine64 (scripts/setup.sh does), or leave "
              "the Windows tests out with 'make test WINDOWS=OFF'" % self.wine)

    def windows_exe(self, name):
        return os.path.join(self.windows_bin, name)

    def host(self, name):
        return os.path.join(self.host_bin, name)


class Brain:
    """A brain process spoken to as a manager does, with the line end of its
    system (CR LF on Windows) both ways."""

    def __init__(self, command, cwd, env=None, line_end=b"\r\n"):
        self.proc = subprocess.Popen(command, cwd=cwd, env=env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.pending = b""
        self.line_end = line_end

    def send(self, line):
        self.proc.stdin.write(line.encode() + self.line_end)
        self.proc.stdin.flush()

    def read_line(self, timeout):
        """The next answer line with its line end, as sent; b"" on time-out or exit."""
        deadline = time.monotonic() + timeout
        fd = self.proc.stdout.fileno()
        while b"\n" not in self.pending:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([fd], [], [], left)[0]:
                return b""
            chunk = os.read(fd, 4096)
            if not chunk:
                return b""
            self.pending += chunk
        line, self.pending = self.pending.split(b"\n", 1)
        return line + b"\n"

    def ask(self, line, timeout=30):
        """Sends a command; returns its answer without the line end and the milliseconds taken."""
        start = time.monotonic()
        self.send(line)
        raw = self.read_line(timeout)
        took = (time.monotonic() - start) * 1000
        text = raw[:-len(self.line_end)]
        check(raw.endswith(self.line_end) and b"\r" not in text and b"\n" not in text,
              "answer to %r is not one line ending in %r: %r" % (line, self.line_end, raw))
        return text.decode(), took

    def finish(self):
        """Sends END; the brain must exit with status 0 and have printed nothing more."""
        self.send("END")
        try:
            status = self.proc.wait(timeout=15)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            raise Failure("the brain did not exit after END")
        rest = self.pending + self.proc.stdout.read()
        check(status == 0, "exit status %d after END" % status)
        check(rest == b"", "output after END: %r" % rest)


def parse_move(answer, occupied):
    match = re.fullmatch(r"(\d+),(\d+)", answer)
    check(match, "not a move: %r" % answer)
    move = (int(match.group(1)), int(match.group(2)))
    check(move[0] < SIZE and move[1] < SIZE and move not in occupied,
          "illegal move %r (occupied: %s)" % (answer, sorted(occupied)))
    return move


def case_prefix(cfg):
    """Makes the Wine prefix (seconds, once) and runs the brain's shortest session."""
    with tempfile.TemporaryDirectory() as work:
        result = subprocess.run([cfg.wine, cfg.windows_exe("pbrain-quoribo.exe")], cwd=work,
                                env=cfg.env, input=b"END\r\n", capture_output=True, timeout=300)
        check(result.returncode == 0 and result.stdout == b"",
              "Wine cannot run pbrain-quoribo.exe: status %d, output %r, errors %r"
              % (result.returncode, result.stdout, result.stderr[-2000:]))


def case_protocol(cfg):
    with tempfile.TemporaryDirectory() as work:
        alone = os.path.join(work, "alone")
        beside = os.path.join(work, "with network")
        os.mkdir(alone)
        os.mkdir(beside)
        exe = cfg.windows_exe("pbrain-quoribo.exe")
        shutil.copy(exe, alone)
        shutil.copy(exe, beside)
        shutil.copy(cfg.windows_exe("network.bin"), beside)

        # Without network.bin beside it the brain says so and keeps serving.
        brain = Brain([cfg.wine, windows_path(os.path.join(alone, "pbrain-quoribo.exe"))],
                      cwd=alone, env=cfg.env)
        answer, _ = brain.ask("START 20")
        check(answer == "ERROR cannot load network.bin", "START without network: %r" % answer)
        # A Ctrl-Z byte is an ordinary character, not the end of the input.
        answer, _ = brain.ask("\x1a")
        check(answer == "UNKNOWN command not recognized", "a Ctrl-Z line: %r" % answer)
        answer, _ = brain.ask("ABOUT")
        check(answer == about_answer(), "ABOUT: %r" % answer)
        brain.finish()

        # Started by full Windows path from a directory without network.bin:
        # the weights come from beside the executable.
        brain = Brain([cfg.wine, windows_path(os.path.join(beside, "pbrain-quoribo.exe"))],
                      cwd=alone, env=cfg.env)
        answer, took = brain.ask("START 20")
        check(answer == "OK", "START beside network.bin: %r" % answer)
        print("START: %.0f ms" % took)
        brain.send("INFO timeout_match 100000")
        brain.send("INFO time_left 100000")
        brain.send("INFO timeout_turn 1000")
        occupied = set()
        # At 1000 ms per move the engine plans 700 ms: an answer far quicker
        # than that means its clock runs wrong, a slower one breaks the limit.
        answer, took = brain.ask("BEGIN")
        occupied.add(parse_move(answer, occupied))
        print("BEGIN: %s in %.0f ms" % (answer, took))
        check(400 <= took <= 1000, "BEGIN at timeout_turn 1000 took %.0f ms" % took)
        opponent = next((x, y) for x in range(SIZE) for y in range(SIZE)
                        if (x, y) not in occupied)
        occupied.add(opponent)
        answer, took = brain.ask("TURN %d,%d" % opponent)
        occupied.add(parse_move(answer, occupied))
        print("TURN: %s in %.0f ms" % (answer, took))
        check(400 <= took <= 1000, "TURN at timeout_turn 1000 took %.0f ms" % took)

        answer, _ = brain.ask("RESTART")
        check(answer == "OK", "RESTART: %r" % answer)
        brain.send("INFO timeout_turn 300")
        brain.send("BOARD")
        stones = {(9, 9): 1, (9, 10): 2, (10, 9): 1, (11, 11): 2}
        for (x, y), who in stones.items():
            brain.send("%d,%d,%d" % (x, y, who))
        answer, took = brain.ask("DONE")
        parse_move(answer, set(stones))
        print("BOARD: %s in %.0f ms" % (answer, took))
        check(took < 300, "BOARD at timeout_turn 300 took %.0f ms" % took)
        answer, _ = brain.ask("UNKNOWNWORD")
        check(answer == "UNKNOWN command not recognized", "unknown command: %r" % answer)
        brain.finish()


def case_match(cfg):
    """One game against the pattern brain at 500 ms per move, every answer checked by the driver."""
    with tempfile.TemporaryDirectory() as work:
        runner = os.path.join(work, "pbrain-quoribo-wine")
        with open(runner, "w") as f:
            f.write("#!/bin/sh\nexec '%s' '%s'\n"
                    % (cfg.wine, windows_path(cfg.windows_exe("pbrain-quoribo.exe"))))
        os.chmod(runner, 0o755)
        result = subprocess.run([cfg.host("quoribo-match"), "--games", "1", "--turn", "500",
                                 "--start-timeout", "20000", runner, cfg.host("pbrain-pattern")],
                                cwd=work, env=cfg.env, capture_output=True, text=True,
                                timeout=600)
        print(result.stdout)
        check(result.returncode == 0, "quoribo-match failed: %s" % result.stderr)
        summary = re.search(r"pbrain-quoribo-wine +wins \d+ +losses \d+ +draws \d+ .*moves (\d+)",
                            result.stdout)
        check(summary and int(summary.group(1)) > 0, "the brain made no move")
        check("no illegal or late moves" in result.stdout, "illegal or late moves")


def lockstep(commands, env, turn=0.05):
    """Runs the commands in turns of `turn` seconds each, the others stopped
    meanwhile, so that all of them meet the same interference from whatever
    else runs on the machine. Returns their outputs."""
    procs = [subprocess.Popen(c, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              text=True) for c in commands]

    def signal(proc, number):
        if proc.poll() is None:
            try:
                os.kill(proc.pid, number)
            except ProcessLookupError:
                pass

    for proc in procs:
        signal(proc, SIGSTOP)
    deadline = time.monotonic() + 600
    while any(proc.poll() is None for proc in procs) and time.monotonic() < deadline:
        for proc in procs:
            signal(proc, SIGCONT)
            time.sleep(turn)
            signal(proc, SIGSTOP)
    outputs = []
    for proc, command in zip(procs, commands):
        signal(proc, SIGCONT)
        out, err = proc.communicate(timeout=60)
        check(proc.returncode == 0, "%s failed: %s" % (command, err[-2000:]))
        outputs.append(out)
    return outputs


def bench_results(output):
    """Evaluations per second and value of each pass of one quoribo-bench run,
    and the kernel families its speed test timed."""
    passes = {m.group(1): (float(m.group(2)), float(m.group(3)))
              for m in re.finditer(r"^(forward_\w+).*: ([\d.]+)  \(value ([-\d.]+)\)\s*$",
                                   output, re.M)}
    families = set(re.findall(r"^(sse|sse2|avx|avx2) : \d+ ms\s*$", output, re.M))
    return passes, families


def processor_passes():
    """The passes this processor and operating system run, as Linux reports
    them, and the one the brain plays with."""
    with open("/proc/cpuinfo") as f:
        flags = set(re.search(r"^flags\s*:(.*)$", f.read(), re.M).group(1).split())
    wanted = {"forward_DEFAULT": True,
              "forward_SSE": "sse" in flags and "pni" in flags,
              "forward_SSE2": "sse2" in flags and "ssse3" in flags,
              "forward_AVX": "avx" in flags,
              "forward_AVX2": "avx2" in flags}
    passes = {name for name, has in wanted.items() if has}
    played = next(name for name in ("forward_AVX", "forward_SSE", "forward_DEFAULT")
                  if name in passes)
    return passes, played


def bench_round(cfg, expected):
    """One lockstep run of both builds' quoribo-bench: for each pass, the
    Linux and Windows rates and values."""
    linux = [cfg.host("quoribo-bench")]
    windows = [cfg.wine, cfg.windows_exe("quoribo-bench.exe")]
    # Both builds run at once in alternating turns, so that both meet the same
    # load from the rest of the machine; the rates are per second of
    # processor time.
    outputs = lockstep([linux, windows], cfg.env)
    (linux_passes, linux_families), (passes, families) = map(bench_results, outputs)
    for build, ran, timed in (("Linux", linux_passes, linux_families),
                              ("Windows", passes, families)):
        check(set(ran) == expected and len(timed) == len(expected) - 1,
              "the %s build timed %s and ran %s; the processor has %s"
              % (build, sorted(timed), sorted(ran), sorted(expected)))
    return {name: (linux_passes[name], passes[name]) for name in expected}


def case_bench(cfg, rounds=5):
    """Every pass gives the Linux build's value, at a speed within 15% of it.
    On a shared machine a neighbour only ever slows a run down, even in
    lockstep, so each build's speed for a pass is the best of its runs; runs
    are repeated, up to five, until every pass's ratio of best speeds is in
    the band."""
    expected, played = processor_passes()
    best = {name: [0.0, 0.0] for name in expected}
    for round_number in range(rounds):
        for name, ((linux_rate, linux_value), (windows_rate, windows_value)) in \
                sorted(bench_round(cfg, expected).items()):
            best[name] = [max(best[name][0], linux_rate), max(best[name][1], windows_rate)]
            print("%-16s linux %8.1f/s  windows %8.1f/s  ratio %.3f  values %.6f %.6f%s"
                  % (name, linux_rate, windows_rate, windows_rate / linux_rate, linux_value,
                     windows_value, "  (the brain's pass)" if name == played else ""))
            check(abs(windows_value - linux_value) <= 1e-4,
                  "%s: Windows value %f, Linux value %f" % (name, windows_value, linux_value))
        ratios = {name: windows / linux for name, (linux, windows) in best.items()}
        if all(0.85 <= r <= 1.15 for r in ratios.values()):
            break
        print()
    for name in sorted(expected):
        print("%-16s best linux %8.1f/s  best windows %8.1f/s  ratio %.3f over %d runs"
              % (name, best[name][0], best[name][1], ratios[name], round_number + 1))
        check(0.85 <= ratios[name] <= 1.15,
              "%s: the Windows build runs at %.2f of the Linux speed (best of %d runs each)"
              % (name, ratios[name], round_number + 1))


def case_binaries(cfg):
    """Static executables without aligned 256-bit moves, which the 16-byte
    Windows stack would make fault, and a deliberate one that runs."""
    aligned_wide = re.compile(r"\bvmov(aps|apd|dqa|dqa32|dqa64|ntdqa)\b[^#]*%ymm.*\(|"
                              r"\bvmov(aps|apd|dqa|dqa32|dqa64)\b[^#]*\(.*%ymm")
    for name in ("pbrain-quoribo.exe", "quoribo-bench.exe", "quoribo-eval.exe"):
        path = cfg.windows_exe(name)
        headers = subprocess.run([cfg.objdump, "-p", path], capture_output=True, text=True,
                                 check=True).stdout
        dlls = set(re.findall(r"DLL Name: (\S+)", headers))
        check(dlls and dlls <= SYSTEM_DLLS, "%s needs DLLs beyond Windows' own: %s"
              % (name, sorted(dlls - SYSTEM_DLLS)))
        listing = subprocess.run([cfg.objdump, "-d", "--no-show-raw-insn", path],
                                 capture_output=True, text=True, check=True).stdout
        check("vaddps" in listing and "ymm" in listing, "%s holds no AVX code" % name)
        bad = [line for line in listing.splitlines() if aligned_wide.search(line)]
        check(not bad, "%s: aligned 256-bit moves:\n%s" % (name, "\n".join(bad[:10])))
    if "forward_AVX" in processor_passes()[0]:
        cfg.require_wine()
        result = subprocess.run([cfg.wine, cfg.unaligned_store], env=cfg.env,
                                capture_output=True, timeout=120)
        check(result.returncode == 0, "an aligned 256-bit store off a 32-byte boundary faulted "
              "(status %d): the build's aligned moves are not made unaligned" % result.returncode)


def unpack(archive, into):
    if archive.endswith(".zip"):
        with zipfile.ZipFile(archive) as z:
            z.extractall(into)
    else:
        with tarfile.open(archive) as t:
            t.extractall(into)
    return sorted(os.path.relpath(os.path.join(d, f), into)
                  for d, _, files in os.walk(into) for f in files)


def play_one_move(command, cwd, env=None, line_end=b"\r\n"):
    brain = Brain(command, cwd=cwd, env=env, line_end=line_end)
    answer, _ = brain.ask("ABOUT")
    check(answer == about_answer(), "ABOUT: %r" % answer)
    answer, _ = brain.ask("START 20")
    check(answer == "OK", "START: %r" % answer)
    brain.send("INFO timeout_turn 500")
    answer, _ = brain.ask("TURN 10,10")
    parse_move(answer, {(10, 10)})
    brain.finish()


def case_packages(cfg):
    v = version()
    with tempfile.TemporaryDirectory() as work:
        out = os.path.join(work, "dist")
        subprocess.run([sys.executable, os.path.join(REPO, "scripts", "dist.py"), cfg.host_bin,
                        cfg.windows_bin, out], check=True, timeout=120)
        zip_path = os.path.join(out, "quoribo-%s-windows-x64.zip" % v)
        tar_path = os.path.join(out, "quoribo-%s-linux-x64.tar.gz" % v)
        check(sorted(os.listdir(out)) == sorted([os.path.basename(zip_path),
                                                 os.path.basename(tar_path)]),
              "dist holds %s" % os.listdir(out))

        windows = os.path.join(work, "windows")
        os.mkdir(windows)
        check(unpack(zip_path, windows) == ["README.txt", "network.bin", "pbrain-quoribo.exe"],
              "zip contents")
        exe_size = os.path.getsize(os.path.join(windows, "pbrain-quoribo.exe"))
        net_size = os.path.getsize(os.path.join(windows, "network.bin"))
        zip_size = os.path.getsize(zip_path)
        print("pbrain-quoribo.exe %d bytes, zip %d bytes, network.bin %d bytes"
              % (exe_size, zip_size, net_size))
        check(exe_size < 8 * 2**20, "pbrain-quoribo.exe is %d bytes" % exe_size)
        check(zip_size - net_size < 2 * 2**20, "the zip is %d bytes" % zip_size)
        play_one_move([cfg.wine, windows_path(os.path.join(windows, "pbrain-quoribo.exe"))],
                      cwd=work, env=cfg.env)

        linux = os.path.join(work, "linux")
        os.mkdir(linux)
        top = "quoribo-%s-linux-x64" % v
        check(unpack(tar_path, linux) == [top + "/" + f for f in
                                          ("network.bin", "pbrain-quoribo", "quoribo-bench",
                                           "quoribo-eval")], "tar contents")
        play_one_move([os.path.join(linux, top, "pbrain-quoribo")], cwd=work, line_end=b"\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", default="")
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--windows-bin", required=True)
    parser.add_argument("--host-bin", required=True)
    parser.add_argument("--objdump", default="")
    parser.add_argument("--unaligned-store", default="")
    parser.add_argument("case", choices=["prefix", "binaries", "protocol", "match", "bench",
                                         "packages"])
    args = parser.parse_args()
    try:
        cfg = Config(args)
        if args.case != "binaries":
            cfg.require_wine()
        globals()["case_" + args.case](cfg)
    except (Failure, subprocess.SubprocessError, OSError) as error:
        print("FAILED: %s" % error)
        return 1
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
