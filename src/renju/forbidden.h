// Renju forbidden points of the first player: overlines, double fours and
// double threes, judged from the BLACK pattern codes with trial stones and a
// recursive test of the cells that would make a three real.
#pragma once

#include <string>

namespace orvel {

class Position;

// 1 when the empty cell (x, y) is forbidden to BLACK, else 0 (also for an
// occupied or blocked cell). Callers test the rule and side first. The
// position is left exactly as it was found.
int is_forbidden(Position& pos, int x, int y);

// The reply line of ovshowforbid for a Renju position: "FORBID " then
// "%02d%02d" per forbidden point (x outer, y inner), then "." (no line feed).
std::string forbidden_line(Position& pos);

}  // namespace orvel
