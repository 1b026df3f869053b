# Shared steps of the end-to-end tests: the real Pelluxw.exe under Wine, driven through X.
set -euo pipefail

: "${WINE:?}" "${PELLUXW:?}" "${PXDRIVER:?}" "${ARTIFACTS:?}" "${DISPLAY:?}" "${WINEPREFIX:?}"
mkdir -p "$ARTIFACTS"

TITLE="Pellux (Extended Syntax) IDE Version 1.0.1"
STARTED_PIDS=()

fail() { echo "FAIL: $*" >&2; exit 1; }
note() { echo "-- $*"; }

# The driver is a Windows console program: strip the CR of its line ends.
drv() { "$WINE" "$PXDRIVER" "$@" | tr -d '\r'; }

expect_eq() {
    [ "$1" == "$2" ] || fail "$3: expected [$2], got [$1]"
    note "ok: $3"
}

# Polls a command until it succeeds, every 20 ms, up to a deadline in seconds.
poll() {
    local deadline=$(( $(date +%s%N) + ${1} * 1000000000 )); shift
    until "$@" >/dev/null 2>&1; do
        [ "$(date +%s%N)" -lt "$deadline" ] || return 1
        sleep 0.02
    done
}

to_windows_path() { local p; p=$(readlink -f "$1"); echo "Z:${p//\//\\}"; }

# Starts an editor in a directory; sets EDITOR_PID.
start_editor() {
    local dir=$1
    (cd "$dir" && exec "$WINE" "$PELLUXW") &
    EDITOR_PID=$!
    STARTED_PIDS+=("$EDITOR_PID")
}

# On a failure, programs the editor started itself (a second editor) must not outlive the
# test: the prefix is this run's own, so ending its server ends them all.
stop_all() {
    local status=$? pid
    for pid in "${STARTED_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    [ "$status" -eq 0 ] || wineserver -k 2>/dev/null || true
}
trap stop_all EXIT

# Gives a window the keyboard: the Wine side brings it to the front, X then focuses it.
# Another program's window that just went (an interpreter's console) can take the first try.
focus() {
    local xid attempt
    for attempt in 1 2 3 4 5; do
        xid=$(drv activate "$1")
        timeout 5 xdotool windowfocus --sync "$xid" || xdotool windowfocus "$xid"
        poll 2 active_is "$1" && return 0
    done
    fail "could not activate \"$1\""
}
active_is() {
    local active; active=$(drv active)
    if [[ "$1" == *@* ]]; then [ "$active" == "$1" ]; else [ "${active%@*}" == "$1" ]; fi
}

# Waits until a program the editor ran and the console host Wine gave it have both ended. The
# host's window takes the X focus as it goes, some 100 ms after the program: a key pressed
# before then is lost, however the editor was focused.
wait_console_gone() {
    poll 20 eval '[ "$(drv running "'"$1"'") $(drv running conhost.exe)" == "0 0" ]' ||
        fail "$1 or its console did not end"
}

keys() { xdotool key --delay 30 "$@"; }
type_text() { xdotool type --delay 15 "$1"; }

status_text() { drv text "$TITLE" 1002; }

# Waits for the "Results" box and prints its message.
results_text() {
    drv wait Results 10000 >/dev/null || fail "no Results box"
    drv boxtext Results
}

# Keeps a picture of one window (the whole screen when no title is given).
screenshot() {
    local target=root
    [ $# -lt 2 ] || target=$(drv xid "$2")
    import -window "$target" "$ARTIFACTS/$1"
    note "screenshot $ARTIFACTS/$1"
}

# Waits for a started process to end and checks its exit code.
expect_exit() {
    local pid=$1 code=$2 waited=0 rc=0
    while kill -0 "$pid" 2>/dev/null; do
        sleep 0.02; waited=$((waited + 1))
        [ $waited -lt 500 ] || fail "process $pid did not end"
    done
    wait "$pid" || rc=$?
    expect_eq "$rc" "$code" "exit code"
}
