#!/usr/bin/env python3
"""Orvel's board in the browser: a small local web server.

    python3 web/server.py [--host H] [--port N] [--engine PATH] [--idle-minutes M]

Serves the page in web/static and runs one engine process per game, speaking
the Gomocup protocol to it on standard input and output. The page sends its
actions as JSON POSTs and follows its game on a Server-Sent Events stream:
"state" after every change of the game, "think" with the engine's search
reports as they come, and "line" with every line the engine writes.

The server keeps the authoritative record of each game and feeds the engine
only commands it builds itself from validated numbers. Python's standard
library only.
"""
import argparse
import collections
import json
import os
import re
import secrets
import signal
import socket
import subprocess
import sys
import threading
import time
import traceback
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

MAX_ENGINES = 4            # engine processes running at once, one per game
IDLE_MINUTES = 10          # a game left this long, not thinking, ends its engine
DETACH_GRACE = 20.0        # seconds a game lives without a page following it
HEARTBEAT = 5.0            # seconds between keep-alive comments on an event stream
STOP_WAIT = 10.0           # seconds a stopped think may take to report its move
END_WAIT = 2.0             # seconds between END and a kill
MAX_BODY = 64 * 1024       # bytes of a request body
REQUEST_TIMEOUT = 30.0     # seconds a connection may keep a request or its body waiting
MAX_ENGINE_LINE = 64 * 1024  # bytes of one line from the engine; the rest is cut
MAX_COMMAND = 128          # bytes of one line to the engine
EVENT_BACKLOG = 1000       # events kept per game for a page that reconnects

SIZES = (15, 20)
FREESTYLE, STANDARD, RENJU = 0, 1, 2
RULE_NAMES = {FREESTYLE: "free-style", STANDARD: "standard", RENJU: "Renju"}
EMPTY, BLACK, WHITE = 0, 1, 2
COLOUR_NAMES = {BLACK: "Black", WHITE: "White"}
PLAYERS = ("white", "black", "both", "none")  # the sides Orvel plays
DIRECTIONS = ((0, 1), (1, 0), (1, 1), (1, -1))

STATIC_TYPES = {
    ".html": "text/html; charset=utf-8",
    ".js": "text/javascript; charset=utf-8",
    ".css": "text/css; charset=utf-8",
    ".png": "image/png",
    ".svg": "image/svg+xml",
}
SECURITY_HEADERS = {
    "Content-Security-Policy": "default-src 'self'; img-src 'self' data:; object-src 'none'; "
                               "base-uri 'none'; form-action 'none'; frame-ancestors 'none'",
    "X-Content-Type-Options": "nosniff",
    "X-Frame-Options": "DENY",
    "Referrer-Policy": "no-referrer",
    "Cache-Control": "no-store",
}


class Refused(Exception):
    """An action the game cannot take; the message is shown on the page."""

    def __init__(self, message, status=409):
        super().__init__(message)
        self.status = status


# ---------------------------------------------------------------------------
# Board rules: fives, Renju reasons, records
# ---------------------------------------------------------------------------

def run_through(board, x, y, dx, dy):
    """The cells of the unbroken run of board[x][y]'s colour through (x, y)."""
    n, colour = len(board), board[x][y]
    cells = [(x, y)]
    for sign in (1, -1):
        cx, cy = x + sign * dx, y + sign * dy
        while 0 <= cx < n and 0 <= cy < n and board[cx][cy] == colour:
            cells.append((cx, cy))
            cx, cy = cx + sign * dx, cy + sign * dy
    return sorted(cells)


def winning_line(board, x, y, rule):
    """The five that the stone on (x, y) completes, or None. Free-style: five
    or more; standard: exactly five; Renju: exactly five for Black, five or
    more for White."""
    colour = board[x][y]
    for dx, dy in DIRECTIONS:
        cells = run_through(board, x, y, dx, dy)
        if len(cells) == 5 or (len(cells) > 5 and (rule == FREESTYLE or (rule == RENJU and colour == WHITE))):
            return cells
    return None


def forbidden_reason(board, x, y):
    """Why a Black stone on the empty (x, y) is forbidden under Renju, for a
    cell the engine listed as forbidden: an overline, else two fours, else
    (what is left for a forbidden point) two open threes."""
    n = len(board)
    board[x][y] = BLACK
    try:
        fours = 0
        for dx, dy in DIRECTIONS:
            if len(run_through(board, x, y, dx, dy)) > 5:
                return "an overline (six or more in a row)"
            # Cells of this line that would complete exactly five with (x, y).
            fives = []
            for k in range(-4, 5):
                cx, cy = x + k * dx, y + k * dy
                if k == 0 or not (0 <= cx < n and 0 <= cy < n) or board[cx][cy] != EMPTY:
                    continue
                board[cx][cy] = BLACK
                if len(run_through(board, x, y, dx, dy)) == 5:
                    fives.append(k)
                board[cx][cy] = EMPTY
            # An open four has two completing cells five apart; any other
            # pair is two fours in one line.
            if len(fives) == 2 and fives[1] - fives[0] == 5:
                fours += 1
            else:
                fours += min(len(fives), 2)
        return "a double four" if fours >= 2 else "a double three"
    finally:
        board[x][y] = EMPTY


def new_board(size, stones):
    board = [[EMPTY] * size for _ in range(size)]
    for x, y, colour in stones:
        board[x][y] = colour
    return board


def sgf_point(x, y):
    # SGF letters: column (our y) first, then row (our x), both from the top left.
    return chr(ord("a") + y) + chr(ord("a") + x)


