#!/usr/bin/env bash
# Builds the Mach-O, ELF, compact-unwind and DWARF call-frame readers' and the crash report reader's
# libFuzzer targets with clang (AddressSanitizer and UBSan on) and runs each briefly from seed files.
# Usage: tests/fuzz/run.sh [seconds per target, default 20]
#
# The Mach-O and ELF targets start from their committed seed corpora (tests/fuzz/corpus/<target>; the
# Mach-O fixtures seed that target too), and every target replays the inputs that once found a fault
# (tests/fuzz/crashes/<target>, where that folder exists). What a run grows stays in build/fuzz. A new
# finding lands in build/fuzz as <target>_fuzz-crash-…; once mended, commit it to
# tests/fuzz/crashes/<target> so that every run replays it. To fold what a long run found back into
# the seeds (keep them small: inputs of a few KiB reach the load-command walk; the fixtures already
# stand for the large ones):
#   mkdir small && find build/fuzz/<target>_fuzz-corpus -size -16k -exec cp {} small/ \;
#   build/fuzz/<target>_fuzz -merge=1 tests/fuzz/corpus/<target> small
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
SECONDS_TO_RUN="${1:-20}"
FUZZ="$ROOT/tests/fuzz"
OUT="$ROOT/build/fuzz"
mkdir -p "$OUT/macho_fuzz-corpus" "$OUT/elf_fuzz-corpus" "$OUT/unwind_corpus" "$OUT/dwarf_corpus" "$OUT/report_corpus" \
  "$OUT/generated"
FLAGS=(-std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I"$ROOT")
CORE="$ROOT/DZCrashReporter/core"
clang++ "${FLAGS[@]}" \
  "$ROOT/tests/fuzz/macho_fuzz.cpp" \
  "$CORE/DZCrashAsync.cpp" \
  "$CORE/DZCrashAsyncTask.cpp" \
  "$CORE/DZCrashAsyncTaskCache.cpp" \
  "$CORE/DZCrashAsyncMObject.cpp" \
  "$CORE/DZCrashAsyncMachOImage.cpp" \
  "$CORE/DZCrashAsyncObjC.cpp" \
  "$CORE/DZCrashAsyncSymbol.cpp" \
  "$CORE/DZCrashMachOFile.cpp" \
  -o "$OUT/macho_fuzz"
clang++ "${FLAGS[@]}" \
  "$ROOT/tests/fuzz/elf_fuzz.cpp" \
  "$CORE/DZCrashAsync.cpp" \
  "$CORE/DZCrashAsyncTask.cpp" \
  "$CORE/DZCrashAsyncTaskCache.cpp" \
  "$CORE/DZCrashAsyncElfImage.cpp" \
  -o "$OUT/elf_fuzz"
clang++ "${FLAGS[@]}" \
  "$ROOT/tests/fuzz/unwind_fuzz.cpp" \
  "$CORE/DZCrashAsync.cpp" \
  "$CORE/DZCrashAsyncTask.cpp" \
  "$CORE/DZCrashAsyncTaskCache.cpp" \
  "$CORE/DZCrashAsyncMObject.cpp" \
  "$ROOT/DZCrashReporter/unwind/DZCrashAsyncCompactUnwind.cpp" \
  "$ROOT/DZCrashReporter/unwind/DZCrashAsyncThreadState.cpp" \
  "$ROOT/DZCrashReporter/capture/DZCrashThreadCapture.cpp" \
  -o "$OUT/unwind_fuzz"
UNWIND="$ROOT/DZCrashReporter/unwind"
clang++ "${FLAGS[@]}" \
  "$ROOT/tests/fuzz/dwarf_fuzz.cpp" \
  "$CORE/DZCrashAsync.cpp" \
  "$CORE/DZCrashAsyncTask.cpp" \
  "$CORE/DZCrashAsyncTaskCache.cpp" \
  "$UNWIND/DZCrashAsyncThreadState.cpp" \
  "$ROOT/DZCrashReporter/capture/DZCrashThreadCapture.cpp" \
  "$UNWIND/DZCrashAsyncDwarfSection.cpp" \
  "$UNWIND/DZCrashAsyncDwarfEncoding.cpp" \
  "$UNWIND/DZCrashAsyncDwarfCIE.cpp" \
  "$UNWIND/DZCrashAsyncDwarfFDE.cpp" \
  "$UNWIND/DZCrashAsyncDwarfFrameReader.cpp" \
  "$UNWIND/DZCrashAsyncDwarfExpression.cpp" \
  "$UNWIND/DZCrashAsyncDwarfCFAState.cpp" \
  -o "$OUT/dwarf_fuzz"
