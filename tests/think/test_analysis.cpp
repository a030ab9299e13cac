// The analysis modes: ovnbest, ovbalanceone and ovbalancetwo. Their
// progress and result lines, the candidate rules, the lists with no
// candidate, stopping, and that none of them touches the game.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "../protocol/engine_harness.h"

namespace orvel::testing {
namespace {

const std::regex NBEST_PROGRESS(R"(MESSAGE DETAIL DEPTH:(\d+)-(-?\d+) VAL:(-?\d+) TIME:\d+ms NODE:\d+m \[(\d+,[A-X])\])");
const std::regex RANKED(R"(MESSAGE \((\d+)\) VAL:(-?\d+) \[(\d+,[A-X])\])");
const std::regex NBEST_END(R"(MESSAGE DETAIL \(NBEST\) DEPTH:(\d+)-(-?\d+) VAL:(-?\d+) TIME:\d+ms NODE:\d+m \[(\d+,[A-X])\])");
const std::regex NBEST_LINE(R"(MESSAGE \((\d+)\) VAL:(-?\d+) ((\[\d+,[A-X]\])+))");
const std::regex MOVE_IN_LINE(R"(\[(\d+),([A-X])\])");

class Analysis : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    engine.settings.timeout_turn = 60000;
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
    engine.block_reset();
    for (int x = 0; x < record().board_height; ++x)
      for (int y = 0; y < record().board_width; ++y) engine.block_cell(x, y);
    for (auto [x, y] : cells) engine.record.blocked_cells[x][y] = 0;
  }

  // The moves of an N-best line, "[r,c][r,c]..." -> {"r,c", ...}.
  static std::vector<std::string> moves_of(const std::string& text) {
    std::vector<std::string> moves;
    for (std::sregex_iterator it(text.begin(), text.end(), MOVE_IN_LINE), end; it != end; ++it)
      moves.push_back((*it)[1].str() + "," + (*it)[2].str());
    return moves;
  }

  struct Snapshot {
    int move_count;
    std::vector<int> history;
    std::vector<int> cells;
    uint64_t key;
    bool operator==(const Snapshot& o) const {
      return move_count == o.move_count && history == o.history && cells == o.cells && key == o.key;
    }
  };
  Snapshot snapshot() const {
    Snapshot s{record().move_count, {}, {}, engine.position->zobrist_key};
    for (int i = 0; i < record().move_count; ++i) {
      s.history.push_back(record().move_history[i].x);
      s.history.push_back(record().move_history[i].y);
      s.history.push_back(record().move_history[i].side);
    }
    for (int x = 0; x < MAX_SIZE; ++x)
      for (int y = 0; y < MAX_SIZE; ++y) s.cells.push_back(engine.position->cells[x][y]);
    return s;
  }
};

// ---------------------------------------------------------------------------
// N-best
// ---------------------------------------------------------------------------

