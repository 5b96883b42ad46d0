#!/usr/bin/env bash
# What the program costs a user: time to tray-ready, memory at rest and after the first pronunciation,
# and the hot key's popup and translation, measured from outside on a private Xvfb with openbox and
# trayer against tools/dev-backend, side by side with an anchor desktop dictionary (GoldenDict, when
# installed: apt-get install --no-install-recommends goldendict) in the same run.
#
#   bench/startup.sh [--runs N] [--popups N] [--idle-ms N] [--no-anchor] [--no-build] [LABEL=PROGRAM]...
#
# LABEL=PROGRAM adds a build of the program (default: quorvelle=build/release/program/quorvelle, built
# first); several compare builds, e.g. before=/tmp/old/quorvelle after=build/release/program/quorvelle.
# Each program runs once to warm the caches, then N times (default 5) in turns, each start opening
# --popups popups (default 4). The word "hello" is selected in a window of the probe's own that has the
# keyboard focus, as a word the user selected in another application. The table shows medians:
#   ready      process start to its tray icon visible in trayer (ms)
#   cpu        processor time the program's threads ran until then (ms; what a busy machine does not change)
#   rss, thr   resident memory (MiB) and threads --idle-ms after that (default 2000 ms), at rest
#   pss, libs  proportional memory (MiB) and shared objects mapped at that moment
#   first      hot key to the popup window visible, first popup after start (ms)
#   warm       the same for every further popup (ms)
#   result     hot key to the popup's refit to its first translation (ms), first popup
#   sound      hot key to the pronunciation heard on the run's PulseAudio sink (ms), first popup; "-"
#              without pulseaudio (apt-get install pulseaudio pulseaudio-utils)
#   after      resident memory (MiB), threads and shared objects one second after the first popup closed
#              and its sound ended: after the first pronunciation
# The program's hot key is Alt+T, which takes the focused window's PRIMARY selection; the anchor's is
# Ctrl+C+C, which takes the clipboard, also "hello". A benchmark: never run as a test.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

RUNS=5
POPUPS=4
IDLE_MS=2000
ANCHOR=1
BUILD=1
PROGRAMS=()
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) RUNS="$2"; shift 2 ;;
    --popups) POPUPS="$2"; shift 2 ;;
    --idle-ms) IDLE_MS="$2"; shift 2 ;;
    --no-anchor) ANCHOR=0; shift ;;
    --no-build) BUILD=0; shift ;;
    *=*) PROGRAMS+=("$1"); shift ;;
    *) sed -n '2,25p' "${BASH_SOURCE[0]}" >&2; exit 2 ;;
  esac
