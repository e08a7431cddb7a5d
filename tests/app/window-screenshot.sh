#!/usr/bin/env bash
# Starts an X server of its own (Xvfb, in a private folder), runs the window screenshot program on it, and
# stops the server by its process id, also when the program fails.
#   window-screenshot.sh PROGRAM OUTPUT.png
set -euo pipefail
program=$1
output=$2

if ! command -v Xvfb >/dev/null; then
    echo "window-screenshot: Xvfb is not installed (Debian's xvfb; ./test installs it)" >&2
    exit 1
fi
folder=$(mktemp -d "${TMPDIR:-/tmp}/harvolin-xvfb-XXXXXX")
server=
cleanup() {
    if [ -n "$server" ]; then
        kill "$server" 2>/dev/null || true
        wait "$server" 2>/dev/null || true
    fi
    rm -rf "$folder"
}
trap cleanup EXIT

# The server picks a free display and writes its number to the descriptor it is given, here a file.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$folder/display" >"$folder/xvfb.log" 2>&1 &
server=$!
display=
for _ in $(seq 1 100); do
    display=$(tr -d '[:space:]' <"$folder/display")
    [ -n "$display" ] && break
    if ! kill -0 "$server" 2>/dev/null; then
        echo "window-screenshot: Xvfb ended at start:" >&2
        cat "$folder/xvfb.log" >&2
        exit 1
    fi
    sleep 0.1
done
if [ -z "$display" ]; then
    echo "window-screenshot: Xvfb did not say which display it serves within 10 s" >&2
    exit 1
fi

mkdir -p "$(dirname "$output")"
env -u WAYLAND_DISPLAY DISPLAY=":$display" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$folder" HOME="$folder" \
    "$program" "$output"
