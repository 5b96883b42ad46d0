#!/usr/bin/env bash
# Fails when a source file includes across a forbidden arrow of the layers (README.md, "Layout").
# Dependencies point one way: program -> ui -> app -> GlobalShortcuts, DiziZoz -> platform
# interfaces (DZCrashReporter sits below the analytics client's error tracking). Only program/ includes
# platform/linux/; fakes (platform/fake/) reach tests only; no layer includes program/, tools/ or tests/;
# DiziZoz, DZCrashReporter and the portable platform code (everything but platform/linux/desktop/) never
# include Qt. tests/, tools/ and bench/ may include anything.
#
#   scripts/check-layering.sh [<tree>]    checks the tree (default: this checkout)
#   scripts/check-layering.sh --self-test plants wrong includes into a copy of this checkout and
#                                         expects each one to be caught
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
LAYERS=(program ui app GlobalShortcuts DiziZoz DZCrashReporter platform)

check() {
  local tree="$1"
  local files=()
  local dir
  for dir in "${LAYERS[@]}"; do
    [ -d "$tree/$dir" ] || continue
    while IFS= read -r -d '' f; do files+=("${f#"$tree"/}"); done < <(
      find "$tree/$dir" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.c' -o -name '*.cc' -o -name '*.cpp' \) \
        -print0)
  done
  [ ${#files[@]} -gt 0 ] || { echo "check-layering: no sources under $tree" >&2; return 2; }
  # grep finding no include at all is no error.
  (cd "$tree" && grep -HnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"][^>"]+[>"]' "${files[@]}" ||
    [ $? -eq 1 ]) |
    awk '
      # The folder of a source file (longest match first) and the include paths it may name.
      BEGIN {
        n = 0
        rule[++n] = "^program/";                allowed[n] = "^(program|ui|app|GlobalShortcuts|DiziZoz|DZCrashReporter)/|^platform/([^/]+|linux/[^/]+|linux/desktop/[^/]+)$"
        rule[++n] = "^ui/";                     allowed[n] = "^(ui|app|GlobalShortcuts|DiziZoz|DZCrashReporter)/|^platform/[^/]+$"
        rule[++n] = "^app/";                    allowed[n] = "^(app|GlobalShortcuts|DiziZoz|DZCrashReporter)/|^platform/[^/]+$"
        rule[++n] = "^GlobalShortcuts/";        allowed[n] = "^GlobalShortcuts/|^platform/[^/]+$"
        rule[++n] = "^DiziZoz/core/";           allowed[n] = "^DiziZoz/core/|^platform/[^/]+$"
        rule[++n] = "^DiziZoz/delivery/";       allowed[n] = "^DiziZoz/(core|delivery)/|^platform/[^/]+$"
        rule[++n] = "^DiziZoz/integrations/";   allowed[n] = "^DiziZoz/(core|delivery|integrations)/|^platform/[^/]+$"
        rule[++n] = "^DiziZoz/";                allowed[n] = "^(DiziZoz|DZCrashReporter)/|^platform/[^/]+$"
        rule[++n] = "^DZCrashReporter/";        allowed[n] = "^DZCrashReporter/|^platform/[^/]+$"
        rule[++n] = "^platform/linux/desktop/"; allowed[n] = "^platform/([^/]+|linux/[^/]+|linux/desktop/[^/]+)$"
        rule[++n] = "^platform/linux/";         allowed[n] = "^platform/([^/]+|linux/[^/]+)$"
        rule[++n] = "^platform/fake/";          allowed[n] = "^platform/([^/]+|fake/[^/]+)$"
        rule[++n] = "^platform/";               allowed[n] = "^platform/[^/]+$"
        qtFree = "^(DiziZoz|DZCrashReporter)/|^platform/([^/]+|linux/[^/]+|fake/[^/]+)$"
        project = "^(program|ui|app|GlobalShortcuts|DiziZoz|DZCrashReporter|platform|tests|tools|bench)/"
        bad = 0
      }
      # "a/b/../c" relative to the including file: the path from the top of the tree, or "" when it leaves it.
      function resolve(base, path,    parts, out, count, i, k) {
        count = split(base "/" path, parts, "/")
        k = 0
        for (i = 1; i <= count; i++) {
          if (parts[i] == "" || parts[i] == ".") continue
          if (parts[i] == "..") { if (k == 0) return ""; k--; continue }
          out[++k] = parts[i]
        }
        path = ""
        for (i = 1; i <= k; i++) path = path (i > 1 ? "/" : "") out[i]
        return path
      }
      {
        file = $0; sub(/:.*/, "", file)
        line = $0; sub(/^[^:]*:/, "", line); number = line; sub(/:.*/, "", number); sub(/^[^:]*:/, "", line)
        text = line
        sub(/^[[:space:]]*#[[:space:]]*include[[:space:]]*/, "", line)
        angle = substr(line, 1, 1) == "<"
        path = substr(line, 2); sub(/[>"].*/, "", path)
        folder = file; sub(/\/[^\/]*$/, "", folder)
        if (angle && path ~ /^Qt?[A-Z]/) {
          if (file ~ qtFree) { printf "%s:%s: Qt is not included here: %s\n", file, number, text; bad = 1 }
          next
        }
        if (path ~ /^\.\.?\//) path = resolve(folder, path)
        else if (path !~ project) next
        for (i = 1; i <= n; i++) {
          if (file !~ rule[i]) continue
          if (path == "" || path !~ allowed[i]) {
            printf "%s:%s: a file under %s may not include this: %s\n", file, number, substr(rule[i], 2), text
            bad = 1
          }
          break
        }
      }
      END { exit bad }
    '
}

self_test() {
  local copy
  copy="$(mktemp -d)"
  trap 'rm -rf "$copy"; trap - RETURN' RETURN
  local dir
  for dir in "${LAYERS[@]}"; do
    [ -d "$ROOT/$dir" ] && cp -R "$ROOT/$dir" "$copy/$dir"
  done
  if ! check "$copy" >/dev/null; then
    echo "check-layering self-test: the unchanged tree does not pass" >&2
    check "$copy" >&2 || true
    return 1
  fi
  # Each planted line goes into a new file of its own and must be caught; then the file goes again.
  local plants=(
    'app/Planted.cpp|#include "platform/linux/desktop/QtScreens.h"'
    'ui/Planted.h|#include "program/DesktopPopup.h"'
    'GlobalShortcuts/Planted.cpp|#include "app/AppSettings.h"'
    'GlobalShortcuts/Planted.cpp|#include "DiziZoz/core/Value.h"'
    'app/Planted.cpp|#include "platform/fake/ManualExecutor.h"'
    'program/Planted.cpp|#include "platform/fake/ManualExecutor.h"'
    'program/Planted.cpp|#include "tests/support/TestEnvironment.h"'
    'platform/Planted.h|#include "platform/linux/WorkerThread.h"'
    'platform/linux/Planted.cpp|#include "platform/linux/desktop/X11Connection.h"'
    'DiziZoz/core/Planted.cpp|#include <QString>'
    'DiziZoz/core/Planted.cpp|#include "DiziZoz/errortracking/Planted.h"'
    'DZCrashReporter/core/Planted.cpp|#include "DiziZoz/core/Value.h"'
    'DZCrashReporter/core/Planted.cpp|  #  include <QtCore/qglobal.h>'
    'platform/fake/Planted.h|#include <QObject>'
    'GlobalShortcuts/Planted.cpp|#include "../app/AppSettings.h"'
    'app/Planted.cpp|#include "tools/Planted.h"'
  )
  local plant file line
  for plant in "${plants[@]}"; do
    file="${plant%%|*}"
    line="${plant#*|}"
    mkdir -p "$copy/$(dirname "$file")"
    printf '%s\n' "$line" >"$copy/$file"
    if check "$copy" >/dev/null; then
      echo "check-layering self-test: not caught in $file: $line" >&2
      return 1
    fi
    rm "$copy/$file"
  done
  # Includes along the arrows pass.
  printf '%s\n' '#include "platform/linux/desktop/QtScreens.h"' '#include "ui/SettingsView.h"' \
    '#include "DZCrashReporter/core/DZCrashAsync.h"' >"$copy/program/Planted.cpp"
  printf '%s\n' '#include <QWidget>' '#include "GlobalShortcuts/Key.h"' '#include "DiziZoz/core/Value.h"' \
    >"$copy/app/Planted.cpp"
  printf '%s\n' '#include <queue>' '#include "../core/DZCrashAsync.h"' >"$copy/DZCrashReporter/report/Planted.cpp"
  if ! check "$copy" >/dev/null; then
    echo "check-layering self-test: includes along the arrows were refused" >&2
    check "$copy" >&2 || true
    return 1
  fi
  echo "check-layering self-test: ${#plants[@]} planted includes caught, allowed ones passed"
}

if [ "${1:-}" = "--self-test" ]; then
  self_test
else
  check "${1:-$ROOT}"
  echo "check-layering: the includes follow the layers"
fi
