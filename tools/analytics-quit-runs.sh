#!/usr/bin/env bash
# Repeats the analytics client's two ends that used to abort, and prints how many ended cleanly:
#   - the program quit while the analytics service holds back its first flags answer (QUITS times, 300 by
#     default), on an Xvfb of its own with a window manager and a tray;
#   - a client on the real delivery services closed right after its set-up, 200 times in one process.
# Usage: tools/analytics-quit-runs.sh [QUITS] [BUILD_DIR]   (BUILD_DIR defaults to build/default; build
# the tests and the program there first: cmake --build build/default)
set -uo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
QUITS="${1:-300}"
BUILD="${2:-$ROOT/build/default}"
X11_TESTS="$BUILD/tests/tests_program_x11"
STRESS_TESTS="$BUILD/tests/tests_DiziZoz_tsan"
for binary in "$X11_TESTS" "$STRESS_TESTS" "$BUILD/program/quorvelle"; do
  if [ ! -x "$binary" ]; then
    echo "analytics-quit-runs: $binary is missing; build $BUILD first" >&2
    exit 2
  fi
done

RC=0
echo "== $QUITS quits of the program during a flags answer"
QUORVELLE_QUIT_RUNS="$QUITS" "$ROOT/scripts/with-xvfb.sh" "$X11_TESTS" \
  --gtest_filter='AnalyticsX11Test.QuittingWhileAFlagsAnswerIsOnItsWayEndsCleanlyEveryTime' || RC=1
echo "== 200 closes right after set-up"
"$STRESS_TESTS" --gtest_filter='RealServicesStress.TwoHundredClosesRightAfterSetUp' || RC=1
if [ "$RC" -eq 0 ]; then
  echo "analytics-quit-runs: $QUITS quits and 200 closes, none aborted"
else
  echo "analytics-quit-runs: FAILED (see above)" >&2
fi
exit $RC
