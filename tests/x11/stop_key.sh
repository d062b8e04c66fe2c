#!/usr/bin/env bash
# Ctrl+Break typed on a real keyboard stops a runaway Tcl command: the real
# program under X, an endless loop typed into the console, then Ctrl+Pause
# as X delivers it (the keysym Break). A command typed afterwards can only
# run once the loop has been stopped. Then the same for a loop that floods
# the console, and closing the window while one runs.
#   usage: stop_key.sh PATH_TO_VORLA   (inside with-x11.sh)
set -uo pipefail
vorla=$(realpath "$1")
work=$(mktemp -d)
source "$(dirname "$0")/x11-support.sh"
trap 'stop_vorla; rm -rf "$work"' EXIT

start_vorla "$vorla" --demo || exit 1
wait_for 20 is_maximised || { echo "FAIL: not maximised"; exit 1; }

# Click into the console pane, near the bottom above the status bar.
xdotool mousemove --window "$window" $((WIDTH / 2)) $((HEIGHT - 50)) click 1
xdotool type --delay 10 "set f [open $work/started w]; close \$f; while 1 {}"
xdotool key Return
wait_for 20 test -e "$work/started" || { echo "FAIL: the loop did not start"; cat "$work/vorla.log"; exit 1; }

xdotool key ctrl+Pause
xdotool type --delay 10 "set f [open $work/marker w]; puts \$f ok; close \$f"
xdotool key Return
if ! wait_for 20 test -s "$work/marker"; then
  echo "FAIL: Ctrl+Break did not stop the running loop"
  exit 1
fi

# The same with a loop that floods the console: the keys still get through.
xdotool type --delay 10 "set f [open $work/started2 w]; close \$f; while 1 {puts x}"
xdotool key Return
wait_for 20 test -e "$work/started2" || { echo "FAIL: the printing loop did not start"; exit 1; }
xdotool key ctrl+Pause
xdotool type --delay 10 "set f [open $work/marker2 w]; puts \$f ok; close \$f"
xdotool key Return
if ! wait_for 20 test -s "$work/marker2"; then
  echo "FAIL: Ctrl+Break did not stop the printing loop"
  exit 1
fi

# Closing the window while a loop floods the console ends the program.
xdotool type --delay 10 "set f [open $work/started3 w]; close \$f; while 1 {puts x}"
xdotool key Return
wait_for 20 test -e "$work/started3" || { echo "FAIL: the last printing loop did not start"; exit 1; }
closing=$SECONDS
close_vorla || exit 1
if [ $((SECONDS - closing)) -gt 4 ]; then
  echo "FAIL: closing during the printing loop took $((SECONDS - closing)) s"
  exit 1
fi
echo "PASS: Ctrl+Break stopped the loops; closing during a printing loop ended the program"
