#!/usr/bin/env python3
"""Protocol sessions through two engine binaries, compared byte for byte.

    compare_sessions.py --reference build/pbrain-orvel \
        --candidate "wine build-win/pbrain-orvel.exe" tests/data/sessions/*.txt

Every session file (LF lines) is played in three forms: as written, with
CR LF line ends, and with CR LF line ends plus Ctrl-Z bytes (a line holding
only Ctrl-Z after the first line, and Ctrl-Z before a command halfway). The
lines go to the engine one at a time; before a command that starts a think
the driver sends ABOUT and waits for its reply (so every earlier reply is
in), and after it waits for the think's last line, so no command ever stops
a think and every think (depth-limited in the sessions) is repeatable. The
whole standard output of the two binaries must be equal, byte for byte,
once the reported times and speeds are masked; the exit codes must be 0.
Exit status 0 when every comparison holds.
"""
import argparse
import queue
import re
import shlex
import subprocess
import sys
import threading

THINK_STARTERS = (b"turn", b"begin")
ANALYSIS = (b"ovbalanceone", b"ovbalancetwo")
BODY_STARTERS = (b"board", b"ovboard", b"ovblock")
MOVE = re.compile(rb"^(-?\d+,-?\d+|ERROR.*)$")
ABOUT = re.compile(rb'^name="Orvel"')
ANALYSIS_END = re.compile(rb"^MESSAGE DETAIL \((BALANCE|NBEST)\)")
# Times and speeds differ from run to run; nothing else may.
MASKS = [
    (re.compile(rb"\d+ms"), b"#ms"),
    (re.compile(rb"^(MESSAGE [\d.]+ \| -?\d+ \| -?\d+ \| #ms \| [\d.]+ \| )\d+", re.M), rb"\1#"),
    (re.compile(rb"^(MESSAGE Speed: )\d+", re.M), rb"\1#"),
]
TIMEOUT = 300


def variants(data):
    lines = data.split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    crlf = [l + b"\r\n" for l in lines]
    ctrlz = list(crlf)
    ctrlz.insert(len(ctrlz) // 2, b"\x1a" + ctrlz[len(ctrlz) // 2])
    ctrlz.insert(1, b"\x1a\r\n")
    return {"lf": [l + b"\n" for l in lines], "crlf": crlf, "crlf+ctrl-z": ctrlz}


def command_of(line):
    return line.strip(b"\r\n\x1a ").lower()


def run(engine, lines):
    p = subprocess.Popen(engine, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    out = queue.Queue()

    def reader():
        for raw in iter(p.stdout.readline, b""):
            out.put(raw)
        out.put(None)

    threading.Thread(target=reader, daemon=True).start()
    collected = []

    def wait_for(pattern):
        while True:
            raw = out.get(timeout=TIMEOUT)
            if raw is None:
                raise RuntimeError("engine ended inside a think")
            collected.append(raw)
            if pattern.match(raw.rstrip(b"\n")):
                return

    def send(line):
        p.stdin.write(line)
        p.stdin.flush()

    in_body = False
    for line in lines:
        cmd = command_of(line)
        thinks = cmd.startswith(THINK_STARTERS + ANALYSIS) or cmd == b"board"
        if not in_body and not line.startswith(b"\x1a") and thinks:
            send(b"ABOUT\n")
            wait_for(ABOUT)
        send(line)
        if in_body:
            if cmd == b"done":
                in_body = False
                if body_thinks:
                    wait_for(MOVE)
            continue
        if cmd.startswith(BODY_STARTERS) and cmd in BODY_STARTERS:
            in_body, body_thinks = True, cmd == b"board"
        elif line.startswith(b"\x1a"):
            pass  # not a command the engine knows
        elif cmd.startswith(THINK_STARTERS):
            wait_for(MOVE)
        elif cmd.startswith(ANALYSIS):
            wait_for(ANALYSIS_END)
    p.stdin.close()
    while (raw := out.get(timeout=TIMEOUT)) is not None:
        collected.append(raw)
    code = p.wait(timeout=TIMEOUT)
    return b"".join(collected), code


def masked(text):
    for pattern, repl in MASKS:
        text = pattern.sub(repl, text)
    return text


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--reference", required=True, help="command of the reference engine")
    ap.add_argument("--candidate", required=True, help="command of the engine compared with it")
    ap.add_argument("sessions", nargs="+")
    args = ap.parse_args()
    failures = 0
    for path in args.sessions:
        with open(path, "rb") as f:
            data = f.read()
        for name, lines in variants(data).items():
            ref, ref_code = run(shlex.split(args.reference), lines)
            cand, cand_code = run(shlex.split(args.candidate), lines)
            ok = masked(ref) == masked(cand) and ref_code == 0 and cand_code == 0 and b"\r" not in cand
            print(f"{'ok  ' if ok else 'FAIL'} {path} ({name}): {len(ref.splitlines())} lines, "
                  f"exit {ref_code}/{cand_code}")
            if not ok:
                failures += 1
                a, b = masked(ref).splitlines(), masked(cand).splitlines()
                for i in range(max(len(a), len(b))):
                    la = a[i] if i < len(a) else b"<none>"
                    lb = b[i] if i < len(b) else b"<none>"
                    if la != lb:
                        print(f"  line {i + 1}: reference {la!r}\n  line {i + 1}: candidate {lb!r}")
                        break
    print(f"{failures} of {3 * len(args.sessions)} comparisons failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
