#!/usr/bin/env bash
# The code's format (.clang-format) and clang-tidy's fault-finding checks
# (.clang-tidy) on the product's and the tools' sources. Needs the release
# build's compile_commands.json. --fix rewrites the format in place.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t sources < <(git ls-files '*.cpp' '*.h')
if [[ "${1:-}" == "--fix" ]]; then
  clang-format -i "${sources[@]}"
  exit 0
fi
clang-format --dry-run -Werror "${sources[@]}"
# GCC's own warning options in the compile commands mean nothing to clang.
git ls-files 'common/*.cpp' 'vmkd/*.cpp' 'calmd/*.cpp' 'vmktrace/*.cpp' 'vmkctl/*.cpp' 'trace/*.cpp' 'tools/*.cpp' 'tests/webui/*.cpp' |
  xargs -P"$(nproc)" -n4 clang-tidy -p build/release --quiet --extra-arg=-Wno-unknown-warning-option 2>/dev/null
echo "style: format and clang-tidy clean"
