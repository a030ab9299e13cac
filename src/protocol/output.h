// Where the engine's lines go. The protocol writes to standard output; tests
// capture the lines in memory. Each write is one or more complete lines and
// is delivered (and flushed) as a whole, so the two threads never interleave
// inside a line.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "core/reporter.h"

namespace orvel {

// Every output of the protocol is also where a search sends its lines
// (send_line, in core/reporter.h, writes one formatted line to either).
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

}  // namespace orvel
