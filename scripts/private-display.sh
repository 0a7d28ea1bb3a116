# Sourced by the scripts that run Windows programs: when no $DISPLAY is set, starts a private
# Xvfb on the first free display number of FIRST..LAST (Wine's window driver needs one even for
# hidden windows), exports DISPLAY and sets xvfb_pid; the caller stops it when done.
#   start_private_display FIRST LAST
xvfb_pid=""
start_private_display() {
  [ -n "${DISPLAY:-}" ] && return 0
  local n
  for n in $(seq "$1" "$2"); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
      xvfb_pid=$!
      export DISPLAY=":$n"
      for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done
      return 0
    fi
  done
  echo "no free display number in :$1..:$2" >&2
  return 1
}
stop_private_display() {
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
