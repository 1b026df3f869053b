#!/usr/bin/env bash
# Runs the permission tests as a user that permissions bind: as root, as nobody in a prefix of
# its own; otherwise as the user running the tests.
set -euo pipefail
: "${WINE:?}" "${WINDOW_TESTS:?}"

work=$(mktemp -d /tmp/pellux-unprivileged.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/locked"
printf '+++' >"$work/readonly.b"
chmod 555 "$work/locked"
chmod 444 "$work/readonly.b"
chmod 755 "$work"

windows() { echo "Z:${1//\//\\}"; }
export PELLUX_READONLY_FILE PELLUX_READONLY_FOLDER
PELLUX_READONLY_FILE=$(windows "$work/readonly.b")
PELLUX_READONLY_FOLDER=$(windows "$work/locked")
filter=--gtest_filter=DocumentTest.UnwritableFileAndFolderAreFailedSaves

if [ "$(id -u)" -ne 0 ]; then
    exec "$WINE" "$WINDOW_TESTS" "$filter"
fi

user=nobody
group=$(id -gn nobody)
mkdir "$work/home"
chown "$user:$group" "$work/home"
# A copy of the test program the unprivileged user can read, wherever the build lives.
install -m 755 "$WINDOW_TESTS" "$work/window_tests.exe"
as_nobody() {
    setpriv --reuid="$user" --regid="$group" --clear-groups \
        env HOME="$work/home" WINEPREFIX="$work/home/prefix" WINEDEBUG=-all \
        WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY="$DISPLAY" \
        PELLUX_READONLY_FILE="$PELLUX_READONLY_FILE" PELLUX_READONLY_FOLDER="$PELLUX_READONLY_FOLDER" "$@"
}
# Each step says why when it fails (a full disk ends wineboot, for one), instead of ending silently.
step() {
    as_nobody "$@" >"$work/step.txt" 2>&1 && return
    echo "as $user, '$*' failed:"; tail -n 20 "$work/step.txt"
    df -h "$work" | tail -n 1 | awk '{ print "free on the disk of " $6 ": " $4 }'
    exit 1
}
step "$WINE" wineboot -i
step "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
status=0
as_nobody "$WINE" "$work/window_tests.exe" "$filter" | tee "$work/out.txt" || status=$?
as_nobody wineserver -k 2>/dev/null || true
grep -q "1 test.*PASSED\|PASSED.*1 test" "$work/out.txt" || { echo "the permission test did not run"; exit 1; }
exit $status
