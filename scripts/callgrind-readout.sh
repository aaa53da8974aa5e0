#!/usr/bin/env bash
# Instructions the library executes per memory location of a full record readout (ReadRecord
# over ports that cost nothing), counted by callgrind: only ReadRecord and what it calls are
# counted, and the count is divided by the readouts made and the locations each one reads.
#
#   scripts/callgrind-readout.sh [build-dir]     (default: build/, the default preset)
#
# The build directory must hold a built bench_readout (scripts/bench.sh builds it).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-${VM316_BUILD_DIR:-$root/build}}"
bench="$build/bench/bench_readout"
locations=32761  # a full record: 32 760 samples, and the readout reads one location more
function_name='vm316::TVMx16::ReadRecord()'

if [[ ! -x "$bench" ]]; then
  echo "callgrind-readout: $bench not found; build the benchmarks first (scripts/bench.sh)" >&2
  exit 1
fi

out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

valgrind --tool=callgrind --callgrind-out-file="$out/callgrind.out" \
  --toggle-collect="$function_name" \
  "$bench" --benchmark_filter='BM_ReadRecordFullLength$' --benchmark_min_time=0.05 \
  >"$out/bench.log" 2>"$out/valgrind.log" || {
  cat "$out/valgrind.log" >&2
  exit 1
}

# The collected total, and how often ReadRecord was called (the calls= lines that follow a
# cfn= naming it, summed over its callers).
total="$(awk '/^(summary|totals):/ {print $2; exit}' "$out/callgrind.out")"
calls="$(awk -v name="$function_name" '
  # Names are compressed: "(id) name" the first time, "(id)" after; fn= lines define them too.
  function resolve(text,    id, rest) {
    if (!match(text, /^\([0-9]+\)/)) return text
    id = substr(text, RSTART, RLENGTH)
    rest = substr(text, RLENGTH + 1)
    sub(/^ /, "", rest)
    if (rest != "") names[id] = rest
    return names[id]
  }
  /^fn=/ { resolve(substr($0, 4)); next }
  /^cfn=/ { callee = resolve(substr($0, 5)); next }
  /^calls=/ { if (callee == name) { split(substr($0, 7), f, " "); n += f[1] }; callee = "" }
  END { print n + 0 }' "$out/callgrind.out")"

if [[ -z "$total" || "$calls" -eq 0 ]]; then
  echo "callgrind-readout: no call of $function_name was recorded" >&2
  exit 1
fi

awk -v total="$total" -v calls="$calls" -v locations="$locations" 'BEGIN {
  printf "ReadRecord: %d readouts of %d locations, %d instructions\n", calls, locations, total
  printf "instructions per location: %.1f\n", total / (calls * locations)
}'
