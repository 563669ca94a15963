#!/usr/bin/env bash
# Runs a command inside a Wine test session: a prefix of the build
# (created on first use; 32-bit, or 64-bit with WINEARCH=win64), an X
# display (Xvfb) for windows and message boxes, and one persistent
# wineserver. Everything started here is stopped on exit, also on failure.
# Inside a running session of the same prefix it only runs the command, so
# tests and the whole test run can both use it; a session of another
# prefix runs beside it.
#
#   [WINEARCH=win64] WINEPREFIX=<build>/wineprefix session.sh <command> [args...]
set -euo pipefail

: "${WINEPREFIX:?WINEPREFIX must name the prefix of this build}"
# The same prefix however its path is spelt (through a symbolic link).
WINEPREFIX=$(realpath -m "$WINEPREFIX")
if [[ "${WINE_SESSION_ACTIVE:-}" == "$WINEPREFIX" ]]; then
  exec "$@"
fi

export WINEPREFIX WINEARCH="${WINEARCH:-win32}" WINEDEBUG="${WINEDEBUG:--all}"

xvfb_pid=""
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  if [[ -n "$xvfb_pid" ]]; then
    kill "$xvfb_pid" >/dev/null 2>&1 || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A display nobody else uses: Xvfb refuses one whose lock file exists.
start_display() {
  local n
  for n in $(seq 91 140); do
    [[ -e "/tmp/.X${n}-lock" || -e "/tmp/.X11-unix/X${n}" ]] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 1 50); do
      if [[ -e "/tmp/.X11-unix/X${n}" ]]; then
        export DISPLAY=":$n"
        return 0
      fi
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$xvfb_pid" >/dev/null 2>&1 || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
  done
  echo "session.sh: no X display could be started" >&2
  return 1
}

# A program for a person to see keeps the display it was started on.
if [[ "${WINE_SESSION_KEEP_DISPLAY:-}" != 1 || -z "${DISPLAY:-}" ]]; then
  start_display
fi

mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  wineboot -i >/dev/null 2>&1
  # A virtual desktop: without a window manager every closed window would
  # cost about two seconds.
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f >/dev/null 2>&1
  wineserver -w
fi
flock -u 9
exec 9>&-

# The server acquires a pty it opens as its controlling terminal, and when
# the simulator closes that pty the hangup makes it dump every object it
# holds to its standard error: keep that out of the test output.
wineserver -p 2>/dev/null
# Wine's own background processes start with the first program and live as
# long as the server; started here they hold no pipe of the command's (a
# test runner would wait for those pipes to close).
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
export WINE_SESSION_ACTIVE="$WINEPREFIX"
set +e
"$@"
status=$?
set -e
exit "$status"
