#!/usr/bin/env bash
# Checks ./run as far as it goes without installing or building: that it refuses the window at once where
# there is no display, and that everything else reaches the program whole, whose output and exit status
# are the script's.
#   RunScriptTest.sh SOURCE_DIR PROGRAM VERSION
set -uo pipefail
source_dir=$1 program=$2 version=$3

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Runs ./run with the given environment (an env argument list up to "--") and arguments, without any
# display variable of the caller's; sets out, err and status.
run_script() {
    local environment=()
    while [ "$1" != "--" ]; do environment+=("$1"); shift; done
    shift
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u HARVOLIN_PROGRAM "${environment[@]}" \
        "$script" "$@" >"$scratch/out" 2>"$scratch/err"
    status=$?
    out=$(cat "$scratch/out") err=$(cat "$scratch/err")
}

# From here on the program is the one built beside this test (harvolin-headless beside it), and the script
# the repository's.
script=$source_dir/run

# Starts ./run as run_script does, waits for the program's first line on standard output (by then it has
# taken over SIGINT and SIGTERM), sends it the signal, and sets out, err and status as run_script does.
run_and_signal() {
    local signal=$1
    shift
    rm -f "$scratch/lines"
    mkfifo "$scratch/lines"
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u HARVOLIN_PROGRAM HARVOLIN_PROGRAM="$program" \
        "$script" "$@" >"$scratch/lines" 2>"$scratch/err" &
    local pid=$!
    exec 3<"$scratch/lines"
    local first=
    IFS= read -r -t 30 first <&3 || true
    kill "-$signal" "$pid" 2>/dev/null
    out=$first$'\n'$(cat <&3)
    exec 3<&-
    wait "$pid"
    status=$?
    err=$(cat "$scratch/err")
}

# Without a display, what would open the window plays without one, saying so in one line first, until a
# signal stops it as Stop does.
for signal in INT TERM; do
    run_and_signal "$signal" --device "Null renderer"
    what="without a display, './run --device \"Null renderer\"' stopped by SIG$signal"
    [ "$status" -eq 0 ] || fail "$what exited $status: $err"
    [[ "$out" =~ ^"    0:00  "[12][0-9]{4}" Hz" ]] || fail "$what did not play: $out"
    [ "$(wc -l <"$scratch/err")" -eq 1 ] && [[ "$err" == *"no display"*"playing without a window"* ]] ||
        fail "$what did not say in one line that it plays without a window: $err"
done
# The window's program itself, without a display, says so in one line and what to do instead.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" >"$scratch/out" 2>"$scratch/err"
status=$?
[ "$status" -eq 1 ] && [ "$(wc -l <"$scratch/err")" -eq 1 ] && grep -q "no display.*--headless" "$scratch/err" ||
    fail "the window's program without a display exited $status saying: $(cat "$scratch/err")"

# A render stopped by SIGINT leaves a valid file: the header's sizes are the file's.
run_and_signal INT --output "$scratch/night.wav" --duration 1h --json
[ "$status" -eq 130 ] || fail "a render stopped by SIGINT exited $status, not 130: $err"
[[ "$err" == *"stopped after"*"holds what was rendered"* ]] || fail "a stopped render did not say so: $err"
size=$(stat -c %s "$scratch/night.wav")
riff=$(od -An -tu4 -j4 -N4 "$scratch/night.wav" | tr -d ' ')
data=$(od -An -tu4 -j40 -N4 "$scratch/night.wav" | tr -d ' ')
# (The signal may come before the first block: the file then holds none, and says so.)
[ $((data % 4)) -eq 0 ] && [ $((data + 44)) -eq "$size" ] && [ $((riff + 8)) -eq "$size" ] ||
    fail "the stopped render's header says $riff and $data bytes for a file of $size"

# Options of the program without a window choose it, display or not, and say nothing of a display.
run_script HARVOLIN_PROGRAM="$program" DISPLAY=:99 -- --device "Null renderer" --duration 1s --json
[ "$status" -eq 0 ] && [ -z "$err" ] && [[ "$out" == '{"seconds":0.000,"frequency_hz":'* ]] ||
    fail "'./run --device \"Null renderer\" --duration 1s --json' did not play for a second: $status $out $err"
run_script HARVOLIN_PROGRAM="$program" -- --headless --version
[ "$out" = "harvolin-headless $version" ] || fail "'./run --headless --version' printed '$out': $err"

run_script HARVOLIN_PROGRAM="$program" -- --version
[ "$status" -eq 0 ] || fail "'./run --version' exited $status: $err"
[ "$out" = "harvolin $version" ] || fail "'./run --version' printed '$out', not 'harvolin $version'"

run_script HARVOLIN_PROGRAM="$program" -- --help
[ "$status" -eq 0 ] && [[ "$out" == usage:* ]] || fail "'./run --help' without a display gave no usage: $out $err"

run_script HARVOLIN_PROGRAM="$program" -- --list-devices
[ "$status" -eq 0 ] || fail "'./run --list-devices' exited $status: $err"
grep -qx "Null renderer" "$scratch/out" || fail "'./run --list-devices' did not list the null renderer: $out"

# A device that does not exist: the program answers before any window, and its answer shows the name
# arrived as one argument, spaces and all, whichever variable names the display.
for display in DISPLAY=:99 WAYLAND_DISPLAY=wayland-99 QT_QPA_PLATFORM=offscreen; do
    run_script HARVOLIN_PROGRAM="$program" "$display" -- --device "No such device"
    [ "$status" -eq 2 ] || fail "with $display, the program's status 2 came back as $status: $err"
    [[ "$err" == *"no output device is named 'No such device'"* ]] ||
        fail "with $display, the device's name did not reach the program whole: $err"
done

# A relative program is the caller's, not the repository's.
cp "$program" "$scratch/harvolin-copy"
(cd "$scratch" && run_script HARVOLIN_PROGRAM=./harvolin-copy -- --version && [ "$out" = "harvolin $version" ]) ||
    fail "a relative HARVOLIN_PROGRAM was not found from the caller's folder"

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) of ./run failed"
    exit 1
fi
echo "./run: every check passed"
