#!/usr/bin/env bash
# `cmake --install` of a build tree puts exactly the program and its manual page under the
# prefix, the program runs from there, and `man -l` shows the page without a warning.
#   install_test.sh BUILD_TREE VERSION
set -uo pipefail
tree=$1 version=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
failed=0
fail() { echo "FAIL $*"; failed=1; }

cmake --install "$tree" --prefix "$prefix" >/dev/null || fail "cmake --install"
installed=$(cd "$prefix" && find . -type f -o -type l | sort | tr '\n' ' ')
[[ $installed == "./bin/quenvar-cli ./share/man/man1/quenvar-cli.1 " ]] || fail "installed: $installed"

[[ $("$prefix/bin/quenvar-cli" --version) == "quenvar-cli $version" ]] || fail "the installed program"

page=$prefix/share/man/man1/quenvar-cli.1
warnings=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$page" 2>&1)
[[ -z $warnings ]] || fail "groff warns: $warnings"
shown=$(MANWIDTH=80 LC_ALL=C.UTF-8 man -l "$page" 2>&1)
for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" EXAMPLES; do
  grep -q "^$section" <<<"$shown" || fail "man -l shows no $section section"
done
grep -q "http://pan.baidu.com/share/home?uk=1234567890" <<<"$shown" || fail "man -l lost the example"
grep -q "$version" <<<"$shown" || fail "the page does not carry version $version"
[[ $failed -eq 0 ]] && echo "installed and shown cleanly"
exit $failed
