#!/usr/bin/env bash
# Starts Quenvar.exe under Wine on a private virtual display, inside a Wine desktop that draws
# the window frame, and saves a screenshot of it. It runs in Wine prefixes of its own, so that a
# window the user has open (tools/run.sh) is never touched, and ends only what it started.
#   screenshot.sh EXE OUTPUT.png [--dpi N] [--scheme test|plain]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
[[ $# -ge 2 ]] || { echo "usage: screenshot.sh EXE OUTPUT.png [wine-run options]" >&2; exit 2; }
exe=$(realpath "$1")
out=$(realpath -m "$2")
shift 2
size=${QUENVAR_SHOT_DESKTOP:-460x250}

shoot() {
  "$here/wine-run.sh" "$@" --prepare
  "$here/wine-run.sh" "$@" --desktop "$size" "$exe" &
  local runner=$!
  # Wait for the window to be drawn: the desktop turns from empty to something with the form.
  local tries=0
  sleep 3
  while (( tries++ < 20 )); do
    import -window root -crop "${size}+0+0" +repage "$out" 2>/dev/null || true
    if [[ -s $out ]] && [[ $(convert "$out" -format '%k' info:) -gt 20 ]]; then break; fi
    sleep 0.5
  done
  sleep 1
  import -window root -crop "${size}+0+0" +repage "$out"
  # Keep just the window: trim the desktop around it.
  local desktop
  desktop=$(convert "$out" -gravity SouthEast -crop 1x1+0+0 -format '%[pixel:p{0,0}]' info:)
  convert "$out" -bordercolor "$desktop" -border 1 -trim +repage "$out"
  # Its run ends the program it started, and the prefix once nothing else uses it.
  kill "$runner"
  wait "$runner" 2>/dev/null || true
}

if [[ -z ${QUENVAR_IN_SHOT:-} ]]; then
  export QUENVAR_WINE_ROOT=${QUENVAR_WINE_ROOT:-$here/../build/wine}/screenshot
  QUENVAR_IN_SHOT=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$exe" "$out" "$@"
fi
export QUENVAR_IN_XVFB=1
scheme=plain dpi=96
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  case ${args[i]} in --scheme) scheme=${args[i+1]} ;; --dpi) dpi=${args[i+1]} ;; esac
done
shoot --scheme "$scheme" --dpi "$dpi"
echo "$out"
