#!/usr/bin/env bash
# Runs a Windows program under Wine in one of the project's private prefixes, making the prefix
# the first time. Used by CTest (as the cross-compiling emulator) and by the other scripts.
#
#   wine-run.sh [--dpi N] [--scheme test|plain] [--desktop WxH] [--no-display] PROGRAM.exe [ARGS...]
#   wine-run.sh [--dpi N] [--scheme test|plain] --prepare
#   wine-run.sh [--dpi N] [--scheme test|plain] [--no-display] --hold
#   wine-run.sh --check PROGRAM.exe
#
# --dpi         logical DPI of the prefix (96 unless given)
# --scheme      "test" (default) sets the Windows 10 scroll-bar colour and runs in a Wine desktop;
#               "plain" keeps Wine's own colours and top-level windows
# --desktop     run inside a Wine virtual desktop of that size (draws window frames)
# --no-display  run without any X display (console programs), in a prefix of their own
# --prepare     only make the prefix
# --hold        keep the prefix's Wine server (and display) until this run is ended (SIGTERM or
#               SIGINT): a script that starts many programs one after another runs it beside them,
#               so that each program does not start and stop the server again
# --check       only say whether this host can run the program (exit status 0, or 77 as below)
#
# A 64-bit program runs with Wine's 64-bit loader, called directly, so it runs whether or not
# the host runs 32-bit code; a 32-bit program runs with the 32-bit loader. On a host that cannot
# run 32-bit programs (tools/runs-32bit.sh), a 32-bit program is not started: the script says so
# and exits 77, which CTest reports as a skipped test.
#
# The program runs in the caller's language: Wine takes the Windows locale and display language
# from the locale of messages (the first of LC_ALL, LC_MESSAGES and LANG that is set), so
# LC_ALL=zh_CN.UTF-8 gives a Chinese Windows and LC_ALL=C an English one, while arguments are
# always converted as UTF-8. The host needs no locale but C.UTF-8 for that.
#
# Without a DISPLAY (or with QUENVAR_HEADLESS=1) programs run on a virtual display that the
# prefix's runs share. Several runs may use one prefix at once: each ends only the programs it
# started, and the last one to finish stops the prefix's Wine server and virtual display. The
# program's exit status is passed through; a program that did not exit by itself never reads as
# a success: ended by a signal, 128 + its number; ended because the prefix's Wine server ended
# (wineserver -k, a crash of the server), 137 with a message.
set -euo pipefail

usage() {
  sed -n 's/^#   //p' "${BASH_SOURCE[0]}" >&2
  exit 2
}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=${QUENVAR_WINE_ROOT:-$here/../build/wine}
dpi=96
scheme=test
desktop=
prepare=
no_display=
check=
hold=
while [[ $# -gt 0 ]]; do
  case $1 in
    --dpi) dpi=$2; shift 2 ;;
    --scheme) scheme=$2; shift 2 ;;
    --desktop) desktop=$2; shift 2 ;;
    --prepare) prepare=1; shift ;;
    --no-display) no_display=1; shift ;;
    --check) check=1; shift ;;
    --hold) hold=1; shift ;;
    --) shift; break ;;
    -*) echo "wine-run.sh: unknown option $1" >&2; usage ;;
    *) break ;;
  esac
