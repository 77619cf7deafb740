#!/usr/bin/env bash
# Installs what building, testing and benchmarking Quenvar needs on Debian 12 or 13 (x86-64), and
# only what is missing. A second run with everything present returns in a fraction of a second.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# "a|b": the first of these that the release has (the name changed between releases).
packages=(
  cmake ninja-build g++ googletest clang-format
  clang "libclang-rt-dev|libclang-rt-14-dev" libbenchmark-dev time bc
  mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  wine wine64 fonts-wine
  xvfb xauth fonts-wqy-microhei imagemagick
  tmux zip unzip man-db groff-base ripgrep
  dpkg-dev lintian python3 python3-yaml
  llvm lld wasi-libc "libc++-dev-wasm32|libc++-14-dev-wasm32" "libclang-rt-dev-wasm32|libclang-rt-14-dev-wasm32"
  nodejs chromium chromium-driver python3-selenium
)

step=""
trap 'echo "bootstrap: failed while ${step}. Check the network or apt sources, then run tools/bootstrap.sh again." >&2' ERR

step="checking whether this host runs 32-bit programs"
runs32=0
"$here/runs-32bit.sh" --quiet || runs32=$?
[[ $runs32 -le 1 ]] || exit 1
if [[ $runs32 -eq 0 ]]; then
  packages+=(wine32:i386)
else
  echo "bootstrap: this host cannot run 32-bit programs: the x86 programs will be built and checked but not run"
fi

as_root() {
  if [[ $(id -u) -eq 0 ]]; then "$@"
  elif command -v sudo >/dev/null; then sudo "$@"
  else echo "bootstrap: needs root (or sudo) to install: ${missing[*]}" >&2; exit 1
  fi
}

step="checking installed packages"
command -v dpkg-query >/dev/null || { echo "bootstrap: this script supports Debian and Ubuntu only" >&2; exit 1; }
names=()
for group in "${packages[@]}"; do IFS='|' read -ra alternatives <<<"$group"; names+=("${alternatives[@]}"); done
declare -A installed=()
while read -r name arch status; do
  [[ $status == installed ]] || continue
  installed[$name]=1
  installed[$name:$arch]=1
done < <(dpkg-query -W -f='${Package} ${Architecture} ${db:Status-Status}\n' "${names[@]%:*}" 2>/dev/null || true)
missing=()
for group in "${packages[@]}"; do
  IFS='|' read -ra alternatives <<<"$group"
  found=
  for p in "${alternatives[@]}"; do [[ -n ${installed[$p]:-} ]] && found=1; done
  [[ -n $found ]] || missing+=("$group")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

export DEBIAN_FRONTEND=noninteractive
if [[ $runs32 -eq 0 ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  step="adding the i386 architecture (needed by wine32)"
  as_root dpkg --add-architecture i386
fi
step="running apt-get update"
# A mirror caught mid-sync fails one index while the others are fresh: what is needed may still be
# there, and the install below says so if it is not.
if ! as_root apt-get update -qq; then
  echo "bootstrap: apt-get update reported errors; trying to install from the package lists it has" >&2
fi
step="choosing package names for this release"
chosen=()
for group in "${missing[@]}"; do
  IFS='|' read -ra alternatives <<<"$group"
  pick=
  for p in "${alternatives[@]}"; do
    if [[ -n $(apt-cache policy "$p" 2>/dev/null | sed -n 's/^ *Candidate: *//p' | grep -v '(none)') ]]; then
      pick=$p
      break
    fi
  done
  [[ -n $pick ]] || { echo "bootstrap: this release has none of: ${alternatives[*]}" >&2; exit 1; }
  chosen+=("$pick")
done
install() { as_root apt-get install -y -qq -o DPkg::Lock::Timeout=600 --no-install-recommends "$@" >/dev/null; }
# wine32:i386 goes last and alone: a mirror whose i386 lists lag behind its amd64 ones (a sync in
# progress) cannot install it, and that costs only the runs of the x86 programs.
others=() wine32=
for p in "${chosen[@]}"; do [[ $p == wine32:i386 ]] && wine32=$p || others+=("$p"); done
step="installing packages with apt-get"
if [[ ${#others[@]} -gt 0 ]]; then
  echo "bootstrap: installing ${others[*]}"
  install "${others[@]}"
fi
if [[ -n $wine32 ]]; then
  echo "bootstrap: installing $wine32"
  if ! install "$wine32"; then
    echo "bootstrap: $wine32 could not be installed from these package lists: the x86 programs will be built and checked but not run" >&2
  fi
fi
echo "bootstrap: done"