TEST_F(Analysis, NbestOnAnEmptyBoardRanksThreeMovesFromDepthFive) {
  send("START 15\nINFO max_depth 4\n");
  const auto lines = analyse("ovnbest 3\n");

  // Progress for depths 2 to 5; ranked lines after the depth-5 line only;
  // then the result line and the three lines numbered 0 to 2.
  std::vector<int> depths;
  std::vector<std::smatch> ranked, ends;
  std::smatch result, last_progress;
  size_t i = 0;
  for (; i < lines.size(); ++i) {
    std::smatch m;
    if (std::regex_match(lines[i], m, NBEST_PROGRESS)) {
      depths.push_back(std::stoi(m[1]));
      last_progress = m;
      ranked.clear();
    } else if (std::regex_match(lines[i], m, RANKED) && !depths.empty()) {
      ranked.push_back(m);
      EXPECT_GE(depths.back(), 5) << lines[i];
    } else if (std::regex_match(lines[i], result, NBEST_END)) {
      break;
    } else {
      ADD_FAILURE() << "unexpected line: " << lines[i];
    }
  }
  EXPECT_EQ(depths, (std::vector<int>{2, 3, 4, 5}));
  ASSERT_EQ(ranked.size(), 3u);
  ASSERT_LT(i, lines.size()) << "no result line";
  EXPECT_EQ(result[1], "5");
  EXPECT_EQ(result[4], last_progress[4]);  // entry 0 is the answer
  EXPECT_EQ(result[3], last_progress[3]);
  for (++i; i < lines.size(); ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, NBEST_LINE)) << lines[i];
    ends.push_back(m);
  }
  ASSERT_EQ(ends.size(), 3u);

  std::set<std::string> distinct;
  for (int u = 0; u < 3; ++u) {
    EXPECT_EQ(ranked[u][1], std::to_string(u + 1));
    EXPECT_EQ(ends[u][1], std::to_string(u));
    if (u > 0) {
      EXPECT_GE(std::stoi(ranked[u - 1][2]), std::stoi(ranked[u][2])) << "ranked best first";
    }
    // The result lines follow the ranking; each line starts with the
    // ranked move and is at most depth + 1 moves long.
    EXPECT_EQ(ends[u][2], ranked[u][2]);
    const auto moves = moves_of(ends[u][3]);
    ASSERT_FALSE(moves.empty());
    EXPECT_LE(moves.size(), 5u);
    EXPECT_EQ(moves[0], ranked[u][3].str());
    EXPECT_EQ(std::set<std::string>(moves.begin(), moves.end()).size(), moves.size()) << ends[u][0];
    distinct.insert(moves[0]);
  }
  EXPECT_EQ(distinct.size(), 3u);
  EXPECT_EQ(record().move_count, 0);
}

TEST_F(Analysis, NbestZeroActsAsOne) {
  send("START 15\nINFO max_depth 4\nPLAY 7,7\n");
  for (const char* command : {"ovnbest 0\n", "ovnbest -4\n", "ovnbest 1\n"}) {
    const auto lines = analyse(command);
    int ranked_lines = 0, result_lines = 0, numbered_zero = 0;
    bool after_result = false;
    for (const auto& l : lines) {
      std::smatch m;
      if (std::regex_match(l, m, NBEST_END)) {
        after_result = true;
        ++result_lines;
      } else if (after_result && std::regex_match(l, m, NBEST_LINE)) {
        EXPECT_EQ(m[1], "0") << command;
        ++numbered_zero;
      } else if (std::regex_match(l, m, RANKED)) {
        EXPECT_EQ(m[1], "1") << command;
        ++ranked_lines;
      }
    }
    EXPECT_EQ(ranked_lines, 1) << command;  // one ranked line after the depth-5 progress line
    EXPECT_EQ(result_lines, 1) << command;
    EXPECT_EQ(numbered_zero, 1) << command;
  }
}

TEST_F(Analysis, NbestNeverListsMoreThanItsCandidates) {
  send("START 15\nINFO max_depth 2\nPLAY 7,7\n");
  leave_free({{6, 6}, {8, 9}, {7, 10}});
  const auto lines = analyse("ovnbest 50\n");
  std::set<std::string> firsts;
  bool after_result = false;
  for (const auto& l : lines) {
    std::smatch m;
    if (std::regex_match(l, NBEST_END)) after_result = true;
    else if (after_result && std::regex_match(l, m, NBEST_LINE)) firsts.insert(moves_of(m[3])[0]);
  }
  EXPECT_EQ(firsts, (std::set<std::string>{"9,G", "7,J", "8,K"}));
}

// ---------------------------------------------------------------------------
// Balance modes
// ---------------------------------------------------------------------------

