#!/bin/sh
# Records the simulated board's reference hashes again (tests/records/reference_hashes.h), for a
# change of the board model that changes its records on purpose. Run it on the code as it was
# before such a change to see the references hold, and after it to take the new ones; the diff
# of the header then shows which cases changed.
#
#   scripts/record-sim-references.sh [BUILD_DIR]      (default build/, the default preset)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" --target vm316_record_tests
table=$(pwd)/tests/records/reference_hashes.h
VM316_PORT=sim VM316_CLOCK=virtual VM316_MESSAGES=quiet VM316_RECORD_REFERENCES="$table" \
  "$build/tests/vm316_record_tests" --gtest_brief=1
echo "written: $table"
