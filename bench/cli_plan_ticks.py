#!/usr/bin/env python3
"""Ticks busdesk-cli takes for the README's plan on the demo bus, against the
ticks the wire needs.

    bench/cli_plan_ticks.py [--runs N] NAME=PATH/TO/busdesk-cli [NAME=...]

Each program runs the plan with --demo and --journal, in turn, N times; the
ticks taken are the journal's "tx" lines (one write per exchange tick).

The ticks the wire needs are counted from the plan, frame by frame:
  - a survey sends one frame;
  - a step on a device that is not the selected one first sends its
    serial-number request (the window's selection);
  - set-address, set-mode, calibrate: one command frame;
  - show: one reading request per reading asked for (one by default);
  - read-tag: a tag search the tag answers, then the read;
  - write-tag: as read-tag, then a search the tag answers, then the write.
Each frame costs two ticks: its own, and the next, which reads its answer but
has already sent the exchange's own request before anyone could act on it.
Searches the other tags answer are not counted, so the figure is a floor.
"""

import argparse
import json
import os
import shlex
import statistics
import subprocess
import sys
import tempfile

PLAN = """\
# site 12: readers renumbered, tags set alike, one reader calibrated
survey
set-address 5 15
set-address 7 17
write-tag 1 1A2B3C4D --interval 900 --power 120
write-tag 1 A0B0C0D --interval 900 --power 120
calibrate 1 high --yes
survey              # the new addresses
show 17
read-tag 1 A0B0C0D
"""


def frames_needed(plan):
    """The frames each step must send, as (step, frames) pairs."""
    selected = None
    steps = []
    for line in plan.splitlines():
        words = shlex.split(line.split("#", 1)[0])
        if not words:
            continue
        verb, rest = words[0], words[1:]
        frames = 0
        if verb == "survey":
            steps.append((line.split("#", 1)[0].strip(), 1))
            continue
        device = rest[0]
        if device != selected:
            frames += 1
            selected = device
        if verb in ("set-address",):
            frames += 1
            selected = rest[1]  # it answers under its new address
        elif verb in ("set-mode", "calibrate", "set-ident"):
            frames += 1
        elif verb == "show":
            count = 1
            if "--count" in rest:
                count = int(rest[rest.index("--count") + 1])
            frames += count
        elif verb == "read-tag":
            frames += 2
        elif verb == "write-tag":
            frames += 4
        else:
            raise SystemExit("no count for " + verb)
        steps.append((line.split("#", 1)[0].strip(), frames))
    return steps


def ticks_taken(program, plan_path):
    with tempfile.TemporaryDirectory() as tmp:
        journal = os.path.join(tmp, "journal.jsonl")
        run = subprocess.run(
            [program, "--demo", "--journal", journal, "run", plan_path],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, check=False)
        if run.returncode != 0:
            raise SystemExit(f"{program}: exit {run.returncode}\n{run.stdout}{run.stderr}")
        with open(journal, encoding="utf-8") as f:
            return sum(1 for line in f if json.loads(line).get("ev") == "tx")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("programs", nargs="+", metavar="NAME=PATH")
    args = parser.parse_args()
    programs = [p.split("=", 1) for p in args.programs]

    steps = frames_needed(PLAN)
    needed = 2 * sum(f for _, f in steps)
    print("frames the wire needs, step by step:")
    for text, f in steps:
        print(f"  {f}  {text}")
    print(f"ticks the wire needs: {needed} (2 x {needed // 2} frames)")

    with tempfile.NamedTemporaryFile("w", suffix=".plan", delete=False) as f:
        f.write(PLAN)
        plan_path = f.name
    taken = {name: [] for name, _ in programs}
    try:
        for _ in range(args.runs):
            for name, path in programs:  # in turn, so both see the same machine
                taken[name].append(ticks_taken(path, plan_path))
    finally:
        os.unlink(plan_path)

    print(f"{'program':<10} {'ticks (each run)':<22} {'median':>6} {'x need':>7}")
    for name, _ in programs:
        t = taken[name]
        median = statistics.median(t)
        print(f"{name:<10} {str(t):<22} {median:>6} {median / needed:>7.2f}")
    if len(programs) == 2:
        a, b = (statistics.median(taken[n]) for n, _ in programs)
        print(f"{programs[1][0]} / {programs[0][0]}: {b / a:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
