#!/usr/bin/env bash
# Throughput of quenvar-cli on a million links against `cat` of the same file (the floor) and a
# `sed -E` one-liner doing the same rewrite for ASCII input, run pair by pair; peak memory on a
# 100 MB input; and Google Benchmark of the rule itself.
#   tools/bench-cli.sh [ROUNDS] [PROGRAM]      (default 7 rounds; the optimised build's quenvar-cli)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
rounds=${1:-7}
tools/bootstrap.sh
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build/bench --target quenvar-cli rule_benchmark >/dev/null
cli=${2:-build/bench/cli/quenvar-cli}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A million links with varied share ids and keys.
awk 'BEGIN { srand(7); for (i = 0; i < 1000000; i++)
  printf "https://pan.baidu.com/share/link?shareid=%d&uk=%010d\n", int(rand() * 1e9), int(rand() * 1e10) }' >"$work/links"
prefix='http://pan.baidu.com/share/home?uk='
sed_rewrite=(sed -E -e "s#^(=.{0,9})\$#${prefix}\\1#;t" -e "s#^.*=(.{10})\$#${prefix}\\1#;t" -e 's#.*##')

# The three must agree before their speed means anything.
"$cli" <"$work/links" >"$work/by-cli"
"${sed_rewrite[@]}" <"$work/links" >"$work/by-sed"
cmp -s "$work/by-cli" "$work/by-sed" || { echo "quenvar-cli and sed disagree" >&2; exit 1; }

seconds() {  # wall-clock seconds of one run, output discarded
  local start end
  start=$(date +%s.%N)
  "$@" <"$work/links" >/dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

: >"$work/cat" ; : >"$work/cli" ; : >"$work/sed"
for ((i = 0; i < rounds; i++)); do
  seconds cat >>"$work/cat"
  seconds "$cli" >>"$work/cli"
  seconds "${sed_rewrite[@]}" >>"$work/sed"
done
size=$(stat -c %s "$work/links")
cat_s=$(median <"$work/cat"); cli_s=$(median <"$work/cli"); sed_s=$(median <"$work/sed")
mb() { echo "scale=1; $size / 1048576 / $1" | bc -l; }
echo "input: 1,000,000 links, $((size / 1048576)) MiB; medians of $rounds rounds"
echo "cat          ${cat_s}s  $(mb "$cat_s") MiB/s"
echo "quenvar-cli  ${cli_s}s  $(mb "$cli_s") MiB/s"
echo "sed -E       ${sed_s}s  $(mb "$sed_s") MiB/s"
echo "quenvar-cli / cat throughput: $(echo "scale=2; $cat_s / $cli_s" | bc -l)"
echo "quenvar-cli / sed throughput: $(echo "scale=1; $sed_s / $cli_s" | bc -l)"

head -c $((100 * 1024 * 1024)) < <(yes 'https://pan.baidu.com/share/link?shareid=42&uk=1234567890') >"$work/big"
/usr/bin/time -f '%M' -o "$work/rss" "$cli" <"$work/big" >/dev/null 2>&1 || true
echo "peak memory on a 100 MiB input: $(tail -1 "$work/rss") KiB"

build/bench/tools/rule_benchmark --benchmark_min_time=0.2 2>/dev/null | grep -E '^BM_'
