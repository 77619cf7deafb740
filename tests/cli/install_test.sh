#!/usr/bin/env bash
# `cmake --install` of a build tree puts exactly the program and its manual pages (English and
# Chinese) under the prefix, the program runs from there, and `man -l` shows each page, every
# section and the example, without a warning.
#   install_test.sh BUILD_TREE VERSION
set -uo pipefail
tree=$1 version=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
failed=0
fail() { echo "FAIL $*"; failed=1; }

cmake --install "$tree" --prefix "$prefix" >/dev/null || fail "cmake --install"
installed=$(cd "$prefix" && find . -type f -o -type l | sort | tr '\n' ' ')
expected="./bin/quenvar-cli ./share/man/man1/quenvar-cli.1 ./share/man/zh_CN/man1/quenvar-cli.1 "
[[ $installed == "$expected" ]] || fail "installed: $installed"

[[ $("$prefix/bin/quenvar-cli" --version) == "quenvar-cli $version" ]] || fail "the installed program"

# page | its sections, as man shows them
pages=(
  "man1|NAME|SYNOPSIS|DESCRIPTION|OPTIONS|EXIT STATUS|ENVIRONMENT|EXAMPLES"
  "zh_CN/man1|名称|概要|描述|选项|退出状态|环境|示例"
)
for row in "${pages[@]}"; do
  IFS='|' read -ra fields <<<"$row"
  page=$prefix/share/man/${fields[0]}/quenvar-cli.1
  # Rendered in full: groff finds lines it cannot break or adjust only when it writes them. man
  # loads Chinese line breaking itself for a page in a zh_CN folder; plain groff shows that the
  # page does without it.
  warnings=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings=w -l "$page" 2>&1 >/dev/null
             LC_ALL=C.UTF-8 groff -k -man -Tutf8 -ww "$page" 2>&1 >/dev/null)
  [[ -z $warnings ]] || fail "${fields[0]}: warnings: $warnings"
  shown=$(MANWIDTH=80 LC_ALL=C.UTF-8 man -l "$page" 2>&1)
  for section in "${fields[@]:1}"; do
    grep -q "^$section" <<<"$shown" || fail "${fields[0]}: man -l shows no $section section"
  done
  grep -q "http://pan.baidu.com/share/home?uk=1234567890" <<<"$shown" ||
    fail "${fields[0]}: man -l lost the example"
  grep -q "$version" <<<"$shown" || fail "${fields[0]}: the page does not carry version $version"
done
[[ $failed -eq 0 ]] && echo "installed and shown cleanly"
exit $failed
