#!/usr/bin/env bash
# Builds the release packages twice, in two build directories of different names and at
# different times, and checks that:
#  - each build gives the x64 and x86 zips, each holding Quenvar.exe and readme.txt;
#  - SHA256SUMS matches the zips and the exes unpacked from them;
#  - both builds' Quenvar.exe files are byte-identical.
#   check_release.sh SOURCE_DIR SCRATCH_DIR
set -euo pipefail
src=$1
scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch"

build() {
  local tree=$1
  cmake -S "$src" -B "$tree" -G Ninja -DQUENVAR_RELEASE=ON >"$tree.log" 2>&1 &&
    cmake --build "$tree" --target package >>"$tree.log" 2>&1 ||
    { cat "$tree.log"; echo "release build in $tree failed" >&2; exit 1; }
}

check_dist() {
  local dist=$1/dist
  for arch in x64 x86; do
    local zip=$dist/Quenvar-1.00-$arch.zip
    [[ -f $zip ]] || { echo "missing $zip" >&2; exit 1; }
    local listing
    listing=$(cmake -E tar tf "$zip" | sort | tr '\n' ' ')
    [[ $listing == "Quenvar.exe readme.txt " ]] || { echo "$zip holds: $listing" >&2; exit 1; }
    # Unpack as Explorer's "Extract All" does: into a folder named after the zip.
    mkdir -p "$dist/Quenvar-1.00-$arch"
    (cd "$dist/Quenvar-1.00-$arch" && cmake -E tar xf "$zip")
  done
  [[ $(wc -l <"$dist/SHA256SUMS") -eq 4 ]] || { echo "SHA256SUMS should have 4 lines" >&2; exit 1; }
  (cd "$dist" && sha256sum --quiet -c SHA256SUMS) || { echo "SHA256SUMS does not match" >&2; exit 1; }
}

build "$scratch/first"
check_dist "$scratch/first"
sleep 2  # a build at another time must not differ either
build "$scratch/second-build-elsewhere"
check_dist "$scratch/second-build-elsewhere"

for arch in x64 x86; do
  a=$scratch/first/dist/Quenvar-1.00-$arch/Quenvar.exe
  b=$scratch/second-build-elsewhere/dist/Quenvar-1.00-$arch/Quenvar.exe
  cmp "$a" "$b" || { echo "$arch: the two builds of Quenvar.exe differ" >&2; exit 1; }
  echo "$arch: Quenvar.exe identical in both builds, $(stat -c %s "$a") bytes"
done
