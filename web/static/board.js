// Orvel's board: draws the game the server keeps, sends the player's
// actions to it, and follows the game on its event stream. Cells are named
// as the protocol names them: x counts rows down, y columns across.
"use strict";

(() => {
  const $ = (id) => document.getElementById(id);
  const SVG = "http://www.w3.org/2000/svg";
  const CELL = 32;
  const MARGIN = 34;
  const BLACK = 1;
  const WHITE = 2;
  const NAMES = { 1: "Black", 2: "White" };
  const LOG_LINES = 300;

  let game = null;     // the last state the server sent
  let gameId = null;
  let think = null;    // the last search report
  let source = null;
  let layers = null;   // the board's SVG groups, built once per size
  let moving = false;  // a move sent and not yet answered; clicks meanwhile are ignored
  const log = [];

  // -- server ----------------------------------------------------------------

  async function post(path, body) {
    const response = await fetch(path, {
      method: "POST",
      headers: { "Content-Type": "application/json" },
      body: JSON.stringify(body),
    });
    let data = {};
    try {
      data = await response.json();
    } catch (e) {
      // an empty or non-JSON body: the status says enough
    }
    if (!response.ok) throw new Error(data.error || `The server answered ${response.status}.`);
    return data;
  }

  async function act(action, body) {
    const id = gameId;
    if (!id) return;
    try {
      const data = await post(`/api/games/${id}/${action}`, body || {});
      if (data.state) show(data.state);
      say("");
    } catch (e) {
      if (id === gameId) say(e.message, "refused");  // else a new game has taken its place
    }
  }

  function say(text, kind) {
    $("message").textContent = text;
    $("message").className = kind || "";
  }

  function number(id, name, low, high, scale) {
    const value = parseFloat($(id).value);
    if (!Number.isFinite(value) || value < low || value > high) throw new Error(`${name}: from ${low} to ${high}.`);
    return Math.round(value * scale);
  }

  function liveSettings() {
    return {
      orvel: $("orvel").value,
      turn_ms: number("turn", "Time per move", 0.1, 3600, 1000),
      threads: number("threads", "Threads", 1, 64, 1),
      search_mode: +$("search-mode").value,
      nbest: $("nbest-on").checked ? number("nbest-n", "Best moves", 1, 10, 1) : 0,
    };
  }

  async function newGame(record) {
    try {
      const body = Object.assign(liveSettings(), {
        size: +$("size").value,
        rule: +$("rule").value,
        match_ms: number("match", "Match clock", 0, 600, 60000),
      });
      if (gameId) body.replace = gameId;
      if (record !== undefined) body.record = record;
      const data = await post("/api/games", body);
      follow(data.id, data.state);
      say("");
    } catch (e) {
      say(e.message, "error");
    }
  }

  function follow(id, state) {
    if (source) source.close();
    gameId = id;
    think = state.think;
    log.length = 0;
    show(state);
    source = new EventSource(`/api/games/${id}/events`);
    source.addEventListener("state", (e) => show(JSON.parse(e.data)));
    source.addEventListener("think", (e) => {
      think = JSON.parse(e.data);
      drawThink();
      drawMarks();
    });
    source.addEventListener("line", (e) => addLog(JSON.parse(e.data).text));
    source.onerror = () => {
      if (game && game.closed) {
        source.close();
      } else if (source.readyState === EventSource.CLOSED) {
        say("Lost the connection to the board server. Is it still running?", "error");
      }
    };
  }

  // -- state -------------------------------------------------------------------

  function show(state) {
    // A reply can arrive after the events that followed it, and one for a
    // game already replaced after the new game's.
    if (state.id !== gameId || (game && game.id === state.id && state.version < game.version)) return;
    const resized = !game || game.size !== state.size;
    const fresh = !game || game.id !== state.id;
    game = state;
    if (state.think) think = state.think;
    syncControls(state.settings, fresh);
    if (resized || !layers) buildBoard(state.size);
    drawStones();
    drawMarks();
    drawThink();
    drawStatus();
  }

  function syncControls(s, fresh) {
    // The server's settings win, except in a field the player is editing;
    // board and rule, chosen for the next game, only when a game starts.
    const set = (id, value) => {
      if (document.activeElement !== $(id)) $(id).value = String(value);
    };
    if (fresh) {
      $("size").value = String(s.size);
      $("rule").value = String(s.rule);
    }
    set("orvel", s.orvel);
    set("turn", s.turn_ms / 1000);
    set("threads", s.threads);
    set("search-mode", s.search_mode);
    if (document.activeElement !== $("nbest-on")) $("nbest-on").checked = s.nbest > 0;
    if (s.nbest > 0) set("nbest-n", s.nbest);
  }

  function playedCount() {
    return game.stones.length - (game.setup ? game.stones.length : game.setup_count);
  }

  function drawStatus() {
    const g = game;
    const over = g.closed || g.failed;
    $("result").hidden = !g.result;
    $("result").textContent = g.result ? g.result.text : "";
    let status;
    if (g.closed) status = `This game has ended: ${g.closed}.`;
    else if (g.failed) status = g.failed;
    else if (g.setup) status = "Set-up: a click places the chosen colour or removes a stone; Continue plays on.";
    else if (g.result) status = "Game over. Take back, set up, or start a new game.";
    else if (g.busy === "move") status = `Orvel (${NAMES[g.to_move]}) is thinking…`;
    else {
      const orvelMoves = g.settings.orvel === "both" || g.settings.orvel === NAMES[g.to_move].toLowerCase();
      status = `${NAMES[g.to_move]} to move${orvelMoves ? "" : ": your move"}.`;
      if (g.forbid.length) status += " Crosses mark Black's forbidden points.";
      if (g.busy === "nbest") status += " Orvel is analysing…";
    }
    $("status").textContent = status;
    $("resume").hidden = !g.closed || g.stones.length === 0;
    $("takeback").disabled = over || g.setup || playedCount() === 0;
    $("move-now").disabled = over || g.busy !== "move";
    $("setup").disabled = over;
    $("setup").hidden = g.setup;
    $("setup-tools").hidden = !g.setup;
    $("save-sgf").href = over ? "#" : `/api/games/${gameId}/sgf`;
    $("clock").textContent = g.clock_left === null ? "" : `Orvel's clock: ${clock(g.clock_left)}`;
  }

  function clock(ms) {
    const s = Math.floor(ms / 1000);
    return `${Math.floor(s / 60)}:${String(s % 60).padStart(2, "0")}`;
  }

  function value(v) {
    if (v === undefined || v === null) return "–";
    if (v >= 10000) return "win";
    if (v <= -10000) return "loss";
    return v > 0 ? `+${v}` : String(v);
  }

  const cellName = (c) => (c ? `${c[0]},${c[1]}` : "–");

  function drawThink() {
    const t = think;
    const set = (id, text) => {
      $(id).textContent = text;
    };
    if (!t) {
      ["t-value", "t-depth", "t-nodes", "t-speed", "t-time", "t-current"].forEach((id) => set(id, "–"));
      set("t-line", "");
      set("think-title", "Orvel's search");
      return;
    }
    set("think-title", t.done ? `Orvel (${NAMES[t.side]}) played ${cellName(t.move)}`
      : `Orvel (${NAMES[t.side]}) is thinking`);
    set("t-value", value(t.value));
    set("t-depth", t.depth === undefined ? "–" : `${t.depth}-${t.seldepth}`);
    // The reports count nodes in whole millions; speed times time is finer.
    const nodes = t.speed !== undefined && t.time_ms !== undefined ? t.speed * t.time_ms : null;
    let nodeText = "–";
    if (nodes !== null && nodes > 0) nodeText = `${(nodes / 1e6).toFixed(2)} M`;
    else if (t.nodes_m !== undefined) nodeText = t.nodes_m > 0 ? `${t.nodes_m} M` : "under 1 M";
    set("t-nodes", nodeText);
    set("t-speed", t.speed === undefined ? "–" : `${t.speed} k nodes/s`);
    set("t-time", t.done ? `${(t.elapsed_ms / 1000).toFixed(2)} s`
      : t.time_ms === undefined ? "–" : `${(t.time_ms / 1000).toFixed(2)} s`);
    set("t-current", t.done ? "–" : cellName(t.current));
    set("t-line", t.line && t.line.length ? `Best line: ${t.line.map(cellName).join("  ")}` : "");
  }

  function addLog(text) {
    log.push(text);
    if (log.length > LOG_LINES) log.splice(0, log.length - LOG_LINES);
    if ($("log").closest("details").open) $("log").textContent = log.join("\n");
  }

  // -- drawing -------------------------------------------------------------------

  function el(name, attrs, parent) {
    const node = document.createElementNS(SVG, name);
    for (const [key, val] of Object.entries(attrs)) node.setAttribute(key, val);
    if (parent) parent.appendChild(node);
    return node;
  }

  const at = (i) => MARGIN + i * CELL;

  function buildBoard(n) {
    const svg = $("board");
    svg.textContent = "";
    const span = 2 * MARGIN + (n - 1) * CELL;
    svg.setAttribute("viewBox", `0 0 ${span} ${span}`);
    const defs = el("defs", {}, svg);
    for (const [id, inner, outer] of [["black-stone", "#666", "#0b0b0b"], ["white-stone", "#ffffff", "#d9d4c7"]]) {
      const grad = el("radialGradient", { id, cx: "35%", cy: "35%", r: "70%" }, defs);
      el("stop", { offset: "0%", "stop-color": inner }, grad);
      el("stop", { offset: "100%", "stop-color": outer }, grad);
    }
    const grid = el("g", {}, svg);
    for (let i = 0; i < n; i++) {
      el("line", { class: "grid", x1: at(0), y1: at(i), x2: at(n - 1), y2: at(i) }, grid);
      el("line", { class: "grid", x1: at(i), y1: at(0), x2: at(i), y2: at(n - 1) }, grid);
      // Protocol numbers: y along the top, x down the left side.
      el("text", { class: "label", x: at(i), y: MARGIN / 2 - 2 }, grid).textContent = i;
      el("text", { class: "label", x: MARGIN / 2 - 2, y: at(i) }, grid).textContent = i;
    }
    const stars = n % 2 ? [3, (n - 1) / 2, n - 4] : [3, n - 4];
    for (const a of stars) {
      for (const b of stars) el("circle", { class: "star", cx: at(a), cy: at(b), r: 3 }, grid);
    }
    // Hit cells lie under the stones, so hovering lights only empty cells;
    // hints and marks let clicks through.
    layers = {
      hits: el("g", {}, svg),
      hints: el("g", { class: "passive" }, svg),
      stones: el("g", {}, svg),
      marks: el("g", { class: "passive" }, svg),
    };
    for (let x = 0; x < n; x++) {
      for (let y = 0; y < n; y++) {
        el("rect", {
          class: "hit", x: at(y) - CELL / 2, y: at(x) - CELL / 2, width: CELL, height: CELL,
          "data-x": x, "data-y": y,
        }, layers.hits);
      }
    }
  }

  function drawStones() {
    const g = layers.stones;
    g.textContent = "";
    const numbers = $("numbers").checked;
    game.stones.forEach(([x, y, colour], i) => {
      const kind = colour === BLACK ? "black" : "white";
      el("circle", { class: `stone ${kind}`, cx: at(y), cy: at(x), r: CELL * 0.45, "data-x": x, "data-y": y }, g);
      if (numbers && !game.setup) {
        const last = i === game.stones.length - 1 ? " last-num" : "";
        el("text", { class: `num on-${kind}${last}`, x: at(y), y: at(x) }, g).textContent = i + 1;
      }
    });
  }

  function occupied(x, y) {
    return game.stones.some((s) => s[0] === x && s[1] === y);
  }

  // Everything that changes while Orvel thinks: the best line, the cell it
  // searches, the N best, forbidden points, the last move and the five.
  function drawMarks() {
    if (!game || !layers) return;
    const hints = layers.hints;
    const marks = layers.marks;
    hints.textContent = "";
    marks.textContent = "";
    const last = game.stones[game.stones.length - 1];
    const t = think;
    const fresh = t && (game.busy === "move" || (t.done && last && t.move && last[0] === t.move[0] && last[1] === t.move[1]));
    if (fresh && t.line && !game.setup) {
      t.line.forEach(([x, y], i) => {
        if (occupied(x, y)) return;
        const colour = (t.side + i) % 2 === 1 ? "black" : "white";
        el("circle", { class: `pv ${colour}`, cx: at(y), cy: at(x), r: CELL * 0.4 }, hints);
        el("text", { class: "pv-num", x: at(y), y: at(x) }, hints).textContent = i + 1;
      });
    }
    game.nbest.forEach((row, i) => {
      const [x, y] = row.cell;
      const box = el("g", { class: i === 0 ? "nbest first" : "nbest", "data-x": x, "data-y": y }, hints);
      el("rect", { x: at(y) - 14, y: at(x) - 11, width: 28, height: 22, rx: 5 }, box);
      el("text", { x: at(y), y: at(x) - 5 }, box).textContent = `#${i + 1}`;
      el("text", { x: at(y), y: at(x) + 5 }, box).textContent = value(row.value);
    });
    if (last && !game.setup && !$("numbers").checked) el("circle", { class: "last", cx: at(last[1]), cy: at(last[0]), r: 4 }, marks);
    if (game.result && game.result.line.length) {
      const a = game.result.line[0];
      const b = game.result.line[game.result.line.length - 1];
      el("line", { class: "win-line", x1: at(a[1]), y1: at(a[0]), x2: at(b[1]), y2: at(b[0]) }, marks);
    }
    for (const [x, y] of game.forbid) {
      const cross = el("g", { class: "forbid", "data-x": x, "data-y": y }, marks);
      const d = CELL * 0.22;
      el("line", { x1: at(y) - d, y1: at(x) - d, x2: at(y) + d, y2: at(x) + d }, cross);
      el("line", { x1: at(y) - d, y1: at(x) + d, x2: at(y) + d, y2: at(x) - d }, cross);
    }
    if (t && !t.done && game.busy === "move" && t.current) {
      el("circle", { class: "searching", cx: at(t.current[1]), cy: at(t.current[0]), r: CELL * 0.42 }, marks);
    }
  }

  // -- the player's actions --------------------------------------------------------

  function onCell(x, y) {
    if (!game || game.closed) return;
    if (game.setup) {
      const colour = occupied(x, y) ? 0 : +document.querySelector('input[name="setup-colour"]:checked').value;
      act("setup", { action: "stone", x, y, colour });
    } else if (!moving) {
      moving = true;
      act("move", { x, y }).finally(() => {
        moving = false;
      });
    }
  }

  function record(text) {
    if (text.trim()) newGame(text);
    else say("Paste a record first.", "refused");
  }

  function wire() {
    $("board").addEventListener("click", (e) => {
      const d = e.target.dataset;
      if (d.x !== undefined) onCell(+d.x, +d.y);
    });
    $("board").addEventListener("mouseover", (e) => {
      const d = e.target.dataset;
      $("cell-under").textContent = d.x !== undefined ? `cell ${d.x},${d.y}` : "";
    });
    $("new-game").addEventListener("click", () => newGame());
    $("takeback").addEventListener("click", () => act("takeback"));
    $("move-now").addEventListener("click", () => act("stop"));
    $("setup").addEventListener("click", () => act("setup", { action: "begin" }));
    $("setup-done").addEventListener("click", () => act("setup", { action: "done" }));
    $("resume").addEventListener("click", () => record(game.stones.map((s) => `${s[0]},${s[1]}`).join(" ")));
    for (const id of ["orvel", "turn", "threads", "search-mode", "nbest-on", "nbest-n"]) {
      $(id).addEventListener("change", () => {
        try {
          act("settings", liveSettings());
        } catch (e) {
          say(e.message, "error");
        }
      });
    }
    $("numbers").addEventListener("change", () => {
      if (!game) return;
      drawStones();
      drawMarks();
    });
    $("load-record").addEventListener("click", () => record($("record").value));
    $("load-file").addEventListener("change", () => {
      const file = $("load-file").files[0];
      if (!file) return;
      file.text().then(record);
      $("load-file").value = "";
    });
    $("log").closest("details").addEventListener("toggle", () => {
      $("log").textContent = log.join("\n");
    });
    // A closed page ends its engine at once rather than after the grace time.
    window.addEventListener("pagehide", () => {
      if (!gameId) return;
      fetch(`/api/games/${gameId}/close`, {
        method: "POST", keepalive: true, headers: { "Content-Type": "application/json" }, body: "{}",
      }).catch(() => {});
    });
  }

  wire();
  newGame();
})();
