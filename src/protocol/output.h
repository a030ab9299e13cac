// Where the engine's lines go. The protocol writes to standard output; tests
// capture the lines in memory. Each write is one or more complete lines and
// is delivered (and flushed) as a whole, so the two threads never interleave
// inside a line.
#pragma once

#include <cstdarg>
#include <mutex>
#include <string>
#include <vector>

#include "core/reporter.h"

namespace orvel {

// Every output of the protocol is also where a search sends its lines.
class Output : public Reporter {};

// Standard output, flushed after every write.
class StdOutput : public Output {
 public:
  void write(const std::string& text) override;

 private:
  std::mutex mutex_;
};

// Keeps every line in memory (without its line feed), for tests.
class CaptureOutput : public Output {
 public:
  void write(const std::string& text) override;
  std::vector<std::string> lines();
  void clear();

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
  std::string partial_;
};

// Format one line, add the line feed and write it.
void send_line(Output& out, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

}  // namespace orvel