TEST_F(Analysis, BalanceOneShowsTheNegatedClampedTarget) {
  send("START 15\nINFO max_depth 2\nPLAY 7,7\n");
  const struct {
    const char* command;
    const char* shown;
  } cases[] = {{"ovbalanceone 5000\n", "-2000"}, {"ovbalanceone -7000\n", "+2000"}, {"ovbalanceone 300\n", "-300"},
               {"ovbalanceone\n", "+0"}};
  for (const auto& c : cases) {
    const std::regex progress(std::string(R"(MESSAGE DETAIL DEPTH:(\d+)-(-?\d+) \|VAL\)") + c.shown +
                              R"(\|:(\d+) TIME:\d+ms NODE:\d+m (\[\d+,[A-O]\]))");
    const std::regex result(std::string(R"(MESSAGE DETAIL \(BALANCE\) DEPTH:(\d+)-(-?\d+) \|VAL\)") + c.shown +
                            R"(\|:(\d+) TIME:\d+ms NODE:\d+m (\[\d+,[A-O]\]))");
    const auto lines = analyse(c.command);
    ASSERT_EQ(lines.size(), 3u) << c.command;
    std::smatch p1, p2, r;
    ASSERT_TRUE(std::regex_match(lines[0], p1, progress)) << lines[0];
    ASSERT_TRUE(std::regex_match(lines[1], p2, progress)) << lines[1];
    ASSERT_TRUE(std::regex_match(lines[2], r, result)) << lines[2];
    EXPECT_EQ(p1[1], "2");
    EXPECT_EQ(p2[1], "3");
    EXPECT_EQ(r[1], "3");
    EXPECT_EQ(r[3], p2[3]);
    EXPECT_EQ(r[4], p2[4]);
    EXPECT_LE(std::stoi(r[3]), 10000);
  }
}

TEST_F(Analysis, BalanceTwoCandidatesFollowTheNeighbourhoodRule) {
  // One stone in the middle; the engine's side moves first, the opponent
  // replies. A pair needs two of: the cells within 3 of each other, the
  // first near the stone, the second near the stone, an empty game.
  send("START 15\nINFO max_depth 1\nPLAY 7,7\n");
  const std::regex pair_result(R"(MESSAGE DETAIL \(BALANCE\) DEPTH:\d+--?\d+ \|VAL-100\|:\d+ TIME:\d+ms NODE:\d+m \[(\d+,[A-O])\]\[(\d+,[A-O])\])");
  const std::string none = "MESSAGE DETAIL (BALANCE) no candidate";

  auto answer = [&]() {
    const auto lines = analyse("ovbalancetwo 100\n");
    EXPECT_FALSE(lines.empty());
    return lines.empty() ? std::string() : lines.back();
  };
  auto pair_of = [&](const std::string& line) {
    std::smatch m;
    EXPECT_TRUE(std::regex_match(line, m, pair_result)) << line;
    return std::set<std::string>{m[1].str(), m[2].str()};
  };

  // Near the stone, and within 3 of a cell outside the square: a pair.
  leave_free({{7, 9}, {7, 12}});
  EXPECT_EQ(pair_of(answer()), (std::set<std::string>{"8,J", "8,M"}));
  // Both near the stone but 6 apart: a pair.
  leave_free({{7, 4}, {7, 10}});
  EXPECT_EQ(pair_of(answer()), (std::set<std::string>{"8,E", "8,K"}));
  // Near the stone, the other far from everything: one condition only.
  leave_free({{7, 9}, {13, 1}});
  EXPECT_EQ(answer(), none);
  // Close to each other, both outside the square: one condition only.
  leave_free({{7, 12}, {7, 13}});
  EXPECT_EQ(answer(), none);

  // An empty game counts as one condition.
  send("START 15\n");
  leave_free({{0, 0}, {0, 3}});
  EXPECT_EQ(pair_of(answer()), (std::set<std::string>{"15,A", "15,D"}));
  leave_free({{0, 0}, {0, 4}});
  EXPECT_EQ(answer(), none);
}

// ---------------------------------------------------------------------------
// No candidate, stopping, and the game left alone
// ---------------------------------------------------------------------------

