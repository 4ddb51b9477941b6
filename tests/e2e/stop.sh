# Sourced by the end-to-end scripts. Velmora answers SIGTERM by shutting down (its settings are
# written), so a test must wait for that before it removes the folder the settings live in:
# otherwise the late write fails and leaves an error report up on the shared test display, where
# the next test's window lookup finds it.
#   stop_velmora PID
stop_velmora() {
  local pid=$1 _
  [ -n "$pid" ] || return 0
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  return 0
}
