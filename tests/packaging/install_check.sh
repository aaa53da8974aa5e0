#!/usr/bin/env bash
# Installs the build tree with cmake --install, moves the installed tree elsewhere, and uses it
# as a host developer would: the README's C host built by a project of its own through the
# CMake package and through pkg-config, the installed vm316 host, the soname, and the Python
# package beside the library.
#   install_check.sh BUILD_DIR SOURCE_DIR WORK_DIR [PYTHON]
set -euo pipefail
build=$(cd "$1" && pwd) source=$(cd "$2" && pwd) work=$3 python=${4:-}

rm -rf "$work" && mkdir -p "$work"
cmake --install "$build" --prefix "$work/staged" >/dev/null
mv "$work/staged" "$work/tree"  # every path inside must be relative to the tree
tree=$work/tree
libdir=$(dirname "$(find "$tree" -name 'libvm316.so' | head -n 1)")

fail() { echo "install check: $*" >&2; exit 1; }

# The soname, and the links a host and the loader use.
[[ $(readlink "$libdir/libvm316.so") == libvm316.so.0 ]] ||
  fail "libvm316.so is not a link to libvm316.so.0"
soname=$(objdump -p "$libdir/libvm316.so" | awk '$1 == "SONAME" { print $2 }')
[[ $soname == libvm316.so.0 ]] || fail "the soname is \"$soname\", not libvm316.so.0"
for header in vm316.h vm316_host.h; do
  [[ -f $tree/include/$header ]] || fail "include/$header not installed"
done

run_host() {  # the example host on the simulated board, in a directory of its own
  local host=$1 scratch
  scratch=$(mktemp -d "$work/run-XXXXXX")
  (cd "$scratch" && VM316_PORT=sim VM316_CLOCK=virtual VM316_MESSAGES=quiet \
     VM316_SIM_CH1=sine:freq=1000,amp=0.5 "$host") | tee "$scratch/out"
  grep -Eq '^channel 1: 0\.[45][0-9]* V amplitude' "$scratch/out" || fail "$host measured wrong"
  [[ -f $scratch/Vemora1.Cal ]] || fail "$host left no calibration file in its directory"
}

for way in cmake-package pkg-config; do
  consumer=$work/consumer-$way
  use_pkg_config=$([[ $way == pkg-config ]] && echo ON || echo OFF)
  PKG_CONFIG_PATH=$libdir/pkgconfig cmake -S "$source/tests/packaging/consumer" -B "$consumer" \
    -G Ninja -DCMAKE_PREFIX_PATH="$tree" -DUSE_PKG_CONFIG=$use_pkg_config \
    -DHOST_SOURCE="$source/docs/example_host.c" >/dev/null
  cmake --build "$consumer" >/dev/null
  echo "$way:"
  run_host "$consumer/example_host"
done

# The installed command-line host finds the library beside it.
if [[ -x $tree/bin/vm316 ]]; then
  info=$("$tree/bin/vm316" info -q --cal-dir "$work/cli-state")
  [[ $info == *"simulated board"* ]] || fail "the installed vm316 did not describe the board"
  echo "bin/vm316: runs"
fi

# The Python package finds the library beside itself.
if [[ -n $python ]]; then
  package=$(dirname "$(find "$tree" -path '*/vm316/__init__.py' | head -n 1)")
  scratch=$(mktemp -d "$work/python-XXXXXX")
  (cd "$scratch" && env -u VM316_LIBRARY PYTHONPATH="$(dirname "$package")" \
     PYTHONDONTWRITEBYTECODE=1 VM316_PORT=sim VM316_CLOCK=virtual VM316_MESSAGES=quiet \
     "$python" -c '
import sys, vm316
found = vm316.find_library()
assert found.startswith(sys.argv[1]), found
with vm316.Instrument() as scope:
    scope.record_length = 100
    time, ch1, ch2 = scope.measure()
print("python:", len(time), "samples with", found[len(sys.argv[1]):])
' "$tree") || fail "the installed Python package did not measure"
fi
# pip builds the pure-Python package offline, with the setuptools already installed.
if [[ -n $python ]] && "$python" -c 'import pip' 2>/dev/null; then
  cp -r "$source/python" "$work/python-source"  # pip builds in the tree it is given
  "$python" -m pip install --quiet --root-user-action=ignore --no-build-isolation --no-index \
    --no-deps --target "$work/pip-target" "$work/python-source" || fail "pip install ./python failed"
  PYTHONPATH=$work/pip-target VM316_LIBRARY=$libdir/libvm316.so.0 "$python" -c \
    'import vm316; assert vm316.library().GetMaxRecordLength() == 0' ||
    fail "the package pip installed does not load the library"
  echo "pip install: works offline"
fi
echo "install check: passed"
