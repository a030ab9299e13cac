// The command loop and the dispatch table.
//
//   order  keyword        stops a think  reply
//   1      info           no             none
//   2      start          yes            greeting and OK, or size error
//   3      rectstart      yes            as START; parameter error when < 2 numbers
//   4      restart        yes            greeting and OK
//   5      turn           yes            coordinate error; else a think starts
//   6      play           yes            coordinate error, or "x,y"
//   7      begin          yes            a think starts
//   8      about          no             the about line
//   9      end            yes            none; the process exits
//   10     board          yes            body error line; a think starts
//   11     ovboard        yes            body error line
//   12     ovstop         yes            none (the think still plays its move)
//   13     ovblockreset   no             none
//   14     ovblock        no             none
//   15     takeback       yes            OK or coordinate error
//   16     ovshowforbid   yes            the FORBID line under Renju
//   17     ovhashclear    yes            none
//   18-20  ovbalancetwo, ovbalanceone, ovnbest: a think in an analysis mode
//   21     swap2board     yes            one ERROR line; else the swap2 think answers
//   22     anything else  no             UNKNOWN command
//
// Keywords are case-insensitive prefixes with no word boundary, so the order
// matters ("ovblockreset" before "ovblock"). Numbers are read by a small
// scanner that follows the "%d" conversions of the protocol's formats but
// saturates instead of overflowing.
#include "protocol/dispatcher.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "protocol/engine.h"

