// orvel-tune: fits the deep search's evaluation weights to game results.
//
//   orvel-tune play RULE GAMES NODES SERIES self-play games, one per line
//   orvel-tune fit FILE...                  the fitted tables
//
// play runs the deep search against itself in this process, NODES nodes a
// move, from openings of a few random stones near the centre, and writes
// each game as "RULE RESULT MOVES" (RESULT 1: BLACK won, 2: WHITE won,
// 0: drawn; MOVES as the bench writes them, letter = x, number = y + 1).
// fit replays every game, takes the quiet positions past the opening with
// the game's result from the side to move's view, and fits the weights of
// the evaluation's terms by logistic regression ("Texel" tuning): the
// probability of winning is taken as 1 / (1 + exp(-value / K)), K is fitted
// first with the weights the node search plays with, then the weights are
// fitted with K kept, so the fitted evaluation keeps the units every margin
// of the search is written in. Every tenth game is held out and its error
// reported beside the fitted games'.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "game/game.h"
#include "renju/forbidden.h"
#include "think/think.h"

using namespace orvel;

namespace {

constexpr int BOARD = 15;
// Openings: this many random stones within this distance of the centre.
constexpr int OPENING_MIN_STONES = 2;
constexpr int OPENING_MAX_STONES = 5;
constexpr int OPENING_REACH = 3;
// Positions before this ply are the opening's, not the engine's.
constexpr int FIRST_PLY = 8;
constexpr int HELD_OUT_EVERY = 10;
constexpr int FIT_PASSES = 3;
constexpr int FIT_ROUNDS = 1000;
constexpr double K_MIN = 20, K_MAX = 2000, K_STEP = 1.02;
constexpr double LEARNING_RATE = 0.5;

// A game that only replays and evaluates (no search) keeps its hash tables
// small: a fit replays thousands of games.
constexpr int64_t REPLAY_BUCKETS = 1 << 13;

std::unique_ptr<Game> new_game(Reporter& out, int rule, bool searching = true) {
  auto game = std::make_unique<Game>(out);
  if (!searching) game->hash.tt_buckets = game->hash.cache_buckets = REPLAY_BUCKETS;
  game->settings.rule = rule;
  game->set_board(BOARD, BOARD);
  game->rebuild(rule);
  return game;
}

// ---- play ----

int play(int rule, int games, int nodes, unsigned series) {
  std::mt19937 random(series);
  DiscardReporter out;
  for (int g = 0; g < games; ++g) {
    auto game = new_game(out, rule);
    game->settings.search_mode = 1;
    game->settings.max_node = std::max(nodes / 1024, 1);
    std::string moves;
    // The opening: random free cells near the centre, none winning or
    // forbidden.
    const int stones = OPENING_MIN_STONES + static_cast<int>(random() % (OPENING_MAX_STONES - OPENING_MIN_STONES + 1));
    for (int placed = 0, tries = 0; placed < stones && tries < 1000; ++tries) {
      const int x = BOARD / 2 - OPENING_REACH + static_cast<int>(random() % (2 * OPENING_REACH + 1));
      const int y = BOARD / 2 - OPENING_REACH + static_cast<int>(random() % (2 * OPENING_REACH + 1));
      Position& pos = *game->position;
      const int side = game->record.side_to_move();
      if (pos.cells[x][y] != EMPTY || pos.five_cells[side - 1].contains(x, y)) continue;
      if (rule == RENJU && side == BLACK && is_forbidden(pos, x, y)) continue;
      game->play(x, y);
      moves += move_text(x, y);
      ++placed;
    }
    int result = 0;
    while (game->record.move_count < BOARD * BOARD) {
      const int side = game->record.side_to_move();
      const int before = game->record.move_count;
      // A cell that makes five now: the game ends when the engine plays it.
      Position& pos = *game->position;
      CellSet fives = pos.five_cells[side - 1];
      run_think(*game, ThinkRequest{});
      if (game->record.move_count == before) break;  // nothing to play
      const RecordedMove& m = game->record.move_history[before];
      moves += move_text(m.x, m.y);
      if (fives.contains(m.x, m.y)) {
        result = side;
        break;
      }
    }
    std::printf("%d %d %s\n", rule, result, moves.c_str());
    std::fflush(stdout);
  }
  return 0;
}

// ---- fit ----

struct Sample {
  double x[EVAL_TERMS];
  double y;  // 1 won, 0.5 drawn, 0 lost, for the side to move
  bool held_out;
};

double term_scale(int t) { return term_over_32(t) ? 1.0 / 32 : 1.0; }

double value_of(const Sample& s, const double* w) {
  double v = 0;
  for (int t = 0; t < EVAL_TERMS; ++t) v += s.x[t] * w[t];
  return v;
}

double sigmoid(double v, double k) { return 1.0 / (1.0 + std::exp(-v / k)); }

double mean_error(const std::vector<Sample>& samples, const double* w, double k, bool held_out) {
  double sum = 0;
  int n = 0;
  for (const Sample& s : samples) {
    if (s.held_out != held_out) continue;
    const double d = sigmoid(value_of(s, w), k) - s.y;
    sum += d * d;
    ++n;
  }
  return n ? sum / n : 0;
}

void read_samples(const char* file, int group, std::vector<Sample>* samples, int* games) {
  std::ifstream in(file);
  std::string line;
  DiscardReporter out;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    int rule = -1, result = -1;
    std::string text;
    fields >> rule >> result >> text;
    std::vector<std::pair<int, int>> moves;
    if (rule < 0 || rule > 2 || result < 0 || result > 2 || !parse_move_list(text, BOARD, &moves)) continue;
    if ((rule == RENJU) != (group == RENJU)) continue;
    const bool held_out = (*games)++ % HELD_OUT_EVERY == 0;
    auto game = new_game(out, rule, false);
    Position& pos = *game->position;
    for (size_t ply = 0; ply < moves.size(); ++ply) {
      const int side = game->record.side_to_move();
      // Quiet: neither side has a five to make or a three to raise to an
      // open four. In a game a three stands mostly when it wins; at a leaf
      // of the search it is any move, so its terms keep their weights.
      const bool quiet = pos.five_cells[0].empty() && pos.five_cells[1].empty() &&
                         pos.open_four_cells[0].empty() && pos.open_four_cells[1].empty();
      if (static_cast<int>(ply) >= FIRST_PLY && quiet) {
        EvalFeatures f;
        game->search->evaluate_terms(side, BASE_WEIGHTS, &f);
        if (!f.decided) {
          Sample s;
          for (int t = 0; t < EVAL_TERMS; ++t) s.x[t] = static_cast<double>(f.term[t]) * term_scale(t);
          s.y = result == 0 ? 0.5 : result == side ? 1.0 : 0.0;
          s.held_out = held_out;
          samples->push_back(s);
        }
      }
      const auto [x, y] = moves[ply];
      if (pos.cells[x][y] != EMPTY) break;
      game->play(x, y);
    }
  }
}

