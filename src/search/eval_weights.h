// The weights of the static evaluation's terms. The node search plays with
// BASE_WEIGHTS; the deep search (search_mode 1) with its own tables, one
// for the five-in-a-row rules and one for Renju, meant for weights fitted
// to game results (tools/tune). Terms marked "over 32" are multiplied by
// the weight and divided by 32; the others add the weight once per count.
#pragma once

#include <cstdint>

#include "core/types.h"

namespace orvel {

enum EvalTerm : int {
  OWN_TOTAL,    // the side to move's pattern total, over 32
  OPP_TOTAL,    // the opponent's pattern total (counted negative), over 32
  OWN_THREAT,   // own four and three cells by free space and crowding, over 32
  OPP_THREAT,   // the opponent's, over 32
  URGENT,       // the free space of the opponent's most urgent cell, over 32
  OPP_ANY,      // the opponent has a four or three cell it may use
  FORBID_LOW,   // a Renju threat on a point forbidden to BLACK (for WHITE), low BLACK score
  FORBID_HIGH,  // the same, high BLACK score
  OWN_MULTI,    // own fives and open fours in more than one direction
  OPP_MULTI,    // the opponent's (counted negative)
  TEMPO,        // the move
  EVAL_TERMS
};

struct EvalWeights {
  int32_t term[EVAL_TERMS];
};

// What one evaluation counted, term by term (the tuner's view of it): the
// value is, up to rounding, the sum of term times weight (over 32 where
// the term says so). decided: the evaluation returned a won value instead.
struct EvalFeatures {
  int64_t term[EVAL_TERMS] = {};
  bool decided = false;
};

// Whether the weight of a term is over 32.
constexpr bool term_over_32(int t) { return t <= URGENT; }

inline constexpr EvalWeights BASE_WEIGHTS = {{32, 32, 20, 20, 50, 100, 200, 120, 200, 200, 60}};

// The deep search's own tables, for weights fitted by orvel-tune
// (tools/tune). The fits so far predicted game results better than
// BASE_WEIGHTS but played worse with the deep search, so the tables are
// BASE_WEIGHTS moved by games at a fixed node count. Free-style (and
// standard) weighs the four and three cells 15 instead of 20 (10 and 26
// lost to 20). Renju weighs WHITE's threats on points BLACK may not take
// twice as much (three and four times as much did not beat the base). Both
// give the move (TEMPO) 30 instead of 60 (15, 20, 40 and 100 did worse).
// The weights sit at a narrow optimum. In games at 128 x 1,024 nodes a
// move against these tables, a term moved for one side alone lost heavily:
// the opponent's pattern total at 28 or at 36 about 100 Elo either way, one
// side's four and three cells a third heavier 65 and 76, OPP_ANY halved 55
// (doubled, worse still). The same shift of 4 made from the root's side at
// every leaf, so that odd and even depths judge alike, was even; a shift of
// 12 that way lost too. Counting more shapes as won while the opponent has
// no four to make, as free-style counts a cell that makes a four and a three
// at once, did not pay: the same four-three under Renju (WHITE's, or BLACK's
// on a point it may play) was even, a cell that makes two open threes
// (free-style, and WHITE under Renju) lost about 25.
inline constexpr EvalWeights TUNED_FREESTYLE_WEIGHTS = {{32, 32, 15, 15, 50, 100, 200, 120, 200, 200, 30}};
inline constexpr EvalWeights TUNED_RENJU_WEIGHTS = {{32, 32, 20, 20, 50, 100, 400, 240, 200, 200, 30}};

inline const EvalWeights& tuned_weights(int rule) {
  return rule == RENJU ? TUNED_RENJU_WEIGHTS : TUNED_FREESTYLE_WEIGHTS;
}

}  // namespace orvel