def write_sgf(size, rule, stones, setup_count, result, orvel):
    names = {BLACK: "Orvel" if orvel in ("black", "both") else "Player",
             WHITE: "Orvel" if orvel in ("white", "both") else "Player"}
    rule_word = {FREESTYLE: "freestyle", STANDARD: "standard", RENJU: "renju"}[rule]
    text = "(;GM[4]FF[4]CA[UTF-8]AP[Orvel board]SZ[%d]RU[%s]PB[%s]PW[%s]" % (
        size, rule_word, names[BLACK], names[WHITE])
    if result is not None:
        text += "RE[%s]" % {BLACK: "B+", WHITE: "W+", EMPTY: "0"}[result["winner"]]
    for colour, key in ((BLACK, "AB"), (WHITE, "AW")):
        points = [sgf_point(x, y) for x, y, c in stones[:setup_count] if c == colour]
        if points:
            text += key + "".join("[%s]" % p for p in points)
    for x, y, colour in stones[setup_count:]:
        text += "\n;%s[%s]" % ("B" if colour == BLACK else "W", sgf_point(x, y))
    return text + ")\n"


SGF_TOKEN = re.compile(r"\s*(?:([();])|([A-Za-z]+)|(\[(?:[^\]\\]|\\.)*\]))", re.S)
RULE_WORDS = {"0": FREESTYLE, "freestyle": FREESTYLE, "free-style": FREESTYLE, "gomoku": FREESTYLE,
              "1": STANDARD, "standard": STANDARD, "2": RENJU, "renju": RENJU}


def parse_sgf(text):
    """The main line of an SGF game: (size or None, rule or None, setup
    stones, moves), stones as (x, y, colour) with x and y unchecked."""
    pos, props, nodes, key = 0, None, [], None
    while pos < len(text):
        m = SGF_TOKEN.match(text, pos)
        if not m:
            if text[pos:].strip() == "":
                break
            raise Refused("SGF: unexpected text at character %d" % pos, 400)
        pos = m.end()
        if m.group(1) == ";":
            props = collections.defaultdict(list)
            nodes.append(props)
        elif m.group(1) == ")":
            break  # the first variation closes: the main line is complete
        elif m.group(2):
            key = "".join(ch for ch in m.group(2) if ch.isupper())
        elif m.group(3):
            if props is None or key is None:
                raise Refused("SGF: a value outside a node", 400)
            props[key].append(m.group(3)[1:-1].replace("\\]", "]"))
    if not nodes:
        raise Refused("SGF: no game found", 400)
    root = nodes[0]
    size = rule = None
    if root.get("SZ"):
        dims = root["SZ"][0].split(":")
        if not all(d.strip().isdigit() for d in dims) or len(set(int(d) for d in dims)) != 1:
            raise Refused("SGF: board size %r is not offered (15 or 20)" % root["SZ"][0], 400)
        size = int(dims[0])
    if root.get("RU"):
        rule = RULE_WORDS.get(root["RU"][0].strip().lower())

    def point(value):
        if len(value) != 2 or not value.isalpha() or not value.islower():
            raise Refused("SGF: %r is not a point (passes are not played here)" % value, 400)
        return ord(value[1]) - ord("a"), ord(value[0]) - ord("a")

    setup = [point(v) + (BLACK,) for v in root.get("AB", [])] + [point(v) + (WHITE,) for v in root.get("AW", [])]
    moves = []
    for node in nodes:
        for key, colour in (("B", BLACK), ("W", WHITE)):
            for value in node.get(key, []):
                moves.append(point(value) + (colour,))
    return size, rule, setup, moves


MOVE_PAIR = re.compile(r"\s*(\d{1,2})\s*,\s*(\d{1,2})\s*[;,]?")


def parse_move_list(text):
    """Moves as "x,y" pairs in play order, Black first."""
    moves, pos = [], 0
    while pos < len(text) and text[pos:].strip():
        m = MOVE_PAIR.match(text, pos)
        if not m:
            raise Refused("moves: expected x,y at character %d" % pos, 400)
        moves.append((int(m.group(1)), int(m.group(2)), BLACK if len(moves) % 2 == 0 else WHITE))
        pos = m.end()
    if not moves:
        raise Refused("moves: the list is empty", 400)
    return moves


def interleave(stones):
    """Setup stones in an order the protocol can replay: Black and White in
    turn, Black first, each colour in the order given. Needs as many Black
    stones as White or one more."""
    black = [s for s in stones if s[2] == BLACK]
    white = [s for s in stones if s[2] == WHITE]
    if len(black) not in (len(white), len(white) + 1):
        raise Refused("a position needs as many Black stones as White, or one more; it has %d Black and %d White"
                      % (len(black), len(white)))
    order = []
    for i, b in enumerate(black):
        order.append(b)
        if i < len(white):
            order.append(white[i])
    return order


def load_record(text, size):
    """(size, rule or None, stones in play order, setup count) of a pasted
    or loaded record: SGF when it starts with "(", else a move list."""
    rule = None
    if text.lstrip().startswith("("):
        sgf_size, rule, setup, moves = parse_sgf(text)
        size = sgf_size or size
        setup = interleave(setup)
    else:
        setup, moves = [], parse_move_list(text)
    if size not in SIZES:
        raise Refused("board size %d is not offered (15 or 20)" % size, 400)
    stones, seen = list(setup), set()
    for i, (x, y, colour) in enumerate(moves):
        expected = BLACK if (len(setup) + i) % 2 == 0 else WHITE
        if colour != expected:
            raise Refused("move %d is %s's, but %s is to move"
                          % (i + 1, COLOUR_NAMES[colour], COLOUR_NAMES[expected]), 400)
        stones.append((x, y, colour))
    for x, y, _ in stones:
        if not (0 <= x < size and 0 <= y < size):
            raise Refused("%d,%d is off a %dx%d board" % (x, y, size, size), 400)
        if (x, y) in seen:
            raise Refused("%d,%d is played twice" % (x, y), 400)
        seen.add((x, y))
    return size, rule, stones, len(setup)