TEST_F(Analysis, NoCandidateGivesAClearResultLine) {
  send("START 15\nINFO max_depth 3\nPLAY 7,7\n");
  leave_free({});
  EXPECT_EQ(analyse("ovnbest 3\n"), (std::vector<std::string>{"MESSAGE DETAIL (NBEST) no candidate"}));
  EXPECT_EQ(analyse("ovbalanceone 0\n"), (std::vector<std::string>{"MESSAGE DETAIL (BALANCE) no candidate"}));
  EXPECT_EQ(analyse("ovbalancetwo 0\n"), (std::vector<std::string>{"MESSAGE DETAIL (BALANCE) no candidate"}));
  EXPECT_EQ(record().move_count, 1);

  // A full board (4 by 4 holds no five) has no candidate either.
  engine.block_reset();
  std::string body = "START 4\novboard\n";
  for (int x = 0; x < 4; ++x)
    for (int y = 0; y < 4; ++y) body += format("%d,%d,1\n", x, y);
  send(body + "DONE\n");
  EXPECT_EQ(analyse("ovnbest 2\n"), (std::vector<std::string>{"MESSAGE DETAIL (NBEST) no candidate"}));
  EXPECT_EQ(analyse("ovbalancetwo 0\n"), (std::vector<std::string>{"MESSAGE DETAIL (BALANCE) no candidate"}));
}

TEST_F(Analysis, NoModeChangesTheGameAndTheNextTurnPlaysNormally) {
  // The second player's closed four on row 7: the first player must block
  // at 7,7. After the analyses the built position is the same, so BEGIN
  // blocks at once without a search.
  send("START 15\novboard\n7,2,1\n7,3,2\n0,0,1\n7,4,2\n0,14,1\n7,5,2\n14,0,1\n7,6,2\nDONE\nINFO max_depth 2\n");
  engine.apply_rule();
  const Snapshot before = snapshot();
  for (const char* command : {"ovnbest 2\n", "ovbalanceone 0\n", "ovbalancetwo 0\n"}) {
    const auto lines = analyse(command);
    ASSERT_FALSE(lines.empty()) << command;
    EXPECT_EQ(lines.back().rfind("MESSAGE", 0), 0u) << command;
    for (const auto& l : lines) EXPECT_FALSE(is_move_line(l)) << command << l;
    EXPECT_TRUE(snapshot() == before) << command;
    EXPECT_TRUE(engine.position->is_consistent()) << command;
    EXPECT_EQ(engine.think_mode.load(), THINK_NORMAL);
    EXPECT_EQ(engine.search->last_value, 0);
  }
  const auto lines = send("BEGIN\n");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(MESSAGE 0\.0 \| -?\d+ \| -?\d+ \| 0ms \| 0\.0 \| 0 \| 4 \| .*)")))
      << lines[0];
  EXPECT_EQ(lines[2], "7,7");
  EXPECT_EQ(record().move_count, 9);
}

TEST_F(Analysis, OvstopEndsAnAnalysisWithItsResultLines) {
  send("START 15\nINFO max_depth 40\nPLAY 7,7\nPLAY 8,8\n");
  engine.apply_rule();
  const Snapshot before = snapshot();
  const struct {
    const char* command;
    const char* result;
  } cases[] = {{"ovnbest 2\n", "MESSAGE DETAIL (NBEST) DEPTH:"},
               {"ovbalanceone 0\n", "MESSAGE DETAIL (BALANCE) DEPTH:"},
               {"ovbalancetwo 0\n", "MESSAGE DETAIL (BALANCE) DEPTH:"}};
  for (const auto& c : cases) {
    run_script(engine, c.command);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto lines = analyse("ovstop\n");
    ASSERT_FALSE(lines.empty()) << c.command;
    int results = 0;
    for (const auto& l : lines) results += l.rfind(c.result, 0) == 0;
    EXPECT_EQ(results, 1) << c.command;
    EXPECT_FALSE(engine.thinking());
    EXPECT_TRUE(snapshot() == before) << c.command;
  }
}

}  // namespace
}  // namespace orvel::testing
