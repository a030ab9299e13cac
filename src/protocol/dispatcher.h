// The command loop: reads one line at a time, recognises the command by its
// keyword (a case-insensitive prefix, tested in a fixed order) and calls the
// engine. Bodies of BOARD, ovboard and ovblock are read from the same input.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>

namespace orvel {

class Engine;

constexpr int LINE_BUFFER_SIZE = 8192;

// Reads command lines into one 8192-byte buffer, from a stream or from bytes
// in memory. End of a stream exits the process with status 0 (the owner may
// instead ask for a flag, for tests); the end of the bytes in memory is
// always reported by the flag, so many sessions can run in one process.
class LineReader {
 public:
  explicit LineReader(std::FILE* in, bool exit_at_eof = true) : in_(in), exit_at_eof_(exit_at_eof) {}
  LineReader(const char* data, size_t size) : next_(data), end_(data + size), exit_at_eof_(false) {}
  // Fill buffer with the next line (line feed and a carriage return before
  // it removed; a longer line keeps its first 8191 characters). Returns
  // false at end of input when exit_at_eof is off.
  bool read_line();
  char* buffer() { return line_buffer_; }

 private:
  // The next input byte as fgetc gives it, or EOF.
  int next_byte();

  std::FILE* in_ = nullptr;
  const char* next_ = nullptr;  // bytes in memory, when in_ is null
  const char* end_ = nullptr;
  bool exit_at_eof_;
  char line_buffer_[LINE_BUFFER_SIZE] = {};
};

// Position just behind keyword and the white space after it, or nullptr.
const char* match_keyword(const char* keyword, const char* text);
// The buffer holds exactly DONE in any letter case.
bool is_done_line(const char* text);

// Run one command from reader's buffer. Returns false after END, and when
// the end of input cut a body short.
bool dispatch_command(Engine& engine, LineReader& reader);
// Read and dispatch until END or the end of input, then return (false when
// dispatch_command returned false). after_command, when set, runs after each
// command that did not end the session.
bool run_commands(Engine& engine, LineReader& reader, const std::function<void()>& after_command = {});
// Start-up to exit: read and dispatch until END or end of input, then exit
// the process with status 0.
void run_command_loop(Engine& engine, std::FILE* in);

}  // namespace orvel