# The report schema's protobuf-c code (C, so compiled apart), then the reader and formatter with it.
REPORT="$ROOT/DZCrashReporter/report"
protoc-c --c_out="$OUT/generated" -I"$ROOT" "$REPORT/DZCrashReport.proto"
PB="$OUT/generated/DZCrashReporter/report/DZCrashReport.pb-c"
clang -g -O1 -fsanitize=address,undefined -c "$PB.c" -I"$OUT/generated" -o "$OUT/DZCrashReport.pb-c.o"
clang++ "${FLAGS[@]}" -I"$OUT/generated" \
  "$ROOT/tests/fuzz/crash_report_fuzz.cpp" \
  "$ROOT/DZCrashReporter/DZCrashReporterLog.cpp" \
  "$REPORT/DZCrashReport.cpp" \
  "$REPORT/DZCrashReportBinaryImageInfo.cpp" \
  "$REPORT/DZCrashReportFormat.cpp" \
  "$REPORT/DZCrashReportTextFormatter.cpp" \
  "$CORE/DZCrashAsync.cpp" \
  "$CORE/DZCrashAsyncFile.cpp" \
  "$OUT/DZCrashReport.pb-c.o" -lprotobuf-c \
  -o "$OUT/crash_report_fuzz"
clang++ -std=c++20 -g -fsanitize=address,undefined -I"$ROOT" -I"$OUT/generated" \
  "$ROOT/tests/fuzz/crash_report_seeds.cpp" "$OUT/DZCrashReport.pb-c.o" -lprotobuf-c -o "$OUT/crash_report_seeds"
"$OUT/crash_report_seeds" "$OUT/report_corpus"
# The fixture binaries seed the Mach-O target too, so that a fixture added later is fuzzed at once. They
# are named after their folder: several folders hold a libfx.dylib.
FIXTURES="$ROOT/tests/fixtures/macho"
find "$FIXTURES" -type f \( -name '*.dylib' -o -name 'fx_exe' -o -name 'fx_objc' -o -name '*.o' \) |
  while IFS= read -r fixture; do
    relative="${fixture#"$FIXTURES"/}"
    cp "$fixture" "$OUT/macho_fuzz-corpus/fixture_${relative//\//_}"
  done
# cut_sections SECTNAME CORPUS: each Mach-O fixture's section, cut out where its oracle says it lies
# in the file.
cut_sections() {
  local sectname="$1" corpus="$2" headers binary size offset name
  for headers in "$ROOT"/tests/fixtures/macho/*/*.private-headers.txt; do
    binary="${headers%.private-headers.txt}"
    read -r size offset < <(awk -v want="$sectname" '$1 == "sectname" && $2 == want { found = 1 }
      found && $1 == "size" { size = $2 }
      found && $1 == "offset" { print size, $2; exit }' "$headers") || continue
    name="$(basename "$(dirname "$binary")")-$(basename "$binary")"
    # One reader: with pipefail, `tail | head` fails whenever head stops reading first.
    dd if="$binary" of="$corpus/$name.${sectname#__}" iflag=skip_bytes,count_bytes skip=$((offset)) \
      count=$((size)) bs=65536 status=none
  done
}
# The compact-unwind seeds are the fixtures' __unwind_info sections.
cut_sections __unwind_info "$OUT/unwind_corpus"
# The call-frame seeds are the Mach-O fixtures' __eh_frame sections and the .eh_frame and
# .debug_frame sections of the ELF fixtures and of the ELF target's seed libraries.
cut_sections __eh_frame "$OUT/dwarf_corpus"
for elf in "$ROOT"/tests/fixtures/elf/*.o "$FUZZ"/corpus/elf/*; do
  for section in .eh_frame .debug_frame; do
    objcopy --dump-section "$section=$OUT/dwarf_corpus/$(basename "$elf")$section" "$elf" "$OUT/objcopy.out" \
      2>/dev/null || true
  done
done
find "$OUT/dwarf_corpus" -type f -empty -delete
# The run's chatter goes to a log: on a finding its tail (the report and the input's path) is shown.
# libFuzzer writes new inputs into the first corpus folder only: the one in the build tree.
run() {
  local name="$1" corpus="$2" max_len="$3" target="${1%_fuzz}"
  local folders=("$corpus")
  for committed in "$FUZZ/corpus/$target" "$FUZZ/crashes/$target"; do
    if [ -d "$committed" ]; then folders+=("$committed"); fi
  done
  if ! "$OUT/$name" -max_total_time="$SECONDS_TO_RUN" -max_len="$max_len" -rss_limit_mb=4096 \
    -artifact_prefix="$OUT/$name-" -print_final_stats=1 "${folders[@]}" >"$OUT/$name.log" 2>&1; then
    tail -n 80 "$OUT/$name.log"
    echo "$name found a failure (log: $OUT/$name.log)" >&2
    exit 1
  fi
  echo "$name:"
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$OUT/$name.log"
}
run macho_fuzz "$OUT/macho_fuzz-corpus" 131072
run elf_fuzz "$OUT/elf_fuzz-corpus" 65536
run unwind_fuzz "$OUT/unwind_corpus" 16384
run dwarf_fuzz "$OUT/dwarf_corpus" 16384
run crash_report_fuzz "$OUT/report_corpus" 16384
