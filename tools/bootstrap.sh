#!/usr/bin/env bash
# Installs what building, testing and benchmarking Quenvar needs on Debian/Ubuntu, and only what
# is missing.
# A second run with everything present returns in a few seconds.
set -euo pipefail

packages=(
  cmake ninja-build g++ googletest clang-format
  clang libclang-rt-14-dev libbenchmark-dev time bc
  mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  wine wine64 wine32:i386 fonts-wine
  xvfb xauth fonts-wqy-microhei imagemagick
  tmux zip unzip man-db groff-base
)

step=""
trap 'echo "bootstrap: failed while ${step}. Check the network or apt sources, then run tools/bootstrap.sh again." >&2' ERR

as_root() {
  if [[ $(id -u) -eq 0 ]]; then "$@"
  elif command -v sudo >/dev/null; then sudo "$@"
  else echo "bootstrap: needs root (or sudo) to install: ${missing[*]}" >&2; exit 1
  fi
}

installed() {
  [[ $(dpkg-query -W -f='${Status}' "$1" 2>/dev/null) == "install ok installed" ]]
}

step="checking installed packages"
command -v dpkg-query >/dev/null || { echo "bootstrap: this script supports Debian and Ubuntu only" >&2; exit 1; }
missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "bootstrap: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  step="adding the i386 architecture (needed by wine32)"
  as_root dpkg --add-architecture i386
fi
step="running apt-get update"
as_root apt-get update -qq
step="installing packages with apt-get"
as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "bootstrap: done"
