"""The board server against the real engine: games relayed through it, the
engine processes it starts and ends, and the requests it must refuse.

The engine is $ORVEL_ENGINE, else build/pbrain-orvel.
"""
import http.client
import json
import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "web"))
import server  # noqa: E402

ENGINE = os.environ.get("ORVEL_ENGINE", os.path.join(ROOT, "build", "pbrain-orvel"))
RENJU_THREE_THREE = "7,6 0,0 7,7 0,14 5,8 14,0 6,8 14,14"  # Black to move; 7,8 makes two open threes


class Board:
    """A server on a free port and a client that speaks like its page."""

    def __init__(self, engine=ENGINE, **options):
        options.setdefault("detach_grace", 60)
        self.server = server.BoardServer("127.0.0.1", 0, engine, **options)
        self.host = "127.0.0.1:%d" % self.server.port
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown_all()

    def request(self, method, path, body=None, headers=None, raw=None):
        conn = http.client.HTTPConnection("127.0.0.1", self.server.port, timeout=20)
        sent = {"Host": self.host}
        if method == "POST":
            sent.update({"Origin": "http://" + self.host, "Content-Type": "application/json"})
        sent.update(headers or {})
        data = raw if raw is not None else (None if body is None else json.dumps(body).encode())
        conn.putrequest(method, path, skip_host=True, skip_accept_encoding=True)
        for key, value in sent.items():
            if value is not None:
                conn.putheader(key, value)
        if data is not None:
            conn.putheader("Content-Length", str(len(data)))
        conn.endheaders(data)
        response = conn.getresponse()
        text = response.read().decode()
        conn.close()
        try:
            return response.status, json.loads(text)
        except ValueError:
            return response.status, text

    def new(self, **settings):
        status, reply = self.request("POST", "/api/games", dict({"turn_ms": 200}, **settings))
        assert status == 201, reply
        return reply["id"]

    def act(self, game, verb, **body):
        return self.request("POST", "/api/games/%s/%s" % (game, verb), body)

    def state(self, game):
        return self.request("GET", "/api/games/%s/state" % game)[1]

    def wait(self, game, predicate, timeout=20):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            state = self.state(game)
            if isinstance(state, dict) and predicate(state):
                return state
            time.sleep(0.05)
        raise AssertionError("timed out; last state %r" % self.state(game))

    def raw(self, head, body=b""):
        """The status line answering a request written byte for byte; b"" if the server hung up."""
        with socket.create_connection(("127.0.0.1", self.server.port), timeout=10) as sock:
            sock.sendall(head.encode("latin-1") + b"\r\n\r\n" + body)
            return sock.makefile("rb").readline()

    def process(self, game):
        return self.server.game(game).proc

    def events(self, game):
        """The game's event stream as a file of lines, past its headers."""
        sock = socket.create_connection(("127.0.0.1", self.server.port), timeout=20)
        sock.sendall(("GET /api/games/%s/events HTTP/1.1\r\nHost: %s\r\n\r\n" % (game, self.host)).encode())
        stream = sock.makefile("rb")
        sock.close()  # the file keeps the connection open
        headers = []
        while headers[-1:] != [b"\r\n"]:
            headers.append(stream.readline())
        assert b"text/event-stream" in b"".join(headers), headers
        return stream


def idle(state):
    return state["busy"] is None


def wait_gone(proc, timeout=10):
    try:
        proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        raise AssertionError("engine process %d still running" % proc.pid)


