#!/usr/bin/env bash
# What the program costs a user: time to tray-ready, idle memory and the hot key's popup, measured from
# outside on a private Xvfb against tools/dev-backend, side by side with an anchor desktop dictionary
# (GoldenDict, when installed: apt-get install --no-install-recommends goldendict) in the same run.
#
#   bench/startup.sh [--runs N] [--idle-ms N] [--no-anchor] [--no-build] [LABEL=PROGRAM]...
#
# LABEL=PROGRAM adds a build of the program (default: quorvelle=build/release/program/quorvelle, built
# first); several compare builds, e.g. before=/tmp/old/quorvelle after=build/release/program/quorvelle.
# Each program runs once to warm the caches, then N times (default 5) in turns; the table shows medians:
#   ready      process start to its tray icon's dock request (ms)
#   rss, pss   resident and proportional memory --idle-ms after that (MiB, default 2000 ms)
#   thr, libs  threads and shared objects at that moment
#   key>popup  hot key to the popup's window mapping, first popup after start, then the second (ms)
#   key>result hot key to the popup's refit to its translation, first and second popup (ms)
#   after      resident memory, threads and shared objects one second after the second popup
# The program's hot key is Alt+T on the PRIMARY selection "hello"; the anchor's is Ctrl+C+C on the
# clipboard holding "hello". A benchmark: never run as a test.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

RUNS=5
IDLE_MS=2000
ANCHOR=1
BUILD=1
PROGRAMS=()
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) RUNS="$2"; shift 2 ;;
    --idle-ms) IDLE_MS="$2"; shift 2 ;;
    --no-anchor) ANCHOR=0; shift ;;
    --no-build) BUILD=0; shift ;;
    *=*) PROGRAMS+=("$1"); shift ;;
    *) sed -n '2,20p' "${BASH_SOURCE[0]}" >&2; exit 2 ;;
  esac
done
[ ${#PROGRAMS[@]} -gt 0 ] || PROGRAMS=("quorvelle=$ROOT/build/release/program/quorvelle")

if [ "$BUILD" = 1 ]; then
  cmake --preset release -S "$ROOT" >/dev/null
  cmake --build "$ROOT/build/release" -j4 --target quorvelle dev-backend startup-probe >/dev/null
fi
PROBE="$ROOT/build/release/bench/startup-probe"
BACKEND="$ROOT/build/release/tools/dev-backend"
for tool in "$PROBE" "$BACKEND"; do
  [ -x "$tool" ] || { echo "startup.sh: $tool is missing (build the release preset)" >&2; exit 1; }
done
for tool in Xvfb xclip dbus-daemon; do
  command -v "$tool" >/dev/null || { echo "startup.sh: needs $tool (scripts/setup.sh installs it)" >&2; exit 1; }
done
if [ "$ANCHOR" = 1 ]; then
  if command -v goldendict >/dev/null; then
    PROGRAMS+=("goldendict=$(command -v goldendict)")
  else
    echo "startup.sh: no anchor (apt-get install --no-install-recommends goldendict adds GoldenDict)" >&2
  fi
fi

WORK="$(mktemp -d)"
PIDS=()
cleanup() {
  local pid
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$WORK"
}
trap cleanup EXIT

FIFO="$WORK/display"
mkfifo "$FIFO"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$FIFO" 2>/dev/null &
PIDS+=($!)
read -r -t 10 NUM <"$FIFO"
export DISPLAY=":$NUM"
export XDG_RUNTIME_DIR="$WORK/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# A session bus of the run's own, as a desktop has (the tray and the keyring are looked up on it).
dbus-daemon --session --nofork --print-address=1 >"$WORK/bus" 2>/dev/null &
PIDS+=($!)
"$BACKEND" --port 0 >"$WORK/backend" &
PIDS+=($!)
for _ in $(seq 100); do
  [ -s "$WORK/bus" ] && grep -q listening "$WORK/backend" && break
  sleep 0.05
done
export DBUS_SESSION_BUS_ADDRESS="$(head -n1 "$WORK/bus")"
BACKEND_URL="$(sed -n '1s/.* //p' "$WORK/backend")"

echo -n hello | xclip -quiet -selection primary >/dev/null 2>&1 &
PIDS+=($!)
echo -n hello | xclip -quiet -selection clipboard >/dev/null 2>&1 &
PIDS+=($!)

run_one() {
  local label="$1" program="$2" home="$WORK/home-$1"
  mkdir -p "$home/.config/quorvelle"
  if [ "$label" = goldendict ]; then
    env HOME="$home" XDG_CONFIG_HOME="$home/.config" QT_QPA_PLATFORM=xcb \
      "$PROBE" --idle-ms "$IDLE_MS" --popup ctrl+c+c -- "$program" 2>>"$WORK/$label.err"
  else
    # Onboarding done, so that the program starts as it does every day: into the tray.
    echo '{"hasCompletedOnboarding":{"bool":true},"targetLanguage":{"string":"ru"}}' \
      >"$home/.config/quorvelle/settings.json"
    env HOME="$home" XDG_CONFIG_HOME="$home/.config" QT_QPA_PLATFORM=xcb QUORVELLE_BACKEND_URL="$BACKEND_URL" \
      "$PROBE" --idle-ms "$IDLE_MS" --popup alt+t -- "$program" 2>>"$WORK/$label.err"
  fi
}

for entry in "${PROGRAMS[@]}"; do
  run_one "${entry%%=*}" "${entry#*=}" >/dev/null || true
done
for run in $(seq "$RUNS"); do
  for entry in "${PROGRAMS[@]}"; do
    label="${entry%%=*}"
    if ! run_one "$label" "${entry#*=}" >>"$WORK/$label.txt"; then
      echo "startup.sh: run $run of $label failed:" >&2
      tail -n 5 "$WORK/$label.err" >&2
    fi
  done
done

median() {
  { grep -o "\\b$1=[^ ]*" "$2" 2>/dev/null || true; } | cut -d= -f2 | { grep -v '^-$' || true; } | sort -n |
    awk -v scale="${3:-1}" -v format="${4:-%.1f}" '{ v[NR] = $1 / scale }
      END { if (NR == 0) print "-"; else if (NR % 2) printf format "\n", v[(NR + 1) / 2];
            else printf format "\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo "medians of $RUNS runs on $DISPLAY (Xvfb), idle after $IDLE_MS ms; times in ms, memory in MiB"
printf '%-12s %7s %6s %6s %4s %5s %9s %9s %10s %10s %6s %4s %5s\n' program ready rss pss thr libs \
  key\>popup1 key\>popup2 key\>result1 key\>result2 after thr libs
for entry in "${PROGRAMS[@]}"; do
  f="$WORK/${entry%%=*}.txt"
  printf '%-12s %7s %6s %6s %4s %5s %9s %9s %10s %10s %6s %4s %5s\n' "${entry%%=*}" \
    "$(median ready_ms "$f")" "$(median rss_kib "$f" 1024)" "$(median pss_kib "$f" 1024)" \
    "$(median threads "$f" 1 %.0f)" "$(median libs "$f" 1 %.0f)" "$(median popup1_ms "$f")" "$(median popup2_ms "$f")" \
    "$(median result1_ms "$f")" "$(median result2_ms "$f")" "$(median after_rss_kib "$f" 1024)" \
    "$(median after_threads "$f" 1 %.0f)" "$(median after_libs "$f" 1 %.0f)"
done