done
[[ $# -ge 1 || -n $prepare || -n $hold ]] || usage
[[ -z $check || $# -ge 1 ]] || usage
[[ $scheme == test || $scheme == plain ]] || usage

# Debian's `wine` command always starts the 32-bit loader when it is installed, even for a 64-bit
# program, and a host without 32-bit support cannot run it: the loaders are called directly.
loader64=/usr/lib/wine/wine64
loader32=/usr/lib/wine/wine
[[ -x $loader64 ]] || { echo "wine-run.sh: $loader64 is missing; run tools/bootstrap.sh" >&2; exit 2; }

# The program's machine type from its PE header: x86_64, i386, or nothing.
pe_machine() {
  local offset
  offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [[ -n $offset && $(od -An -c -j"$offset" -N2 "$1" | tr -d ' ') == PE ]] || return 0
  case $(od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' ') in
    8664) echo x86_64 ;;
    014c) echo i386 ;;
  esac
}
loader=$loader64
if [[ $# -ge 1 ]]; then
  machine=$(pe_machine "$1")
  [[ -n $machine ]] || { echo "wine-run.sh: $1 is not a Windows x86-64 or i386 program" >&2; exit 2; }
  if [[ $machine == i386 ]]; then
    runs32=0
    "$here/runs-32bit.sh" --quiet || runs32=$?
    if [[ $runs32 -eq 1 ]]; then
      echo "wine-run.sh: skipped $(basename "$1"): this host cannot run 32-bit programs"
      exit 77
    fi
    [[ $runs32 -eq 0 ]] || exit 2
    # The bootstrap says when it could not install wine32:i386 (a mirror's i386 lists behind).
    if [[ ! -x $loader32 ]]; then
      echo "wine-run.sh: skipped $(basename "$1"): Wine's 32-bit loader is not installed (wine32:i386)"
      exit 77
    fi
    loader=$loader32
  fi
fi
[[ -z $check ]] || exit 0
# What a program starts (another program, the desktop) finds the loader from this.
if [[ $loader == "$loader64" ]]; then
  export WINELOADER=$loader64
fi

mkdir -p "$root"
root=$(cd "$root" && pwd)
# Programs run without a display have a prefix of their own: the first program of a Wine server
# starts the desktop process of its session, and one started without a display would leave the
# windows of later programs with none.
name=$scheme-$dpi${no_display:+-console}
export WINEPREFIX=$root/$name
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer prompts, no desktop menu entries.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Wine turns Unix arguments into UTF-16 by the locale's character set, and takes the language
# from the locale's name; a locale glibc does not have leaves it with C: ASCII and English. The
# program gets a locale of the caller's name with C.UTF-8's data, from a folder of the project's
# own (LOCPATH), so that any language reaches it and its arguments are UTF-8.
caller_locale=${LC_ALL:-${LC_MESSAGES:-${LANG:-C}}}
caller_locale=${caller_locale%%[.@]*}  # language_TERRITORY
program_locale=(LC_ALL=C.UTF-8)
if [[ $caller_locale =~ ^[a-z]{2,3}(_[A-Za-z0-9]+)?$ ]]; then
  c_utf8=/usr/lib/locale/C.utf8
  [[ -d $c_utf8 ]] || { echo "wine-run.sh: $c_utf8 is missing (libc-bin)" >&2; exit 2; }
  mkdir -p "$root/locale"
  [[ -e $root/locale/$caller_locale.UTF-8 ]] ||
    ln -s "$c_utf8" "$root/locale/$caller_locale.UTF-8" 2>/dev/null || true
  program_locale=(LOCPATH="$root/locale" LC_ALL="$caller_locale.UTF-8")
fi
# This script's own Wine commands (making the prefix) always run in C.UTF-8.
export LC_ALL=C.UTF-8
display_file=$root/$name.display  # "NUMBER PID START" of the prefix's virtual display
server_file=$root/$name.server    # "PID START DIRECTORY" of the prefix's Wine server
# Where Wine's server keeps its socket must be the same for every run of the prefix, whatever the
# caller's TMPDIR (two servers on one prefix would wreck it). Debian's Wine 8 makes that folder in
# TMPDIR, so it is given a TMPDIR of the prefixes' own and leaves nothing in /tmp; Wine 10 keeps
# it in /tmp/.wine-UID and aborts when TMPDIR is set at all.
wine_version=$("$loader64" --version 2>/dev/null) || true
if [[ $wine_version =~ ^wine-([0-9]+)\. && ${BASH_REMATCH[1]} -lt 9 ]]; then
  export TMPDIR=$root/tmp
  mkdir -p "$TMPDIR"
  server_dirs=$TMPDIR/wine-*
else
  unset TMPDIR
  server_dirs=/tmp/.wine-$(id -u)
fi

# When process PID started (in clock ticks since boot): with the number, it names one process.
# Nothing for one that has ended and is not yet reaped (a zombie).
started_at() {
  local stat fields
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
  read -r -a fields <<<"${stat##*) }"
  [[ ${fields[0]} == Z ]] || echo "${fields[19]}"
}
# Reads the display file into number and pid when the Xvfb it names still runs. The file may
# outlive its Xvfb (a killed run, a reboot) and the number be another process's by now.
display_runs() {
  local start
  read -r number pid start 2>/dev/null <"$display_file" && [[ -n $start ]] &&
    [[ $(cat "/proc/$pid/comm" 2>/dev/null) == Xvfb && $(started_at "$pid") == "$start" ]]
}

stop_display() {
  local number pid
  if display_runs; then
    kill "$pid" 2>/dev/null || true
  fi
  rm -f "$display_file"
}

# Reads the server file into server_pid and server_dir when the server it names still runs.
server_runs() {
  local start
  read -r server_pid start server_dir 2>/dev/null <"$server_file" && [[ -n $server_dir ]] &&
    [[ $(started_at "$server_pid") == "$start" ]]
}

# Whether the prefix's server is being ended: `wineserver -k` ends the programs first and stays
# until the server has gone (it writes the registry first), so a killer missed by the search
# below because it has just ended leaves no server behind it.
server_ending() {
  local server_pid server_dir p comm
  server_runs || return 0
  for p in /proc/[0-9]*; do
    comm=
    read -r comm 2>/dev/null <"$p/comm" || continue
    [[ ${p#/proc/} != "$server_pid" && $comm == wineserver* ]] || continue
    # The same path in another root (a chroot) is another prefix.
    [[ $p/root -ef / ]] 2>/dev/null || continue
    { tr '\0' '\n' <"$p/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
  done
  ! server_runs
}

# Ends the prefix's Wine server and what runs in it, and the folder of its socket. Only while
# no other run uses the prefix.
stop_server() {
  local server_pid server_dir
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  if server_runs; then
    kill "$server_pid" 2>/dev/null || true
  fi
  # shellcheck disable=SC2053 # server_dirs is a pattern
  if [[ -n ${server_dir:-} && $server_dir == $server_dirs/server-* ]]; then
    rm -rf "$server_dir"
    [[ $server_dirs == /tmp/* ]] || rmdir "${server_dir%/*}" 2>/dev/null || true
  fi
  rm -f "$server_file"
}

# Every run holds this lock shared while it uses the prefix; the last one gets it exclusively.
exec 8>"$root/$name.users"
# A run killed at a test's timeout (SIGKILL) could not end what it started, and Wine starts
# programs outside the killed process tree: a run that finds the prefix unused ends any of that.
if flock -xn 8; then
  stop_server
  stop_display
fi
flock -s 8

# The prefix's virtual display: started by the first run that needs it, kept by the others.
use_virtual_display() {
  command -v Xvfb >/dev/null || { echo "wine-run.sh: Xvfb is missing; run tools/bootstrap.sh" >&2; exit 2; }
  exec 7>"$root/$name.display-lock"
  flock 7
  local number pid
  if ! display_runs; then
    local ready started
    ready=$(mktemp -p "$root")
    started=$(mktemp -p "$root")
    # Outside this script's process tree, so that killing one run (a test's timeout) does not
    # take the display from the others; the locks are this script's and are not passed on.
    setsid -f bash -c 'echo $$ >"$1"; exec Xvfb -displayfd 6 -screen 0 1280x1024x24 -nolisten tcp' \
      xvfb "$started" 6>"$ready" >/dev/null 2>&1 7>&- 8>&-
    for _ in $(seq 100); do
      [[ -s $ready ]] && break
      sleep 0.05
    done
    number=$(tr -dc 0-9 <"$ready")
    pid=$(cat "$started")
    rm -f "$ready" "$started"
    if [[ -z $number ]]; then
      [[ -z $pid ]] || kill "$pid" 2>/dev/null || true
      echo "wine-run.sh: Xvfb did not start" >&2
      exit 2
    fi
    echo "$number $pid $(started_at "$pid")" >"$display_file"
  fi
  flock -u 7
  export DISPLAY=:$number
}

if [[ -n $no_display ]]; then
  unset DISPLAY WAYLAND_DISPLAY
elif [[ -z ${QUENVAR_IN_XVFB:-} && ( -z ${DISPLAY:-} || -n ${QUENVAR_HEADLESS:-} ) ]]; then
  use_virtual_display
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
  WINELOADER=$loader64 "$loader64" wineboot.exe -i >/dev/null 2>&1 8>&- 9>&- || { echo "wine-run.sh: wineboot failed for $WINEPREFIX" >&2; return 1; }
  wineserver -w
  # Debian keeps Wine's own fonts (Marlett draws the caption buttons) where this Wine does not
  # look; the prefix's font folder is always searched.
  if compgen -G "/usr/share/wine/fonts/*.ttf" >/dev/null; then
    cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  fi
  local reg=$root/$name.reg
  registry_file >"$reg"
  WINELOADER=$loader64 "$loader64" regedit.exe "$reg" >/dev/null 2>&1 8>&- 9>&- || { echo "wine-run.sh: loading $reg failed" >&2; return 1; }
  wineserver -w
  touch "$WINEPREFIX/.quenvar-ready"
}

(
  flock 9
  [[ -f $WINEPREFIX/.quenvar-ready ]] || make_prefix
) 9>"$root/.lock"

# The last run using the prefix stops its Wine server and its virtual display.
finish_prefix() {
  if flock -xn 8; then
    stop_server
    stop_display
  fi
}
[[ -z $prepare ]] || { finish_prefix; exit 0; }

# The prefix's Wine server, started by the first run and kept until the last one ends it: a
# program whose server ended under it exits with status 0, so each run checks that the server
# it started with is still the same when its program has ended.
use_server() {
  exec 7>"$root/$name.server-lock"
  flock 7
  local server_pid server_dir
  if ! server_runs; then
    local started pid dir=
    started=$(mktemp -p "$root")
    setsid -f bash -c 'echo $$ >"$1"; exec wineserver --foreground --persistent' wineserver "$started" \
      >/dev/null 2>&1 7>&- 8>&-
    for _ in $(seq 200); do
      pid=$(cat "$started")
      dir=$(readlink "/proc/${pid:-0}/cwd" 2>/dev/null) || true
      [[ $dir == */server-* && -S $dir/socket ]] && break
      dir=
      sleep 0.05
    done
    rm -f "$started"
    [[ -n $dir ]] || { echo "wine-run.sh: Wine's server did not start for $WINEPREFIX" >&2; exit 2; }
    echo "$pid $(started_at "$pid") $dir" >"$server_file"
  fi
  flock -u 7
}
use_server

# The program runs in a session of its own, so what it starts can be ended with it and nothing
# of another run is touched.
program=
end_own_programs() {
  [[ -z $program ]] || kill -- "-$program" 2>/dev/null || true
  finish_prefix
}
trap end_own_programs EXIT
trap 'exit 130' INT TERM
# An asynchronous command would read /dev/null: keep this script's standard input.
if [[ -n $hold ]]; then
  setsid sleep infinity 8>&- &
elif [[ -n $desktop ]]; then
  setsid env "${program_locale[@]}" "$loader" explorer.exe "/desktop=Quenvar,$desktop" "$@" <&0 8>&- &
else
  setsid env "${program_locale[@]}" "$loader" "$@" <&0 8>&- &
fi
program=$!
status=0
wait "$program" || status=$?
if [[ $status -eq 0 ]] && server_ending; then
  echo "wine-run.sh: $(basename "$1") did not exit by itself: Wine's server ended it" >&2
  status=137
fi
exit "$status"
