#include "protocol/output.h"

#include <cstdio>

namespace orvel {

void StdOutput::write(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void CaptureOutput::write(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  partial_ += text;
  size_t start = 0;
  for (size_t nl; (nl = partial_.find('\n', start)) != std::string::npos; start = nl + 1)
    lines_.push_back(partial_.substr(start, nl - start));
  partial_.erase(0, start);
}

std::vector<std::string> CaptureOutput::lines() {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

void CaptureOutput::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
  partial_.clear();
}

void send_line(Output& out, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string s = vformat(fmt, args);
  va_end(args);
  s += '\n';
  out.write(s);
}

}  // namespace orvel
