#!/usr/bin/env bash
# A Windows user's first run of the download: unzip it into a fresh folder, start Pelluxw.exe
# there, open every example, check each with F6 and run one with F5. Also takes the README's
# pictures of the window and of the Results box.
source "$(dirname "$0")/lib.sh"
: "${DIST_ZIP:?}" "${INTERPRETER:?}"

# make test hands over the 32-bit download; run alone, the test takes this tree's zip, which has
# the same layout.
zip=${PELLUX_DIST_ZIP:-$DIST_ZIP}
[ -f "$zip" ] || fail "no download at $zip"
examples=$(cd "$(dirname "$0")/../../examples" && pwd)
folder="$(mktemp -d)/Pellux IDE"
mkdir -p "$folder"
unzip -q "$zip" -d "$folder"

listing=$(cd "$folder" && find . -type f | sort)
wanted=$( (printf '%s\n' ./Guide.txt ./LICENSE.txt ./Pellux.Exe ./Pelluxw.exe
           cd "$examples" && for f in *.b; do echo "./examples/$f"; done) | sort)
expect_eq "$listing" "$wanted" "the files of the download"
for text in Guide.txt LICENSE.txt examples/hello.b; do
    [ "$(grep -vc $'\r$' "$folder/$text" || true)" == 0 ] || fail "$text has lines without CR LF"
done
note "ok: the texts have Windows line ends"

# The PE header's machine field: 014c is 32-bit x86.
machine() { local at; at=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' '); od -An -tx2 -j$((at + 4)) -N2 "$1" | tr -d ' '; }
if [[ "$zip" == *-win32.zip ]]; then
    expect_eq "$(machine "$folder/Pelluxw.exe") $(machine "$folder/Pellux.Exe")" "014c 014c" "32-bit programs"
fi
# Where Wine cannot start 32-bit programs (the scripts then run the x86-64 build), that build's
# two programs replace the unpacked ones, in the same folder: everything else is the download's.
cmp -s "$PELLUXW" "$folder/Pelluxw.exe" || cp "$PELLUXW" "$folder/Pelluxw.exe"
cmp -s "$INTERPRETER" "$folder/Pellux.Exe" || cp "$INTERPRETER" "$folder/Pellux.Exe"

(cd "$folder" && exec "$WINE" ./Pelluxw.exe) &
EDITOR_PID=$!
STARTED_PIDS+=("$EDITOR_PID")
drv wait "$TITLE" 20000 >/dev/null || fail "the main window did not appear"
drv resize "$TITLE" 640 440  # room for a whole example in the picture

# Once a file has been opened, Open asks whether to save it first (the editor's rule, changed
# or not): No.
open_file() {
    local name; name=$(basename "$1")
    focus "$TITLE"
    keys ctrl+o
    if [ "${2:-}" == asks ]; then
        drv wait Warning 10000 >/dev/null || fail "no save question before opening $name"
        keys n
    fi
    drv wait Open 15000 >/dev/null || fail "no Open dialog"
    focus Open
    type_text "$(to_windows_path "$1")"
    keys Return
    drv gone Open 10000 || fail "the Open dialog stayed"
    poll 10 eval '[ "$(status_text)" == "$name" ]' || fail "status after opening $name: $(status_text)"
}

# The countdown last: it stays open for F5 and the pictures.
question=""
for example in $(cd "$folder/examples" && ls *.b | grep -v '^countdown.b$') countdown.b; do
    open_file "$folder/examples/$example" $question
    question=asks
    focus "$TITLE"
    keys F6
    expect_eq "$(results_text)" "No errors occurred." "F6 on $example"
    [ "$example" != countdown.b ] || screenshot results.png Results
    keys Return
    drv gone Results 5000 || fail "the Results box stayed open"
done
screenshot window.png "$TITLE"

focus "$TITLE"
keys F5
expected=$(printf 'Countdown:\n9 8 7 6 5 4 3 2 1 0\nLiftoff!\n\nPress any key to close this window.')
poll 20 eval '[ "$(drv console Pellux.Exe)" == "$expected" ]' ||
    fail "F5's console shows [$(drv console Pellux.Exe)]"
note "ok: F5 ran countdown.b in a console"
drv conkey Pellux.Exe || fail "could not press a key in the console"
wait_console_gone Pellux.Exe

focus "$TITLE"
keys alt+x
drv wait Warning 10000 >/dev/null || fail "no save question at Alt+X"
keys n
expect_exit "$EDITOR_PID" 0
