#!/usr/bin/env bash
# Installs the Debian packages that building and testing vm316 needs and this machine lacks:
# only the missing ones, naming them first, with apt-get as root or through sudo. The package
# lists are refreshed only when something is to be installed. Extra package names given as
# arguments are added to the list (CI adds its own tools this way).
#   scripts/setup.sh [package ...]
set -euo pipefail

packages=(
  # the library, its tests and benchmarks
  cmake ninja-build g++ binutils libgtest-dev libgmock-dev libbenchmark-dev
  # the vm316 command-line host, its `serve` subcommand and the HTTP client of serve's tests
  # (both found through pkg-config)
  libcli11-dev libmicrohttpd-dev libcpp-httplib-dev pkgconf
  # the Python package, its tests, and pip installs without a network
  python3 python3-numpy python3-pytest python3-setuptools python3-pip
  # the headless browser test of `serve`, and SVG checks
  chromium librsvg2-bin
  # sigrok session files (libzip), the tools that read them back in the tests, and the
  # PulseView screenshot of docs/ (made under Xvfb)
  libzip-dev sigrok-cli pulseview xvfb
  # the spectrum of `measure --spectrum`
  libfftw3-dev
  # HDF5 run files (`measure -o run.h5`) and h5py, which the tests read them back with
  libhdf5-dev python3-h5py
)
packages+=("$@")

if ! command -v dpkg-query >/dev/null || ! command -v apt-get >/dev/null; then
  echo "setup: not a Debian system; install the equivalents of: ${packages[*]}" >&2
  exit 0
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if ((${#missing[@]} == 0)); then
  exit 0
fi

if ((EUID == 0)); then
  as_root=()
elif command -v sudo >/dev/null; then
  as_root=(sudo)
else
  echo "setup: missing ${missing[*]}; as root run:" >&2
  echo "  apt-get update && apt-get install ${missing[*]}" >&2
  exit 1
fi

echo "setup: installing ${missing[*]}"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# A mirror in the middle of a sync serves index files of the wrong size, and apt-get update
# fails on them; a later try usually finds it done. After the last try the install goes ahead
# with the lists that did arrive (apt keeps the others as they were), and fails only if a
# package cannot be had.
refreshed=false
for pause in 10 30 0; do
  if "${as_root[@]}" apt-get update -qq >>"$log" 2>&1; then
    refreshed=true
    break
  fi
  ((pause == 0)) || sleep "$pause"
done
$refreshed || echo "setup: the package lists did not all refresh; installing with those there are" >&2
# apt's own account goes to a log that is shown only when something fails.
if ! "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
     apt-get install -y -qq --no-install-recommends "${missing[@]}" >>"$log" 2>&1; then
  cat "$log" >&2
  echo "setup: installing failed" >&2
  exit 1
fi
echo "setup: installed"
