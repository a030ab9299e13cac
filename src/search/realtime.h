// The "MESSAGE REALTIME" lines a board shows while the engine thinks, as
// both root searches write them.
#pragma once

#include <string>

#include "core/reporter.h"
#include "core/types.h"

namespace orvel {

// Realtime lines: each flushed at once, except the REFRESH line and the DONE
// lines of the sweep, which ride along with the next flushed line.
class Realtime {
 public:
  Realtime(Reporter* out, bool on) : out_(out), on_(on && out != nullptr) {}
  ~Realtime() { flush(); }
  bool on() const { return on_; }
  void line(const std::string& text, bool flushed = true) {
    if (!on_) return;
    pending_ += text;
    pending_ += '\n';
    if (flushed) flush();
  }
  // "MESSAGE REALTIME PV" and the first n moves of a principal variation
  // (entry 0 holds its length), each as [row letter] for the board's height.
  void pv(const MoveEntry* line, int n, int board_height) {
    if (!on_) return;
    std::string text = "MESSAGE REALTIME PV";
    for (int k = 1; k <= n && k <= line[0].key; ++k)
      text += format(" [%d%c]", board_height - line[k].x, static_cast<char>('A' + line[k].y));
    this->line(text);
  }
  void flush() {
    if (pending_.empty()) return;
    out_->write(pending_);
    pending_.clear();
  }

 private:
  Reporter* out_;
  bool on_;
  std::string pending_;
};

}  // namespace orvel
