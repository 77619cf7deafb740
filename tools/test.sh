#!/usr/bin/env bash
# Installs what is missing, builds every configuration (Linux, Linux with sanitizers, the fuzz
# target, Windows x86_64 and i686) and runs every test. Ends with one summary line; exits non-zero
# on failure.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

tools/bootstrap.sh || exit 1
# Tests always get a private virtual display, never the user's screen.
export QUENVAR_HEADLESS=1

presets=(native native-asan fuzz win64 win32 web)
mkdir -p build
passed=0 failed=0 skipped=0 broken=()
declare -A skipped_for=()  # reason -> the tests skipped for it
for preset in "${presets[@]}"; do
  echo "== $preset"
  if ! cmake --preset "$preset" -DQUENVAR_WERROR=ON >"build/$preset.log" 2>&1 ||
     ! cmake --build --preset "$preset" >>"build/$preset.log" 2>&1; then
    cat "build/$preset.log"
    broken+=("$preset (build)")
    failed=$((failed + 1))
    rm -f "build/$preset.log"
    continue
  fi
  rm -f "build/$preset.log"
  # Every test, the slow ones too (the presets' own runs leave those out).
  out=$(ctest --test-dir "build/$preset" --output-on-failure 2>&1)
  status=$?
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
  [[ $status -eq 0 ]] || broken+=("$preset")
done

[[ ${#broken[@]} -eq 0 ]] || echo "failing: ${broken[*]}"
for reason in "${!skipped_for[@]}"; do
  echo "skipped, $reason:${skipped_for[$reason]}"
done
echo "summary: $passed passed, $failed failed, $skipped skipped"
[[ $failed -eq 0 && ${#broken[@]} -eq 0 ]]
