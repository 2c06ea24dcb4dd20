#!/usr/bin/env python3
"""Whole-process CPU while idle, side by side in one run.

Each program runs at once beside the others, on a pseudo-terminal of its own
whose other side is held open and never answers (a silent line), or on the
demo bus. CPU time (user + system, all threads) comes from /proc/PID/stat over
the same fixed window after a settling time; a tick is 500 ms. The journal is
measured twice: to a file (a write and a sync to the disk per tick) and to
/dev/null (no sync), which tells the disk's share from the journal's own.

  idle_cpu.py --before DIR --after DIR [--seconds 60]

DIR is a build directory holding cli/busdesk-cli (or busdesk-cli) and
busdesk_idle_line (bench/ or top level). picocom is the serial terminal.
"""
import argparse
import os
import select
import shutil
import subprocess
import tempfile
import threading
import time

SETTLE = 3.0
TICK = 0.5


def find(root, name):
    for sub in ("", "cli", "bench"):
        p = os.path.join(root, sub, name)
        if os.path.isfile(p) and os.access(p, os.X_OK):
            return p
    raise SystemExit(f"{name} not found under {root}")


def cpu_seconds(pid):
    """CPU time of every thread of `pid`, in nanoseconds' precision where the
    kernel keeps schedstat (a thread that ended meanwhile is missed; the
    programs measured keep theirs), else in clock ticks from /proc/PID/stat."""
    total = 0
    try:
        for tid in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                total += int(f.read().split()[0])
        return total / 1e9
    except (OSError, ValueError, IndexError):
        pass
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    # utime and stime are fields 14 and 15 of the whole line.
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class SilentLine:
    """A pty whose master is drained (so writes never block) and never answers."""

    def __init__(self):
        self.master, slave = os.openpty()
        self.path = os.ttyname(slave)
        os.close(slave)
        self.stop = False
        self.thread = threading.Thread(target=self.drain, daemon=True)
        self.thread.start()

    def drain(self):
        while not self.stop:
            r, _, _ = select.select([self.master], [], [], 1.0)
            if r:
                try:
                    os.read(self.master, 4096)
                except OSError:
                    time.sleep(1.0)  # no slave open yet: EIO until one is


def run_all(jobs, seconds):
    procs = {}
    for name, argv in jobs:
        # A session of its own: the terminal, ended, signals its whole
        # process group, which would otherwise be this script's.
        procs[name] = subprocess.Popen(
            argv, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
    time.sleep(SETTLE)
    start = {n: cpu_seconds(p.pid) for n, p in procs.items()}
    t0 = time.monotonic()
    time.sleep(seconds)
    wall = time.monotonic() - t0
    used = {n: cpu_seconds(p.pid) - start[n] for n, p in procs.items()}
    for p in procs.values():
        p.terminate()
    for p in procs.values():
        try:
            p.wait(timeout=10)
        except subprocess.TimeoutExpired:
            p.kill()
    return {n: (u, wall) for n, u in used.items()}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--before", required=True)
    ap.add_argument("--after", required=True)
    ap.add_argument("--seconds", type=int, default=60)
    a = ap.parse_args()
    span = str(a.seconds + 30)  # outlives the window; ended by the script
    tmp = tempfile.mkdtemp(prefix="busdesk-idle-")
    lines = [SilentLine() for _ in range(3)]
    jobs = []
    for tag, root, line in (("before", a.before, lines[0]), ("after", a.after, lines[1])):
        idle = find(root, "busdesk_idle_line")
        cli = find(root, "busdesk-cli")
        jobs += [
            (f"silent line, engine ({tag})", [idle, line.path, span]),
            (f"demo bus, engine ({tag})", [idle, "--demo", span]),
            (f"cli --demo show ({tag})", [cli, "--demo", "show", "1", "--seconds", span]),
            (f"cli --demo --journal show ({tag})",
             [cli, "--demo", "--journal", os.path.join(tmp, f"{tag}.jsonl"), "show", "1",
              "--seconds", span]),
            # The same lines to a device that needs no sync: what the journal
            # costs without the disk's share.
            (f"cli --demo --journal null show ({tag})",
             [cli, "--demo", "--journal", "/dev/null", "show", "1", "--seconds", span]),
        ]
    if shutil.which("picocom"):
        jobs.append(("silent line, picocom", ["picocom", "-q", "-b", "19200", lines[2].path]))
    res = run_all(jobs, a.seconds)
    print(f"{'run':42} {'cpu s':>8} {'% cpu':>8} {'ms/tick':>8}")
    pct = {}
    for name, (cpu, wall) in res.items():
        pct[name] = 100.0 * cpu / wall
        print(f"{name:42} {cpu:8.4f} {pct[name]:8.4f} {1000.0 * cpu / (wall / TICK):8.4f}")

    def ratio(x, y):
        return f"{pct[x] / pct[y]:.2f}" if pct.get(y) else "n/a"

    print()
    for what in ("silent line, engine", "demo bus, engine", "cli --demo show",
                 "cli --demo --journal show", "cli --demo --journal null show"):
        print(f"after/before {what:32} {ratio(what + ' (after)', what + ' (before)')}")
    for tag in ("before", "after"):
        if "silent line, picocom" in pct:
            print(f"silent line / picocom ({tag})          "
                  f"{ratio(f'silent line, engine ({tag})', 'silent line, picocom')}")
        print(f"--journal / without ({tag})            "
              f"{ratio(f'cli --demo --journal show ({tag})', f'cli --demo show ({tag})')}")
        print(f"--journal /dev/null / without ({tag})  "
              f"{ratio(f'cli --demo --journal null show ({tag})', f'cli --demo show ({tag})')}")
    for line in lines:
        line.stop = True
    shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
