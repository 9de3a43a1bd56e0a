"""A one-line progress bar with an ETA, written to stderr."""

import sys
import time


def format_duration(seconds):
    seconds = max(0, int(seconds))
    hours, rest = divmod(seconds, 3600)
    minutes, secs = divmod(rest, 60)
    return f"{hours}:{minutes:02d}:{secs:02d}" if hours else f"{minutes}:{secs:02d}"


class ProgressBar:
    """Redraws in place on a terminal; elsewhere (a log file) prints a plain
    line now and then instead of a stream of carriage returns."""

    WIDTH = 30

    def __init__(self, stream=None, interval=None):
        self.stream = stream or sys.stderr
        self.tty = self.stream.isatty()
        self.interval = interval if interval is not None else (0.25 if self.tty else 30.0)
        self.last_draw = None
        self.drawn = False

    def update(self, fraction, eta_seconds, text, force=False):
        now = time.monotonic()
        if not force and self.last_draw is not None and now - self.last_draw < self.interval:
            return
        self.last_draw = now
        fraction = min(1.0, max(0.0, fraction))
        filled = int(fraction * self.WIDTH)
        bar = "#" * filled + "." * (self.WIDTH - filled)
        line = f"[{bar}] {fraction * 100:5.1f}% ETA {format_duration(eta_seconds)} {text}"
        if self.tty:
            self.stream.write("\r" + line + "\x1b[K")
            self.drawn = True
        else:
            self.stream.write(line + "\n")
        self.stream.flush()

    def close(self):
        if self.drawn:
            self.stream.write("\n")
            self.stream.flush()
            self.drawn = False
