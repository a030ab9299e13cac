// SWAP2BOARD through the dispatcher: the three forms of the answer, the
// choice thresholds, the refused bodies, stopping, and that the game record
// and the board are left exactly as they were.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "../protocol/engine_harness.h"
#include "think/swap2.h"

namespace orvel::testing {
namespace {

const std::regex CELL(R"((\d+),(\d+))");
const std::regex PAIR(R"((\d+),(\d+) (\d+),(\d+))");
const std::regex OPENING(R"((\d+),(\d+) (\d+),(\d+) (\d+),(\d+))");

TEST(Swap2Choice, ClearAdvantageDecidesAndAnEvenGameDependsOnTheStoneCount) {
  const struct {
    int stones;
    int32_t white_value;
    Swap2Choice want;
  } rows[] = {
      {3, -CLEAR_ADVANTAGE - 1, Swap2Choice::TAKE_BLACK}, {3, -WIN_SCORE, Swap2Choice::TAKE_BLACK},
      {3, -CLEAR_ADVANTAGE, Swap2Choice::PLACE_PAIR},     {3, 0, Swap2Choice::PLACE_PAIR},
      {3, CLEAR_ADVANTAGE, Swap2Choice::PLACE_PAIR},      {3, CLEAR_ADVANTAGE + 1, Swap2Choice::PLAY_WHITE},
      {3, WIN_SCORE, Swap2Choice::PLAY_WHITE},            {5, -CLEAR_ADVANTAGE - 1, Swap2Choice::TAKE_BLACK},
      {5, -CLEAR_ADVANTAGE, Swap2Choice::PLAY_WHITE},     {5, 0, Swap2Choice::PLAY_WHITE},
      {5, CLEAR_ADVANTAGE + 1, Swap2Choice::PLAY_WHITE},  {5, -WIN_SCORE, Swap2Choice::TAKE_BLACK},
  };
  for (const auto& r : rows)
    EXPECT_EQ(static_cast<int>(swap2_choice(r.stones, r.white_value)), static_cast<int>(r.want))
        << r.stones << " stones, " << r.white_value;
}

class Swap2 : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    // Thinks ended by the depth limit alone, with a budget no loaded
    // machine runs out of, answer the same every run.
    engine.game.settings.timeout_turn = 100000000;
    engine.game.settings.max_depth = 2;
    send("START 15\n");
  }

  // The game as SWAP2BOARD must leave it: record, built rule, board, key.
  std::vector<uint64_t> game() const {
    std::vector<uint64_t> g = {static_cast<uint64_t>(record().move_count), static_cast<uint64_t>(record().built_rule)};
    for (int i = 0; i < record().move_count; ++i)
      g.insert(g.end(), {uint64_t(record().move_history[i].x), uint64_t(record().move_history[i].y),
                         uint64_t(record().move_history[i].side)});
    if (engine.game.position_current()) {
      g.push_back(engine.game.position->zobrist_key);
      for (int x = 0; x < MAX_SIZE; ++x)
        for (int y = 0; y < MAX_SIZE; ++y) g.push_back(engine.game.position->cells[x][y]);
    }
    return g;
  }

  // Send SWAP2BOARD with stones ("x,y" lines) and return its one answer
  // line, checking that it is the only line besides MESSAGE lines and that
  // the game is as it was.
  std::string swap2(const std::string& stones) {
    // The first think builds the position; compare against a built one.
    engine.game.apply_rule();
    const auto before = game();
    std::vector<std::string> answers;
    for (const auto& l : send("SWAP2BOARD\n" + stones + "DONE\n"))
      if (l.rfind("MESSAGE", 0) != 0) answers.push_back(l);
    EXPECT_TRUE(game() == before) << stones;
    EXPECT_TRUE(engine.game.position->is_consistent()) << stones;
    EXPECT_EQ(engine.think_mode.load(), THINK_NORMAL);
    EXPECT_EQ(answers.size(), 1u) << stones;
    return answers.empty() ? std::string() : answers.back();
  }

  bool empty_cell(int x, int y) const { return record().on_board(x, y) && engine.game.position->cells[x][y] == EMPTY; }
};

