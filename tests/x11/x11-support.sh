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
