#!/usr/bin/env bash
# Installs what is missing, builds every configuration (Linux, Linux with sanitizers, the fuzz
# targets, Windows x86_64 and i686, the web page) and runs every test. The Linux presets run one
# after another beside the two Windows presets, each of which has Wine prefixes and virtual
# displays of its own; the page's tests, in headless Chromium, follow the x86 ones.
# Ends with the wall time of each stage and one summary line; exits non-zero on failure.
#
# Whatever the run starts is ended when it ends, however it ends (Ctrl+C too): every process it
# starts carries a mark in its environment, daemons and programs in sessions of their own
# included, and temporary files go to a folder of the run's own, removed at the end.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
began=$EPOCHREALTIME
times=()  # "stage seconds", in the order they ended
elapsed() { echo "scale=1; ($EPOCHREALTIME - $1) / 1" | bc -l; }

tools/bootstrap.sh || exit 1
times+=("bootstrap $(elapsed "$began")")
# Tests always get a private virtual display, never the user's screen.
export QUENVAR_HEADLESS=1

mkdir -p build
run=$(mktemp -d /tmp/quenvar-test.XXXXXX)
export TMPDIR=$run QUENVAR_TEST_RUN=$run
logs=build/test-logs
rm -rf "$logs"
mkdir -p "$logs"

# Every process with this run's mark, but this script and what it runs to look.
has_mark() { { tr '\0' '\n' <"$1"; } 2>/dev/null | grep -qxF "QUENVAR_TEST_RUN=$run"; }
marked() {
  local p t environ
  for p in /proc/[0-9]*; do
    [[ ${p#/proc/} != "$$" ]] || continue
    if environ=$(tr '\0' '\n' 2>/dev/null <"$p/environ"); then
      grep -qxF "QUENVAR_TEST_RUN=$run" <<<"$environ" && echo "${p#/proc/}"
    else
      # A process whose first thread has ended (a Wine service whose server went, with a
      # thread of its own still waiting) shows its environment only through its other threads.
      for t in "$p"/task/[0-9]*; do
        has_mark "$t/environ" && { echo "${p#/proc/}"; break; }
      done
    fi
  done
}
lanes=()
finish() {
  trap '' INT TERM
  local pids
  # The lanes first, so that none goes on to its next preset.
  [[ ${#lanes[@]} -eq 0 ]] || kill -TERM "${lanes[@]}" 2>/dev/null
  mapfile -t pids < <(marked)
  if [[ ${#pids[@]} -gt 0 ]]; then
    # After a whole run these are what a test failed to end: say so.
    [[ -n ${interrupted:-} ]] ||
      echo "tools/test.sh: ended what the tests left running: $(for p in "${pids[@]}"; do cat "/proc/$p/comm"; done 2>/dev/null | sort | uniq -c | xargs)"
    kill -TERM "${pids[@]}" 2>/dev/null
    for _ in $(seq 50); do
      mapfile -t pids < <(marked)
      [[ ${#pids[@]} -gt 0 ]] || break
      sleep 0.1
    done
    [[ ${#pids[@]} -eq 0 ]] || kill -KILL "${pids[@]}" 2>/dev/null
  fi
  rm -rf "$run"
}
trap finish EXIT
trap 'interrupted=1; echo "tools/test.sh: interrupted"; exit 130' INT TERM HUP

# Builds and tests one preset; what it prints and its verdict go to $logs.
run_preset() {
  local preset=$1 jobs=$2 t=$EPOCHREALTIME
  if ! { cmake --preset "$preset" -DQUENVAR_WERROR=ON && cmake --build --preset "$preset"; } \
       >"$logs/$preset.build" 2>&1; then
    echo "build" >"$logs/$preset.verdict"
    echo "$preset build $(elapsed "$t")" >>"$logs/times"
    return
  fi
  echo "$preset build $(elapsed "$t")" >>"$logs/times"
  t=$EPOCHREALTIME
  # Every test, the slow ones too (the presets' own runs leave those out).
  ctest --test-dir "build/$preset" --output-on-failure -j "$jobs" >"$logs/$preset.tests" 2>&1
  echo "$?" >"$logs/$preset.verdict"
  echo "$preset tests $(elapsed "$t")" >>"$logs/times"
}

presets=(native native-asan fuzz win64 win32 web)
echo "== building and testing ${presets[*]} (logs in $logs)"
{ run_preset native 2; run_preset native-asan 2; run_preset fuzz 2; } &
lanes+=($!)
run_preset win64 3 &
lanes+=($!)
{ run_preset win32 3; run_preset web 2; } &
lanes+=($!)
wait
lanes=()

passed=0 failed=0 skipped=0 broken=()
declare -A skipped_for=()  # reason -> the tests skipped for it
for preset in "${presets[@]}"; do
  echo "== $preset"
  verdict=$(cat "$logs/$preset.verdict" 2>/dev/null || echo "build")
  if [[ $verdict == build ]]; then
    cat "$logs/$preset.build"
    broken+=("$preset (build)")
    failed=$((failed + 1))
    continue
  fi
  out=$(cat "$logs/$preset.tests")
  echo "$out"
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' <<<"$out" | tail -1)
  if [[ -z $line ]]; then
    broken+=("$preset (no tests ran)")
    failed=$((failed + 1))
    continue
  fi
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.*, ([0-9]+) tests failed.*/\1/' <<<"$line")
  # CTest counts a skipped test as passed; the test's own output says why it was skipped.
  here=0
  while read -r name; do
    [[ -n $name ]] || continue
    here=$((here + 1))
    reason=$(awk -v test="$name" '
      $0 ~ "^[0-9]+/[0-9]+ Test: " && $NF == test { on = 1; next }
      on && /<end of output>/ { exit }
      on && /skipped/ { sub(/.*: /, ""); print; exit }' "build/$preset/Testing/Temporary/LastTest.log")
    skipped_for[${reason:-no reason given}]+=" $preset/$name"
  done < <(sed -nE 's/^[[:space:]]*[0-9]+ - (.*) \(Skipped\)$/\1/p' <<<"$out")
  passed=$((passed + total - bad - here))
  skipped=$((skipped + here))
  failed=$((failed + bad))
  [[ $verdict -eq 0 ]] || broken+=("$preset")
done

echo "== wall time of each stage, in seconds"
printf '  %s\n' "${times[@]}"
sed 's/^/  /' "$logs/times"
echo "  whole run $(elapsed "$began")"
[[ ${#broken[@]} -eq 0 ]] || echo "failing: ${broken[*]}"
for reason in "${!skipped_for[@]}"; do
  echo "skipped, $reason:${skipped_for[$reason]}"
done
echo "summary: $passed passed, $failed failed, $skipped skipped"
[[ $failed -eq 0 && ${#broken[@]} -eq 0 ]]
