// The one entry of the drivers: the think a request asks for.
#include "think/think.h"

#include "think/swap2.h"

namespace orvel {

void run_think(Game& game, const ThinkRequest& request) {
  switch (request.mode) {
    case THINK_NORMAL:
      normal_think(game, request);
      break;
    case THINK_BALANCE_ONE:
      balance_one_think(game, request);
      break;
    case THINK_BALANCE_TWO:
      balance_two_think(game, request);
      break;
    case THINK_NBEST:
      nbest_think(game, request);
      break;
    case THINK_SWAP2:
      swap2_think(game, request);
      break;
    default:
      break;
  }
}

}  // namespace orvel
