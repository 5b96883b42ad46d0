#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (packages, builds) and runs every test:
#   0. the layering of the includes (and the check's own self-test), clang-format on the changed files,
#   1. unit and widgets tests of the default build,
#   2. x11 tests, each under an Xvfb of its own,
#   3. crash tests, then short libFuzzer runs of the Mach-O, ELF and crash report readers (clang),
#   3b. secret-store tests against a real gnome-keyring on a private D-Bus session,
#   4. unit, keyring and x11 tests of the AddressSanitizer + UndefinedBehaviorSanitizer build (leaks that
#      system libraries keep are suppressed by scripts/lsan.supp),
#   5. concurrency stress tests of the ThreadSanitizer build (only their targets are built),
#   6. the optimised (release) build, which users run (warnings are errors there too), and its unit tests.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/setup.sh"
echo "== layering of the includes =="
bash "$ROOT/scripts/check-layering.sh"
bash "$ROOT/scripts/check-layering.sh" --self-test
quorvelle_install_packages
echo "== clang-format on the changed files =="
bash "$ROOT/scripts/check-format.sh"

JOBS="$(nproc)"
quorvelle_build default
cd "$ROOT/build/default"
echo "== unit and widgets tests =="
ctest -L '^(unit|widgets)$' -j "$JOBS" --output-on-failure --no-tests=ignore
echo "== x11 tests (own Xvfb each) =="
ctest -L '^x11$' -j "$JOBS" --output-on-failure --no-tests=ignore
echo "== crash tests =="
ctest -L '^crash$' -j "$JOBS" --output-on-failure --no-tests=ignore
echo "== Mach-O, ELF, compact-unwind and crash report reader fuzz runs (20 s each) =="
bash "$ROOT/tests/fuzz/run.sh" 20
echo "== keyring tests (own D-Bus session and gnome-keyring each) =="
ctest -L '^keyring$' -j "$JOBS" --output-on-failure --no-tests=error

quorvelle_build asan
cd "$ROOT/build/asan"
echo "== unit tests under AddressSanitizer + UndefinedBehaviorSanitizer =="
ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}" \
UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}" \
  ctest -L '^unit$' -j "$JOBS" --output-on-failure --no-tests=ignore
echo "== keyring and x11 tests under AddressSanitizer + UndefinedBehaviorSanitizer =="
# Full unwinding on malloc, so that leak stacks reach the system libraries the suppressions name.
LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$ROOT/scripts/lsan.supp:print_suppressions=0}" \
ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:fast_unwind_on_malloc=0}" \
UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}" \
  ctest -L '^(keyring|x11)$' -j "$JOBS" --output-on-failure --no-tests=error

cd "$ROOT"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$JOBS"
cd "$ROOT/build/tsan"
echo "== concurrency stress tests under ThreadSanitizer =="
TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1}" \
  ctest -L '^tsan$' -j "$JOBS" --output-on-failure --no-tests=error

echo "== the optimised (release) build =="
quorvelle_build release
cd "$ROOT/build/release"
echo "== unit tests of the optimised build =="
ctest -L '^unit$' -j "$JOBS" --output-on-failure --no-tests=error
