// The analysis modes ovnbest, ovbalanceone and ovbalancetwo: their progress and end
// lines, the candidate rules, the lists with no candidate, stopping, and that none of
// them touches the game.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "../protocol/engine_harness.h"

namespace orvel::testing {
namespace {

const std::regex PROGRESS(R"(MESSAGE DETAIL DEPTH:(\d+)-(-?\d+) VAL:(-?\d+) TIME:\d+ms NODE:\d+m \[(\d+,[A-X])\])");
const std::regex NBEST_END(R"(MESSAGE DETAIL \(NBEST\) DEPTH:(\d+)-(-?\d+) VAL:(-?\d+) )"
                           R"(TIME:\d+ms NODE:\d+m \[(\d+,[A-X])\])");
const std::regex NBEST_LINE(R"(MESSAGE \((\d+)\) VAL:(-?\d+) ((?:\[\d+,[A-X]\])+))");
const std::regex MOVE_IN_LINE(R"(\[\d+,[A-X]\])");

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

class Analysis : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    engine.game.settings.timeout_turn = 60000;
  }

  // Everything but the rule announcement.
  std::vector<std::string> analyse(const std::string& script) {
    std::vector<std::string> kept;
    for (auto& l : send(script))
      if (l.rfind("MESSAGE Rule", 0) != 0) kept.push_back(l);
    return kept;
  }

  // Block every cell of the board except the listed ones.
  void leave_free(std::initializer_list<std::pair<int, int>> cells) {
    for (int x = 0; x < record().board_height; ++x)
      for (int y = 0; y < record().board_width; ++y) engine.block_cell(x, y);
    for (auto [x, y] : cells) engine.game.record.blocked_cells[x][y] = 0;
  }

  // The game as the modes must leave it: history, cells and key.
  std::vector<uint64_t> game() const {
    std::vector<uint64_t> g = {static_cast<uint64_t>(record().move_count), engine.game.position->zobrist_key};
    for (int i = 0; i < record().move_count; ++i)
      g.insert(g.end(), {uint64_t(record().move_history[i].x), uint64_t(record().move_history[i].y),
                         uint64_t(record().move_history[i].side)});
    for (int x = 0; x < MAX_SIZE; ++x)
      for (int y = 0; y < MAX_SIZE; ++y) g.push_back(engine.game.position->cells[x][y]);
    return g;
  }
};

// ovnbest with max_depth 4 and n answers: progress lines for depths 2 to 5, n ranked
// lines after the depth-5 one only, the end line, n numbered lines. Returns the first
// moves of those.
std::set<std::string> check_nbest(const std::vector<std::string>& lines, size_t n) {
  std::string shape;  // P progress, E end, L a ranked or numbered line
  std::vector<std::smatch> m(lines.size());
  for (size_t i = 0; i < lines.size(); ++i)
    shape += std::regex_match(lines[i], m[i], PROGRESS)     ? 'P'
             : std::regex_match(lines[i], m[i], NBEST_END)  ? 'E'
             : std::regex_match(lines[i], m[i], NBEST_LINE) ? 'L'
                                                            : '?';
  EXPECT_EQ(shape, "PPPP" + std::string(n, 'L') + "E" + std::string(n, 'L'));
  if (shape != "PPPP" + std::string(n, 'L') + "E" + std::string(n, 'L')) return {};
  for (int d = 0; d < 4; ++d) EXPECT_EQ(m[d][1], std::to_string(d + 2));
  const std::smatch& end = m[4 + n];
  EXPECT_EQ(end[1], "5");
  EXPECT_EQ(end[3].str() + end[4].str(), m[3][3].str() + m[3][4].str());  // entry 0 is the answer
  std::set<std::string> firsts;
  for (size_t u = 0; u < n; ++u) {
    // Ranked from 1 best first, then numbered from 0 in the same order, each line led by
    // its ranked move, at most depth + 1 moves long, no move twice.
    const std::smatch &ranked = m[4 + u], &line = m[5 + n + u];
    EXPECT_EQ(ranked[1].str() + " " + line[1].str(), std::to_string(u + 1) + " " + std::to_string(u));
    EXPECT_TRUE(u == 0 || std::stoi(m[3 + u][2]) >= std::stoi(ranked[2]));
    EXPECT_EQ(line[2], ranked[2]);
    const std::string moves = line[3];
    std::set<std::string> distinct;
    for (std::sregex_iterator it(moves.begin(), moves.end(), MOVE_IN_LINE), e; it != e; ++it)
      distinct.insert(it->str());
    EXPECT_EQ(moves.rfind(ranked[3].str(), 0), 0u) << moves;
    EXPECT_EQ(distinct.size(), size_t(std::count(moves.begin(), moves.end(), '['))) << moves;
    EXPECT_LE(distinct.size(), 5u) << moves;
    firsts.insert(ranked[3]);
  }
  EXPECT_EQ(firsts.size(), n);
  return firsts;
}

