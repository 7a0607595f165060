#!/usr/bin/env bash
# Sets up, builds and runs tavimor (in the current directory, where it keeps
# tavimor.dat). Arguments go to the program.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bash "$here/setup.sh"
bash "$here/build.sh" release
exec "$here/../build/release/tavimor" "$@"
