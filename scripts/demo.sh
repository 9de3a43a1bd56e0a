#!/usr/bin/env bash
# Starts the brain and talks to it as a manager would.
set -euo pipefail
bin="$1"
printf 'ABOUT\nEND\n' | "$bin/pbrain-quoribo"
