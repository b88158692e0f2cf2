#!/bin/bash
# Runs a Windows program on Wine in the test run's throwaway prefix, quietly and without a display.
# The prefix comes from WINEPREFIX (set per test by CTest); make-prefix.sh creates it.
set -u
if [ -z "${WINEPREFIX:-}" ]; then
  echo "run.sh: WINEPREFIX is not set" >&2
  exit 127
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
exec wine "$@"