done
[ ${#PROGRAMS[@]} -gt 0 ] || PROGRAMS=("quorvelle=$ROOT/build/release/program/quorvelle")
[ "$POPUPS" -ge 2 ] || { echo "startup.sh: --popups needs at least 2 (the first and a warm one)" >&2; exit 2; }

if [ "$BUILD" = 1 ]; then
  cmake --preset release -S "$ROOT" >/dev/null
  cmake --build "$ROOT/build/release" -j4 --target quorvelle dev-backend startup-probe >/dev/null
fi
PROBE="$ROOT/build/release/bench/startup-probe"
BACKEND="$ROOT/build/release/tools/dev-backend"
for tool in "$PROBE" "$BACKEND"; do
  [ -x "$tool" ] || { echo "startup.sh: $tool is missing (build the release preset)" >&2; exit 1; }
done
for tool in Xvfb dbus-daemon openbox trayer; do
  command -v "$tool" >/dev/null || { echo "startup.sh: needs $tool (scripts/setup.sh installs it)" >&2; exit 1; }
done
SOUND=()
if command -v pulseaudio >/dev/null && command -v pactl >/dev/null; then
  SOUND=(--sound bench.monitor)
else
  echo "startup.sh: no sound server (apt-get install pulseaudio pulseaudio-utils adds the sound column)" >&2
fi
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

# A desktop as the desktop tests have it: openbox with its built-in defaults and a trayer tray along the
# top edge (the probe waits until both hold their selections).
openbox --sm-disable --config-file "$ROOT/tests/support/qt/openbox.xml" >/dev/null 2>&1 &
PIDS+=($!)
trayer --edge top --align right --widthtype request --height 24 --transparent false >/dev/null 2>&1 &
PIDS+=($!)

# A session bus of the run's own, as a desktop has (the tray and the keyring are looked up on it).
dbus-daemon --session --nofork --print-address=1 >"$WORK/bus" 2>/dev/null &
PIDS+=($!)
"$BACKEND" --port 0 >"$WORK/backend" &
PIDS+=($!)
# A sound server of the run's own that plays into nothing, so that a pronunciation plays as on a desktop.
if [ ${#SOUND[@]} -gt 0 ]; then
  mkdir -p "$WORK/pulse"
  HOME="$WORK/pulse" pulseaudio --daemonize=no --exit-idle-time=-1 -n --load="module-null-sink sink_name=bench" \
    --load="module-native-protocol-unix auth-anonymous=1" >/dev/null 2>&1 &
  PIDS+=($!)
  export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
fi
for _ in $(seq 100); do
  [ -s "$WORK/bus" ] && grep -q listening "$WORK/backend" &&
    { [ ${#SOUND[@]} -eq 0 ] || pactl info >/dev/null 2>&1; } && break
  sleep 0.05
done
export DBUS_SESSION_BUS_ADDRESS="$(head -n1 "$WORK/bus")"
BACKEND_URL="$(sed -n '1s/.* //p' "$WORK/backend")"

run_one() {
  local label="$1" program="$2" home="$WORK/home-$1"
  mkdir -p "$home/.config/quorvelle"
  if [ "$label" = goldendict ]; then
    env HOME="$home" XDG_CONFIG_HOME="$home/.config" QT_QPA_PLATFORM=xcb \
      "$PROBE" --idle-ms "$IDLE_MS" --popup ctrl+c+c --popups "$POPUPS" "${SOUND[@]}" -- "$program" \
      2>>"$WORK/$label.err"
  else
    # Onboarding done, so that the program starts as it does every day: into the tray; the pronunciation
    # plays with the result (as by default).
    echo '{"hasCompletedOnboarding":{"bool":true},"targetLanguage":{"string":"ru"},
      "autoPlayPronunciation":{"bool":true}}' >"$home/.config/quorvelle/settings.json"
    env HOME="$home" XDG_CONFIG_HOME="$home/.config" QT_QPA_PLATFORM=xcb QUORVELLE_BACKEND_URL="$BACKEND_URL" \
      "$PROBE" --idle-ms "$IDLE_MS" --popup alt+t --popups "$POPUPS" "${SOUND[@]}" -- "$program" \
      2>>"$WORK/$label.err"
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

# The median of the fields whose names match the extended regular expression $1 in file $2, divided
# by $3, printed with format $4; "-" when there are none.
median() {
  { grep -Eo "\\b($1)=[^ ]*" "$2" 2>/dev/null || true; } | cut -d= -f2 | { grep -v '^-$' || true; } | sort -n |
    awk -v scale="${3:-1}" -v format="${4:-%.1f}" '{ v[NR] = $1 / scale }
      END { if (NR == 0) print "-"; else if (NR % 2) printf format "\n", v[(NR + 1) / 2];
            else printf format "\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# How many of those fields had no value ("-": nothing seen in time).
missing() {
  { grep -Eo "\\b($1)=-" "$2" 2>/dev/null || true; } | wc -l
}

echo "medians of $RUNS runs of $POPUPS popups on $DISPLAY (Xvfb, openbox, trayer), at rest after $IDLE_MS ms;"
echo "times in ms, memory in MiB"
row() { printf '%-12s %7s %6s %6s %6s %4s %5s %7s %7s %7s %7s %7s %4s %5s\n' "$@"; }
row program ready cpu rss pss thr libs first warm result sound after thr libs
for entry in "${PROGRAMS[@]}"; do
  label="${entry%%=*}"
  f="$WORK/$label.txt"
  row "$label" \
    "$(median ready_ms "$f")" "$(median ready_cpu_ms "$f")" "$(median rss_kib "$f" 1024)" \
    "$(median pss_kib "$f" 1024)" "$(median threads "$f" 1 %.0f)" "$(median libs "$f" 1 %.0f)" \
    "$(median popup1_ms "$f")" "$(median 'popup([2-9]|[1-9][0-9]+)_ms' "$f")" "$(median result1_ms "$f")" \
    "$(median sound1_ms "$f")" "$(median after_rss_kib "$f" 1024)" "$(median after_threads "$f" 1 %.0f)" \
    "$(median after_libs "$f" 1 %.0f)"
  lost="$(missing 'popup[0-9]+_ms|result1_ms' "$f")"
  [ "$lost" = 0 ] || echo "  $label: $lost popups or first translations not seen in time (left out)"
  if [ ${#SOUND[@]} -gt 0 ] && [ "$(missing sound1_ms "$f")" != 0 ]; then
    echo "  $label: no pronunciation heard in $(missing sound1_ms "$f") of $RUNS first popups" \
      "(playback stream opened after $(median stream1_ms "$f") ms)"
  fi
done
