#!/usr/bin/env bash
# Runs a command with Wine set up for the Windows build's tests: a prefix of
# its own in ~/.cache/tavimor/wine (made once), Wine's messages off, and one
# Wine server kept for all the programs the command starts.
# Usage: scripts/wine.sh COMMAND [ARGS...]
set -euo pipefail
wine_bin=/usr/lib/wine
export WINEPREFIX=$HOME/.cache/tavimor/wine
export WINEDEBUG=-all
# No .NET or HTML engine to offer to install.
export WINEDLLOVERRIDES="mscoree,mshtml="
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  mkdir -p "$WINEPREFIX"
  "$wine_bin/wine64" wineboot --init >/dev/null 2>&1
  "$wine_bin/wineserver" --wait  # the registry is on the disk once the server has ended
fi
"$wine_bin/wineserver" --persistent || true  # one may be running already
trap '"$wine_bin/wineserver" --kill || true' EXIT
trap 'exit 130' INT  # the server goes with a stopped run too
trap 'exit 143' TERM
"$@"
