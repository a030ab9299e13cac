// The puzzle file tests/data/vcf.jsonl read into plain records: one JSON
// object a line, with the stones from BLACK on, the side to move, the kind
// ("vcf-win" or "no-vcf") and the known winning first moves.
#pragma once

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace orvel::testing {

struct Puzzle {
  int rule = 0;
  int size = 15;
  int to_move = 1;
  bool win = false;
  std::vector<std::pair<int, int>> stones;  // in play order, BLACK first
  std::vector<std::pair<int, int>> winning_moves;
};

// Pairs of numbers between the keys from and to of one line.
inline std::vector<std::pair<int, int>> read_cells(const std::string& s, const std::string& from,
                                                   const std::string& to) {
  std::vector<int> n;
  const size_t begin = s.find("\"" + from + "\":"), end = s.find("\"" + to + "\":");
  for (size_t i = begin; i < end && i < s.size(); ++i)
    if (std::isdigit(static_cast<unsigned char>(s[i])) && !std::isdigit(static_cast<unsigned char>(s[i - 1])))
      n.push_back(std::atoi(&s[i]));
  std::vector<std::pair<int, int>> cells;
  for (size_t i = 0; i + 1 < n.size(); i += 2) cells.emplace_back(n[i], n[i + 1]);
  return cells;
}

inline std::vector<Puzzle> read_puzzles(const std::string& path) {
  auto field = [](const std::string& s, const std::string& name) {  // an integer; null reads 0
    return std::atoi(s.c_str() + s.find("\"" + name + "\":") + name.size() + 3);
  };
  std::vector<Puzzle> puzzles;
  std::ifstream in(path);
  for (std::string s; std::getline(in, s);) {
    Puzzle p;
    p.rule = field(s, "rule_id");
    p.size = field(s, "size");
    p.to_move = field(s, "to_move");
    p.win = s.find("\"kind\":\"vcf-win\"") != std::string::npos;
    p.stones = read_cells(s, "moves", "to_move");
    p.winning_moves = read_cells(s, "winning_moves", "shortest_moves");
    puzzles.push_back(std::move(p));
  }
  return puzzles;
}

}  // namespace orvel::testing