class GameTests(unittest.TestCase):
    def setUp(self):
        self.board = Board()
        self.addCleanup(self.board.close)

    def test_game_relayed_move_by_move_with_take_back(self):
        b = self.board
        game = b.new(orvel="white", match_ms=60000)
        stream = b.events(game)
        for n in range(1, 4):
            taken = [s[:2] for s in b.state(game)["stones"]]
            x, y = next([x, y] for x in range(6, 9) for y in range(6, 9) if [x, y] not in taken)
            self.assertEqual(b.act(game, "move", x=x, y=y)[0], 200)
            state = b.wait(game, lambda s: len(s["stones"]) == 2 * n and idle(s))
            self.assertEqual([s[2] for s in state["stones"]], [1, 2] * n)
            self.assertEqual(state["stones"][-2][:2], [x, y])
            reply = state["stones"][-1][:2]
            self.assertEqual(state["think"]["move"], reply)
            self.assertIn("depth", state["think"])
            self.assertIn("speed", state["think"])
        self.assertLess(state["clock_left"], 60000)  # Orvel's thinks are on its clock
        # The event stream relayed the engine's line with Orvel's last move.
        seen, kind = [], None
        while ("line", "%d,%d" % tuple(reply)) not in seen:
            line = stream.readline().decode().rstrip("\n")
            if line.startswith("event: "):
                kind = line[7:]
            elif line.startswith("data: ") and kind == "line":
                seen.append((kind, json.loads(line[6:])["text"]))
        stream.close()

        # Take back Orvel's reply and the move before it, then play on
        # Orvel's old cell: an engine that kept the stone would refuse it.
        status, reply_state = b.act(game, "takeback")
        self.assertEqual(status, 200)
        self.assertEqual(len(reply_state["state"]["stones"]), 4)
        b.act(game, "move", x=reply[0], y=reply[1])
        state = b.wait(game, lambda s: len(s["stones"]) == 6 and idle(s))
        self.assertIsNone(state["failed"])

    def test_move_now_and_engine_against_itself(self):
        b = self.board
        game = b.new(orvel="white", turn_ms=60000)
        b.act(game, "move", x=7, y=7)
        b.wait(game, lambda s: s["busy"] == "move")
        time.sleep(0.3)
        started = time.monotonic()
        self.assertEqual(b.act(game, "stop")[0], 200)
        b.wait(game, lambda s: len(s["stones"]) == 2, timeout=5)
        self.assertLess(time.monotonic() - started, 5)
        # Both sides: Orvel keeps playing until taken back, which hands the game over.
        b.act(game, "settings", orvel="both", turn_ms=100)
        state = b.wait(game, lambda s: len(s["stones"]) >= 6)
        self.assertEqual([s[2] for s in state["stones"][:6]], [1, 2, 1, 2, 1, 2])
        status, reply = b.act(game, "takeback")
        self.assertEqual(reply["state"]["settings"]["orvel"], "none")
        count = len(reply["state"]["stones"])
        time.sleep(0.5)
        self.assertEqual(len(b.state(game)["stones"]), count)

    def test_two_moves_at_once_only_one_is_played(self):
        b = self.board
        game = b.new(orvel="none", nbest=2, turn_ms=3000)
        b.wait(game, lambda s: s["busy"] == "nbest")
        statuses = []
        with b.server.game(game).cond:  # both moves wait here, then for the analysis to stop
            clicks = [threading.Thread(target=lambda: statuses.append(b.act(game, "move", x=7, y=7)[0]))
                      for _ in range(2)]
            for click in clicks:
                click.start()
            time.sleep(0.5)
        for click in clicks:
            click.join()
        self.assertEqual(sorted(statuses), [200, 409])
        self.assertEqual(b.state(game)["stones"], [[7, 7, 1]])
        self.assertEqual(b.act(game, "move", x=8, y=8)[0], 200)
        state = b.wait(game, lambda s: s["busy"] == "nbest")
        self.assertEqual((state["stones"], state["failed"]), ([[7, 7, 1], [8, 8, 2]], None))

    def test_renju_forbidden_points_and_game_ends(self):
        b = self.board
        game = b.new(orvel="none", rule=2, record=RENJU_THREE_THREE)
        state = b.wait(game, lambda s: s["forbid"])
        self.assertEqual(state["forbid"], [[7, 8]])
        status, reply = b.act(game, "move", x=7, y=8)
        self.assertEqual(status, 409)
        self.assertIn("double three", reply["error"])
        self.assertEqual(b.act(game, "move", x=9, y=9)[0], 200)

        def finish(rule, record, x, y):
            g = b.new(orvel="none", rule=rule, record=record)
            reply = b.act(g, "move", x=x, y=y)
            b.act(g, "close")
            return reply

        # Black 7,2..7,4 and 7,6..7,7 with 7,5 empty: 7,5 makes six in a row.
        six = "7,2 0,0 7,3 0,2 7,4 0,4 7,6 0,6 7,7 0,8"
        self.assertIsNotNone(finish(0, six, 7, 5)[1]["state"]["result"])
        status, reply = finish(1, six, 7, 5)
        self.assertIsNone(reply["state"]["result"])  # standard: six is no five
        status, reply = finish(2, six, 7, 5)
        self.assertEqual(status, 409)
        self.assertIn("overline", reply["error"])
        white_six = "14,14 7,2 0,0 7,3 0,2 7,4 0,4 7,6 0,6 7,7 0,8"
        result = finish(2, white_six, 7, 5)[1]["state"]["result"]
        self.assertEqual(result["winner"], 2)
        self.assertEqual(len(result["line"]), 6)
        result = finish(1, "7,3 0,0 7,4 0,2 7,5 0,4 7,6 0,6", 7, 7)[1]["state"]["result"]
        self.assertEqual((result["winner"], result["line"][0], result["line"][-1]), (1, [7, 3], [7, 7]))
        status, reply = b.act(game, "move", x=1, y=1)
        self.assertEqual(status, 200)

    def test_set_up_then_continue_and_records(self):
        b = self.board
        game = b.new(orvel="none")
        b.act(game, "setup", action="begin")
        for x, y, colour in [(7, 7, 1), (7, 8, 1), (3, 3, 1), (9, 9, 2)]:
            self.assertEqual(b.act(game, "setup", action="stone", x=x, y=y, colour=colour)[0], 200)
        status, reply = b.act(game, "setup", action="done")
        self.assertEqual(status, 409)  # three Black stones and one White
        b.act(game, "setup", action="stone", x=3, y=3, colour=0)
        b.act(game, "settings", orvel="white")
        status, reply = b.act(game, "setup", action="done")
        self.assertEqual(status, 200)
        state = b.wait(game, lambda s: len(s["stones"]) == 4 and idle(s))
        self.assertEqual(state["setup_count"], 3)
        self.assertEqual(b.act(game, "takeback")[0], 409)  # set-up stones are not moves

        # The SGF keeps the set-up stones as set-up and the move as a move.
        sgf = b.request("GET", "/api/games/%s/sgf" % game)[1]
        self.assertIn("AB[hh][ih]", sgf)
        self.assertIn("AW[jj]", sgf)
        copy = b.new(orvel="none", record=sgf)
        self.assertEqual(b.state(copy)["stones"], state["stones"])
        self.assertEqual(b.state(copy)["setup_count"], 3)
        loaded = b.new(orvel="none", size=20, record="(;GM[4]SZ[15]RU[renju];B[hh];W[ih](;B[jj])(;B[aa]))")
        self.assertEqual((b.state(loaded)["size"], b.state(loaded)["rule"]), (15, 2))
        self.assertEqual(b.state(loaded)["stones"], [[7, 7, 1], [7, 8, 2], [9, 9, 1]])
        for bad in ["7,7 7,7", "7,7 15,3", "7,7; rm -rf", "(;SZ[17];B[aa])", "(;SZ[15];B[hh];B[ii])", ""]:
            status, reply = b.request("POST", "/api/games", {"record": bad})
            self.assertEqual(status, 400, bad)


