#!/usr/bin/env bash
# Works the real Quenvar.exe under Wine with random sequences of user and system actions from a
# seed, or with a list of actions from a file, checking every step against the test's model of
# its behaviour. Builds what it needs.
#
#   tools/exercise.sh [--target win64|win32] [--actions N | --seconds T] [--seed S]
#                     [--shrink-seconds T]
#   tools/exercise.sh [--target win64|win32] --replay FILE [--shrink-seconds T]
#
# --actions   how many actions (default 500); --seconds runs for that long instead
# --seed      the seed (default: a new one, printed)
# --replay    performs the actions of a list file instead: a case in tests/exercise/cases, or
# one that a run wrote on a divergence
# The first divergence ends the run: its actions are shrunk for up to --shrink-seconds (default
# 120) and written as a list to build/TARGET/tests/windows; the output says how to replay it.
# The last line is "N actions, M divergences (seed S)" or "(FILE)". The exit status is 0 when
# all matched, 1 on a divergence, 3 when the test's own machinery failed (not a divergence of
# Quenvar).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

usage() {
  sed -n 's/^#   //p' "${BASH_SOURCE[0]}" >&2
  exit 2
}
target=win64
args=()
while [[ $# -gt 0 ]]; do
  [[ $# -ge 2 ]] || usage
  case $1 in
    --target) target=$2 ;;
    --actions) args+=("--actions=$2") ;;
    --seed) args+=("--seed=$2") ;;
    --seconds) args+=("--seconds=$2") ;;
    --replay) args+=("--replay=$(realpath "$2")") ;;
    --shrink-seconds) args+=("--shrink-seconds=$2") ;;
    *) usage ;;
  esac
  shift 2
done
[[ $target == win64 || $target == win32 ]] || usage
printf '%s\n' "${args[@]}" | grep -qE '^--(actions|seconds|replay)=' || args+=(--actions=500)

tools/bootstrap.sh
cmake --preset "$target" >/dev/null
cmake --build --preset "$target" --target Quenvar exerciser >/dev/null
tree=build/$target
exec tools/wine-run.sh "$tree/tests/windows/exerciser.exe" "--exe=$(realpath "$tree/app/Quenvar.exe")" \
  "--target=$target" "--out=$(realpath "$tree/tests/windows")" "${args[@]}"
