#!/usr/bin/env bash
# Checks the C and C++ files this change touches against the .clang-format at the root. The change is
# what differs from the merge base with origin/main (or the local main); where that base is this commit
# itself, as in a fresh clone of main, it is what the last commit (or merge) brought. Generated fixtures
# (tests/fixtures/) are left as they are.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
if ! git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  echo "check-format: not a git checkout; nothing to compare with"
  exit 0
fi
head="$(git rev-parse HEAD)"
base=""
for candidate in origin/main main; do
  if git rev-parse -q --verify "$candidate^{commit}" >/dev/null; then
    base="$(git merge-base HEAD "$candidate" || true)"
    [ -n "$base" ] && [ "$base" != "$head" ] && break
    base=""
  fi
done
if [ -z "$base" ]; then
  base="$(git rev-parse -q --verify 'HEAD~^{commit}' || true)"
fi
if [ -z "$base" ]; then
  echo "check-format: no earlier commit to compare with (a shallow clone?); nothing checked"
  exit 0
fi
files=()
while IFS= read -r file; do
  case "$file" in tests/fixtures/*) continue ;; esac
  files+=("$file")
done < <(git diff --name-only --diff-filter=ACMR "$base" -- '*.h' '*.hpp' '*.c' '*.cc' '*.cpp')
if [ ${#files[@]} -eq 0 ]; then
  echo "check-format: no C or C++ file changed since ${base:0:12}"
  exit 0
fi
clang-format --dry-run -Werror "${files[@]}"
echo "check-format: ${#files[@]} files changed since ${base:0:12} are formatted"
