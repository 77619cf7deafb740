#!/usr/bin/env bash
# Makes the one-file page: the template with its style, the worker's and the page's scripts and
# the module (base64) inside, and a Content-Security-Policy that lets only that style and script
# run, by their SHA-256, so that the page can load and send nothing.
#   make_page.sh WEB-DIR MODULE.wasm OUTPUT.html
set -euo pipefail
dir=$1 module=$2 output=$3

# base64 of the SHA-256 of a text, as a policy names it.
digest() {
  local hex
  hex=$(printf '%s' "$1" | sha256sum | cut -c1-64)
  printf "$(sed 's/../\\x&/g' <<<"$hex")" | base64 -w0
}
# The template with PLACEHOLDER replaced once by TEXT, taken as it is.
put() {
  local placeholder=$1 text=$2
  [[ $page == *"$placeholder"* ]] || { echo "make_page.sh: no $placeholder in the template" >&2; exit 1; }
  page="${page%%"$placeholder"*}${text}${page#*"$placeholder"}"
}

style=$(<"$dir/page.css")
script=$(cat "$dir/texts.js" "$dir/page.js")
page=$(<"$dir/page.html")
put @SCRIPT_HASH@ "$(digest "$script")"
put @STYLE_HASH@ "$(digest "$style")"
put @STYLE@ "$style"
put @WORKER@ "$(<"$dir/worker.js")"
put @MODULE@ "$(base64 -w0 "$module")"
put @SCRIPT@ "$script"
printf '%s\n' "$page" >"$output.tmp"
mv "$output.tmp" "$output"
