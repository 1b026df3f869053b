#!/usr/bin/env bash
# F5 hands the document's file to Pellux.Exe of the directory the editor started in.
source "$(dirname "$0")/lib.sh"
: "${PROBE:?}" "${INTERPRETER:?}"

work=$(mktemp -d)
start_dir="$work/start"; other="$work/other dir"
mkdir -p "$start_dir" "$other"
cp "$PROBE" "$start_dir/Pellux.Exe"
cp "$PROBE" "$other/Pellux.Exe"      # never the one that runs: the start directory's is
printf '++++++++[>++++++++<-]>+.' >"$other/my prog.b"
log="$start_dir/probe.log"

runs() { [ -f "$log" ] && wc -l <"$log" || echo 0; }
press_f5_and_read() {
    local before; before=$(runs)
    focus "$TITLE"
    keys F5
    poll 20 eval '[ "$(runs)" -gt '"$before"' ]' || fail "F5 started no interpreter"
    wait_console_gone Pellux.Exe
    tail -n 1 "$log"
}

start_editor "$start_dir"
drv wait "$TITLE" 20000 >/dev/null || fail "the main window did not appear"
win_start=$(to_windows_path "$start_dir")

expect_eq "$(press_f5_and_read)" "args=[/f  /p] self=[$win_start\\Pellux.Exe] cwd=[$win_start]" "F5 on an untitled document"

focus "$TITLE"
keys ctrl+o
drv wait Open 15000 >/dev/null || fail "no Open dialog"
focus Open
type_text "$(to_windows_path "$other/my prog.b")"
keys Return
drv gone Open 10000 || fail "the Open dialog stayed"
win_other=$(to_windows_path "$other")
# The dialog may move the current directory (where it goes is Wine's choice); the interpreter
# is still the start directory's.
line=$(press_f5_and_read)
expect_eq "${line%% cwd=*}" "args=[/f $win_other\\my prog.b /p] self=[$win_start\\Pellux.Exe]" \
    "F5 after Open of a path with spaces"
note "the interpreter started in ${line##* cwd=}"
[ ! -f "$other/probe.log" ] || fail "the Pellux.Exe of the dialog's directory ran"

focus "$TITLE"
keys alt+x
drv wait Warning 10000 >/dev/null || fail "no save question after Open"
keys n
expect_exit "$EDITOR_PID" 0

# Started in a drive's root: the path has two backslashes and still names the file there.
root_dir="$work/root"
mkdir -p "$root_dir"
cp "$PROBE" "$root_dir/Pellux.Exe"
ln -sfn "$root_dir" "$WINEPREFIX/dosdevices/r:"
log="$root_dir/probe.log"
start_editor "$root_dir"
drv wait "$TITLE" 20000 >/dev/null || fail "the main window did not appear in the root"
line=$(press_f5_and_read)
rm -f "$WINEPREFIX/dosdevices/r:"
expect_eq "$line" "args=[/f  /p] self=[R:\\Pellux.Exe] cwd=[R:\\]" "F5 from a drive's root"

# Our own interpreter, given no program, says what to do and ends with code 2.
status=0
out=$("$WINE" "$INTERPRETER" /f "" </dev/null 2>&1 | tr -d '\r') || true
"$WINE" "$INTERPRETER" /f "" </dev/null >/dev/null 2>&1 || status=$?
expect_eq "$out" "pellux: no program file was given: save the program first, then run it" "Pellux.Exe without a program"
expect_eq "$status" "2" "Pellux.Exe exit code without a program"
focus "$TITLE"
keys alt+x
expect_exit "$EDITOR_PID" 0
