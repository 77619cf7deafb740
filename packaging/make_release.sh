#!/usr/bin/env bash
# Packs the release: one zip per architecture, each holding one folder NAME-VERSION-ARCH/ with
# the window program, the command-line program and the readme, and SHA256SUMS over the zips and
# the exes at the paths they unpack to. Byte-reproducible: entries in a fixed order with fixed
# permissions, every timestamp SOURCE_DATE_EPOCH (by default the time of the commit built), and
# no extra fields with owners or access times.
#   make_release.sh SOURCE DIST NAME VERSION README ARCH EXE CLI-EXE [ARCH EXE CLI-EXE]...
set -euo pipefail
source=$1 dist=$2 name=$3 version=$4 readme=$5
shift 5
command -v zip >/dev/null || { echo "make_release.sh: zip is missing; run tools/bootstrap.sh" >&2; exit 1; }

if [[ -z ${SOURCE_DATE_EPOCH:-} ]]; then
  SOURCE_DATE_EPOCH=$(git -C "$source" log -1 --format=%ct 2>/dev/null || true)
fi
# Without a commit to date it, the earliest time a zip can hold: 1980-01-01.
epoch=${SOURCE_DATE_EPOCH:-315532800}
(( epoch >= 315532800 )) || epoch=315532800
# A zip stores local time; UTC makes it the same on every machine.
export TZ=UTC

rm -rf "$dist"
mkdir -p "$dist"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
zips=()
sums=()
while [[ $# -gt 0 ]]; do
  arch=$1 exe=$2 cli=$3
  shift 3
  folder=$name-$version-$arch
  mkdir "$stage/$folder"
  cp "$exe" "$stage/$folder/$name.exe"
  cp "$cli" "$stage/$folder/quenvar-cli.exe"
  cp "$readme" "$stage/$folder/readme.txt"
  chmod 755 "$stage/$folder" "$stage/$folder/$name.exe" "$stage/$folder/quenvar-cli.exe"
  chmod 644 "$stage/$folder/readme.txt"
  touch -h -d "@$epoch" "$stage/$folder" "$stage/$folder"/*
  entries=("$folder/" "$folder/$name.exe" "$folder/quenvar-cli.exe" "$folder/readme.txt")
  (cd "$stage" && zip -q -X -9 "$dist/$folder.zip" "${entries[@]}")
  zips+=("$folder.zip")
  sums+=("$folder/$name.exe" "$folder/quenvar-cli.exe")
done

# Lines in the form `sha256sum -c` reads: the zips, then each exe where it unpacks.
{
  (cd "$dist" && sha256sum "${zips[@]}")
  (cd "$stage" && sha256sum "${sums[@]}")
} >"$dist/SHA256SUMS"
echo "make_release.sh: $(cd "$dist" && ls) (timestamps $(date -u -d "@$epoch" +%FT%TZ))"
