#!/usr/bin/python3
"""Entry point: /usr/bin/python3 training/train.py --data ... --out DIR (see quoribo/train.py)."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from quoribo.train import main  # noqa: E402  (needs the path above)

sys.exit(main())