TEST_F(Analysis, NbestRanksAtMostNCandidates) {
  send("START 15\nINFO max_depth 4\n");
  check_nbest(analyse("ovnbest 3\n"), 3);  // every cell of the empty board a candidate
  send("PLAY 7,7\n");
  for (const char* command : {"ovnbest 0\n", "ovnbest -4\n", "ovnbest 1\n"}) check_nbest(analyse(command), 1);
  leave_free({{6, 6}, {8, 9}, {7, 10}, {10, 8}});  // 10,8: in the 7 by 7 square, not in the N-best shape
  EXPECT_EQ(check_nbest(analyse("ovnbest 50\n"), 3), (std::set<std::string>{"[9,G]", "[7,J]", "[8,K]"}));
  EXPECT_EQ(record().move_count, 1);
}

TEST_F(Analysis, BalanceOneShowsTheNegatedClampedTarget) {
  send("START 15\nINFO max_depth 2\nPLAY 7,7\n");
  const std::pair<const char*, const char*> rows[] = {
      {"ovbalanceone 5000\n", "-2000"}, {"ovbalanceone -7000\n", "+2000"}, {"ovbalanceone 300\n", "-300"},
      {"ovbalanceone\n", "+0"}};
  for (auto [command, shown] : rows) {
    const std::string tail =
        std::string(R"(DEPTH:(\d)-(-?\d+) \|VAL\)") + shown + R"(\|:(\d+) TIME:\d+ms NODE:\d+m (\[\d+,[A-O]\]))";
    const auto lines = analyse(command);
    ASSERT_EQ(lines.size(), 3u) << command;
    std::smatch m[3];  // progress at depths 2 and 3, then the end line
    for (int i = 0; i < 3; ++i)
      ASSERT_TRUE(std::regex_match(lines[i], m[i], std::regex(i < 2 ? "MESSAGE DETAIL " + tail
                                                                       : R"(MESSAGE DETAIL \(BALANCE\) )" + tail)))
          << lines[i];
    EXPECT_EQ(m[0][1].str() + m[1][1].str() + m[2][1].str(), "233");
    EXPECT_EQ(m[2][3].str() + m[2][4].str(), m[1][3].str() + m[1][4].str());  // the last progress line's answer
    EXPECT_LE(std::stoi(m[2][3]), 10000);
  }
}

