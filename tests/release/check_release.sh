#!/usr/bin/env bash
# Builds the release twice, in two build directories of different names and at different times,
# and checks that:
#  - each build gives the x64 and x86 zips, each holding one folder with Quenvar.exe,
#    quenvar-cli.exe and readme.txt, and the page quenvar.html;
#  - SHA256SUMS verifies with `sha256sum -c` once the zips are unpacked next to it;
#  - every file of both builds' dist/ (zips, SHA256SUMS, the Debian package, the winget and
#    Scoop manifests) is byte-identical;
#  - the package and the manifests pass check_packages.sh.
#   check_release.sh SOURCE_DIR SCRATCH_DIR NAME VERSION
set -euo pipefail
src=$1 scratch=$2 name=$3 version=$4
rm -rf "$scratch"
mkdir -p "$scratch"

build() {
  local tree=$1
  cmake -S "$src" -B "$tree" -G Ninja -DQUENVAR_RELEASE=ON >"$tree.log" 2>&1 &&
    cmake --build "$tree" >>"$tree.log" 2>&1 ||
    { cat "$tree.log"; echo "release build in $tree failed" >&2; exit 1; }
}

check_dist() {
  local dist=$1/dist
  for arch in x64 x86; do
    local folder=$name-$version-$arch
    local zip=$dist/$folder.zip
    [[ -f $zip ]] || { echo "missing $zip" >&2; exit 1; }
    local listing
    listing=$(unzip -Z1 "$zip" | tr '\n' ' ')
    [[ $listing == "$folder/ $folder/$name.exe $folder/quenvar-cli.exe $folder/readme.txt " ]] ||
      { echo "$zip holds: $listing" >&2; exit 1; }
    # Unpacked as a user does, next to SHA256SUMS.
    (cd "$dist" && unzip -q "$zip")
  done
  [[ -s $dist/quenvar.html ]] || { echo "missing $dist/quenvar.html" >&2; exit 1; }
  [[ $(wc -l <"$dist/SHA256SUMS") -eq 7 ]] || { echo "SHA256SUMS should have 7 lines" >&2; exit 1; }
  (cd "$dist" && sha256sum --quiet -c SHA256SUMS) || { echo "SHA256SUMS does not match" >&2; exit 1; }
}

build "$scratch/first"
check_dist "$scratch/first"
sleep 2  # a build at another time must not differ either
# Nor one whose temporary files are on another kind of file system (tmpfs, where there is one).
elsewhere=$(mktemp -d -p /dev/shm 2>/dev/null) || elsewhere=
trap '[[ -z $elsewhere ]] || rm -rf "$elsewhere"' EXIT
trap 'exit 143' INT TERM
TMPDIR=${elsewhere:-${TMPDIR:-/tmp}} build "$scratch/second-build-elsewhere"
check_dist "$scratch/second-build-elsewhere"

files() { (cd "$1" && find . -type f | sort); }
listing=$(files "$scratch/first/dist")
[[ $listing == "$(files "$scratch/second-build-elsewhere/dist")" ]] ||
  { echo "the two builds' dist/ hold different files" >&2; exit 1; }
for file in "$name-$version-x64.zip" "$name-$version-x86.zip" SHA256SUMS \
            "quenvar-cli_${version}_amd64.deb" quenvar.json winget quenvar.html; do
  grep -q "^\./$file" <<<"$listing" || { echo "dist/ holds no $file" >&2; exit 1; }
done
while read -r file; do
  a=$scratch/first/dist/$file
  b=$scratch/second-build-elsewhere/dist/$file
  cmp "$a" "$b" || { echo "$file differs between the two builds" >&2; exit 1; }
  echo "${file#./}: identical in both builds, $(stat -c %s "$a") bytes"
done <<<"$listing"

"$(dirname "${BASH_SOURCE[0]}")/check_packages.sh" "$scratch/first/dist"
