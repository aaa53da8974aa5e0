#!/usr/bin/env bash
# Rewrites the sample output in README.md and docs/cli.md from what the vm316 host really
# prints (the blocks under `<!-- sample: COMMAND -->` markers). Review the diff, then commit.
#   scripts/update-doc-samples.sh [build-dir]     (default: build, the default preset's)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" --target vm316_cli
python3 scripts/doc_samples.py --vm316 "$build/vm316" --update README.md docs/cli.md
