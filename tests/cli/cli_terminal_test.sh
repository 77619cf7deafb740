#!/usr/bin/env bash
# quenvar-cli typed at a real terminal: tmux runs it, send-keys types, capture-pane reads the
# screen. Each answer must be on the screen as soon as its line is entered, before input ends;
# Ctrl+D (Linux) or Ctrl+Z then Enter (Windows console) ends input with the usual exit status.
#   cli_terminal_test.sh PROGRAM                                   (Linux)
#   cli_terminal_test.sh --console-keys KEYS.exe PROGRAM.exe RUNNER...   (Windows, under Wine)
set -uo pipefail
keys=
if [[ ${1:-} == --console-keys ]]; then
  keys=$2
  shift 2
fi
program=$1
shift
runner=("$@")
command -v tmux >/dev/null || { echo "tmux is missing; run tools/bootstrap.sh"; exit 1; }
# Exits 77 (skipped) when this host cannot run the program at all.
[[ ${#runner[@]} -eq 0 ]] || "${runner[@]}" --check "$program" || exit $?
work=$(mktemp -d)
# A tmux server of the test's own, on its own socket: run inside the user's tmux, $TMUX names the
# user's server, and a tmux call without -S would reach it.
unset TMUX
tm() { tmux -S "$work/tmux" "$@"; }
runs=0
session=
holder=
trap 'exec 3>&-; tm kill-server 2>/dev/null; [[ -z $holder ]] || { kill "$holder"; wait "$holder"; }; rm -rf "$work"' EXIT
# Under Wine one server serves every run of the script, instead of one started for each.
if [[ ${#runner[@]} -gt 0 ]]; then
  "${runner[@]}" --hold </dev/null >/dev/null 2>&1 &
  holder=$!
fi
P=http://pan.baidu.com/share/home?uk=
passed=0 failed=0
# Each run's language is set by its lang=... whatever the caller's locale; tmux reads UTF-8.
unset LANGUAGE LC_ALL LC_MESSAGES LANG
export LC_CTYPE=C.UTF-8

quote() { printf '%q ' "$@"; }
start() {  # start [REDIRECTION]: the program in a fresh terminal, 160 columns wide, in $lang
  local previous=$session try
  runs=$((runs + 1))
  session=run$runs
  # A tmux server that dies as it starts is the test's machinery, not the program: tried again.
  for try in 1 2 3; do
    tm new-session -d -s "$session" -x 160 -y 40 \
      "$(quote env "$lang" "${runner[@]}" "$program") $1; echo \"exit status: \$?\"; sleep 600" &&
      tm has-session -t "$session" 2>/dev/null && break
    [[ $try -eq 3 ]] || sleep 1
  done
  tm has-session -t "$session" 2>/dev/null || { echo "tmux could not start a terminal"; exit 1; }
  # Ended only now, so that the server always has a session and never stops between two.
  [[ -z $previous ]] || tm kill-session -t "$previous"
  # Under Wine, keys typed before Wine's console has taken the terminal (it turns off the line
  # editing of the terminal) are echoed and lost: wait for it, unless input comes from elsewhere.
  if [[ ${#runner[@]} -gt 0 && $1 != *"<"* ]]; then
    local tty
    tty=$(tm display-message -p -t "$session" '#{pane_tty}')
    for _ in $(seq 300); do
      stty -F "$tty" -a 2>/dev/null | grep -qw -- -icanon && return
      sleep 0.1
    done
    echo "the console never took the terminal"
  fi
}
screen() { tm capture-pane -t "$session" -p -S - -J; }
type_line() { tm send-keys -t "$session" -l "$1"; tm send-keys -t "$session" Enter; }
end_input() {
  if [[ -n $keys ]]; then
    "${runner[@]}" "$keys" "$(basename "$program")" ctrl-z enter
  else
    tm send-keys -t "$session" C-d
  fi
}
# expect NAME PATTERN: waits up to 20 s for the screen to show the pattern (a fixed string).
expect() {
  local name=$1 pattern=$2
  for _ in $(seq 200); do
    if screen | grep -qF -- "$pattern"; then
      passed=$((passed + 1))
      return 0
    fi
    sleep 0.1
  done
  failed=$((failed + 1))
  echo "FAIL $name: the screen never showed '$pattern'. It shows:"
  screen | sed 's/^/  | /'
  return 1
}

# Answers come line by line, messages next to their lines, and Ctrl+D / Ctrl+Z ends input.
lang=LANG=zh_CN.UTF-8
start ""
type_line "https://pan.baidu.com/share/link?shareid=1&uk=1234567890"
expect "an answer as soon as the line is entered" "${P}1234567890"
type_line "not a link"
expect "the message for an unsupported line" "quenvar-cli: 第 2 行：暂不支持此链接..."
type_line "链接=一二三四五六七八九十"
expect "a Chinese key" "${P}一二三四五六七八九十"
end_input
expect "end of input, status 1 for the unsupported line" "exit status: 1"

# The status is 0 when every line was repaired. In English, where a Windows console's code page
# (437) has no Chinese, a Chinese key still reads correctly.
lang=LC_ALL=C
start ""
type_line "=abc"
expect "a short input with the marker" "${P}=abc"
type_line "链接=一二三四五六七八九十"
expect "a Chinese key in English" "${P}一二三四五六七八九十"
end_input
expect "end of input, status 0" "exit status: 0"

# --scan at a terminal: each new sharer is written as soon as its line is entered.
start "--scan"
type_line "see https://pan.baidu.com/share/link?shareid=1&uk=1234567890 here"
expect "a sharer as soon as its line is entered" "${P}1234567890"
end_input
expect "the summary in English" "quenvar-cli: 1 link(s) naming a sharer, 1 sharer(s) found; 0 share"
expect "end of the scanned input, status 0" "exit status: 0"

# Output at a terminal, input from a pipe (tail -f log | quenvar-cli): each line is still answered
# as it arrives, not when a buffer fills or input ends.
mkfifo "$work/pipe"
for mode in repair --scan; do
  start "${mode/repair/} < $(quote "$work/pipe")"
  exec 3>"$work/pipe"
  echo "https://pan.baidu.com/share/link?shareid=1&uk=1234567890" >&3
  expect "$mode: a line from a pipe is answered as it arrives" "${P}1234567890"
  exec 3>&-
  expect "$mode: the pipe closed" "exit status: 0"
done

if [[ -n $keys ]]; then
  # A console read of 4096 units ends between the two halves of a character outside the BMP;
  # the key must keep it whole. Output goes to a file, as UTF-8, where its bytes can be read.
  start "> $(quote "$work/out")"
  long=$(head -c 4086 /dev/zero | tr '\0' 'a')=12345678😀
  # Typed as console input records: the terminal's own UTF-8 reads may split the character.
  "${runner[@]}" "$keys" "$(basename "$program")" "$long" enter
  sleep 2
  end_input
  expect "end of input after a long line" "exit status: 0"
  if [[ $(cat "$work/out") == "${P}12345678😀" ]]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL a character split between console reads: the output is $(od -c "$work/out" | head -3)"
  fi
fi

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
