#!/usr/bin/env bash
# Makes the Debian package of quenvar-cli: the program (stripped), its manual pages in English and
# Chinese, the copyright file and the changelog. Depends is computed by dpkg-shlibdeps from the
# program, so a package built on an older Debian installs on every newer one. Byte-reproducible:
# every file time is SOURCE_DATE_EPOCH (by default the time of the commit built), owners are
# root, man pages and changelog are compressed without names or times, and dpkg-deb sorts.
# The package appears in DIST only when it is complete.
#   make_deb.sh SOURCE DIST VERSION PROGRAM MAN-EN MAN-ZH COPYRIGHT HOMEPAGE MAINTAINER
set -euo pipefail
source=$1 dist=$2 version=$3 program=$4 man_en=$5 man_zh=$6 copyright=$7 homepage=$8 maintainer=$9
package=quenvar-cli
for tool in dpkg-deb dpkg-shlibdeps strip gzip; do
  command -v "$tool" >/dev/null || { echo "make_deb.sh: $tool is missing; run tools/bootstrap.sh" >&2; exit 1; }
done
for input in "$program" "$man_en" "$man_zh" "$copyright"; do
  [[ -f $input ]] || { echo "make_deb.sh: $input is missing" >&2; exit 1; }
done

if [[ -z ${SOURCE_DATE_EPOCH:-} ]]; then
  SOURCE_DATE_EPOCH=$(git -C "$source" log -1 --format=%ct 2>/dev/null || date +%s)
fi
export SOURCE_DATE_EPOCH
export LC_ALL=C.UTF-8 TZ=UTC

work=$(mktemp -d)
deb=${package}_${version}_amd64.deb
partial=$dist/.$deb.partial
trap 'rm -rf "$work" "$partial"' EXIT
umask 022
root=$work/root
doc=$root/usr/share/doc/$package
mkdir -p "$root/DEBIAN" "$root/usr/bin" "$root/usr/share/man/man1" "$root/usr/share/man/zh_CN/man1" "$doc"

# What dh_strip does for a program: no symbols, no compiler notes.
strip --remove-section=.comment --remove-section=.note -o "$root/usr/bin/$package" "$program"
chmod 0755 "$root/usr/bin/$package"
gzip -9n <"$man_en" >"$root/usr/share/man/man1/$package.1.gz"
gzip -9n <"$man_zh" >"$root/usr/share/man/zh_CN/man1/$package.1.gz"
cp "$copyright" "$doc/copyright"
# A version without a Debian revision is a native package: its changelog is changelog.gz.
{
  echo "$package ($version) unstable; urgency=medium"
  echo
  echo "  * Release $version."
  echo
  echo " -- $maintainer  $(date -R -d "@$SOURCE_DATE_EPOCH")"
} | gzip -9n >"$doc/changelog.gz"
find "$root" -type f ! -path '*/DEBIAN/*' ! -name "$package" -exec chmod 0644 {} +

# dpkg-shlibdeps reads the package's name from a debian/control of a source tree.
mkdir -p "$work/src/debian"
printf 'Source: %s\n\nPackage: %s\nArchitecture: amd64\n' "$package" "$package" >"$work/src/debian/control"
depends=$(cd "$work/src" && dpkg-shlibdeps -O "$root/usr/bin/$package" | sed -n 's/^shlibs:Depends=//p')
[[ -n $depends ]] || { echo "make_deb.sh: dpkg-shlibdeps found no dependencies" >&2; exit 1; }

# In KiB as dpkg-gencontrol counts: each file rounded up, anything else 1. Not from du, whose
# sizes of folders depend on the file system the package is made on.
size=$(find "$root" -mindepth 1 -path "$root/DEBIAN" -prune -o -printf '%y %s\n' |
  awk '{ kib += $1 == "f" ? int(($2 + 1023) / 1024) : 1 } END { print kib }')
cat >"$root/DEBIAN/control" <<EOF
Package: $package
Version: $version
Architecture: amd64
Maintainer: $maintainer
Installed-Size: $size
Depends: $depends
Section: utils
Priority: optional
Homepage: $homepage
Description: repair expired Baidu Netdisk share links, find every sharer
 quenvar-cli turns an expired Baidu Netdisk share link into the link of the
 sharer's home page, built from the user key at the end of the link. It
 repairs any number of links given as arguments or one per line, streaming
 files of any size in constant memory.
 .
 With --scan it reads any text (a saved forum page, a chat export, in UTF-8,
 GBK or UTF-16) and writes one home link per person who shared a link in it.
 It never uses the network.
EOF
(cd "$root" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"
chmod 0644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"
find "$root" -type d -exec chmod 0755 {} +
find "$root" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

mkdir -p "$dist"
dpkg-deb --root-owner-group -Zxz --build "$root" "$partial" >/dev/null
mv "$partial" "$dist/$deb"
echo "make_deb.sh: $deb (Depends: $depends)"
