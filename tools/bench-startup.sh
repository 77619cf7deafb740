#!/usr/bin/env bash
# Times Quenvar.exe from start to window shown against two programs built the same way, in the
# same Wine prefix: the same window written the plainest way (one function, the same controls,
# fonts, icon and manifest) and an empty window. Prints each one's medians, the three ratios,
# and last "quenvar/plain-controls ratio: X".
#   tools/bench-startup.sh [ROUNDS] [PRESET]     (defaults: 30 rounds, win64)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
rounds=${1:-30}
preset=${2:-win64}
tools/bootstrap.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target Quenvar plain_controls minimal_window startup_bench >/dev/null
tree=build/$preset
for exe in app/Quenvar.exe tools/plain_controls.exe tools/minimal_window.exe; do
  echo "$(basename "$exe"): $(stat -c %s "$tree/$exe") bytes ($preset)"
done
tools/wine-run.sh --scheme plain "$tree/tools/startup_bench.exe" "$rounds" \
  "$(realpath "$tree/app/Quenvar.exe")" "$(realpath "$tree/tools/plain_controls.exe")" \
  "$(realpath "$tree/tools/minimal_window.exe")"
