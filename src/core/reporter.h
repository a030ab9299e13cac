// Where a layer below the protocol sends the lines it writes. The protocol's
// outputs implement it; a search or a think driver reaches the manager only
// through one.
#pragma once

#include <cstdarg>
#include <string>

namespace orvel {

class Reporter {
 public:
  virtual ~Reporter() = default;
  // text holds complete lines, each ending in '\n', delivered as a whole.
  virtual void write(const std::string& text) = 0;
};

// A reporter whose lines go nowhere (the bench, the tuner's games).
class DiscardReporter : public Reporter {
 public:
  void write(const std::string&) override {}
};

// printf-style formatting into a std::string.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string vformat(const char* fmt, va_list args);

// Format one line, add the line feed and write it.
void send_line(Reporter& out, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

}  // namespace orvel