int fit(int group, const std::vector<const char*>& files) {
  std::vector<Sample> samples;
  int games = 0;
  for (const char* f : files) read_samples(f, group, &samples, &games);
  const char* name = group == RENJU ? "TUNED_RENJU_WEIGHTS" : "TUNED_FREESTYLE_WEIGHTS";
  if (samples.empty()) {
    std::printf("// %s: no games\n", name);
    return 0;
  }
  double w[EVAL_TERMS];
  for (int t = 0; t < EVAL_TERMS; ++t) w[t] = BASE_WEIGHTS.term[t];

  // K: the scale that makes the given weights fit best.
  auto fit_k = [&]() {
    double best_k = K_MIN, best_error = 1e9;
    for (double k = K_MIN; k <= K_MAX; k *= K_STEP) {
      const double e = mean_error(samples, w, k, false);
      if (e < best_error) best_error = e, best_k = k;
    }
    return best_k;
  };
  double k = fit_k();
  const double base_k = k;
  const double base_fit = mean_error(samples, w, k, false), base_held = mean_error(samples, w, k, true);

  // Gradient descent on the mean squared error, every term's step scaled
  // by the spread of its counts (Adam's running moments), with K fitted
  // again between the passes. The side to move's pattern total keeps its
  // weight: it is most of the value, and with it the value keeps the units
  // every margin of the search is written in.
  for (int pass = 0; pass < FIT_PASSES; ++pass) {
    double m[EVAL_TERMS] = {}, v[EVAL_TERMS] = {};
    const double beta1 = 0.9, beta2 = 0.999, eps = 1e-8;
    for (int round = 1; round <= FIT_ROUNDS; ++round) {
      double grad[EVAL_TERMS] = {};
      int n = 0;
      for (const Sample& s : samples) {
        if (s.held_out) continue;
        const double p = sigmoid(value_of(s, w), k);
        const double d = 2 * (p - s.y) * p * (1 - p) / k;
        for (int t = 0; t < EVAL_TERMS; ++t) grad[t] += d * s.x[t];
        ++n;
      }
      for (int t = 0; t < EVAL_TERMS; ++t) {
        if (t == OWN_TOTAL) continue;
        const double g = grad[t] / n;
        m[t] = beta1 * m[t] + (1 - beta1) * g;
        v[t] = beta2 * v[t] + (1 - beta2) * g * g;
        const double mh = m[t] / (1 - std::pow(beta1, round)), vh = v[t] / (1 - std::pow(beta2, round));
        w[t] -= LEARNING_RATE * mh / (std::sqrt(vh) + eps);
      }
    }
    k = fit_k();
  }
  int32_t rounded[EVAL_TERMS];
  double wr[EVAL_TERMS];
  for (int t = 0; t < EVAL_TERMS; ++t) wr[t] = rounded[t] = static_cast<int32_t>(std::lround(w[t]));
  std::printf("// %d games, %zu positions; K %.1f before, %.1f after; mean squared error (fitted / held out): "
              "%.5f / %.5f before, %.5f / %.5f after\n",
              games, samples.size(), base_k, k, base_fit, base_held, mean_error(samples, wr, k, false),
              mean_error(samples, wr, k, true));
  std::printf("inline constexpr EvalWeights %s = {{", name);
  for (int t = 0; t < EVAL_TERMS; ++t) std::printf("%s%d", t ? ", " : "", rounded[t]);
  std::printf("}};\n");
  return 0;
}

int usage() {
  std::fprintf(stderr,
               "usage: orvel-tune play RULE GAMES NODES SERIES\n"
               "       orvel-tune fit FILE...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string command = argv[1];
  if (command == "play" && argc == 6)
    return play(effective_rule(std::atoi(argv[2])), std::atoi(argv[3]), std::atoi(argv[4]),
                static_cast<unsigned>(std::atoi(argv[5])));
  if (command == "fit" && argc >= 3) {
    const std::vector<const char*> files(argv + 2, argv + argc);
    fit(FREESTYLE, files);
    fit(RENJU, files);
    return 0;
  }
  return usage();
}
