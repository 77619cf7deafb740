#!/usr/bin/env bash
# Throughput of quenvar.html's scan of CORPUS in headless Chromium (the file chosen through the
# page, from the click to the list shown) against `NATIVE --scan --where CORPUS`, round by round;
# medians, and the ratio of the page's throughput to the native one. Also the module's scanner
# alone under node, fed from memory in the page's 4 MiB pieces. Both must list the same sharers.
#   tools/bench-web-scan.sh CORPUS NATIVE-PROGRAM [ROUNDS]     (default 5 rounds)
set -euo pipefail
corpus=$(realpath "$1") native=$(realpath "$2") rounds=${3:-5}
cd "$(dirname "${BASH_SOURCE[0]}")/.."
tools/bootstrap.sh
cmake --preset web >/dev/null
cmake --build --preset web --target quenvar_html >/dev/null
page=build/web/web/quenvar.html module=build/web/web/quenvar.wasm
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# The page names the file as chosen, without its folder: so does the native run, from there.
name=$(basename "$corpus")
(cd "$(dirname "$corpus")" && "$native" --scan --where --quiet "$name") >"$work/native"
: >"$work/t-native"
for ((i = 0; i < rounds; i++)); do
  start=$(date +%s.%N)
  "$native" --scan --where "$corpus" >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l >>"$work/t-native"
done
/usr/bin/python3 tools/bench/page_scan.py "$page" "$corpus" "$rounds" >"$work/page" 2>"$work/t-page"
cmp -s "$work/page" "$work/native" ||
  { echo "bench-web-scan: the page's sharers differ from $native --scan --where" >&2; exit 1; }

# The scanner alone: the module fed the corpus from memory, as the worker feeds it.
node --no-warnings - "$module" "$corpus" "$rounds" >"$work/t-node" <<'JS'
const fs = require('node:fs');
const [module, corpus, rounds] = process.argv.slice(2);
const data = fs.readFileSync(corpus);
const noSystem = { wasi_snapshot_preview1: new Proxy({}, { get: () => () => 52 }) };
const q = new WebAssembly.Instance(new WebAssembly.Module(fs.readFileSync(module)), noSystem).exports;
q._initialize();
for (let round = 0; round < Number(rounds); ++round) {
  const started = process.hrtime.bigint();
  q.scanStart();
  q.inputStart(0);
  for (let at = 0; at < data.length; at += 4 << 20) {
    const piece = data.subarray(at, at + (4 << 20));
    const address = q.buffer(piece.length);  // may grow the memory: the view comes after
    new Uint8Array(q.memory.buffer, address, piece.length).set(piece);
    q.inputFeed(piece.length);
  }
  q.inputFinish(true);
  for (let first = 0, size; (size = q.sharerLines(first, false)) !== 0;) {
    first += new Uint8Array(q.memory.buffer, q.buffer(0), size).filter((b) => b === 10).length;
  }
  console.log(Number(process.hrtime.bigint() - started) / 1e9);
}
JS

size=$(stat -c %s "$corpus")
native_s=$(median <"$work/t-native") page_s=$(median <"$work/t-page") node_s=$(median <"$work/t-node")
mb() { echo "scale=1; $size / 1048576 / $1" | bc -l; }
echo "page scan: $((size / 1048576)) MiB, $(wc -l <"$work/page") sharers, medians of $rounds rounds"
printf '%-38s %8ss  %8s MiB/s\n' "quenvar-cli --scan --where" "$native_s" "$(mb "$native_s")" \
  "quenvar.html in headless Chromium" "$page_s" "$(mb "$page_s")" \
  "the module's scanner alone (node)" "$node_s" "$(mb "$node_s")"
echo "quenvar.html / quenvar-cli --scan throughput: $(echo "scale=2; $native_s / $page_s" | bc -l)"
echo "module alone / quenvar-cli --scan throughput: $(echo "scale=2; $native_s / $node_s" | bc -l)"
