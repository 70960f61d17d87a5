#!/usr/bin/env bash
# clang-tidy (checks in .clang-tidy) and cppcheck over the library and the
# tools; any finding fails. Usage: scripts/lint.sh BUILD-DIR (a configured
# build with compile_commands.json).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/amd64}
database=$(mktemp -d)
trap 'rm -rf "$database"' EXIT
# clang does not know every GCC option of the build.
sed -e 's/-fno-gnu-unique//g' "$build/compile_commands.json" >"$database/compile_commands.json"
# The slow ones first (those that read CLI11's, toml++'s or Boost's headers),
# so that none is left running alone on one core at the end.
slow=$(grep -l -E '"(command_line|host_main)\.h"|toml|boost' src/*/*.cpp tools/*/*.cpp)
files=$(printf '%s\n' $slow $(ls src/*/*.cpp tools/*/*.cpp) | awk '!seen[$0]++')
status=0
# One file a process, on every core: the panel's server.cpp alone takes over half a minute.
printf '%s\n' $files | xargs -P "$(nproc)" -n 1 clang-tidy -p "$database" --quiet || status=1
cppcheck --quiet --enable=warning,performance,portability --error-exitcode=1 --inline-suppr \
  --std=c++20 --suppress=missingIncludeSystem -I include -I src -I tools/host -I tools/sim -I tests/support -I tools/common -I tools/probe -I tools/channels \
  -i tools/panel/node_modules src tools || status=1
[ $status -eq 0 ] && echo "lint: no findings"
exit $status
