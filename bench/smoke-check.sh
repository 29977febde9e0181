#!/bin/sh
# Runs scripts/bench --smoke on an existing build and checks that every figure came out
# as a number; the figures themselves are never judged here.
#   smoke-check.sh SCRIPTS_BENCH BUILD_DIR
set -eu
out=$("$1" --smoke --no-build --build-dir "$2")
printf '%s\n' "$out"
missing=0
for figure in "start-up to first frame, Xvfb" "start-up to first frame, offscreen" "idle CPU" \
    "streaming CPU" "streaming frames rendered" "streaming longest gap" "streaming peak RSS" \
    "needles always moving: CPU" "needles always moving: longest gap" \
    "datagrams received per second" "datagram path, first frame" "datagram path, after" \
    "datagram path (instructions" "flood: highest rate" "flood: RSS"; do
    # The Motrel column must hold a number.
    if ! printf '%s\n' "$out" | grep -F "| $figure" | awk -F'|' '$3 ~ /^ *[0-9]/ { ok = 1 } END { exit !ok }'; then
        echo "bench_smoke: no figure for \"$figure\"" >&2
        missing=$((missing + 1))
    fi
done
[ "$missing" -eq 0 ]