# ---------------------------------------------------------------------------
# Settings from the page
# ---------------------------------------------------------------------------

def whole(body, key, low, high):
    value = body.get(key)
    if type(value) is not int or not low <= value <= high:
        raise Refused("%s must be a whole number from %d to %d" % (key, low, high), 400)
    return value


def read_settings(body, current=None):
    """The game settings a request sets, validated; `current` fills the rest
    (a new game starts from the defaults)."""
    settings = dict(current or {"size": 15, "rule": FREESTYLE, "orvel": "white", "turn_ms": 5000,
                                "match_ms": 0, "threads": 1, "search_mode": 0, "nbest": 0})
    limits = {"size": (15, 20), "rule": (0, 2), "turn_ms": (100, 3600000), "match_ms": (0, 36000000),
              "threads": (1, 64), "search_mode": (0, 1), "nbest": (0, 10)}
    for key in body:
        if key in limits:
            settings[key] = whole(body, key, *limits[key])
        elif key == "orvel":
            if body[key] not in PLAYERS:
                raise Refused("orvel must be one of %s" % ", ".join(PLAYERS), 400)
            settings[key] = body[key]
    if settings["size"] not in SIZES:
        raise Refused("size must be 15 or 20", 400)
    if 0 < settings["match_ms"] < 1000:
        raise Refused("a match clock needs at least a second", 400)
    return settings


# ---------------------------------------------------------------------------
# Engine output
# ---------------------------------------------------------------------------

MOVE_LINE = re.compile(r"(\d+),(\d+)")
DEPTH_LINE = re.compile(r"DETAIL DEPTH:(\d+)-(\d+)\*? VAL:(-?\d+) TIME:(\d+)ms NODE:(\d+)m \[(\d+),([A-Z])\]")
ANALYSIS_LINE = re.compile(r"DETAIL (?:\(NBEST\) )?DEPTH:(\d+)-\d+ VAL:(-?\d+) .*\[(\d+),([A-Z])\]")
SUMMARY_LINE = re.compile(r"Complexity: .* \| Depth: (\d+)-(\d+) \| Time: (\d+)ms \| Node: (\d+)m")
SPEED_LINE = re.compile(r"Speed: (\d+) \| Evaluation: (-?\d+)")
NBEST_ROW = re.compile(r"\((\d+)\) VAL:(-?\d+) ((?:\[\d+,[A-Z]\])+)")
REALTIME_CELL = re.compile(r"REALTIME (POS|BEST) (\d+),(\d+)")
REALTIME_VAL = re.compile(r"REALTIME VAL (-?\d+)")
SHORT_CELL = re.compile(r"\[(\d+)([A-Z])\]")
COMMA_CELL = re.compile(r"\[(\d+),([A-Z])\]")


