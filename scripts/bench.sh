#!/usr/bin/env bash
# Builds the default preset (RelWithDebInfo, -O2) and runs every benchmark in bench/, then the
# instruction count per location of the record readout under callgrind (when valgrind is
# installed). Arguments go to every benchmark program, for example:
#
#   scripts/bench.sh                                  everything, as in docs/performance.md
#   scripts/bench.sh --benchmark_repetitions=5        medians of five runs on a busy machine
#   VM316_BUILD_DIR=build-mine scripts/bench.sh       another build directory, same preset
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VM316_BUILD_DIR:-$root/build}"
[[ "$build" = /* ]] || build="$root/$build"

cd "$root"
cmake --preset default -B "$build" >/dev/null

benches=()
for source in bench/*.cpp; do
  benches+=("$(basename "$source" .cpp)")
done
cmake --build "$build" --target "${benches[@]}"

echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores"
for name in "${benches[@]}"; do
  echo
  echo "== $name"
  "$build/bench/$name" "$@"
done

echo
echo "== instructions per location (callgrind)"
if command -v valgrind >/dev/null; then
  "$root/scripts/callgrind-readout.sh" "$build"
else
  echo "valgrind not installed: skipped"
fi
