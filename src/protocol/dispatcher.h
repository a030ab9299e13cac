// The command loop: reads one line at a time, recognises the command by its
// keyword (a case-insensitive prefix, tested in a fixed order) and calls the
// engine. Bodies of BOARD, ovboard and ovblock are read from the same input.
#pragma once

#include <cstdio>

namespace orvel {

class Engine;

constexpr int LINE_BUFFER_SIZE = 8192;

// Reads command lines into one 8192-byte buffer. End of input exits the
// process with status 0 (the owner may instead ask for a flag, for tests).
class LineReader {
 public:
  explicit LineReader(std::FILE* in, bool exit_at_eof = true) : in_(in), exit_at_eof_(exit_at_eof) {}
  // Fill buffer with the next line (line feed and a carriage return before
  // it removed; a longer line keeps its first 8191 characters). Returns
  // false at end of input when exit_at_eof is off.
  bool read_line();
  char* buffer() { return line_buffer_; }

 private:
  std::FILE* in_;
  bool exit_at_eof_;
  char line_buffer_[LINE_BUFFER_SIZE] = {};
};

// Position just behind keyword and the white space after it, or nullptr.
const char* match_keyword(const char* keyword, const char* text);
// The buffer holds exactly DONE in any letter case.
bool is_done_line(const char* text);

// Run one command from reader's buffer. Returns false after END.
bool dispatch_command(Engine& engine, LineReader& reader);
// Start-up to exit: read and dispatch until END or end of input, then exit(0)
// when the reader exits at end of input.
void run_command_loop(Engine& engine, std::FILE* in);

}  // namespace orvel