class Game:
    """One game and the engine process that plays it.

    Every field is guarded by `cond`. The engine's lines are handled on the
    reader thread, the page's actions on the request threads; an action that
    needs the engine idle stops its think and waits for the move it still
    reports, holding the reader back from starting new work meanwhile."""

    def __init__(self, server, settings, stones=(), setup_count=0):
        self.server = server
        self.id = secrets.token_urlsafe(12)
        self.cond = threading.Condition()
        self.settings = settings
        self.size, self.rule = settings["size"], settings["rule"]
        self.stones = [list(s) for s in stones]
        self.setup_count = setup_count
        self.board = new_board(self.size, stones)
        self.position_id = 0       # grows with every change of the stones
        self.result = None
        self.setup = None          # the stones being placed in set-up mode
        self.busy = None           # "move" while the engine thinks, "nbest" while it analyses
        self.holding = 0           # actions waiting for the engine to stop
        self.forbid, self.forbid_id = [], -1
        self.forbid_requests = collections.deque()
        self.nbest, self.nbest_id, self.nbest_rows = [], -1, None
        self.think = None
        self.think_started = 0.0
        self.clock_left = settings["match_ms"] or None
        self.failed = None
        self.closed = None
        self.events = collections.deque(maxlen=EVENT_BACKLOG)
        self.seq = 0
        self.listeners = 0
        self.detached_since = self.last_activity = time.monotonic()
        self.proc = subprocess.Popen([server.engine], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, close_fds=True)
        threading.Thread(target=self._read_loop, name="engine-" + self.id, daemon=True).start()
        with self.cond:
            self._send("START %d" % self.size)
            self._send_settings(("turn_ms", "threads", "search_mode"))
            if self.clock_left is not None:
                self._send("INFO timeout_match %d" % settings["match_ms"])
                self._send("INFO time_left %d" % self.clock_left)
            self._send("INFO rule %d" % self.rule)
            self._send("INFO show_detail 1")
            if self.stones:
                self._send_body("ovboard", self.stones, self.to_move())
                self.result = self._scan_result()
            self._after_change()

    # -- talking to the engine ------------------------------------------------

    def _send(self, line):
        if len(line) > MAX_COMMAND or not re.fullmatch(r"[ -~]*", line):
            raise ValueError("refusing to send %r" % line)
        try:
            self.proc.stdin.write(line.encode("ascii") + b"\n")
            self.proc.stdin.flush()
        except OSError:
            self._fail("Orvel stopped unexpectedly.")
            raise Refused(self.failed)

    def _send_body(self, command, stones, to_move):
        # x,y,who: who 1 for the stones of the side to move after the body.
        self._send(command)
        for x, y, colour in stones:
            self._send("%d,%d,%d" % (x, y, 1 if colour == to_move else 2))
        self._send("DONE")

    def _send_settings(self, keys):
        info = {"turn_ms": "timeout_turn", "threads": "thread_num", "search_mode": "search_mode"}
        for key in keys:
            self._send("INFO %s %d" % (info[key], self.settings[key]))

    def _read_loop(self):
        stream = self.proc.stdout
        while True:
            raw = stream.readline(MAX_ENGINE_LINE + 1)
            if not raw:
                break
            if len(raw) > MAX_ENGINE_LINE and not raw.endswith(b"\n"):
                rest = raw
                while rest and not rest.endswith(b"\n"):
                    rest = stream.readline(MAX_ENGINE_LINE)
                raw = raw[:MAX_ENGINE_LINE] + b" [cut]"
            text = raw.decode("utf-8", "replace").rstrip("\r\n")
            with self.cond:
                self.last_activity = time.monotonic()
                self._publish("line", {"text": text})
                if not self.failed and not self.closed:
                    try:
                        self._on_line(text)
                    except Refused:
                        pass  # the game has failed; the page is told by the state
        stream.close()
        try:
            code = self.proc.wait(timeout=END_WAIT)
        except subprocess.TimeoutExpired:
            code = None
        with self.cond:
            if not self.closed and not self.failed:
                self._fail("Orvel stopped unexpectedly (exit status %s). Start a new game." % code)

    def _on_line(self, text):
        if MOVE_LINE.fullmatch(text):
            x, y = (int(v) for v in text.split(","))
            self._engine_moved(x, y)
        elif text.startswith("FORBID"):
            cells = text[6:].strip().rstrip(".")
            asked_for = self.forbid_requests.popleft() if self.forbid_requests else -1
            if asked_for == self.position_id and re.fullmatch(r"(\d{4})*", cells):
                self.forbid = [[int(cells[i:i + 2]), int(cells[i + 2:i + 4])] for i in range(0, len(cells), 4)]
                self.forbid_id = asked_for
                self._publish_state()
        elif text.startswith("ERROR") or text.startswith("UNKNOWN"):
            self._fail("Orvel answered \"%s\". Start a new game." % text)
        elif text.startswith("MESSAGE "):
            self._on_message(text[8:])

    def _cell(self, row, letter):
        # The engine's own notation: rows counted up from the bottom, columns by letter.
        return [self.size - int(row), ord(letter) - ord("A")]

    def _on_message(self, text):
        if self.busy == "nbest" or NBEST_ROW.match(text):
            self._on_analysis(text)
            return
        if self.busy != "move" or self.think is None:
            return
        t = self.think
        m = DEPTH_LINE.match(text)
        if m:
            t.update(depth=int(m[1]), seldepth=int(m[2]), value=int(m[3]), time_ms=int(m[4]),
                     nodes_m=int(m[5]), best=self._cell(m[6], m[7]))
        elif SUMMARY_LINE.match(text):
            m = SUMMARY_LINE.match(text)
            t.update(depth=int(m[1]), seldepth=int(m[2]), time_ms=int(m[3]), nodes_m=int(m[4]))
        elif SPEED_LINE.match(text):
            m = SPEED_LINE.match(text)
            t.update(speed=int(m[1]), value=int(m[2]))
        elif text.startswith("Bestline:") or text.startswith("REALTIME PV"):
            t["line"] = [self._cell(r, c) for r, c in SHORT_CELL.findall(text)]
        elif REALTIME_CELL.match(text):
            m = REALTIME_CELL.match(text)
            t["current" if m[1] == "POS" else "best"] = [int(m[2]), int(m[3])]
        elif REALTIME_VAL.match(text):
            t["value"] = int(REALTIME_VAL.match(text)[1])
        else:
            return
        self._publish("think", t)

    def _on_analysis(self, text):
        # ovnbest reports each depth's line and then its ranked rows; the
        # final report's rows (with whole lines) follow its "(NBEST)" line.
        if text.startswith("DETAIL"):
            self.nbest_rows = []
            m = ANALYSIS_LINE.match(text)
            if m and not self.nbest and self.nbest_id == self.position_id:
                # Until a depth ranks its moves, its best move stands alone.
                cell = self._cell(m[3], m[4])
                self.nbest = [{"cell": cell, "value": int(m[2]), "line": [cell]}]
            if "(NBEST)" in text:
                self.busy = None
            self._publish_state()
            return
        m = NBEST_ROW.match(text)
        if m and self.nbest_rows is not None and self.nbest_id == self.position_id:
            line = [self._cell(r, c) for r, c in COMMA_CELL.findall(m[3])]
            self.nbest_rows.append({"cell": line[0], "value": int(m[2]), "line": line})
            self.nbest = list(self.nbest_rows)
            self._publish_state()

    def _engine_moved(self, x, y):
        if self.busy != "move":
            self._fail("Orvel played %d,%d when no move was asked for. Start a new game." % (x, y))
            return
        self.busy = None
        self.cond.notify_all()
        elapsed = int((time.monotonic() - self.think_started) * 1000)
        if self.clock_left is not None:
            self.clock_left = max(self.clock_left - elapsed, 0)
        if not (0 <= x < self.size and 0 <= y < self.size) or self.board[x][y] != EMPTY:
            self._fail("Orvel played %d,%d, which is not an empty cell. Start a new game." % (x, y))
            return
        self.think.update(move=[x, y], done=True, elapsed_ms=elapsed)
        self._publish("think", self.think)
        self._place(x, y)
        if not self.holding:
            self._after_change()
        self._publish_state()

    # -- the game -------------------------------------------------------------

    def to_move(self):
        return BLACK if len(self.stones) % 2 == 0 else WHITE

    def orvel_plays(self, colour):
        side = self.settings["orvel"]
        return side == "both" or side == COLOUR_NAMES[colour].lower()

    def _place(self, x, y):
        colour = self.to_move()
        self.stones.append([x, y, colour])
        self.board[x][y] = colour
        self.position_id += 1
        line = winning_line(self.board, x, y, self.rule)
        if line:
            self.result = {"winner": colour, "line": [list(c) for c in line],
                           "text": "%s wins with five in a row." % COLOUR_NAMES[colour]}
        elif len(self.stones) == self.size * self.size:
            self.result = {"winner": EMPTY, "line": [], "text": "Draw: the board is full."}

    def _scan_result(self):
        for x, y, colour in self.stones:
            line = winning_line(self.board, x, y, self.rule)
            if line:
                return {"winner": colour, "line": [list(c) for c in line],
                        "text": "%s has five in a row." % COLOUR_NAMES[colour]}
        if len(self.stones) == self.size * self.size:
            return {"winner": EMPTY, "line": [], "text": "Draw: the board is full."}
        return None

    def _after_change(self):
        """With the engine idle: start whatever the position asks for, an
        engine move, the forbidden points Black must avoid, the N best."""
        if self.failed or self.closed or self.setup is not None or self.result:
            return
        colour = self.to_move()
        if self.orvel_plays(colour):
            self._start_think()
            return
        if self.rule == RENJU and colour == BLACK and self.forbid_id != self.position_id:
            self._send("ovshowforbid")
            self.forbid_requests.append(self.position_id)
        if self.settings["nbest"]:
            self.busy = "nbest"
            self.nbest_id, self.nbest_rows = self.position_id, None
            self._send("ovnbest %d" % self.settings["nbest"])

    def _start_think(self, turn=None):
        self.think = {"side": self.to_move(), "done": False}
        self._publish("think", self.think)
        if self.clock_left is not None:
            self._send("INFO time_left %d" % self.clock_left)
        self.busy = "move"
        self.think_started = time.monotonic()
        if turn is not None:
            self._send("TURN %d,%d" % turn)
        elif not self.stones:
            self._send("BEGIN")
        else:
            # The engine keeps the value of its last think as its own side's;
            # taking the last stone back and replaying it hands it the
            # position afresh, to think for the side to move.
            x, y, _ = self.stones[-1]
            self._send("TAKEBACK %d,%d" % (x, y))
            self._send("TURN %d,%d" % (x, y))

    def _stop(self):
        """Stop a think or an analysis and wait for it to report."""
        self._send("ovstop")
        if not self.cond.wait_for(lambda: self.busy is None or self.failed or self.closed, timeout=STOP_WAIT):
            self._fail("Orvel did not stop within %d s. Start a new game." % STOP_WAIT)

    def _quiesce(self):
        """Stop a think or an analysis and wait until the engine is idle."""
        while self.busy is not None:
            self._stop()
        self._check_live()

    def _check_live(self):
        if self.closed:
            raise Refused("This game has ended: %s" % self.closed, 410)
        if self.failed:
            raise Refused(self.failed)

    def _fail(self, message):
        if self.failed or self.closed:
            return
        self.failed = message
        self.busy = None
        self.cond.notify_all()
        self._publish_state()
        threading.Thread(target=self._end_process, daemon=True).start()

    def _end_process(self):
        try:
            self.proc.stdin.write(b"END\n")
            self.proc.stdin.flush()
        except (OSError, ValueError):  # gone, or closed by an earlier end
            pass
        try:
            self.proc.wait(timeout=END_WAIT)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        try:
            self.proc.stdin.close()
        except (OSError, ValueError):
            pass

    def close(self, reason):
        with self.cond:
            if self.closed:
                return
            self.closed = reason
            self.busy = None
            self.cond.notify_all()
            self._publish_state()
        self._end_process()

    # -- the page's actions -----------------------------------------------------

    def act(self, action, body):
        with self.cond:
            self.last_activity = time.monotonic()
            self._check_live()
            handler = getattr(self, "_do_" + action)
            handler(body)
            self._publish_state()
            return self.snapshot()

    def _holding(self, work):
        """Runs work(): stop the engine first, start what follows after."""
        self.holding += 1
        try:
            self._quiesce()
            work()
        finally:
            # Also after a refusal: the stop may have let a move in.
            self.holding -= 1
            if not self.failed and not self.closed:
                self._after_change()

    def _check_move(self, x, y):
        """Refuses a move the game cannot take now. True when the move
        waits for Black's forbidden points under Renju, not listed yet."""
        if self.setup is not None:
            raise Refused("Finish the set-up first (Continue).")
        if self.result:
            raise Refused("The game is over: " + self.result["text"])
        if self.busy == "move":
            raise Refused("Orvel is thinking; wait for its move or press Move now.")
        if self.board[x][y] != EMPTY:
            raise Refused("%d,%d is taken." % (x, y))
        colour = self.to_move()
        if self.orvel_plays(colour):
            raise Refused("It is Orvel's move.")
        if self.rule == RENJU and colour == BLACK:
            if self.forbid_id != self.position_id:
                return True
            if [x, y] in self.forbid:
                raise Refused("Black may not play %d,%d under Renju: it makes %s, a forbidden point."
                              % (x, y, forbidden_reason(self.board, x, y)))
        return False

    def _do_move(self, body):
        x, y = whole(body, "x", 0, self.size - 1), whole(body, "y", 0, self.size - 1)
        # Each wait lets the lock go, and another request or Orvel's move
        # may change the game meanwhile: after it, every check again.
        while True:
            self._check_live()
            if self._check_move(x, y):
                if not self.forbid_requests:
                    self._send("ovshowforbid")
                    self.forbid_requests.append(self.position_id)
                position = self.position_id
                if not self.cond.wait_for(lambda: self.forbid_id == self.position_id or self.position_id != position
                                          or self.failed or self.closed, timeout=STOP_WAIT):
                    raise Refused("Orvel has not listed the forbidden points yet; try again.")
            elif self.busy is None:
                break
            else:  # an N-best analysis
                self.holding += 1
                try:
                    self._stop()
                finally:
                    self.holding -= 1
        colour = self.to_move()
        self._place(x, y)
        if not self.result and self.orvel_plays(self.to_move()):
            self._start_think(turn=(x, y))
            return
        self._send_body("ovboard", [[x, y, colour]], self.to_move())
        self._after_change()

    def _do_takeback(self, body):
        if self.setup is not None:
            raise Refused("Finish the set-up first (Continue).")

        def work():
            played = len(self.stones) - self.setup_count
            if played == 0:
                raise Refused("There is nothing to take back.")
            count = 1
            if self.settings["orvel"] in ("white", "black"):
                # Back to the player's own move: Orvel's reply and the move before it.
                if self.orvel_plays(self.stones[-1][2]):
                    count = 2
                if count > played:
                    raise Refused("There is no move of yours to take back.")
            elif self.settings["orvel"] == "both":
                self.settings["orvel"] = "none"  # else Orvel would play the move again at once
            for _ in range(count):
                x, y, _ = self.stones.pop()
                self.board[x][y] = EMPTY
                self.position_id += 1
                self._send("TAKEBACK %d,%d" % (x, y))
            self.result = None
            self.nbest = []

        self._holding(work)

    def _do_stop(self, body):
        if self.busy is not None:
            self._send("ovstop")

    def _do_settings(self, body):
        before = dict(self.settings)
        settings = read_settings({k: v for k, v in body.items() if k not in ("size", "rule", "match_ms")},
                                 self.settings)
        live = [key for key in ("turn_ms", "threads", "search_mode") if settings[key] != before[key]]
        self.settings = settings
        self._send_settings(live)
        if settings["orvel"] != before["orvel"] or settings["nbest"] != before["nbest"]:
            if not settings["nbest"]:
                self.nbest = []
            self._holding(lambda: None)

    def _do_setup(self, body):
        action = body.get("action")
        if action == "begin":
            def work():
                self.setup = [list(s) for s in self.stones]
                self.nbest, self.forbid, self.result = [], [], None
            self._holding(work)
        elif action == "stone":
            if self.setup is None:
                raise Refused("Press Set up first.")
            x, y = whole(body, "x", 0, self.size - 1), whole(body, "y", 0, self.size - 1)
            colour = whole(body, "colour", 0, 2)
            self.setup = [s for s in self.setup if (s[0], s[1]) != (x, y)]
            if colour:
                self.setup.append([x, y, colour])
        elif action == "done":
            if self.setup is None:
                raise Refused("Press Set up first.")
            order = interleave(self.setup)
            self._send("RESTART")
            if order:
                self._send_body("ovboard", order, BLACK if len(order) % 2 == 0 else WHITE)
            self.stones = [list(s) for s in order]
            self.setup_count = len(order)
            self.board = new_board(self.size, order)
            self.position_id += 1
            self.setup = None
            self.result = self._scan_result()
            self._after_change()
        else:
            raise Refused("action must be begin, stone or done", 400)

    # -- what the page sees -------------------------------------------------------

    def _publish(self, kind, payload):
        self.seq += 1
        self.events.append((self.seq, kind, json.dumps(payload)))
        self.cond.notify_all()

    def _publish_state(self):
        self._publish("state", self.snapshot())

    def snapshot(self):
        colour = self.to_move()
        show_forbid = (self.rule == RENJU and colour == BLACK and self.setup is None and not self.result
                       and self.forbid_id == self.position_id)
        # Copies: a reply is written after the lock is let go. The version
        # orders the states of a game, whether they come by event or reply.
        return {
            "id": self.id, "version": self.seq, "size": self.size, "rule": self.rule, "settings": dict(self.settings),
            "stones": [list(s) for s in (self.stones if self.setup is None else self.setup)],
            "setup_count": self.setup_count, "setup": self.setup is not None,
            "to_move": colour, "result": self.result, "busy": self.busy,
            "forbid": [list(c) for c in self.forbid] if show_forbid else [],
            "nbest": list(self.nbest) if self.nbest_id == self.position_id and self.setup is None else [],
            "think": dict(self.think) if self.think else None, "clock_left": self.clock_left,
            "failed": self.failed, "closed": self.closed,
        }

    def sgf(self):
        with self.cond:
            return write_sgf(self.size, self.rule, self.stones, self.setup_count, self.result, self.settings["orvel"])


