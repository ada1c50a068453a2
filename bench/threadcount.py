#!/usr/bin/env python3
"""Runs a command and prints how many threads it and the processes it started have over
time, read from /proc/PID/task every millisecond or so: one "MS THREADS" line each time the
count changes, then the most. The command's output goes to /dev/null.

usage: threadcount.py [-i MS] COMMAND [ARG]...
Exits with the command's status.
"""
import os, subprocess, sys, time


def threads_below(pid):
    """Threads of pid and of every process below it; 0 once it is gone."""
    count = 0
    try:
        tasks = os.listdir(f"/proc/{pid}/task")
    except OSError:
        return 0
    for tid in tasks:
        count += 1
        try:
            with open(f"/proc/{pid}/task/{tid}/children") as f:
                children = f.read().split()
        except OSError:
            continue
        for child in children:
            count += threads_below(child)
    return count


def main(argv):
    interval = 0.001
    if len(argv) >= 2 and argv[0] == "-i":
        interval = float(argv[1]) / 1000
        argv = argv[2:]
    if not argv:
        print(__doc__.strip().splitlines()[-2], file=sys.stderr)
        return 2
    start = time.monotonic()
    child = subprocess.Popen(argv, stdout=subprocess.DEVNULL)
    last, most = -1, 0
    while child.poll() is None:
        count = threads_below(child.pid)
        if count and count != last:
            print(f"{int((time.monotonic() - start) * 1000):6d} {count:3d}", flush=True)
            last = count
        most = max(most, count)
        time.sleep(interval)
    print(f"{int((time.monotonic() - start) * 1000):6d} end (most {most} threads, "
          f"status {child.returncode})")
    return child.returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
