#!/usr/bin/env bash
# What the Wine tools do to programs they did not start, and how a program that did not exit by
# itself reads. A sleeping program runs as tools/run.sh runs Quenvar:
#  - tools/screenshot.sh, run meanwhile, leaves it running;
#  - ended by Wine's server (wineserver -k, as when a run ends what another left), it does not
#    read as a success through tools/wine-run.sh: its status is non-zero and says why.
#   wine_tools_test.sh TOOLS-DIR SLEEPER.exe QUENVAR.exe WINE-ROOT
# WINE-ROOT holds prefixes of this test's own, made once: ending their server touches nothing else.
set -uo pipefail
tools=$1 sleeper=$2 quenvar=$3
export QUENVAR_WINE_ROOT=$4
"$tools/wine-run.sh" --check "$sleeper" || exit $?
work=$(mktemp -d)
runner=
trap '[[ -z $runner ]] || kill "$runner" 2>/dev/null; wait; rm -rf "$work"' EXIT
failed=0

QUENVAR_HEADLESS=1 "$tools/wine-run.sh" --scheme plain "$sleeper" >"$work/out" 2>"$work/err" &
runner=$!
for _ in $(seq 600); do
  [[ -s $work/out ]] && break
  sleep 0.1
done
[[ -s $work/out ]] || { echo "FAIL the program never started: $(cat "$work/err")"; exit 1; }

if ! "$tools/screenshot.sh" "$quenvar" "$work/shot.png" >/dev/null 2>"$work/shot-err"; then
  echo "FAIL screenshot.sh: $(cat "$work/shot-err")"
  failed=1
fi
if ! kill -0 "$runner" 2>/dev/null; then
  echo "FAIL screenshot.sh ended a program it did not start: $(cat "$work/err")"
  exit 1
fi

# Found where tools/wine-run.sh has Wine keep the server's socket.
server_tmp=(-u TMPDIR)
[[ $(/usr/lib/wine/wine64 --version) =~ ^wine-([0-9]+)\. && ${BASH_REMATCH[1]} -lt 9 ]] &&
  server_tmp=(TMPDIR="$QUENVAR_WINE_ROOT/tmp")
env "${server_tmp[@]}" WINEPREFIX="$QUENVAR_WINE_ROOT/plain-96" wineserver -k
status=0
wait "$runner" || status=$?
runner=
if [[ $status -eq 0 ]] || ! grep -q "did not exit by itself" "$work/err"; then
  echo "FAIL a program ended by Wine's server gave status $status: $(cat "$work/err")"
  exit 1
fi
echo "ended by Wine's server: status $status, \"$(cat "$work/err")\""
exit "$failed"