# ---------------------------------------------------------------------------
# HTTP
# ---------------------------------------------------------------------------

GAME_ID = r"[A-Za-z0-9_-]{16}"
GAME_PATH = re.compile(r"/api/games/(%s)/([a-z]+)" % GAME_ID)
ACTIONS = ("move", "takeback", "stop", "settings", "setup", "close")


class BoardServer(ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, host, port, engine, max_engines=MAX_ENGINES, idle_seconds=IDLE_MINUTES * 60,
                 detach_grace=DETACH_GRACE, heartbeat=HEARTBEAT, request_timeout=REQUEST_TIMEOUT):
        if host in ("", "0.0.0.0", "::"):
            raise ValueError("name the address to serve on (the page must be opened at that name)")
        self.address_family = socket.AF_INET6 if ":" in host else socket.AF_INET
        super().__init__((host, port), Handler)
        self.engine = engine
        self.static_dir = os.path.realpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "static"))
        self.max_engines = max_engines
        self.idle_seconds = idle_seconds
        self.detach_grace = detach_grace
        self.heartbeat = heartbeat
        self.request_timeout = request_timeout
        self.games = {}
        self.games_lock = threading.Lock()
        self.port = self.server_address[1]
        name = "[%s]" % host if ":" in host else host
        self.url = "http://%s:%d/" % (name, self.port)
        names = {name}
        if host in ("127.0.0.1", "localhost", "::1"):
            names |= {"127.0.0.1", "localhost", "[::1]"}
        self.allowed_hosts = {"%s:%d" % (n, self.port) for n in names}
        self.allowed_origins = {"http://" + h for h in self.allowed_hosts}
        self.stopping = threading.Event()
        threading.Thread(target=self._reap, name="reaper", daemon=True).start()

    def new_game(self, settings, stones, setup_count, replace=None):
        with self.games_lock:
            # A failed game's engine has already ended, and the game being
            # replaced ends when this one starts; a refusal leaves it be.
            old = self.games.get(replace) if replace else None
            if sum(1 for g in self.games.values() if not g.failed and g is not old) >= self.max_engines:
                raise Refused("Orvel is already playing %d games on this server, the most it runs at once. "
                              "Close another board tab, or wait until an idle game ends." % self.max_engines, 503)
            try:
                game = Game(self, settings, stones, setup_count)
            except OSError as e:
                raise Refused("Cannot start the engine %s: %s" % (self.engine, e.strerror), 500)
            self.games[game.id] = game
            if old:
                del self.games[old.id]
        if old:
            old.close("replaced by a new game")
        return game

    def game(self, game_id):
        with self.games_lock:
            return self.games.get(game_id)

    def close_game(self, game_id, reason):
        with self.games_lock:
            game = self.games.pop(game_id, None)
        if game:
            game.close(reason)

    def _reap(self):
        tick = max(0.05, min(1.0, self.idle_seconds / 4, self.detach_grace / 4))
        while not self.stopping.wait(tick):
            now = time.monotonic()
            with self.games_lock:
                games = list(self.games.values())
            for game in games:
                try:
                    with game.cond:
                        # Never while Orvel thinks or analyses: its lines may be minutes apart.
                        idle = game.busy is None and now - game.last_activity > self.idle_seconds
                        gone = game.listeners == 0 and now - game.detached_since > self.detach_grace
                    if idle:
                        self.close_game(game.id, "nothing happened for %g minutes; its engine was stopped"
                                        % (self.idle_seconds / 60))
                    elif gone:
                        self.close_game(game.id, "the page was closed")
                except Exception:
                    traceback.print_exc()  # and on with the other games

    def shutdown_all(self):
        self.stopping.set()
        self.shutdown()
        with self.games_lock:
            ids = list(self.games)
        for game_id in ids:
            self.close_game(game_id, "the server stopped")
        self.server_close()


