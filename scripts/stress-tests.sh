#!/usr/bin/env bash
# Runs the x11 and keyring tests N times in a row and says which tests failed, and how often.
#   scripts/stress-tests.sh N [--load] [--preset default|asan|tsan] [-R regex]
#     --load    keeps every core busy meanwhile (as many busy loops as cores, nice 19, ended with the run)
#     --preset  the build to run (default: default); it is built first. The tsan build runs its
#               concurrency stress tests (the tsan label) instead
#     -R        only the tests whose names match
# The output of each failing round stays in build/<preset>/stress/round-<i>.log. Exit status 0 when no test
# failed in any round.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/setup.sh"

usage() {
  echo "usage: scripts/stress-tests.sh N [--load] [--preset default|asan|tsan] [-R regex]" >&2
  exit 2
}
[ $# -ge 1 ] || usage
ROUNDS="$1"
shift
[[ "$ROUNDS" =~ ^[1-9][0-9]*$ ]] || usage
LOAD=0
PRESET=default
FILTER=()
while [ $# -gt 0 ]; do
  case "$1" in
    --load) LOAD=1 ;;
    --preset) [ $# -ge 2 ] || usage; PRESET="$2"; shift ;;
    -R) [ $# -ge 2 ] || usage; FILTER=(-R "$2"); shift ;;
    *) usage ;;
  esac
  shift
done
case "$PRESET" in default | asan | tsan) ;; *) usage ;; esac

quorvelle_install_packages
LABELS='^(x11|keyring)$'
if [ "$PRESET" = tsan ]; then
  # As the test command builds and runs it: only the stress tests' targets.
  (cd "$ROOT" && cmake --preset tsan >/dev/null && cmake --build --preset tsan -j "$(nproc)")
  LABELS='^tsan$'
  export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1}"
else
  quorvelle_build "$PRESET"
fi
BUILD="$ROOT/build/$PRESET"
[ "$PRESET" = asan ] && quorvelle_sanitizer_env desktop

LOOPS=()
end_load() {
  if [ ${#LOOPS[@]} -gt 0 ]; then
    kill "${LOOPS[@]}" 2>/dev/null || true
    wait "${LOOPS[@]}" 2>/dev/null || true
    LOOPS=()
  fi
}
trap end_load EXIT
if [ "$LOAD" = 1 ]; then
  for _ in $(seq "$(nproc)"); do
    nice -n 19 bash -c 'while :; do :; done' &
    LOOPS+=($!)
  done
  echo "stress-tests: ${#LOOPS[@]} busy loops running (pids ${LOOPS[*]})"
fi

mkdir -p "$BUILD/stress"
rm -f "$BUILD"/stress/round-*.log
declare -A FAILURES=()
cd "$BUILD"
for round in $(seq "$ROUNDS"); do
  start=$SECONDS
  rc=0
  quorvelle_ctest -L "$LABELS" "${FILTER[@]}" -j "$(nproc)" --output-on-failure --no-tests=error \
    >"stress/round-$round.log" 2>&1 || rc=$?
  failed="$(quorvelle_failed_tests "$BUILD")"
  if [ "$rc" -ne 0 ] && [ -z "$failed" ]; then
    failed="(ctest itself, exit status $rc)"
  fi
  if [ -z "$failed" ]; then
    rm -f "stress/round-$round.log"
    echo "round $round/$ROUNDS: no failure ($((SECONDS - start)) s)"
  else
    echo "round $round/$ROUNDS: $(echo "$failed" | wc -l) failed ($((SECONDS - start)) s; stress/round-$round.log):"
    while IFS= read -r name; do
      echo "  $name"
      FAILURES["$name"]=$((${FAILURES["$name"]:-0} + 1))
    done <<<"$failed"
  fi
done
end_load

echo
if [ ${#FAILURES[@]} -eq 0 ]; then
  echo "stress-tests: $ROUNDS rounds of the $PRESET build$([ "$LOAD" = 1 ] && echo " under load"): no test failed"
  exit 0
fi
echo "stress-tests: tests that failed in $ROUNDS rounds of the $PRESET build$([ "$LOAD" = 1 ] && echo " under load"):"
for name in "${!FAILURES[@]}"; do
  printf '%4d  %s\n' "${FAILURES[$name]}" "$name"
done | sort -rn
exit 1
