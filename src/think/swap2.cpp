// The swap2 think. The body stones go on the board and, for as long as the
// think runs, at the end of the game record, because the drivers it reuses
// read the side to move and the stone count there; they are taken off again
// before the answer is written. SWAP2BOARD opens a game, so the record is
// otherwise empty: the stones are BLACK, WHITE, BLACK, WHITE, BLACK and
// WHITE is to move after three and after five.
//
//   no stone     BLACK on the first-move cell, WHITE diagonally beside it,
//                and the BLACK stone that balance-one finds leaves WHITE to
//                move closest to even
//   3 stones     a normal search for WHITE judges the position: SWAP when
//                BLACK is clearly better, WHITE's move when WHITE is, and
//                otherwise the balance-two pair that keeps it even
//   5 stones     a normal search for WHITE: SWAP when BLACK is clearly
//                better, WHITE's move otherwise
#include "think/swap2.h"

#include <algorithm>
#include <string>

#include "game/game.h"
#include "think/think.h"

namespace orvel {

namespace {

// With three stones the judging search gets this share of the budget and
// the balancing search, when it runs, what is left. More for the judgement
// makes the choice between SWAP and a move surer; more for the balance
// finds a more even pair.
constexpr int64_t JUDGE_SHARE_PERCENT = 50;
// The value the balancing pairs aim at: an even game for WHITE to move.
constexpr int32_t EVEN = 0;

// The body stones, on the board and at the end of the record, for the
// lifetime of the object; taken off in reverse order when it ends.
class TrialStones {
 public:
  explicit TrialStones(Game& game) : game_(game), base_(game.record.move_count) {}
  ~TrialStones() {
    GameRecord& record = game_.record;
    while (record.move_count > base_) {
      const RecordedMove& m = record.move_history[--record.move_count];
      game_.position->undo_move(m.x, m.y, m.side);
    }
  }
  TrialStones(const TrialStones&) = delete;
  TrialStones& operator=(const TrialStones&) = delete;

  void add(int x, int y) {
    GameRecord& record = game_.record;
    const int side = record.side_to_move();
    game_.position->make_move(x, y, side);
    record.move_history[record.move_count++] = RecordedMove{x, y, side};
  }

 private:
  Game& game_;
  const int base_;
};

std::string cell_text(int x, int y) { return format("%d,%d", x, y); }

// A cell the game may name: on the board, empty, not excluded.
bool free_cell(Game& game, int x, int y) {
  return game.record.on_board(x, y) && game.position->cells[x][y] == EMPTY && !game.record.blocked(x, y);
}

// WHITE's move as left by the search, or SWAP when there is no cell to play
// (taking BLACK needs no stone).
std::string white_move(Game& game) {
  const Search& s = *game.search;
  return free_cell(game, s.best_x, s.best_y) ? cell_text(s.best_x, s.best_y) : "SWAP";
}

// A normal search of the position for WHITE within budget; its value for
// WHITE, reported on a line of its own.
int32_t judge(Game& game, int32_t budget) {
  Search& s = *game.search;
  s.reset_counters();
  s.move_budget = budget;
  const int32_t value = search_and_report(game, WHITE, false);
  send_line(game.out, "MESSAGE DETAIL (SWAP2) VAL:%d", std::clamp<int32_t>(value, -10000, 10000));
  return value;
}

// WHITE's second stone, as steps from BLACK's first, in order of
// preference: a diagonal neighbour, else a straight one. A touching stone
// keeps the opening compact; the balancing is left to the third stone,
// which the search places.
constexpr int WHITE_STEPS[8][2] = {{1, 1}, {1, -1}, {-1, 1}, {-1, -1}, {0, 1}, {1, 0}, {0, -1}, {-1, 0}};

// BLACK on the first-move cell, WHITE beside it, and BLACK's third stone
// where balance-one finds the game closest to even.
std::string open_game(Game& game, TrialStones& stones, int32_t budget) {
  Search& s = *game.search;
  first_move(game);
  const int x0 = s.best_x, y0 = s.best_y;
  if (x0 < 0) return "ERROR swap2 finds no free cell";
  stones.add(x0, y0);
  for (const auto& step : WHITE_STEPS) {
    const int x1 = x0 + step[0], y1 = y0 + step[1];
    if (!free_cell(game, x1, y1)) continue;
    stones.add(x1, y1);
    const BalanceMove third = balance_one(game, EVEN, budget);
    if (!third.found) break;
    return cell_text(x0, y0) + " " + cell_text(x1, y1) + " " + cell_text(third.x, third.y);
  }
  return "ERROR swap2 finds no room for an opening";
}

std::string answer_three(Game& game, int64_t start, int32_t budget) {
  const int32_t value = judge(game, static_cast<int32_t>(budget * JUDGE_SHARE_PERCENT / 100));
  switch (swap2_choice(3, value)) {
    case Swap2Choice::TAKE_BLACK:
      return "SWAP";
    case Swap2Choice::PLAY_WHITE:
      return white_move(game);
    case Swap2Choice::PLACE_PAIR:
      break;
  }
  const std::string move = white_move(game);  // before balance-two's searches overwrite best_move
  const int64_t left = std::max<int64_t>(budget - (Search::now_ms() - start), 0);
  const BalancePair pair = balance_two(game, EVEN, static_cast<int32_t>(left));
  if (pair.found && pair.distance <= CLEAR_ADVANTAGE)
    return cell_text(pair.x1, pair.y1) + " " + cell_text(pair.x2, pair.y2);
  // No pair keeps the game even: a pair would hand the opponent the better
  // colour, so follow the judgement's leaning instead.
  return value >= EVEN ? move : "SWAP";
}

std::string answer_five(Game& game, int32_t budget) {
  const int32_t value = judge(game, budget);
  return swap2_choice(5, value) == Swap2Choice::TAKE_BLACK ? "SWAP" : white_move(game);
}

}  // namespace

Swap2Choice swap2_choice(int stones, int32_t white_value) {
  if (white_value < -CLEAR_ADVANTAGE) return Swap2Choice::TAKE_BLACK;
  if (white_value > CLEAR_ADVANTAGE || stones != 3) return Swap2Choice::PLAY_WHITE;
  return Swap2Choice::PLACE_PAIR;
}

void swap2_think(Game& game, const ThinkRequest& request) {
  const int64_t start = Search::now_ms();
  const int32_t budget = turn_budget(game);
  // Build the position for the rule in force first, so that the stones go
  // on a current board and come off it again.
  game.hash.apply_hash_size(Settings::get(game.settings.hash_size));
  game.apply_rule();

  std::string answer;
  {
    TrialStones stones(game);
    const Swap2Stones& body = request.swap2;
    for (int i = 0; i < body.count; ++i) stones.add(body.x[i], body.y[i]);
    if (body.count == 0)
      answer = open_game(game, stones, budget);
    else if (body.count == 3)
      answer = answer_three(game, start, budget);
    else
      answer = answer_five(game, budget);
  }
  // Like the analysis modes: the next think must not take this value for a
  // win found in its own game.
  game.search->last_value = 0;
  send_line(game.out, "%s", answer.c_str());
}

}  // namespace orvel