class Handler(BaseHTTPRequestHandler):
    server_version = "OrvelBoard"
    sys_version = ""

    def setup(self):
        # A client that holds back its request or body ends its connection.
        self.timeout = self.server.request_timeout
        super().setup()

    def log_message(self, fmt, *args):
        pass

    # -- replies ------------------------------------------------------------------

    def _reply(self, status, body, content_type, extra=None):
        data = body if isinstance(body, bytes) else body.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        for key, value in {**SECURITY_HEADERS, **(extra or {})}.items():
            self.send_header(key, value)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)

    def _json(self, status, obj):
        self._reply(status, json.dumps(obj), "application/json")

    def _error(self, status, message):
        self.close_connection = True
        self._json(status, {"error": message})

    # -- guards ---------------------------------------------------------------------

    def _allowed(self, changes_state):
        """Only requests for the name this server answers to (a page on
        another site reaching it through a DNS name of its own is turned
        away), and, for requests that change state, from its own pages."""
        host = self.headers.get("Host", "")
        if host not in self.server.allowed_hosts:
            self._error(403, "this server answers only to %s" % " or ".join(sorted(self.server.allowed_hosts)))
            return False
        site = self.headers.get("Sec-Fetch-Site")
        origin = self.headers.get("Origin")
        if changes_state or self.path.startswith("/api/"):
            if site not in (None, "same-origin", "none"):
                self._error(403, "cross-site requests are refused")
                return False
        if changes_state and origin not in self.server.allowed_origins:
            if origin is not None or site != "same-origin":
                self._error(403, "requests that change a game must come from this server's own page")
                return False
        return True

    def _read_json(self):
        length = self.headers.get("Content-Length")
        if length is None:
            self._error(411, "a body with Content-Length is needed")
            return None
        if not re.fullmatch(r"[0-9]{1,9}", length):
            self._error(400, "Content-Length must be a number of bytes")
            return None
        if int(length) > MAX_BODY:
            self._error(413, "the body is larger than %d bytes" % MAX_BODY)
            return None
        if self.headers.get_content_type() != "application/json":
            self._error(415, "the body must be application/json")
            return None
        try:
            data = self.rfile.read(int(length))
        except OSError:  # the client held back the rest of its body, or left
            self.close_connection = True
            return None
        try:
            body = json.loads(data.decode("utf-8"))
        except (UnicodeDecodeError, ValueError, RecursionError):
            self._error(400, "the body is not JSON")
            return None
        if not isinstance(body, dict):
            self._error(400, "the body must be a JSON object")
            return None
        return body

    # -- GET --------------------------------------------------------------------------

    def do_GET(self):
        if not self._allowed(False):
            return
        path = urllib.parse.urlsplit(self.path).path
        m = GAME_PATH.fullmatch(path)
        if m:
            game = self.server.game(m[1])
            if game is None:
                self._error(404, "no such game (it may have ended)")
            elif m[2] == "events":
                self._events(game)
            elif m[2] == "state":
                with game.cond:
                    self._json(200, game.snapshot())
            elif m[2] == "sgf":
                self._reply(200, game.sgf(), "application/x-go-sgf; charset=utf-8",
                            {"Content-Disposition": 'attachment; filename="orvel-game.sgf"'})
            else:
                self._error(404, "not found")
        elif path.startswith("/api/"):
            self._error(404, "not found")
        else:
            self._static(path)

    def _static(self, path):
        """The page's own files; nothing outside web/static."""
        root = self.server.static_dir
        name = urllib.parse.unquote(path).lstrip("/") or "index.html"
        try:
            full = os.path.realpath(os.path.join(root, name))
            inside = os.path.commonpath([root, full]) == root and os.path.isfile(full)
        except ValueError:  # a NUL byte, or another drive
            inside = False
        if not inside or "\\" in name:
            self._error(404, "not found")
            return
        with open(full, "rb") as f:
            data = f.read()
        self._reply(200, data, STATIC_TYPES.get(os.path.splitext(full)[1], "application/octet-stream"))

    def _events(self, game):
        self.send_response(200)
        self.send_header("Content-Type", "text/event-stream")
        for key, value in SECURITY_HEADERS.items():
            self.send_header(key, value)
        self.end_headers()
        self.close_connection = True
        with game.cond:
            game.listeners += 1
            sent = game.seq
            pending = [(sent, "state", json.dumps(game.snapshot()))]
        try:
            while True:
                for seq, kind, data in pending:
                    self.wfile.write(("id: %d\nevent: %s\ndata: %s\n\n" % (seq, kind, data)).encode("utf-8"))
                if not pending:
                    self.wfile.write(b": still here\n\n")
                self.wfile.flush()
                with game.cond:
                    if game.closed and game.seq == sent:
                        return
                    game.cond.wait_for(lambda: game.seq > sent or game.closed, timeout=self.server.heartbeat)
                    if game.events and game.events[0][0] > sent + 1:
                        # Fallen behind the backlog: start again from the state.
                        pending = [(game.seq, "state", json.dumps(game.snapshot()))]
                    else:
                        pending = [e for e in game.events if e[0] > sent]
                    sent = game.seq
        except OSError:
            pass  # the page has gone
        finally:
            with game.cond:
                game.listeners -= 1
                if game.listeners == 0:
                    game.detached_since = time.monotonic()

    # -- POST -------------------------------------------------------------------------

    def do_POST(self):
        if not self._allowed(True):
            return
        try:
            body = self._read_json()
            if body is None:
                return
            path = urllib.parse.urlsplit(self.path).path
            if path == "/api/games":
                self._create(body)
                return
            m = GAME_PATH.fullmatch(path)
            if not m or m[2] not in ACTIONS:
                self._error(404, "not found")
                return
            game = self.server.game(m[1])
            if game is None:
                self._error(404, "no such game (it may have ended)")
            elif m[2] == "close":
                self.server.close_game(game.id, "the page was closed")
                self._json(200, {"ok": True})
            else:
                self._json(200, {"state": game.act(m[2], body)})
        except Refused as e:
            self._error(e.status, str(e))
        except Exception:
            traceback.print_exc()
            self._error(500, "internal error; the server's output tells more")

    def _create(self, body):
        settings = read_settings({k: v for k, v in body.items() if k not in ("record", "replace")})
        stones, setup_count = [], 0
        record = body.get("record")
        if record is not None:
            if not isinstance(record, str):
                raise Refused("record must be text", 400)
            size, rule, stones, setup_count = load_record(record, settings["size"])
            settings["size"] = size
            if rule is not None:
                settings["rule"] = rule
        replace = body.get("replace")
        if replace is not None and not (isinstance(replace, str) and re.fullmatch(GAME_ID, replace)):
            raise Refused("replace must be a game id", 400)
        game = self.server.new_game(settings, stones, setup_count, replace)
        with game.cond:
            self._json(201, {"id": game.id, "state": game.snapshot()})

    def do_PUT(self):
        self._error(405, "method not allowed")

    do_DELETE = do_PATCH = do_OPTIONS = do_PUT


