#!/bin/sh
# Runs the training tests from the repository root. The engine equivalence
# tests need quoribo-eval: set QUORIBO_BIN_DIR to its bin directory (default
# build/release/bin); without it they are skipped.
cd "$(dirname "$0")/.." && exec /usr/bin/python3 -m unittest discover -s training/tests -v "$@"
