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

# A copy of the script alone, in a folder with nothing to build: if it tried to install or build before
# refusing, it would fail otherwise or leave a build folder behind.
mkdir "$scratch/alone"
cp "$source_dir/run" "$scratch/alone/run"
script=$scratch/alone/run
for arguments in "" "--device|Null renderer" "--device=Null renderer"; do
    IFS='|' read -r -a argv <<<"$arguments"
    run_script -- "${argv[@]}"
    what="without a display, './run ${argv[*]}'"
    [ "$status" -ne 0 ] || fail "$what exited 0"
    [ -z "$out" ] || fail "$what printed on standard output: $out"
    [ "$(wc -l <"$scratch/err")" -eq 1 ] || fail "$what did not say one line on standard error: $err"
    [[ "$err" == *display* ]] || fail "$what did not say that a display is missing: $err"
    [ ! -e "$scratch/alone/build-release" ] || fail "$what made a build folder before refusing"
done

# From here on the program is the one built beside this test, and the script the repository's.
script=$source_dir/run
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
