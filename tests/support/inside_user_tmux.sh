#!/usr/bin/env bash
# Runs a test as from inside a tmux session of the user's, and fails it when the user's tmux
# server did not survive: a test must end only the tmux server it made.
#   inside_user_tmux.sh COMMAND...
set -uo pipefail
own=$(mktemp -d)
socket=$own/user
trap 'tmux -S "$socket" kill-server 2>/dev/null; rm -rf "$own"' EXIT
tmux -S "$socket" new-session -d -s user "sleep 600" || { echo "tmux could not start"; exit 1; }
# What tmux sets in a session's panes: the server's socket, its process, the session.
TMUX="$socket,$(tmux -S "$socket" display-message -p '#{pid}'),0" "$@"
status=$?
if ! tmux -S "$socket" has-session -t user 2>/dev/null; then
  echo "FAIL the tmux server of the session the test ran in was ended"
  exit 1
fi
exit "$status"