namespace orvel {

namespace {

constexpr char ABOUT_FORMAT[] =
    "name=\"Orvel\", author=\"Orvel developers\", version=\"%s\", country=\"International\", www=\"none\"";

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

const char* skip_blanks(const char* s) {
  while (is_blank(*s)) ++s;
  return s;
}

// One decimal integer as "%d" reads it: white space, an optional sign, at
// least one digit. Values beyond 32 bits saturate. Returns nullptr when no
// number is there.
const char* scan_int(const char* s, int32_t* value) {
  s = skip_blanks(s);
  bool negative = false;
  if (*s == '+' || *s == '-') {
    negative = *s == '-';
    ++s;
  }
  if (!is_digit(*s)) return nullptr;
  int64_t magnitude = 0;
  for (; is_digit(*s); ++s) {
    if (magnitude <= static_cast<int64_t>(INT32_MAX) + 1) magnitude = magnitude * 10 + (*s - '0');
  }
  const int64_t limit = negative ? static_cast<int64_t>(INT32_MAX) + 1 : INT32_MAX;
  if (magnitude > limit) magnitude = limit;
  *value = static_cast<int32_t>(negative ? -magnitude : magnitude);
  return s;
}

// Reads text against a format made of "%d", blanks and literal characters,
// as sscanf does: a blank in the format matches any white space (or none), a
// literal must match exactly, and reading stops at the first mismatch.
// Returns the number of values stored.
int scan_format(const char* text, const char* fmt, int32_t* values) {
  int count = 0;
  const char* s = text;
  for (const char* f = fmt; *f != '\0'; ++f) {
    if (f[0] == '%' && f[1] == 'd') {
      const char* next = scan_int(s, &values[count]);
      if (next == nullptr) break;
      ++count;
      s = next;
      ++f;
    } else if (is_blank(*f)) {
      s = skip_blanks(s);
    } else if (*s == *f) {
      ++s;
    } else {
      break;
    }
  }
  return count;
}

// atoi as the INFO values are read: no digits give 0, saturating.
int32_t read_value(const char* s) {
  int32_t value = 0;
  return scan_int(s, &value) != nullptr ? value : 0;
}

void handle_info(Engine& engine, const char* text) {
  Settings& s = engine.game.settings;
  struct Key {
    const char* name;
    std::atomic<int32_t>* target;
  };
  const Key keys[] = {
      {"max_memory", &s.max_memory},   {"timeout_match", &s.timeout_match}, {"timeout_turn", &s.timeout_turn},
      {"time_left", &s.time_left},     {"game_type", &s.game_type},         {"max_depth", &s.max_depth},
      {"max_node", &s.max_node},       {"caution_factor", &s.caution_factor}, {"hash_size", &s.hash_size},
      {"show_detail", &s.show_detail}, {"rule", &s.rule},               {"thread_num", &s.thread_num},
      {"search_mode", &s.search_mode},
  };
  for (const Key& key : keys) {
    const char* value = match_keyword(key.name, text);
    if (value == nullptr) continue;
    int32_t v = read_value(value);
    if (key.target == &s.hash_size && v <= 0) v = 1;
    if (key.target == &s.thread_num) v = std::clamp<int32_t>(v, 1, MAX_SEARCH_THREADS);
    key.target->store(v, std::memory_order_relaxed);
    if (key.target == &s.thread_num || key.target == &s.max_memory) engine.thread_count_changed();
    return;
  }
  if (const char* value = match_keyword("folder", text)) {
    std::strncpy(s.folder, value, sizeof s.folder - 1);
    s.folder[sizeof s.folder - 1] = '\0';
  }
}

// Body of BOARD and ovboard: "x,y,who" lines up to DONE. Each line is
// judged as it arrives; the stones are recorded when the body ends. Returns
// false at end of input (when the reader does not exit by itself).
bool read_board_body(Engine& engine, LineReader& reader) {
  bool at_end = false;
  for (;;) {
    if (!reader.read_line()) {
      at_end = true;
      break;
    }
    int32_t v[3];
    const char* line = reader.buffer();
    if (scan_format(line, "%d,%d,%d", v) < 3 || !engine.game.record.on_board(v[0], v[1]) || v[2] < 1 || v[2] > 3) break;
    engine.body_stone(v[0], v[1], v[2]);
  }
  engine.end_body();
  if (at_end) return false;
  if (!is_done_line(reader.buffer())) send_line(engine.out, "ERROR x,y,who or DONE expected after BOARD");
  return true;
}

// Body of ovblock: "x,y" lines up to DONE; lines that are not two numbers
// on the board are skipped.
bool read_block_body(Engine& engine, LineReader& reader) {
  for (;;) {
    if (!reader.read_line()) return false;
    if (is_done_line(reader.buffer())) return true;
    int32_t v[2];
    if (scan_format(reader.buffer(), "%d,%d", v) == 2) engine.block_cell(v[0], v[1]);
  }
}

// "%d,%d" on the board, else the coordinate error.
bool parse_cell(Engine& engine, const char* arg, int32_t* x, int32_t* y) {
  int32_t v[2];
  if (scan_format(arg, "%d,%d", v) < 2 || !engine.game.record.on_board(v[0], v[1])) {
    send_line(engine.out, "ERROR bad coordinates");
    return false;
  }
  *x = v[0];
  *y = v[1];
  return true;
}

// SWAP2BOARD: "x,y" lines in play order up to DONE. The body is read to its
// DONE even after a fault, so none of its lines reaches the dispatcher as a
// command, and the first fault is the one answered, on one ERROR line with
// no think. A valid body goes to the swap2 think; its stones are never
// recorded. Swap2 opens a game, so a game already under way is refused.
// Returns false at end of input.
bool read_swap2_body(Engine& engine, LineReader& reader) {
  Swap2Stones stones;
  int count = 0;
  std::string fault;
  for (;;) {
    if (!reader.read_line()) return false;
    if (is_done_line(reader.buffer())) break;
    ++count;
    if (!fault.empty()) continue;
    int32_t v[2];
    if (scan_format(reader.buffer(), "%d,%d", v) < 2) {
      fault = "x,y or DONE expected after SWAP2BOARD";
      continue;
    }
    const int x = v[0], y = v[1];
    // Free in the game as it stands: on a built position the board knows
    // (recorded and block stones), on a stale one only the record does.
    bool taken = engine.game.record.on_board(x, y) && !engine.game.cell_free(x, y);
    for (int i = 0; i < stones.count; ++i) taken = taken || (stones.x[i] == x && stones.y[i] == y);
    if (!engine.game.record.on_board(x, y))
      fault = format("swap2 stone off the board [%d,%d]", x, y);
    else if (taken)
      fault = format("swap2 stone on a taken cell [%d,%d]", x, y);
    else if (stones.count < Swap2Stones::MAX) {
      stones.x[stones.count] = x;
      stones.y[stones.count] = y;
      ++stones.count;
    }
  }
  if (fault.empty() && count != 0 && count != 3 && count != 5)
    fault = format("swap2 takes 0, 3 or 5 stones, not %d", count);
  if (fault.empty() && engine.game.record.move_count != 0) fault = "swap2 needs a new game";
  if (!fault.empty()) {
    send_line(engine.out, "ERROR %s", fault.c_str());
    return true;
  }
  engine.swap2 = stones;
  engine.think_mode.store(THINK_SWAP2);
  engine.start_thinking();
  return true;
}

void start_analysis(Engine& engine, ThinkMode mode, const char* arg, int32_t fallback) {
  engine.ensure_board();
  int32_t value = fallback;
  scan_format(arg, "%d", &value);
  if (mode == THINK_NBEST)
    engine.nbest_count = value;
  else
    engine.balance_offset = value;
  engine.think_mode.store(mode);
  engine.start_thinking();
}

[[noreturn]] void exit_process() {
  // Every line was flushed when written; the worker may still be thinking
  // and is not waited for, so skip the destructors it could still be using.
  std::fflush(stdout);
  std::_Exit(0);
}

}  // namespace

int LineReader::next_byte() {
  if (in_ != nullptr) return std::fgetc(in_);
  return next_ < end_ ? static_cast<unsigned char>(*next_++) : EOF;
}

bool LineReader::read_line() {
  int stored = 0;
  for (;;) {
    const int c = next_byte();
    if (c == EOF) {
      if (exit_at_eof_) exit_process();
      line_buffer_[0] = '\0';
      return false;
    }
    if (stored < LINE_BUFFER_SIZE) line_buffer_[stored++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  // The last stored character (the line feed, or the 8192nd character of an
  // overlong line) becomes the terminator; a carriage return before it goes.
  line_buffer_[stored - 1] = '\0';
  if (stored >= 2 && line_buffer_[stored - 2] == '\r') line_buffer_[stored - 2] = '\0';
  return true;
}

const char* match_keyword(const char* keyword, const char* text) {
  size_t i = 0;
  for (; keyword[i] != '\0'; ++i) {
    if (text[i] == '\0' || upper(text[i]) != upper(keyword[i])) return nullptr;
  }
  return skip_blanks(text + i);
}

bool is_done_line(const char* text) {
  static const char DONE[] = "DONE";
  size_t i = 0;
  for (; DONE[i] != '\0'; ++i) {
    if (upper(text[i]) != DONE[i]) return false;
  }
  return text[i] == '\0';
}

bool dispatch_command(Engine& engine, LineReader& reader) {
  const char* line = reader.buffer();
  const char* arg;
  int32_t x, y;

  if ((arg = match_keyword("info", line))) {
    handle_info(engine, arg);
  } else if ((arg = match_keyword("start", line))) {
    int32_t v[2];
    const int n = scan_format(arg, "%d %d", v);
    int width = engine.game.record.board_width, height = engine.game.record.board_height;
    if (n >= 1) width = height = v[0];
    if (n >= 2) height = v[1];
    engine.board_reset(width, height);
  } else if ((arg = match_keyword("rectstart", line))) {
    int32_t v[2];
    if (scan_format(arg, "%d ,%d", v) < 2)
      send_line(engine.out, "ERROR bad RECTSTART parameters");
    else
      engine.board_reset(v[0], v[1]);
  } else if ((arg = match_keyword("restart", line))) {
    engine.ensure_board();
    engine.restart();
  } else if ((arg = match_keyword("turn", line))) {
    engine.ensure_board();
    // A refused stone leaves the parity on the opponent's side: no think.
    if (parse_cell(engine, arg, &x, &y) && engine.record_stone(x, y, false)) engine.start_thinking();
  } else if ((arg = match_keyword("play", line))) {
    engine.ensure_board();
    if (parse_cell(engine, arg, &x, &y)) {
      engine.record_stone(x, y, true);
      send_line(engine.out, "%d,%d", x, y);
    }
  } else if ((arg = match_keyword("begin", line))) {
    engine.ensure_board();
    engine.start_thinking();
  } else if ((arg = match_keyword("about", line))) {
    send_line(engine.out, "%s", format(ABOUT_FORMAT, ORVEL_VERSION).c_str());
  } else if ((arg = match_keyword("end", line))) {
    engine.stop_thinking();
    return false;
  } else if ((arg = match_keyword("board", line))) {
    engine.ensure_board();
    if (!read_board_body(engine, reader)) return false;
    engine.start_thinking();
  } else if ((arg = match_keyword("ovboard", line))) {
    engine.ensure_board();
    if (!read_board_body(engine, reader)) return false;
  } else if ((arg = match_keyword("ovstop", line))) {
    engine.stop_thinking();
  } else if ((arg = match_keyword("ovblockreset", line))) {
    engine.block_reset();
  } else if ((arg = match_keyword("ovblock", line))) {
    if (!read_block_body(engine, reader)) return false;
  } else if ((arg = match_keyword("takeback", line))) {
    engine.ensure_board();
    if (parse_cell(engine, arg, &x, &y) && !engine.takeback(x, y)) send_line(engine.out, "ERROR bad coordinates");
  } else if ((arg = match_keyword("ovshowforbid", line))) {
    engine.show_forbidden();
  } else if ((arg = match_keyword("ovhashclear", line))) {
    engine.hash_clear();
  } else if ((arg = match_keyword("ovbalancetwo", line))) {
    start_analysis(engine, THINK_BALANCE_TWO, arg, 0);
  } else if ((arg = match_keyword("ovbalanceone", line))) {
    start_analysis(engine, THINK_BALANCE_ONE, arg, 0);
  } else if ((arg = match_keyword("ovnbest", line))) {
    start_analysis(engine, THINK_NBEST, arg, 1);
  } else if ((arg = match_keyword("swap2board", line))) {
    engine.ensure_board();
    if (!read_swap2_body(engine, reader)) return false;
  } else {
    send_line(engine.out, "UNKNOWN command");
  }
  return true;
}

bool run_commands(Engine& engine, LineReader& reader, const std::function<void()>& after_command) {
  while (reader.read_line()) {
    if (!dispatch_command(engine, reader)) return false;
    if (after_command) after_command();
  }
  return true;
}

void run_command_loop(Engine& engine, std::FILE* in) {
  LineReader reader(in);
  run_commands(engine, reader);
  exit_process();
}

}  // namespace orvel
