#!/usr/bin/env python3
"""Peak resident memory of the engine during one think.

    scripts/peak_memory.py [--max-memory N] [--mode think|balancetwo] ENGINE [ARGS...]

Starts ENGINE (for example build/pbrain-orvel, or wine build-win/pbrain-orvel.exe),
sets up a 20x20 middle game, runs one think (TURN, or ovbalancetwo) with a
3 s move limit, and prints the engine's MESSAGE lines about its tables and the
peak resident set (VmHWM) of the engine process, read from /proc. Under Wine
the process measured is the one that runs the exe (Wine's own code included),
so the figure is an upper bound for Windows.
"""
import argparse
import os
import subprocess
import sys
import time

MOVES = [(9, 9), (10, 10), (9, 10), (10, 9), (8, 11), (11, 8), (8, 9), (10, 11), (12, 9), (9, 12)]


def engine_pids(root):
    """The root process and its descendants (wine starts the exe in a child)."""
    pids, frontier = [root], [root]
    while frontier:
        pid = frontier.pop()
        try:
            with open(f"/proc/{pid}/task/{pid}/children") as f:
                kids = [int(k) for k in f.read().split()]
        except OSError:
            kids = []
        pids += kids
        frontier += kids
    return pids


def peak_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--max-memory", type=int, default=0)
    ap.add_argument("--mode", choices=["think", "balancetwo"], default="think")
    ap.add_argument("--timeout-turn", type=int, default=3000)
    ap.add_argument("engine", nargs=argparse.REMAINDER)
    args = ap.parse_args()
    p = subprocess.Popen(args.engine, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)

    def send(line):
        p.stdin.write(line + "\n")
        p.stdin.flush()

    def until(pred):
        seen = []
        while True:
            line = p.stdout.readline()
            if not line:
                sys.exit("engine ended early")
            line = line.rstrip("\n")
            seen.append(line)
            if pred(line):
                return seen

    send("START 20")
    until(lambda l: l == "OK")
    send(f"INFO max_memory {args.max_memory}")
    send(f"INFO timeout_turn {args.timeout_turn}")
    send("INFO timeout_match 1000000")
    send("INFO show_detail 1")
    send("BOARD")
    for i, (x, y) in enumerate(MOVES):
        send(f"{x},{y},{1 if i % 2 == len(MOVES) % 2 else 2}")
    send("DONE")
    lines = until(lambda l: not l.startswith(("MESSAGE", "DEBUG")))
    if args.mode == "balancetwo":
        send("ovbalancetwo 0")
        lines += until(lambda l: l.startswith("MESSAGE DETAIL (BALANCE)") or l.startswith("ERROR"))
    time.sleep(0.2)
    peak = max(peak_kib(pid) for pid in engine_pids(p.pid))
    for line in lines:
        if "table" in line.lower():
            print(line)
    print(f"max_memory {args.max_memory} mode {args.mode}: peak resident {peak / 1024:.1f} MiB "
          f"({peak * 1024} bytes)")
    send("END")
    try:
        p.wait(timeout=10)
    except subprocess.TimeoutExpired:
        p.kill()


if __name__ == "__main__":
    main()
