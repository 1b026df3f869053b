#!/usr/bin/env bash
# Colours through the platform's colour dialog, the Window menu, F8 and the About box.
source "$(dirname "$0")/lib.sh"

work=$(mktemp -d)
# The platform's browser, pointed at a command that only notes the address it was given.
cat >"$work/browser" <<SCRIPT
#!/bin/sh
printf '%s\n' "\$@" >>"$work/browser.log"
SCRIPT
chmod +x "$work/browser"
"$WINE" reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /d "$work/browser" /f >/dev/null 2>&1

start_editor "$work"
drv wait "$TITLE" 20000 >/dev/null || fail "the main window did not appear"
focus "$TITLE"
type_text '%Hello'
keys Return
type_text '++++++++[>++++++++<-]>+.'

# Clicks a cell of the colour dialog's basic colours and confirms.
pick_colour() {  # x, y inside the dialog
    drv wait Color 10000 >/dev/null || fail "no colour dialog"
    focus Color
    xdotool mousemove --window "$(drv xid Color)" "$1" "$2" click 1
    keys Return
    drv gone Color 5000 || fail "the colour dialog stayed open"
}

pixel_of() {  # image, x, y -> r,g,b
    convert "$1" -crop "1x1+$2+$3" -depth 8 txt:- | sed -n '2s/^[^(]*(\([0-9]*,[0-9]*,[0-9]*\).*/\1/p'
}

count_colour() {  # image, #RRGGBB
    convert "$1" -depth 8 txt:- | grep -ci "$2" || true
}

focus "$TITLE"
keys F10 Right Right Down Right Return          # Options > Appearance... > Forecolor
pick_colour 18 69                               # red
focus "$TITLE"
keys F10 Right Right Down Right Down Return     # Options > Appearance... > Background Color
pick_colour 44 48                               # light yellow
screenshot coloured-window.png "$TITLE"
expect_eq "$(pixel_of "$ARTIFACTS/coloured-window.png" 300 120)" "255,255,128" "the background took the chosen colour"
red_text=$(count_colour "$ARTIFACTS/coloured-window.png" '#FF0000')
[ "$red_text" -gt 20 ] || fail "no red text in the window ($red_text pixels)"
note "ok: $red_text red text pixels"

# Cancelling the dialog changes nothing.
focus "$TITLE"
keys F10 Right Right Down Right Down Return
drv wait Color 10000 >/dev/null || fail "no colour dialog"
focus Color
keys Escape
drv gone Color 5000 || fail "the colour dialog stayed open"
screenshot after-cancel.png "$TITLE"
expect_eq "$(pixel_of "$ARTIFACTS/after-cancel.png" 300 120)" "255,255,128" "Cancel kept the background"

# Window menu: maximize and minimize.
drv post "$TITLE" 10030
poll 5 eval '[ "$(drv state "$TITLE")" == maximized ]' || fail "Maximize Window"
note "ok: maximized"
drv post "$TITLE" 10029
poll 5 eval '[ "$(drv state "$TITLE")" == minimized ]' || fail "Minimize Window"
note "ok: minimized"
# Restoring goes back to maximized first, as it was before minimizing, then to normal.
drv postmsg "$TITLE" 0x0112 0xF120                   # WM_SYSCOMMAND SC_RESTORE
poll 5 eval '[ "$(drv state "$TITLE")" == maximized ]' || fail "restore to maximized"
drv postmsg "$TITLE" 0x0112 0xF120
poll 5 eval '[ "$(drv state "$TITLE")" == normal ]' || fail "restore to normal"

# Help > About: the main window is disabled while the box is open.
ABOUT="About Pellux IDE"
focus "$TITLE"
keys F10 Right Right Right Right Right Down Return
drv wait "$ABOUT" 10000 >/dev/null || fail "no About box"
expect_eq "$(drv enabled "$TITLE")" "0" "main window disabled under the About box"
expect_eq "$(drv text "$ABOUT" 1002)" "$TITLE" "About box title line"
expect_eq "$(drv focus "$ABOUT")" "Button 3003" "Close has the focus"
screenshot about-box.png "$ABOUT"

# Esc is ignored: after it, Tab still moves from Close to Homepage in the open box.
focus "$ABOUT"
keys Escape Tab
poll 5 eval '[ "$(drv focus "$ABOUT")" == "Button 3005" ]' || fail "Tab after Esc"
expect_eq "$(drv count "$ABOUT")" "1" "Esc leaves the About box open"

keys space                                           # Homepage
poll 10 test -s "$work/browser.log" || fail "the browser was not started"
expect_eq "$(cat "$work/browser.log")" "https://pellux.invalid/" "the browser got the address"
expect_eq "$(drv count "$ABOUT")" "1" "Homepage leaves the About box open"

focus "$ABOUT"
keys shift+Tab space                                 # Close
drv gone "$ABOUT" 5000 || fail "Close did not close the About box"
expect_eq "$(drv enabled "$TITLE")" "1" "main window enabled after Close"

focus "$TITLE"
keys F10 Right Right Right Right Right Down Return
drv wait "$ABOUT" 10000 >/dev/null || fail "no About box the second time"
focus "$ABOUT"
keys alt+F4                                          # the caption's close box
drv gone "$ABOUT" 5000 || fail "the close box did not close the About box"
expect_eq "$(drv enabled "$TITLE")" "1" "main window enabled after the close box"

# F8 starts a second, independent editor.
first=$(drv pids "$TITLE")
focus "$TITLE"
keys F8
poll 20 eval '[ "$(drv count "$TITLE")" == 2 ]' || fail "F8 started no second editor"
second=$(drv pids "$TITLE" | grep -vx "$first")
[ -n "$second" ] || fail "the second window is not a second process"
note "ok: F8 started process $second"
focus "$TITLE@$second"
keys alt+x
drv gone "$TITLE@$second" 10000 || fail "the second editor did not close"
expect_eq "$(drv count "$TITLE")" "1" "the first editor still runs"

focus "$TITLE"
keys alt+x
drv wait Warning 10000 >/dev/null || fail "no save question"
keys n
expect_exit "$EDITOR_PID" 0
