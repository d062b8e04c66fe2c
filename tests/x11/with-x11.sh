#!/usr/bin/env bash
# Runs a command on a private X display: a virtual X server (Xvfb) on a free
# display number with the openbox window manager, so tests meet real X key
# events and a real window manager. Both are ended whatever happens; the
# command's exit status is returned.
#   usage: with-x11.sh COMMAND [ARGS...]
set -uo pipefail

if [ $# -eq 0 ]; then
  echo "usage: $0 COMMAND [ARGS...]" >&2
  exit 2
fi

work=$(mktemp -d)
xvfb_pid=
wm_pid=
cleanup() {
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null && wait "$wm_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Xvfb picks a free display and writes its number to the pipe once it accepts
# clients; if it fails, the pipe closes and the read ends empty.
mkfifo "$work/displayfd"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$work/displayfd" 2>"$work/xvfb.log" &
xvfb_pid=$!
display=
read -r -t 30 display <"$work/displayfd"
if [ -z "$display" ]; then
  echo "with-x11: Xvfb did not start" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi
export DISPLAY=":$display"
export QT_QPA_PLATFORM=xcb # also when the caller chose offscreen for the other tests

# openbox announces itself on the root window once it manages windows.
openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm_pid=$!
deadline=$((SECONDS + 30))
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
  if [ $SECONDS -ge $deadline ] || ! kill -0 "$wm_pid" 2>/dev/null; then
    echo "with-x11: openbox did not start" >&2
    cat "$work/openbox.log" >&2
    exit 1
  fi
  sleep 0.05
done

"$@"
