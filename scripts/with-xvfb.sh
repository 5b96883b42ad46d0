#!/usr/bin/env bash
# Runs a command under an Xvfb of its own. The server picks a free display (-displayfd), so any number of
# these can run side by side under `ctest -j` (plain `xvfb-run -a` races for display numbers).
set -uo pipefail
FIFO="$(mktemp -u)"
mkfifo "$FIFO"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$FIFO" 2>/dev/null &
XP=$!
NUM=""
read -r -t 10 NUM <"$FIFO" || true
rm -f "$FIFO"
if [ -z "$NUM" ]; then
  echo "with-xvfb: Xvfb did not start" >&2
  kill "$XP" 2>/dev/null
  exit 1
fi
export DISPLAY=":$NUM"
export QT_QPA_PLATFORM=xcb
RC=0
"$@" || RC=$?
kill "$XP" 2>/dev/null
wait "$XP" 2>/dev/null
exit $RC
