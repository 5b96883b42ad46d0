#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (packages, builds) and runs every test:
#   0. the layering of the includes (and the check's own self-test), clang-format on the changed files,
#   1. unit and widgets tests of the default build,
#   2. x11 tests, each under an Xvfb of its own,
#   3. crash tests, then short libFuzzer runs of the Mach-O, ELF and crash report readers (clang),
#   3b. secret-store tests against a real gnome-keyring on a private D-Bus session,
#   4. unit, crash, keyring and x11 tests of the AddressSanitizer + UndefinedBehaviorSanitizer build (leaks
#      that system libraries keep are suppressed by scripts/lsan.supp),
#   5. concurrency stress tests of the ThreadSanitizer build (only their targets are built),
#   6. the optimised (release) build, which users run (warnings are errors there too), and its unit tests.
# When a stage fails, the last lines say which, and name the tests of that stage that failed.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/setup.sh"
JOBS="$(nproc)"

STAGE="set-up"
STAGE_BUILD=""  # the build folder of the stage's tests, when it runs ctest
RUN_START=$SECONDS
STAGE_START=$SECONDS
stage() {
  echo "== $1 ==  (after $((SECONDS - RUN_START)) s)"
  STAGE="$1"
  STAGE_BUILD=""
  STAGE_START=$SECONDS
}
tests_in() {
  STAGE_BUILD="$1"
  cd "$1"
  shift
  quorvelle_ctest "$@"
}
report() {
  local rc=$?
  [ "$rc" -eq 0 ] && return
  echo
  echo "== test.sh FAILED in the stage \"$STAGE\" (exit status $rc, after $((SECONDS - STAGE_START)) s of it) =="
  if [ -n "$STAGE_BUILD" ]; then
    local failed
    failed="$(quorvelle_failed_tests "$STAGE_BUILD")"
    if [ -n "$failed" ]; then
      echo "Failed tests (their output is above; all of it in $STAGE_BUILD/Testing/Temporary/LastTest.log):"
      printf '  %s\n' $failed
    fi
  fi
}
trap report EXIT

stage "layering of the includes"
bash "$ROOT/scripts/check-layering.sh"
bash "$ROOT/scripts/check-layering.sh" --self-test
stage "packages"
quorvelle_install_packages
stage "clang-format on the changed files"
bash "$ROOT/scripts/check-format.sh"

stage "default build"
quorvelle_build default
stage "unit and widgets tests"
tests_in "$ROOT/build/default" -L '^(unit|widgets)$' -j "$JOBS" --output-on-failure --no-tests=ignore
stage "x11 tests (own Xvfb each)"
tests_in "$ROOT/build/default" -L '^x11$' -j "$JOBS" --output-on-failure --no-tests=ignore
stage "crash tests"
tests_in "$ROOT/build/default" -L '^crash$' -j "$JOBS" --output-on-failure --no-tests=ignore
stage "Mach-O, ELF, compact-unwind and crash report reader fuzz runs (20 s each)"
bash "$ROOT/tests/fuzz/run.sh" 20
stage "keyring tests (own D-Bus session and gnome-keyring each)"
tests_in "$ROOT/build/default" -L '^keyring$' -j "$JOBS" --output-on-failure --no-tests=error

stage "AddressSanitizer + UndefinedBehaviorSanitizer build"
quorvelle_build asan
stage "unit tests under AddressSanitizer + UndefinedBehaviorSanitizer"
STAGE_BUILD="$ROOT/build/asan"
(
  quorvelle_sanitizer_env unit
  tests_in "$ROOT/build/asan" -L '^unit$' -j "$JOBS" --output-on-failure --no-tests=ignore
)
stage "crash tests under AddressSanitizer + UndefinedBehaviorSanitizer"
STAGE_BUILD="$ROOT/build/asan"
(
  quorvelle_sanitizer_env unit
  tests_in "$ROOT/build/asan" -L '^crash$' -j "$JOBS" --output-on-failure --no-tests=error
)
stage "keyring and x11 tests under AddressSanitizer + UndefinedBehaviorSanitizer"
STAGE_BUILD="$ROOT/build/asan"
(
  quorvelle_sanitizer_env desktop
  tests_in "$ROOT/build/asan" -L '^(keyring|x11)$' -j "$JOBS" --output-on-failure --no-tests=error
)

stage "ThreadSanitizer build"
cd "$ROOT"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$JOBS"
stage "concurrency stress tests under ThreadSanitizer"
TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1}" \
  tests_in "$ROOT/build/tsan" -L '^tsan$' -j "$JOBS" --output-on-failure --no-tests=error

stage "the optimised (release) build"
quorvelle_build release
stage "unit tests of the optimised build"
tests_in "$ROOT/build/release" -L '^unit$' -j "$JOBS" --output-on-failure --no-tests=error
echo "== every stage passed (in $((SECONDS - RUN_START)) s) =="