class ProcessTests(unittest.TestCase):
    def test_idle_and_closed_pages_end_their_engines(self):
        board = Board(idle_seconds=1)
        self.addCleanup(board.close)
        game = board.new()
        proc = board.process(game)
        wait_gone(proc)
        self.assertEqual(board.request("GET", "/api/games/%s/state" % game)[0], 404)

        board = Board(detach_grace=0.3, heartbeat=0.1)
        self.addCleanup(board.close)
        game = board.new()
        proc = board.process(game)
        stream = board.events(game)
        time.sleep(1)
        self.assertIsNone(proc.poll())  # followed by a page: kept
        stream.close()
        wait_gone(proc)
        game = board.new()
        proc = board.process(game)
        board.act(game, "close")
        wait_gone(proc)

    def test_engine_limit(self):
        board = Board(max_engines=2)
        self.addCleanup(board.close)
        first, _ = board.new(), board.new()
        status, reply = board.request("POST", "/api/games", {})
        self.assertEqual(status, 503)
        self.assertIn("2 games", reply["error"])
        board.new(replace=first)  # a new game in place of an old one fits

    def test_engine_crash_and_error_reach_the_page(self):
        board = Board()
        self.addCleanup(board.close)
        game = board.new(orvel="white")
        os.kill(board.process(game).pid, signal.SIGKILL)
        state = board.wait(game, lambda s: s["failed"])
        self.assertIn("stopped unexpectedly", state["failed"])
        self.assertEqual(board.act(game, "move", x=7, y=7)[0], 409)
        board.new()

        fake = os.path.join(tempfile.mkdtemp(), "engine")
        with open(fake, "w") as f:
            f.write("#!%s\nimport sys\nfor line in sys.stdin:\n"
                    "    if line.startswith('TURN'): print('ERROR out of sorts', flush=True)\n"
                    "    if line.startswith('END'): break\n" % sys.executable)
        os.chmod(fake, 0o755)
        board = Board(engine=fake)
        self.addCleanup(board.close)
        game = board.new(orvel="white")
        board.act(game, "move", x=7, y=7)
        self.assertIn("ERROR out of sorts", board.wait(game, lambda s: s["failed"])["failed"])

    def test_board_script_prints_its_address(self):
        # Started as a shell starts a background job, with SIGINT ignored:
        # Ctrl-C (SIGINT) still stops it.
        proc = subprocess.Popen([os.path.join(ROOT, "scripts", "board.sh"), "--port", "0", "--engine", ENGINE],
                                stdout=subprocess.PIPE, text=True, env=dict(os.environ, PYTHON=sys.executable),
                                preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_IGN))
        self.addCleanup(proc.stdout.close)
        self.addCleanup(proc.kill)
        self.addCleanup(wait_gone, proc)
        self.addCleanup(proc.send_signal, signal.SIGINT)
        url = proc.stdout.readline().split()[2]
        self.assertRegex(url, r"^http://127\.0\.0\.1:\d+/$")
        conn = http.client.HTTPConnection(url[7:-1].split(":")[0], int(url[7:-1].split(":")[1]), timeout=5)
        conn.request("GET", "/")
        self.assertIn(b'src="board.js"', conn.getresponse().read())


class SafetyTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.board = Board(request_timeout=1)
        cls.game = cls.board.new(orvel="none")

    @classmethod
    def tearDownClass(cls):
        cls.board.close()

    def test_foreign_hosts_and_origins(self):
        b, new = self.board, "/api/games"
        self.assertEqual(b.request("GET", "/", headers={"Host": "evil.example:%d" % b.server.port})[0], 403)
        self.assertEqual(b.request("GET", "/", headers={"Host": "localhost:%d" % b.server.port})[0], 200)
        self.assertEqual(b.request("POST", new, {}, headers={"Origin": "http://evil.example"})[0], 403)
        self.assertEqual(b.request("POST", new, {}, headers={"Origin": "null"})[0], 403)
        self.assertEqual(b.request("POST", new, {}, headers={"Origin": None})[0], 403)
        self.assertEqual(b.request("POST", new, {}, headers={"Origin": None, "Sec-Fetch-Site": "cross-site"})[0], 403)
        self.assertEqual(b.request("GET", "/api/games/%s/state" % self.game,
                                   headers={"Sec-Fetch-Site": "cross-site"})[0], 403)

    def test_only_the_page_files_are_served(self):
        b = self.board
        for path in ["/", "/board.js", "/board.css", "/index.html?x=1"]:
            self.assertEqual(b.request("GET", path)[0], 200, path)
        for path in ["/../server.py", "/%2e%2e/server.py", "/..%2fserver.py", "/static/../server.py",
                     "/%2e%2e%2f%2e%2e%2fREADME.md", "//etc/passwd", "/%00", "/..\\server.py", "/nothing.js"]:
            status, text = b.request("GET", path)
            self.assertEqual(status, 404, path)
            self.assertNotIn("BaseHTTPRequestHandler", str(text))

    def test_bad_bodies_and_moves_never_reach_the_engine(self):
        b, path = self.board, "/api/games/%s/move" % self.game
        self.assertEqual(b.request("POST", path, raw=b"x" * (server.MAX_BODY + 1))[0], 413)
        self.assertEqual(b.request("POST", path, raw=b"{}", headers={"Content-Type": "text/plain"})[0], 415)
        self.assertEqual(b.request("POST", path, raw=b"{not json")[0], 400)
        self.assertEqual(b.request("POST", path, raw=b"[" * 60000)[0], 400)
        head = "POST %s HTTP/1.1\r\nHost: %s\r\nOrigin: http://%s\r\nContent-Type: application/json\r\n" % (
            path, b.host, b.host)
        for length in ["\xb2", "9" * 5000]:
            self.assertIn(b" 400 ", b.raw(head + "Content-Length: " + length), length[:9])
        self.assertEqual(b.raw(head + "Content-Length: 10", b"{}"), b"")  # the rest never comes: hung up
        self.assertEqual(b.request("POST", path, [7, 7])[0], 400)
        for move in [{"x": "7\nEND", "y": 7}, {"x": 7.0, "y": 7}, {"x": True, "y": 7}, {"x": 15, "y": 0},
                     {"x": -1, "y": 0}, {"x": 7}, {"x": 2 ** 80, "y": 1}]:
            self.assertEqual(b.request("POST", path, move)[0], 400, move)
        for settings in [{"threads": 0}, {"turn_ms": "1000; END"}, {"orvel": "everyone"}, {"nbest": 11}]:
            self.assertEqual(b.act(self.game, "settings", **settings)[0], 400, settings)
        self.assertEqual(b.request("POST", "/api/games", {"size": 17})[0], 400)
        self.assertEqual(b.request("POST", "/api/games", {"replace": "../../x"})[0], 400)
        self.assertEqual(b.request("POST", "/api/games/%s/move" % ("A" * 16), {"x": 1, "y": 1})[0], 404)
        self.assertEqual(b.request("DELETE", "/api/games")[0], 405)
        state = b.state(self.game)
        self.assertEqual((state["stones"], state["failed"]), ([], None))
        self.assertIsNone(b.process(self.game).poll())
        self.assertEqual(b.act(self.game, "move", x=7, y=7)[0], 200)


if __name__ == "__main__":
    unittest.main()
