#!/bin/sh
# Records per second of StartMeasurement on the simulated board with the real clock: 512/256 at
# 20 MHz with a 200 kHz sine, and at 1 MHz with a 10 kHz sine, on Linux (build/) and in the
# 32-bit DLL under Wine (build-mingw32/, when it is there). docs/performance.md has the figures.
#
#   scripts/real-clock-rate.sh [SECONDS]        (default 10 per case)
#
# Needs the default preset built (cmake --build --preset default) and, for the DLL, the mingw32
# one (cmake --preset mingw32 && cmake --build build-mingw32).
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-10}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

export VM316_PORT=sim VM316_MESSAGES=quiet
cases="20000000:sine:freq=200000,amp=0.5 1000000:sine:freq=10000,amp=0.5"

# Runs the host ($@) for each case in a directory that holds the day's calibration (made once on
# the virtual clock, which costs no waiting).
run_cases() {
  dir=$1
  shift
  mkdir -p "$dir"
  (cd "$dir" && VM316_CLOCK=virtual "$@" 1000000 0 > /dev/null)
  for c in $cases; do
    rate=${c%%:*}
    (cd "$dir" && VM316_CLOCK=real VM316_SIM_CH1=${c#*:} "$@" "$rate" "$seconds")
  done
}

cc -O2 -I include scripts/real-clock-rate.c -o "$work/rate" -L build -lvm316 \
  -Wl,-rpath,"$root/build"
echo "Linux:"
run_cases "$work/linux" "$work/rate"

if [ -f build-mingw32/vm316.dll ] && command -v i686-w64-mingw32-gcc > /dev/null &&
  command -v wine > /dev/null; then
  i686-w64-mingw32-gcc -O2 -I include scripts/real-clock-rate.c -o "$work/rate.exe" \
    -L build-mingw32 -lvm316 -static-libgcc
  cp build-mingw32/vm316.dll "$work/"
  export WINEPREFIX="$root/build-mingw32/wine-prefix" WINEARCH=win32 WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  echo "DLL under Wine:"
  run_cases "$work/wine" wine "$work/rate.exe"
fi
