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

}  // namespace orvel
