#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (packages, the optimised build) and starts Quorvelle on the current X11
# desktop.
#
#   scripts/run.sh               against tools/dev-backend, started along with it on a free port of
#                                127.0.0.1 (the backend address compiled in is a service out of reach here)
#   scripts/run.sh --backend URL against the backend at URL (QUORVELLE_BACKEND_URL set in the environment
#                                does the same)
#   scripts/run.sh --xvfb        no desktop at hand: a virtual X server with openbox and a trayer tray,
#                                and a throw-away keyring when no session bus is at hand (reach it with
#                                x11vnc or xdotool)
#   scripts/run.sh --collector   analytics on, reported to tools/dizizoz-collector, started along with it
#                                on a free port of 127.0.0.1, which prints each event as it arrives
#                                (QUORVELLE_DIZIZOZ_API_KEY and QUORVELLE_DIZIZOZ_HOST set in the
#                                environment point the program at another analytics service)
#
# Quorvelle needs an X11 session (DISPLAY set; XKB and XTEST extensions) for its hot keys and for reading
# and replacing selections, a system tray for its menu (without one the settings window opens instead),
# and a Secret Service keyring (gnome-keyring or KWallet) to keep the Gemini key. Other arguments go to
# the program.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/setup.sh"

XVFB=0
COLLECTOR=0
BACKEND="${QUORVELLE_BACKEND_URL:-}"
ARGS=()
while [ $# -gt 0 ]; do
  case "$1" in
    --xvfb) XVFB=1; shift ;;
    --collector) COLLECTOR=1; shift ;;
    --backend)
      [ $# -ge 2 ] || { echo "run.sh: --backend needs an address, e.g. --backend https://api.quorvelle.app" >&2; exit 2; }
      BACKEND="$2"; shift 2 ;;
    *) ARGS+=("$1"); shift ;;
  esac
done

if [ "$XVFB" = 0 ] && [ -z "${DISPLAY:-}" ]; then
  echo "run.sh: no X11 display (DISPLAY is not set). Quorvelle is a tray utility for an X11 desktop:" >&2
  echo "  start it from a desktop session (Xorg, or Xwayland with QT_QPA_PLATFORM=xcb)," >&2
  echo "  or run 'scripts/run.sh --xvfb' for a virtual display with openbox and trayer." >&2
  exit 1
fi

quorvelle_install_packages
quorvelle_build release quorvelle dev-backend dizizoz-collector
BUILD="$ROOT/build/release"

PIDS=()
cleanup() {
  local pid
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

# Starts tools/$1 on a free port of 127.0.0.1 and sets ADDRESS to where it listens; with "show" as $2 its
# output also goes to this terminal.
start_tool() {
  local name="$1" show="${2:-}" log
  log="$(mktemp)"
  if [ "$show" = show ]; then
    "$BUILD/tools/$name" --port 0 > >(tee "$log") &
  else
    "$BUILD/tools/$name" --port 0 >"$log" &
  fi
  PIDS+=($!)
  for _ in $(seq 100); do
    grep -q listening "$log" && break
    sleep 0.05
  done
  ADDRESS="$(sed -n "1s/^$name listening on //p" "$log")"
  rm -f "$log"
  [ -n "$ADDRESS" ] || { echo "run.sh: tools/$name did not start" >&2; exit 1; }
}

if [ -z "$BACKEND" ]; then
  start_tool dev-backend
  BACKEND="$ADDRESS"
  echo "run.sh: Quorvelle uses the development backend (tools/dev-backend) at $BACKEND;" \
    "'scripts/run.sh --backend URL' uses another"
fi
export QUORVELLE_BACKEND_URL="$BACKEND"

if [ "$COLLECTOR" = 1 ]; then
  # Its lines go to this terminal: one per request, event and log record.
  start_tool dizizoz-collector show
  export QUORVELLE_DIZIZOZ_API_KEY="phc_collector" QUORVELLE_DIZIZOZ_HOST="$ADDRESS"
  echo "run.sh: analytics go to tools/dizizoz-collector at $ADDRESS"
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

export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-xcb}"
if [ "$XVFB" = 1 ] && [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
  # A virtual display has no desktop session: give it a session bus and a keyring of its own, kept in a
  # folder of its own under a random password (never the user's keyring), so that a Gemini key can be saved and refining works.
  KEYRING="$(mktemp -d)"
  trap 'cleanup; rm -rf "$KEYRING"' EXIT
  mkdir -m 700 "$KEYRING/runtime"
  echo "run.sh: the virtual display has a keyring of its own; a Gemini key saved there lasts until Quorvelle ends"
  XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$KEYRING/runtime}" dbus-run-session -- bash -c '
    head -c 18 /dev/urandom | base64 | XDG_DATA_HOME="$1" gnome-keyring-daemon --unlock --components=secrets \
      --daemonize >/dev/null
    shift
    exec "$@"' run.sh "$KEYRING" "$BUILD/program/quorvelle" "${ARGS[@]+"${ARGS[@]}"}"
else
  "$BUILD/program/quorvelle" "${ARGS[@]+"${ARGS[@]}"}"
fi