TEST_F(Swap2, NoStoneOpensWithThreeStonesNearTheCentre) {
  engine.game.settings.max_depth = 1;
  for (const char* rule : {"0", "1", "4"}) {
    send(std::string("INFO rule ") + rule + "\n");
    const std::string opening = swap2("");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(opening, m, OPENING)) << opening;
    std::set<std::pair<int, int>> cells;
    for (int i = 0; i < 3; ++i) {
      const int x = std::stoi(m[2 * i + 1]), y = std::stoi(m[2 * i + 2]);
      EXPECT_TRUE(empty_cell(x, y)) << opening;
      EXPECT_LE(std::max(std::abs(x - 7), std::abs(y - 7)), 4) << opening;
      cells.insert({x, y});
    }
    EXPECT_EQ(cells.size(), 3u) << opening;
    EXPECT_EQ(m[1].str() + "," + m[2].str(), "7,7") << opening;  // BLACK opens on the centre
    // The same request answers the same, and the opening is a valid body.
    EXPECT_EQ(swap2(""), opening) << rule;
    if (std::string(rule) != "0") continue;  // weighing the balancing pairs takes seconds
    const std::string reply = swap2(m[1].str() + "," + m[2].str() + "\n" + m[3].str() + "," + m[4].str() + "\n" +
                                    m[5].str() + "," + m[6].str() + "\n");
    EXPECT_TRUE(reply == "SWAP" || std::regex_match(reply, CELL) || std::regex_match(reply, PAIR)) << reply;
  }
}

TEST_F(Swap2, ThreeStonesClearlyBetterForBlackAreTakenAsBlack) {
  // Two BLACK stones side by side in the centre, WHITE's in a corner.
  EXPECT_EQ(swap2("7,7\n0,0\n7,8\n"), "SWAP");
  EXPECT_EQ(swap2("7,7\n14,14\n8,8\n"), "SWAP");
}

TEST_F(Swap2, ThreeStonesClearlyBetterForWhiteArePlayedAsWhite) {
  // BLACK's two stones in corners, WHITE's in the centre, WHITE to move.
  for (const char* body : {"0,0\n7,7\n14,14\n", "0,14\n7,7\n14,0\n"}) {
    const std::string move = swap2(body);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(move, m, CELL)) << move;
    EXPECT_TRUE(empty_cell(std::stoi(m[1]), std::stoi(m[2]))) << move;
    EXPECT_LE(std::max(std::abs(std::stoi(m[1]) - 7), std::abs(std::stoi(m[2]) - 7)), 2) << move;
  }
}

TEST_F(Swap2, ThreeEvenStonesAreAnsweredWithTwoBalancingStones) {
  engine.game.settings.max_depth = 1;  // balance-two's first iteration weighs every pair
  const std::string body = "7,7\n8,8\n11,8\n";
  const std::string pair = swap2(body);
  std::smatch m;
  ASSERT_TRUE(std::regex_match(pair, m, PAIR)) << pair;
  const int x4 = std::stoi(m[1]), y4 = std::stoi(m[2]), x5 = std::stoi(m[3]), y5 = std::stoi(m[4]);
  EXPECT_TRUE(empty_cell(x4, y4) && empty_cell(x5, y5) && (x4 != x5 || y4 != y5)) << pair;
  // The five stones are a valid body in their turn.
  const std::string reply = swap2(body + m[1].str() + "," + m[2].str() + "\n" + m[3].str() + "," + m[4].str() + "\n");
  EXPECT_TRUE(reply == "SWAP" || std::regex_match(reply, CELL)) << reply;
}

TEST_F(Swap2, FiveStonesAreTakenAsBlackOnlyWhenBlackIsClearlyBetter) {
  EXPECT_EQ(swap2("7,7\n0,0\n7,8\n0,14\n7,9\n"), "SWAP");  // BLACK's open three, WHITE's stones in corners
  // WHITE's two central stones against BLACK's three corners: WHITE plays on.
  const std::string move = swap2("0,0\n7,7\n14,14\n7,8\n14,0\n");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(move, m, CELL)) << move;
  EXPECT_TRUE(empty_cell(std::stoi(m[1]), std::stoi(m[2]))) << move;
}

TEST_F(Swap2, TheStonesNeverEnterTheGameAndBoardPlaysTheSentPosition) {
  swap2("7,7\n0,0\n7,8\n");
  EXPECT_EQ(record().move_count, 0);
  // The manager then sends the position with BOARD: it is accepted as sent
  // (no stone was left behind) and the engine plays WHITE's fourth stone.
  const auto lines = send_quiet("BOARD\n7,7,2\n0,0,1\n7,8,2\nDONE\n");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(is_move_line(lines[0])) << lines[0];
  EXPECT_EQ(record().move_count, 4);
  EXPECT_EQ(record().move_history[3].side, WHITE);
}

