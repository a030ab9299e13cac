// Swap2 openings: the engine's side of SWAP2BOARD. With no stone it opens
// the game with three stones; with three it takes BLACK, plays WHITE's
// fourth stone, or adds a fourth and a fifth stone and leaves the choice of
// colour to the opponent; with five it takes BLACK or plays WHITE's sixth.
#pragma once

#include <cstdint>

#include "think/think.h"

namespace orvel {

// Beyond this value (from WHITE's point of view, on the evaluation scale)
// one colour is clearly better. Balanced three-stone openings search to
// within about 75 of even, two BLACK stones side by side against a lone
// WHITE one to below -120 even at depth 1. Lower trusts a short search's
// verdict more often; higher answers three stones with a balancing pair
// more often, which leaves the opponent a choice between near-even games.
constexpr int32_t CLEAR_ADVANTAGE = 100;

enum class Swap2Choice {
  TAKE_BLACK,  // answer SWAP
  PLAY_WHITE,  // answer WHITE's move
  PLACE_PAIR,  // answer a fourth and a fifth stone (three stones only)
};

// The choice for a body of 3 or 5 stones, given the value of the position
// for WHITE, the side to move. With five stones an even game is played as
// WHITE: holding the move is worth more than a colour judged equal.
Swap2Choice swap2_choice(int stones, int32_t white_value);

// The worker's SWAP2BOARD think for request.swap2: writes the usual
// MESSAGE lines of its searches, then exactly one answer line. The game
// record and the position end as they began.
void swap2_think(Game& game, const ThinkRequest& request);

}  // namespace orvel
