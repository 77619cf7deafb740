#!/usr/bin/env bash
# Times Quenvar.exe from start to window shown against a minimal Win32 program built the same way,
# under the same Wine prefix, pair by pair, and reports the ratio and each one's peak memory.
#   tools/bench-startup.sh [PAIRS] [PRESET]     (defaults: 30 pairs, win64)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
pairs=${1:-30}
preset=${2:-win64}
tools/bootstrap.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target Quenvar minimal_window startup_bench >/dev/null
tree=build/$preset
echo "Quenvar.exe $(stat -c %s "$tree/app/Quenvar.exe") bytes, minimal_window.exe $(stat -c %s "$tree/tools/minimal_window.exe") bytes ($preset)"
tools/wine-run.sh --scheme plain "$tree/tools/startup_bench.exe" "$pairs" \
  "$(realpath "$tree/app/Quenvar.exe")" "$(realpath "$tree/tools/minimal_window.exe")"
