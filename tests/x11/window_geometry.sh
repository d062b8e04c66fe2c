#!/usr/bin/env bash
# The real program starts maximised; restoring it through the window manager
# gives a sensible window (about two thirds of the screen, centred), and the
# window can be made 1024 pixels wide.
#   usage: window_geometry.sh PATH_TO_VORLA   (inside with-x11.sh)
set -uo pipefail
vorla=$(realpath "$1")
work=$(mktemp -d)
source "$(dirname "$0")/x11-support.sh"
trap 'stop_vorla; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
near() { local d=$(($1 - $2)); [ ${d#-} -le "$3" ]; }

read -r screen_w screen_h < <(xdotool getdisplaygeometry)
start_vorla "$vorla" --demo || exit 1
wait_for 20 is_maximised || fail "not maximised at start"

wmctrl -i -r "$window" -b remove,maximized_vert,maximized_horz
wait_for 20 sh -c "! xprop -id $window _NET_WM_STATE | grep -q MAXIMIZED" || fail "the window manager did not restore"
# The restored size arrives with the state or just after it.
restored() { read_geometry "$window"; [ "$WIDTH" -lt "$screen_w" ]; }
wait_for 20 restored || fail "restored window still ${WIDTH}x${HEIGHT}"
echo "restored: ${WIDTH}x${HEIGHT} at $X,$Y on ${screen_w}x${screen_h}"
# Two thirds of the screen, give or take the window manager's frame.
near "$WIDTH" $((screen_w * 2 / 3)) 40 || fail "restored width $WIDTH"
near "$HEIGHT" $((screen_h * 2 / 3)) 60 || fail "restored height $HEIGHT"
near $((X + WIDTH / 2)) $((screen_w / 2)) 40 || fail "not centred horizontally (x $X)"
near $((Y + HEIGHT / 2)) $((screen_h / 2)) 60 || fail "not centred vertically (y $Y)"

# A 1024-pixel wide window: the window manager keeps to the program's minimum.
xdotool windowsize "$window" 1024 "$HEIGHT"
narrow() { read_geometry "$window"; [ "$WIDTH" -eq 1024 ]; }
wait_for 20 narrow || fail "cannot make the window 1024 pixels wide (it stays $WIDTH)"
close_vorla || exit 1
echo "PASS: restored ${WIDTH}x${HEIGHT}, 1024 pixels wide possible"
