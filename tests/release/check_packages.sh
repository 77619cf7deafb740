#!/usr/bin/env bash
# Checks what a release folder holds for package managers:
#  - the Debian package passes lintian (errors and warnings fail, no overrides), holds exactly
#    the program, both manual pages, the copyright file and the changelog with the right modes,
#    and unpacked with dpkg-deb -x runs on a sample; man shows both pages without a warning;
#  - the winget and Scoop manifests agree with SHA256SUMS and the zips (check_manifests.py);
#  - the manifest generator, given a SHA256SUMS that disagrees with a zip or a missing zip,
#    stops with a message naming the file and leaves no manifests and no temporary files.
#   check_packages.sh DIST
set -uo pipefail
dist=$(cd "$1" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
generator=$here/../../packaging/make_manifests.py
failed=0
fail() { echo "FAIL $*"; failed=1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

zip=$(cd "$dist" && ls -- *-x64.zip 2>/dev/null | head -1)
[[ $zip =~ ^(.+)-([^-]+)-x64\.zip$ ]] || { echo "FAIL no x64 zip in $dist"; exit 1; }
name=${BASH_REMATCH[1]} version=${BASH_REMATCH[2]}
deb=$dist/quenvar-cli_${version}_amd64.deb

# --- the Debian package
if [[ ! -f $deb ]]; then
  fail "missing $deb"
else
  lintian_out=$(lintian --no-override --fail-on error,warning "$deb" 2>&1)
  lintian_status=$?
  lintian_out=$(grep -v 'running with root privileges' <<<"$lintian_out")
  [[ $lintian_status -eq 0 ]] || fail "lintian: $lintian_out"
  [[ $lintian_status -eq 0 && -n $lintian_out ]] && echo "lintian, below warning level: $lintian_out"

  listing=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $1, $2, $6}')
  expected="-rwxr-xr-x root/root ./usr/bin/quenvar-cli
-rw-r--r-- root/root ./usr/share/doc/quenvar-cli/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/quenvar-cli/copyright
-rw-r--r-- root/root ./usr/share/man/man1/quenvar-cli.1.gz
-rw-r--r-- root/root ./usr/share/man/zh_CN/man1/quenvar-cli.1.gz"
  [[ $listing == "$expected" ]] || fail "the package holds: $listing"
  root=$scratch/deb
  dpkg-deb -x "$deb" "$root"
  program=$root/usr/bin/quenvar-cli

  depends=$(dpkg-deb -f "$deb" Depends)
  mkdir -p "$scratch/src/debian"
  printf 'Source: quenvar-cli\n\nPackage: quenvar-cli\nArchitecture: amd64\n' >"$scratch/src/debian/control"
  computed=$(cd "$scratch/src" && dpkg-shlibdeps -O "$program" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
  [[ -n $depends && $depends == "$computed" ]] ||
    fail "Depends is \"$depends\", dpkg-shlibdeps gives \"$computed\""
  copyright=$root/usr/share/doc/quenvar-cli/copyright
  head -1 "$copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' &&
    grep -q '^Files: \*$' "$copyright" && grep -q '^Copyright: ' "$copyright" &&
    grep -q '^License: ' "$copyright" || fail "the copyright file is not in the machine-readable form"
  # link | what the program writes
  samples=(
    "https://pan.baidu.com/share/link?shareid=1&uk=1234567890|http://pan.baidu.com/share/home?uk=1234567890"
    "https://pan.baidu.com/s/1abc|"
  )
  input= expected_out=
  for row in "${samples[@]}"; do input+="${row%%|*}"$'\n'; expected_out+="${row#*|}"$'\n'; done
  out=$(printf '%s' "$input" | "$program" 2>/dev/null; echo "status $?")
  [[ $out == "${expected_out}status 1" ]] || fail "the unpacked program wrote: $out"
  [[ $("$program" --version 2>&1) == "quenvar-cli $version" ]] || fail "the unpacked program's --version"
  readelf -S "$program" | grep -q '\.symtab' && fail "the program is not stripped"

  for page in man1 zh_CN/man1; do
    file=$root/usr/share/man/$page/quenvar-cli.1.gz
    warnings=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings=w -l "$file" 2>&1 >/dev/null)
    [[ -z $warnings ]] || fail "$page: man warns: $warnings"
    MANWIDTH=80 LC_ALL=C.UTF-8 man -l "$file" 2>/dev/null | grep -q "quenvar-cli $version\|$name $version" ||
      fail "$page: man shows no page of $name $version"
  done
  [[ $failed -eq 0 ]] && echo "deb: $(basename "$deb") is clean, runs, and shows both manual pages (Depends: $depends)"
fi

# --- the manifests
"$here/check_manifests.py" "$dist" "$name" "$version" || failed=1

# --- the generator refuses a release that does not add up
zeros=$(printf '0%.0s' {1..64})
# case | what is done to a copy of the release | the file the message must name
cases=(
  "a zip whose SHA256SUMS line is wrong|sed -i -E 's/^[0-9a-f]{64}(  $name-$version-x86.zip)\$/$zeros\\1/' SHA256SUMS|$name-$version-x86.zip"
  "a zip that is missing|rm $name-$version-x64.zip|$name-$version-x64.zip"
  "a missing SHA256SUMS|rm SHA256SUMS|SHA256SUMS"
)
refused=0
for row in "${cases[@]}"; do
  IFS='|' read -r what damage named <<<"$row"
  copy=$scratch/release
  rm -rf "$copy"
  cp -r "$dist" "$copy"
  (cd "$copy" && eval "$damage")
  message=$("$generator" "$copy" "$name" "$version" https://example.org/quenvar 2>&1)
  status=$?
  [[ $status -ne 0 ]] || fail "$what: the generator succeeded"
  [[ $message == *"$named"* ]] || fail "$what: the message does not name $named: $message"
  left=$(cd "$copy" && ls -A | grep -E '^(winget|quenvar\.json|\.manifests-.*)$')
  [[ -z $left ]] || fail "$what: left behind: $left"
  [[ $status -ne 0 && $message == *"$named"* && -z $left ]] && refused=$((refused + 1))
done
echo "manifest generator: stopped on $refused of ${#cases[@]} broken releases, naming the file, leaving nothing"
exit $failed
