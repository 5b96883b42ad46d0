#!/usr/bin/env bash
# Builds the Mach-O reader's libFuzzer target with clang (AddressSanitizer and UBSan on) and runs it
# briefly from the fixture binaries as seeds. Usage: tests/fuzz/run.sh [seconds, default 20]
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
SECONDS_TO_RUN="${1:-20}"
OUT="$ROOT/build/fuzz"
mkdir -p "$OUT/corpus"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$ROOT" \
  "$ROOT/tests/fuzz/macho_fuzz.cpp" \
  "$ROOT/DZCrashReporter/core/DZCrashAsync.cpp" \
  "$ROOT/DZCrashReporter/core/DZCrashAsyncTask.cpp" \
  "$ROOT/DZCrashReporter/core/DZCrashAsyncMObject.cpp" \
  "$ROOT/DZCrashReporter/core/DZCrashAsyncMachOImage.cpp" \
  "$ROOT/DZCrashReporter/core/DZCrashMachOFile.cpp" \
  -o "$OUT/macho_fuzz"
# The seeds are the committed fixtures; the corpus the run grows stays in the build tree.
find "$ROOT/tests/fixtures/macho" -type f \( -name '*.dylib' -o -name 'fx_exe' -o -name '*.o' \) \
  -exec cp {} "$OUT/corpus/" \;
# The run's chatter goes to a log: on a finding its tail (the report and the input's path) is shown.
if ! "$OUT/macho_fuzz" -max_total_time="$SECONDS_TO_RUN" -max_len=131072 -rss_limit_mb=4096 \
  -artifact_prefix="$OUT/" -print_final_stats=1 "$OUT/corpus" >"$OUT/fuzz.log" 2>&1; then
  tail -n 80 "$OUT/fuzz.log"
  echo "macho_fuzz found a failure (log: $OUT/fuzz.log)" >&2
  exit 1
fi
grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$OUT/fuzz.log"
