#!/usr/bin/env bash
# Runs a Windows program under Wine in one of the project's private prefixes, making the prefix
# the first time. Used by CTest (as the cross-compiling emulator) and by the run script.
#
#   wine-run.sh [--dpi N] [--scheme test|plain] [--desktop WxH] PROGRAM.exe [ARGS...]
#
# --dpi      logical DPI of the prefix (96 unless given)
# --scheme   "test" (default) sets the Windows 10 scroll-bar colour and runs in a Wine desktop;
#            "plain" keeps Wine's own colours and top-level windows
# --desktop  run inside a Wine virtual desktop of that size (draws window frames)
# --prepare  only make the prefix (PROGRAM is then not given)
# --no-display  run without any X display (console programs)
# --kill     end whatever runs in the prefix (PROGRAM is then not given)
# Without a DISPLAY (or with QUENVAR_HEADLESS=1) the program runs on a private Xvfb display.
# The program's exit status is passed through.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=${QUENVAR_WINE_ROOT:-$here/../build/wine}
dpi=96
scheme=test
desktop=
prepare=
no_display=
kill=
while [[ $# -gt 0 ]]; do
  case $1 in
    --dpi) dpi=$2; shift 2 ;;
    --scheme) scheme=$2; shift 2 ;;
    --desktop) desktop=$2; shift 2 ;;
    --prepare) prepare=1; shift ;;
    --no-display) no_display=1; shift ;;
    --kill) kill=1; shift ;;
    --) shift; break ;;
    -*) echo "wine-run.sh: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
[[ $# -ge 1 || -n $prepare || -n $kill ]] || { echo "usage: wine-run.sh [--dpi N] [--scheme test|plain] [--desktop WxH] PROGRAM [ARGS...]" >&2; exit 2; }
[[ $scheme == test || $scheme == plain ]] || { echo "wine-run.sh: --scheme is test or plain" >&2; exit 2; }

mkdir -p "$root"
root=$(cd "$root" && pwd)
export WINEPREFIX=$root/$scheme-$dpi
export WINEDEBUG=${WINEDEBUG:--all}
# Wine turns Unix arguments into UTF-16 by the locale's character set: make it UTF-8.
export LC_ALL=C.UTF-8

if [[ -n $kill ]]; then
  wineserver -k 2>/dev/null || true
  exit 0
fi
# No Mono or Gecko installer prompts, no desktop menu entries.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

if [[ -n $no_display ]]; then
  unset DISPLAY WAYLAND_DISPLAY
elif [[ -z ${QUENVAR_IN_XVFB:-} && ( -z ${DISPLAY:-} || -n ${QUENVAR_HEADLESS:-} ) ]]; then
  command -v xvfb-run >/dev/null || { echo "wine-run.sh: xvfb-run is missing; run tools/bootstrap.sh" >&2; exit 2; }
  args=(--dpi "$dpi" --scheme "$scheme")
  [[ -n $desktop ]] && args+=(--desktop "$desktop")
  [[ -n $prepare ]] && args+=(--prepare)
  QUENVAR_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "${args[@]}" -- "$@"
fi

registry_file() {
  # regedit reads Chinese value names correctly only from UTF-16LE with a byte-order mark.
  local faces=(Tahoma "Segoe UI" "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft YaHei"
               "Microsoft YaHei UI" "微软雅黑" SimSun "宋体")
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
    for face in "${faces[@]}"; do printf '"%s"="WenQuanYi Micro Hei"\r\n' "$face"; done
    printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n"ShowCrashDialog"=dword:00000000\r\n'
    printf '\r\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n"LogPixels"=dword:%08x\r\n' "$dpi"
    if [[ $scheme == test ]]; then
      printf '\r\n[HKEY_CURRENT_USER\\Control Panel\\Colors]\r\n"Scrollbar"="200 200 200"\r\n'
      # Tests run inside one Wine desktop window: without a window manager, every top-level
      # window that closes on the bare X display costs a two-second wait.
      printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\r\n"Desktop"="Default"\r\n'
      printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\r\n"Default"="1280x1024"\r\n'
    fi
  } | { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE; }
}

make_prefix() {
  echo "wine-run.sh: making Wine prefix $WINEPREFIX (once)" >&2
  rm -rf "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || { echo "wine-run.sh: wineboot failed for $WINEPREFIX" >&2; return 1; }
  wineserver -w
  # Debian keeps Wine's own fonts (Marlett draws the caption buttons) where this Wine does not
  # look; the prefix's font folder is always searched.
  if compgen -G "/usr/share/wine/fonts/*.ttf" >/dev/null; then
    cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  fi
  local reg=$root/$scheme-$dpi.reg
  registry_file >"$reg"
  wine regedit "$reg" >/dev/null 2>&1 || { echo "wine-run.sh: loading $reg failed" >&2; return 1; }
  wineserver -w
  touch "$WINEPREFIX/.quenvar-ready"
}

(
  flock 9
  [[ -f $WINEPREFIX/.quenvar-ready ]] || make_prefix
) 9>"$root/.lock"
[[ -z $prepare ]] || exit 0

status=0
if [[ -n $desktop ]]; then
  wine explorer "/desktop=Quenvar,$desktop" "$@" || status=$?
else
  wine "$@" || status=$?
fi
# Leave nothing behind: the next run may use another display.
wineserver -k 2>/dev/null || true
exit "$status"