TEST_F(Swap2, RefusedBodiesAnswerOneErrorLineAndNothingElse) {
  const std::pair<const char*, const char*> rows[] = {
      {"7,7\nseven\n8,8\n", "ERROR x,y or DONE expected after SWAP2BOARD"},
      {"7,7\n7 8\n8,8\n", "ERROR x,y or DONE expected after SWAP2BOARD"},
      {"x\n15,15\n7,7\n7,7\n", "ERROR x,y or DONE expected after SWAP2BOARD"},  // the first fault is answered
      {"7,7\n15,0\n8,8\n", "ERROR swap2 stone off the board [15,0]"},
      {"7,7\n0,15\n8,8\n", "ERROR swap2 stone off the board [0,15]"},
      {"-1,3\n0,0\n8,8\n", "ERROR swap2 stone off the board [-1,3]"},
      {"7,7\n8,8\n7,7\n", "ERROR swap2 stone on a taken cell [7,7]"},
      {"7,7\n", "ERROR swap2 takes 0, 3 or 5 stones, not 1"},
      {"7,7\n8,8\n", "ERROR swap2 takes 0, 3 or 5 stones, not 2"},
      {"7,7\n8,8\n9,9\n10,10\n", "ERROR swap2 takes 0, 3 or 5 stones, not 4"},
      {"7,7\n8,8\n9,9\n10,10\n11,11\n12,12\n", "ERROR swap2 takes 0, 3 or 5 stones, not 6"},
  };
  for (auto [body, error] : rows) {
    // The body is read up to its DONE: nothing of it comes back as a command.
    EXPECT_EQ(send(std::string("SWAP2BOARD\n") + body + "DONE\n"), (std::vector<std::string>{error})) << body;
    EXPECT_EQ(send(std::string("swap2board\n") + body + "done\n"), (std::vector<std::string>{error})) << body;
    EXPECT_EQ(record().move_count, 0);
    EXPECT_FALSE(engine.thinking());
  }
  // A rectangular board bounds x by its height and y by its width.
  send("RECTSTART 20,15\n");
  EXPECT_EQ(send("SWAP2BOARD\n14,19\n15,0\n0,0\nDONE\n"),
            (std::vector<std::string>{"ERROR swap2 stone off the board [15,0]"}));
  // A block stone on the built board takes its cell.
  send("START 15\n");
  engine.game.apply_rule();
  send("ovboard\n7,7,3\nDONE\n");
  EXPECT_EQ(send("SWAP2BOARD\n0,0\n7,7\n8,8\nDONE\n"),
            (std::vector<std::string>{"ERROR swap2 stone on a taken cell [7,7]"}));
  // Swap2 opens a game: a game under way is refused.
  send("PLAY 3,3\n");
  EXPECT_EQ(send("SWAP2BOARD\nDONE\n"), (std::vector<std::string>{"ERROR swap2 needs a new game"}));
  EXPECT_EQ(record().move_count, 1);
}

TEST_F(Swap2, OvstopEndsTheThinkWithItsAnswer) {
  engine.game.settings.max_depth = 40;
  for (const char* body : {"", "7,7\n8,8\n11,8\n", "7,7\n8,8\n11,8\n6,9\n8,6\n"}) {
    engine.game.apply_rule();
    const auto before = game();
    run_script(engine, std::string("SWAP2BOARD\n") + body + "DONE\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(engine.thinking()) << body << "ended before the stop";
    std::vector<std::string> answers;
    for (const auto& l : send("ovstop\n"))
      if (l.rfind("MESSAGE", 0) != 0) answers.push_back(l);
    EXPECT_FALSE(engine.thinking());
    ASSERT_EQ(answers.size(), 1u) << body;
    EXPECT_TRUE(answers[0] == "SWAP" || std::regex_match(answers[0], CELL) || std::regex_match(answers[0], PAIR) ||
                std::regex_match(answers[0], OPENING))
        << answers[0];
    EXPECT_TRUE(game() == before) << body;
    EXPECT_TRUE(engine.game.position->is_consistent());
  }
}

TEST_F(Swap2, TheRuleInForceIsBuiltAndAnnounced) {
  send("INFO rule 4\n");
  const auto lines = send("SWAP2BOARD\n7,7\n0,0\n7,8\nDONE\n");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "MESSAGE Rule Renju");
  EXPECT_EQ(lines.back(), "SWAP");
  EXPECT_EQ(record().built_rule, RENJU);
  EXPECT_EQ(record().move_count, 0);
}

}  // namespace
}  // namespace orvel::testing
