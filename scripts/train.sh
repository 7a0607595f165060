#!/usr/bin/env bash
# Sets up and builds tavimor, then trains the network of the data file in the
# current directory: GAMES demo games in a row, each checked and recorded in
# train.csv, with the learning curve drawn to train.png at the end.
# Usage: scripts/train.sh GAMES [-cuda N]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bash "$here/setup.sh"
bash "$here/build.sh" release >&2
exec "$here/../build/release/tavimor-train" "$@"
