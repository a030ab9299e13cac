#!/usr/bin/env python3
"""Self-play through the protocol: two engine processes play whole games.

Every move must be an empty cell on the board, the first player must never
play a Renju forbidden point (asked of a third engine process with
ovshowforbid), each game must end in a five or a full board (under Renju a
board full but for the first player's forbidden points ends it too: the
first player answers "ERROR no legal move"), and no reply may take longer
than timeout_turn plus a small margin.

Usage: selfplay.py ENGINE [--turn MS] [--margin MS] [--games GAME ...]
A GAME is RULE:SIZE, e.g. 0:15 2:15 1:20.
"""
import argparse
import os
import select
import subprocess
import sys
import time

NAMES = {0: "free-style", 1: "standard", 2: "Renju"}


class Engine:
    def __init__(self, path):
        self.proc = subprocess.Popen([path], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, bufsize=0)
        self.buffer = b""

    def send(self, line):
        self.proc.stdin.write((line + "\n").encode())
        self.proc.stdin.flush()

    def read_line(self, timeout):
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise TimeoutError("no reply within %.1f s" % timeout)
            ready, _, _ = select.select([self.proc.stdout], [], [], left)
            if ready:
                chunk = os.read(self.proc.stdout.fileno(), 65536)
                if not chunk:
                    raise EOFError("engine closed its output")
                self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.decode(errors="replace").rstrip("\r")

    def read_until(self, predicate, timeout):
        deadline = time.monotonic() + timeout
        while True:
            line = self.read_line(max(0.01, deadline - time.monotonic()))
            if predicate(line):
                return line

    def close(self):
        try:
            self.send("END")
            self.proc.wait(timeout=5)
        except Exception:
            self.proc.kill()


def is_move(line):
    parts = line.split(",")
    return len(parts) == 2 and all(p.strip().lstrip("-").isdigit() for p in parts)


def winner_line(board, size, x, y, rule):
    """True when the stone just placed at (x, y) wins under rule."""
    v = board[x][y]
    for dx, dy in ((0, 1), (1, 0), (1, -1), (1, 1)):
        n = 1
        for sign in (1, -1):
            cx, cy = x + sign * dx, y + sign * dy
            while 0 <= cx < size and 0 <= cy < size and board[cx][cy] == v:
                n += 1
                cx, cy = cx + sign * dx, cy + sign * dy
        if n == 5 or (n > 5 and (rule == 0 or (rule == 2 and v == 2))):
            return True
    return False


def forbidden_points(checker, moves):
    """The first player's forbidden points after moves, as the checker sees them."""
    checker.send("RESTART")
    checker.read_until(lambda l: l == "OK", 10)
    checker.send("ovboard")
    for i, (mx, my) in enumerate(moves):
        checker.send("%d,%d,%d" % (mx, my, 1 if i % 2 == 0 else 2))
    checker.send("DONE")
    checker.send("ovshowforbid")
    forbid = checker.read_until(lambda l: l.startswith("FORBID"), 10)
    cells = forbid[len("FORBID "):-1]
    return {(int(cells[i:i + 2]), int(cells[i + 2:i + 4])) for i in range(0, len(cells), 4)}


def play_game(path, rule, size, turn_ms, margin_ms, hash_size, time_left=None):
    players = [Engine(path), Engine(path)]
    checker = Engine(path) if rule == 2 else None
    board = [[0] * size for _ in range(size)]
    moves = []
    worst = 0.0
    try:
        for e in players + ([checker] if checker else []):
            e.send("INFO rule %d" % rule)
            e.send("INFO timeout_turn %d" % turn_ms)
            e.send("INFO hash_size %d" % hash_size)
            if time_left is not None:
                e.send("INFO time_left %d" % time_left)
            e.send("START %d" % size)
            e.read_until(lambda l: l == "OK", 10)
        last = None
        for ply in range(size * size):
            mover = players[ply % 2]
            side = ply % 2 + 1
            start = time.monotonic()
            mover.send("BEGIN" if last is None else "TURN %d,%d" % last)
            reply = mover.read_until(lambda l: is_move(l) or l.startswith("ERROR"),
                                     turn_ms / 1000.0 + 10)
            elapsed = (time.monotonic() - start) * 1000.0
            worst = max(worst, elapsed)
            if reply.startswith("ERROR"):
                # Under Renju the board may fill up to the first player's
                # forbidden points: then it has no legal move, and says so.
                if reply == "ERROR no legal move" and checker and side == 1:
                    free = {(a, b) for a in range(size) for b in range(size) if not board[a][b]}
                    if free <= forbidden_points(checker, moves):
                        return None, worst
                return "engine error %r after %d moves" % (reply, ply), worst
            if elapsed > turn_ms + margin_ms:
                return "reply took %.0f ms (limit %d + %d)" % (elapsed, turn_ms, margin_ms), worst
            x, y = (int(p) for p in reply.split(","))
            if not (0 <= x < size and 0 <= y < size) or board[x][y]:
                return "illegal move %d,%d at ply %d" % (x, y, ply), worst
            if checker and side == 1:
                if (x, y) in forbidden_points(checker, moves):
                    return "first player played the forbidden point %d,%d at ply %d" % (x, y, ply), worst
            board[x][y] = side
            moves.append((x, y))
            if winner_line(board, size, x, y, rule):
                return None, worst
            last = (x, y)  # the other engine learns it with its TURN
        return None, worst  # a full board
    finally:
        for e in players + ([checker] if checker else []):
            e.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("engine")
    ap.add_argument("--turn", type=int, default=200)
    ap.add_argument("--margin", type=int, default=400)
    ap.add_argument("--hash", type=int, default=65536)
    ap.add_argument("--time-left", type=int, default=None, help="INFO time_left sent before each game")
    ap.add_argument("--games", nargs="*", default=["0:15", "1:15", "2:15", "0:20"])
    args = ap.parse_args()
    passed = failed = 0
    for game in args.games:
        rule, size = (int(v) for v in game.split(":"))
        t0 = time.monotonic()
        error, worst = play_game(args.engine, rule, size, args.turn, args.margin, args.hash, args.time_left)
        took = time.monotonic() - t0
        status = "ok" if error is None else "FAIL: " + error
        print("%-10s %dx%d  %5.1f s  slowest reply %4.0f ms (%.2f of timeout_turn)  %s"
              % (NAMES[rule], size, size, took, worst, worst / args.turn, status))
        if error is None:
            passed += 1
        else:
            failed += 1
    print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