TEST_F(Analysis, BalanceTwoCandidatesFollowTheNeighbourhoodRule) {
  // A pair needs two of: the cells within 3 of each other, the first near a stone (in
  // its 7 by 7 square), the second near a stone, an empty game.
  const std::regex pair(
      R"(MESSAGE DETAIL \(BALANCE\) DEPTH:\d+--?\d+ \|VAL-100\|:\d+ TIME:\d+ms NODE:\d+m )"
      R"(\[(\d+,[A-O])\]\[(\d+,[A-O])\])");
  const struct { const char* game; std::pair<int, int> a, b; std::set<std::string> want; } rows[] = {
      {"PLAY 7,7\n", {7, 9}, {7, 12}, {"8,J", "8,M"}},  // near the stone, and within 3 of each other
      {"PLAY 7,7\n", {7, 4}, {7, 10}, {"8,E", "8,K"}},  // both near the stone, 6 apart
      {"PLAY 7,7\n", {7, 9}, {13, 1}, {}},              // near the stone only
      {"PLAY 7,7\n", {7, 12}, {7, 13}, {}},             // within 3 of each other only
      {"PLAY 7,7\n", {10, 8}, {12, 10}, {"5,I", "3,K"}},  // a corner of the square, within 3
      {"", {0, 0}, {0, 3}, {"15,A", "15,D"}},           // an empty game, within 3
      {"", {0, 0}, {0, 4}, {}},                         // an empty game only
  };
  for (const auto& r : rows) {
    send(std::string("ovblockreset\nSTART 15\nINFO max_depth 1\n") + r.game);
    leave_free({r.a, r.b});
    const auto lines = analyse("ovbalancetwo 100\n");
    ASSERT_FALSE(lines.empty());
    std::smatch m;
    if (r.want.empty()) {
      EXPECT_EQ(lines.back(), "MESSAGE DETAIL (BALANCE) no candidate");
    } else {
      ASSERT_TRUE(std::regex_match(lines.back(), m, pair)) << lines.back();
      EXPECT_EQ((std::set<std::string>{m[1], m[2]}), r.want);
    }
  }
}

// Under Renju BLACK is never offered a forbidden point: BLACK's two open twos
// cross at 7,7 (a double three there), and none of the modes names it for
// BLACK, while WHITE may still be given it.
TEST_F(Analysis, RenjuForbiddenPointsAreNeverProposedToBlack) {
  const std::string game =
      "ovblockreset\nSTART 15\nINFO rule 4\nINFO max_depth 2\novboard\n7,5,1\n0,0,2\n7,6,1\n0,14,2\n5,7,1\n"
      "14,0,2\n6,7,1\n14,14,2\nDONE\n";
  send(game);
  ASSERT_EQ(send("ovshowforbid\n"), (std::vector<std::string>{"FORBID 0707."}));
  // The ranked moves and every depth's answer (WHITE may still reach 7,7
  // further down a line).
  int ranked = 0;
  for (const auto& l : analyse("ovnbest 5\n")) {
    std::smatch m;
    if (std::regex_match(l, m, NBEST_LINE)) {
      ++ranked;
      EXPECT_NE(m[3].str().substr(0, 5), "[8,H]") << l;
    } else {
      EXPECT_FALSE(ends_with(l, "[8,H]")) << l;
    }
  }
  EXPECT_EQ(ranked, 5);
  // Only 7,7 and 3,3 left: BLACK must take 3,3, and WHITE may answer at 7,7.
  leave_free({{7, 7}, {3, 3}});
  const std::string one = analyse("ovbalanceone 0\n").back();
  EXPECT_TRUE(ends_with(one, " [12,D]")) << one;
  const std::string two = analyse("ovbalancetwo 0\n").back();
  EXPECT_TRUE(ends_with(two, " [12,D][8,H]")) << two;
  // WHITE to move: WHITE may take 7,7, BLACK's reply may not.
  send(game + "PLAY 1,1\n");
  leave_free({{7, 7}, {3, 3}});
  const std::string white = analyse("ovbalancetwo 0\n").back();
  EXPECT_TRUE(ends_with(white, " [8,H][12,D]")) << white;
}

