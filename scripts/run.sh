#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (packages, build) and starts Quorvelle on the current X11 desktop.
#
#   scripts/run.sh               the backend address compiled in (QUORVELLE_BACKEND_URL)
#   scripts/run.sh --local       builds against tools/dev-backend on 127.0.0.1:8787 and starts it too
#   scripts/run.sh --xvfb        no desktop at hand: a virtual X server with openbox and a trayer tray
#                                (combine with --local; reach it with x11vnc or xdotool)
#
# Quorvelle needs an X11 session (DISPLAY set; XKB and XTEST extensions) for its hot keys and for reading
# and replacing selections, a system tray for its menu (without one the settings window opens instead),
# and a Secret Service keyring (gnome-keyring or KWallet) to keep the Gemini key.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/setup.sh"

LOCAL=0
XVFB=0
ARGS=()
for arg in "$@"; do
  case "$arg" in
    --local) LOCAL=1 ;;
    --xvfb) XVFB=1 ;;
    *) ARGS+=("$arg") ;;
  esac
done

quorvelle_install_packages
if [ "$LOCAL" = 1 ]; then
  cmake --preset default -S "$ROOT" -DQUORVELLE_BACKEND_URL=http://127.0.0.1:8787 >/dev/null
elif [ -f "$ROOT/build/default/CMakeCache.txt" ] && grep -q '^QUORVELLE_BACKEND_URL:STRING=http://127.0.0.1' \
  "$ROOT/build/default/CMakeCache.txt"; then
  echo "run.sh: the build is configured for the local development backend (run without --local after" \
    "'cmake --preset default -DQUORVELLE_BACKEND_URL=https://api.quorvelle.app' for the real one)"
fi
quorvelle_build default

PIDS=()
cleanup() {
  local pid
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

URL="$(sed -n 's/^QUORVELLE_BACKEND_URL:STRING=//p' "$ROOT/build/default/CMakeCache.txt")"
if [[ "$URL" =~ ^http://(127\.0\.0\.1|localhost):([0-9]+)$ ]]; then
  "$ROOT/build/default/tools/dev-backend" --port "${BASH_REMATCH[2]}" &
  PIDS+=($!)
fi

if [ "$XVFB" = 1 ]; then
  for tool in openbox trayer; do
    command -v "$tool" >/dev/null || {
      echo "run.sh --xvfb needs $tool: sudo apt-get install --no-install-recommends openbox trayer" >&2
      exit 1
    }
  done
  FIFO="$(mktemp -u)"
  mkfifo "$FIFO"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$FIFO" 2>/dev/null &
  PIDS+=($!)
  read -r -t 10 NUM <"$FIFO"
  rm -f "$FIFO"
  export DISPLAY=":$NUM"
  openbox >/dev/null 2>&1 &
  PIDS+=($!)
  trayer --edge top --align right --widthtype request --height 24 --transparent false >/dev/null 2>&1 &
  PIDS+=($!)
  sleep 1
  echo "run.sh: Quorvelle runs on the virtual display $DISPLAY"
fi

if [ -z "${DISPLAY:-}" ]; then
  echo "run.sh: no X11 display (DISPLAY is not set). Quorvelle is a tray utility for an X11 desktop:" >&2
  echo "  start it from a desktop session (Xorg, or Xwayland with QT_QPA_PLATFORM=xcb)," >&2
  echo "  or run 'scripts/run.sh --xvfb' for a virtual display with openbox and trayer." >&2
  exit 1
fi
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-xcb}"
"$ROOT/build/default/program/quorvelle" "${ARGS[@]+"${ARGS[@]}"}"
