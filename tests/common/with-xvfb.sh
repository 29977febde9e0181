#!/bin/sh
# Runs a command against a private Xvfb on a random free display. -displayfd is
# not used: inside a fresh network namespace it can take over a display that
# another server still holds.
set -eu
dir=$(mktemp -d)
server=
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; wait 2>/dev/null; rm -rf "$dir"' EXIT
for attempt in 1 2 3 4 5 6 7 8 9 10; do
    display=$(shuf -i 200-899 -n 1)
    [ -e "/tmp/.X$display-lock" ] && continue
    Xvfb ":$display" -screen 0 "${XVFB_SCREEN:-1280x1024x24}" -nolisten tcp -nolisten local 2>"$dir/log" &
    server=$!
    tries=0
    while kill -0 "$server" 2>/dev/null && [ ! -S "/tmp/.X11-unix/X$display" ] && [ "$tries" -lt 100 ]; do
        tries=$((tries + 1))
        sleep 0.1
    done
    if [ -S "/tmp/.X11-unix/X$display" ] && kill -0 "$server" 2>/dev/null; then
        DISPLAY=":$display" "$@"
        exit $?
    fi
    server=
done
cat "$dir/log" >&2
exit 1
