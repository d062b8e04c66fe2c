# Helpers for the tests that drive the real program on an X display
# (sourced; run them inside with-x11.sh).

# Polls a condition (a command) every 50 ms until it succeeds or `seconds`
# pass; returns its last status.
wait_for() {
  local seconds=$1
  shift
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.05
  done
}

# Starts the program given as arguments in the background in the directory
# $work and waits for its visible main window, titled VORLA. Sets vorla_pid
# and window (the window's id).
start_vorla() {
  (cd "$work" && exec "$@" >"$work/vorla.log" 2>&1) &
  vorla_pid=$!
  window=
  local deadline=$((SECONDS + 30))
  while [ -z "$window" ]; do
    if [ $SECONDS -ge $deadline ] || ! kill -0 "$vorla_pid" 2>/dev/null; then
      echo "FAIL: no VORLA window appeared" >&2
      cat "$work/vorla.log" >&2
      return 1
    fi
    window=$(xdotool search --onlyvisible --pid "$vorla_pid" --name '^VORLA$' 2>/dev/null | head -n 1)
    [ -n "$window" ] || sleep 0.05
  done
}

# Closes the program's window as a user does (through the window manager)
# and waits for the program to end. Fails when it does not end in time or
# ends with an error (a sanitizer's report, say).
close_vorla() {
  wmctrl -i -c "$window"
  if ! wait_for 30 sh -c "! kill -0 $vorla_pid 2>/dev/null"; then
    echo "FAIL: VORLA did not end after its window was closed"
    return 1
  fi
  local status=0
  wait "$vorla_pid" || status=$?
  vorla_pid=
  if [ "$status" -ne 0 ]; then
    echo "FAIL: VORLA ended with status $status"
    cat "$work/vorla.log"
    return 1
  fi
}

# Ends the program if it still runs (on the way out of a failed test).
stop_vorla() {
  if [ -n "${vorla_pid:-}" ]; then
    kill "$vorla_pid" 2>/dev/null
    wait "$vorla_pid" 2>/dev/null
    vorla_pid=
  fi
}

# Reads the window's size and position as the window manager reports it into
# WIDTH, HEIGHT, X and Y.
read_geometry() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
}

# True once the window manager has maximised the window and given it the
# screen's width (the state and the size arrive separately).
is_maximised() {
  xprop -id "$window" _NET_WM_STATE | grep -q MAXIMIZED_VERT || return 1
  read_geometry "$window"
  [ "$WIDTH" -eq "$(xdotool getdisplaygeometry | cut -d ' ' -f 1)" ]
}