// With exact records an analysis depends on the position and the tables
// alone: the same request after ovhashclear answers the same lines.
TEST_F(Analysis, TheSameAnalysisAfterAHashClearAnswersTheSame) {
  // Depth alone ends each run: a slow (sanitised, loaded) build must not
  // stop one round earlier on time.
  send("START 15\nINFO max_depth 2\nINFO timeout_turn 2000000000\nINFO time_left 2000000000\n"
       "ovboard\n7,7,1\n7,8,2\n8,8,1\n6,6,2\n8,6,1\nDONE\n");
  const std::regex time(R"(TIME:\d+ms)");
  for (const char* command : {"ovbalancetwo 0\n", "ovbalanceone 0\n", "ovnbest 3\n"}) {
    std::vector<std::string> first;
    for (int round = 0; round < 3; ++round) {
      std::vector<std::string> lines = analyse(std::string("ovhashclear\n") + command);
      for (auto& l : lines) l = std::regex_replace(l, time, "TIME");
      if (round == 0)
        first = lines;
      else
        EXPECT_EQ(lines, first) << command << " round " << round;
    }
  }
}

TEST_F(Analysis, NoModeChangesTheGameAndEachEndsWithItsEndLine) {
  // The second player's closed four on row 7: after the analyses the built position is
  // the same, so BEGIN blocks it at 7,7 at once.
  send("START 15\novboard\n7,2,1\n7,3,2\n0,0,1\n7,4,2\n0,14,1\n7,5,2\n14,0,1\n7,6,2\nDONE\n");
  engine.game.apply_rule();
  const auto before = game();
  const std::pair<const char*, std::string> modes[] = {{"ovnbest 2\n", "MESSAGE DETAIL (NBEST) "},
                                                     {"ovbalanceone 0\n", "MESSAGE DETAIL (BALANCE) "},
                                                     {"ovbalancetwo 0\n", "MESSAGE DETAIL (BALANCE) "}};
  for (int max_depth : {2, 40}) {  // 40: run until stopped
    send("INFO max_depth " + std::to_string(max_depth) + "\n");
    for (const auto& [command, end] : modes) {
      engine.game.search->last_value = 77;  // every mode ends with 0
      const auto start = std::chrono::steady_clock::now();
      if (max_depth == 40) {
        // On fresh tables: with the earlier modes' entries a fast build
        // proves every candidate and runs out of depths within moments.
        run_script(engine, std::string("ovhashclear\n") + command);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_TRUE(engine.thinking()) << command << "ended before the stop";
      }
      const auto lines = analyse(max_depth == 40 ? "ovstop\n" : command);
      EXPECT_TRUE(max_depth != 40 || std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) << command;
      int ends = 0;
      for (const auto& l : lines) {
        ends += l.rfind(end + "DEPTH:", 0) == 0;
        EXPECT_FALSE(is_move_line(l)) << command << l;
      }
      EXPECT_EQ(ends, 1) << command << max_depth;
      EXPECT_FALSE(engine.thinking());
      EXPECT_TRUE(game() == before) << command;
      EXPECT_TRUE(engine.game.position->is_consistent()) << command;
      EXPECT_EQ(engine.think_mode.load(), THINK_NORMAL);
      EXPECT_EQ(engine.game.search->last_value, 0);
    }
  }
  const auto lines = send("BEGIN\n");
  ASSERT_EQ(lines.size(), 3u);
  const std::regex no_search(R"(MESSAGE 0\.0 \| -?\d+ \| -?\d+ \| 0ms \| 0\.0 \| 0 \| 4 \| .*)");
  EXPECT_TRUE(std::regex_match(lines[0], no_search)) << lines[0];
  EXPECT_EQ(lines[2], "7,7");
  EXPECT_EQ(record().move_count, 9);

  // No candidate (every cell blocked, or a full 4 by 4 board, which holds no five): a clear end line.
  leave_free({});
  std::string full = "ovblockreset\nSTART 4\novboard\n";
  for (int x = 0; x < 16; ++x) full += format("%d,%d,1\n", x / 4, x % 4);
  for (const std::string& setup : {std::string(), full + "DONE\n"}) {
    send(setup);
    for (const auto& [command, end] : modes)
      EXPECT_EQ(analyse(command), (std::vector<std::string>{end + "no candidate"}));
  }
}

}  // namespace
}  // namespace orvel::testing
