#!/bin/sh
# Runs a command against a private Xvfb; -displayfd lets the server take the
# first free display itself, so parallel tests never race for one.
set -eu
dir=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$dir/display" 2>"$dir/log" &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -rf "$dir"' EXIT
tries=0
until [ -s "$dir/display" ]; do
    tries=$((tries + 1))
    [ "$tries" -le 100 ] || { cat "$dir/log" >&2; exit 1; }
    sleep 0.1
done
DISPLAY=:$(cat "$dir/display") "$@"
