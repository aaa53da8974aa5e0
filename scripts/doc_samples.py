#!/usr/bin/env python3
"""Keeps the sample output in the documentation true to the program.

A sample is an indented block that follows a marker line naming the shell command that makes
it, with `vm316` standing for the command-line host:

    <!-- sample: vm316 measure 2>&1 -->

        ...the output, indented by four spaces...

Each command runs in a fresh scratch directory, with a fresh calibration state (so the first
run of a day, which calibrates), on the simulated board's virtual clock and with no VM316_*
variables of the caller's. The one wall-clock figure the host prints ("calibration took ...")
is compared as a placeholder.

    doc_samples.py --vm316 PATH --check FILE...    differences, and exit code 1 if any
    doc_samples.py --vm316 PATH --update FILE...   rewrite the blocks from the real output
"""

import argparse
import difflib
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

MARKER = re.compile(r"^<!-- sample: (.*) -->\s*$")
INDENT = "    "
WALL_CLOCK = re.compile(r"(calibration took )\d[\d.]* ?\S*s\b")


def run(command, vm316):
    with tempfile.TemporaryDirectory(prefix="vm316-sample-") as scratch:
        bin_dir = Path(scratch) / "bin"
        bin_dir.mkdir()
        (bin_dir / "vm316").symlink_to(Path(vm316).resolve())
        env = {name: value for name, value in os.environ.items()
               if not name.startswith("VM316_") and name not in ("NO_COLOR", "TERM")}
        env.update(PATH=f"{bin_dir}{os.pathsep}{env.get('PATH', '')}", LC_ALL="C",
                   NO_COLOR="1", HOME=scratch, XDG_STATE_HOME=f"{scratch}/state")
        result = subprocess.run(["bash", "-c", command], cwd=scratch, env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                check=False)
        return [line.rstrip() for line in result.stdout.rstrip("\n").split("\n")]


def blocks(lines):
    """(command, first line, end line) of every sample block."""
    for index, line in enumerate(lines):
        marker = MARKER.match(line)
        if not marker:
            continue
        start = index + 1
        while start < len(lines) and not lines[start].strip():
            start += 1
        end = start
        while end < len(lines) and (lines[end].startswith(INDENT) or (
                not lines[end].strip() and end + 1 < len(lines)
                and lines[end + 1].startswith(INDENT))):
            end += 1
        yield marker.group(1), start, end


def comparable(lines):
    return [WALL_CLOCK.sub(r"\1(time)", line) for line in lines]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--vm316", required=True, help="the vm316 binary")
    mode = parser.add_mutually_exclusive_group(required=True)
    mode.add_argument("--check", action="store_true")
    mode.add_argument("--update", action="store_true")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()

    stale = 0
    for name in args.files:
        path = Path(name)
        lines = path.read_text().split("\n")
        replaced = list(lines)
        # From the last block up, so that earlier positions stay valid.
        for command, start, end in reversed(list(blocks(lines))):
            shown = [line[len(INDENT):].rstrip() for line in lines[start:end]]
            while shown and not shown[-1]:
                shown.pop()
            output = run(command, args.vm316)
            if comparable(output) == comparable(shown):
                continue
            stale += 1
            if args.check:
                print(f"{path}:{start + 1}: the sample of `{command}` differs from the output:")
                sys.stdout.writelines(difflib.unified_diff(
                    [line + "\n" for line in shown], [line + "\n" for line in output],
                    "documented", "actual"))
            replaced[start:end] = [(INDENT + line).rstrip() for line in output]
        if args.update and replaced != lines:
            path.write_text("\n".join(replaced))
            print(f"{path}: samples rewritten")
    if args.check and stale:
        print(f"{stale} sample(s) out of date: run scripts/update-doc-samples.sh, check the "
              "new output, and commit it")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