def main(argv=None):
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description="Orvel's board in the browser.")
    parser.add_argument("--host", default="127.0.0.1", help="address to serve on (default 127.0.0.1)")
    parser.add_argument("--port", type=int, default=8765, help="port (default 8765; 0 picks a free one)")
    parser.add_argument("--engine", default=os.path.join(root, "build", "pbrain-orvel"),
                        help="engine binary (default build/pbrain-orvel)")
    parser.add_argument("--idle-minutes", type=float, default=IDLE_MINUTES,
                        help="end a game's engine after this long with nothing happening, "
                             "never while it thinks (default %d)" % IDLE_MINUTES)
    parser.add_argument("--max-engines", type=int, default=MAX_ENGINES,
                        help="engine processes at once (default %d)" % MAX_ENGINES)
    args = parser.parse_args(argv)
    engine = os.path.abspath(args.engine)
    if not (os.path.isfile(engine) and os.access(engine, os.X_OK)):
        print("board: no engine at %s; build it first: cmake -S . -B build && "
              "cmake --build build -j2 --target pbrain-orvel" % engine, file=sys.stderr)
        return 2
    try:
        server = BoardServer(args.host, args.port, engine, max_engines=args.max_engines,
                             idle_seconds=args.idle_minutes * 60)
    except (OSError, ValueError) as e:
        print("board: cannot serve on %s:%d: %s" % (args.host, args.port, e), file=sys.stderr)
        return 2
    # Ctrl-C and SIGTERM both stop the board and its engines, also when the
    # shell that started it left SIGINT ignored (a background job does).
    def stop(signum, frame):
        raise KeyboardInterrupt
    signal.signal(signal.SIGINT, stop)
    signal.signal(signal.SIGTERM, stop)
    print("Orvel board: %s  (Ctrl-C stops it)" % server.url, flush=True)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        while thread.is_alive():
            thread.join(1)
    except KeyboardInterrupt:
        pass
    finally:
        server.shutdown_all()
    return 0


if __name__ == "__main__":
    sys.exit(main())
